// SQL text analysis: SELECT and table-name detection, the tokenizer, parameter parsing and
// replacement, ODBC call texts, quoting and the connection and catalog splitters.
#include <gtest/gtest.h>

#include "database/engine/SDCommonSqlText.h"
#include "rtl/DbParams.h"

namespace {

TEST(SqlText, IsSelectStatement) {
    struct Case {
        const char* text;
        bool expected;
    };
    const Case cases[] = {
        {"select * from t", true},
        {"\r\n  SeLeCt a from t", true},
        {"SELECT\nx", true},
        {"select*from t", false},
        {"select", false},
        {"select(1)", false},
        {"\tselect a from t", false},  // a tab is not a blank here
        {"select\ta from t", false},
        {"update t set a = 1", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsSelectStatement(c.text), c.expected) << c.text;
}

TEST(SqlText, AggregatesAndJoins) {
    struct Case {
        const char* text;
        bool expected;
    };
    for (const Case& c :
         {Case{"MIN(x)", false}, Case{"max (x)", true}, Case{"count(*)", true}, Case{"MAXIMUM(x)", true},
          Case{"sum", false}, Case{" avg(a)", true}, Case{"stddev(x)", true}, Case{"substr(a)", false}})
        EXPECT_EQ(IsAggregateExpression(c.text), c.expected) << c.text;
    for (const Case& c : {Case{" a left join b on", true}, Case{" a JOIN(b)", true}, Case{" a join", false},
                          Case{" a joint b", false}, Case{" where x = 'JOIN'", false},
                          Case{"inner join\tb", false}, Case{" a inner join b", true}})
        EXPECT_EQ(HasJoinClause(c.text), c.expected) << c.text;
}

TEST(SqlText, TableNameFromSelect) {
    struct Case {
        const char* text;
        const char* strict;    // AllowMultipleTables False
        const char* multiple;  // AllowMultipleTables True
    };
    const Case cases[] = {
        {"select * from t", "t", "t"},
        {"SELECT a, b FROM s.t x WHERE a = 1 ORDER BY b", "s.t", "s.t"},
        {"select a from emp group by a", "", ""},
        {"select a from a, b", "", "a"},
        {"select a from a join b on a.x = b.y", "", "a"},
        {"select a from a left join b on a.x = b.y where a.z = 1", "", "a"},
        {"select count(*) from t", "", ""},
        {"select max (x) from t", "", ""},
        {"select min(x) from t", "t", "t"},
        {"select a from t union select a from u", "", ""},
        {"update t set a = 1", "", ""},
        {"select a from \"My Table\" where b = 2", "\"My Table\"", "\"My Table\""},
        {"select a -- the key\nfrom t /* only one */ where b = 'from x, y'", "t", "t"},
        {"select a from t for update", "t", "t"},
        {"select a, (select b from u) c from t", "t", "t"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetTableNameFromSelect(c.text, false), c.strict) << c.text;
        EXPECT_EQ(GetTableNameFromSelect(c.text, true), c.multiple) << c.text;
    }
}

TEST(SqlText, Tokenizer) {
    const std::string text =
        "SELECT t.a, max(b) FROM s.t1 WHERE c = 'it''s' AND d >= :p GROUP BY a ORDER BY 2";
    struct Tok {
        TSQLToken kind;
        std::string text;
    };
    const std::vector<Tok> expected = {
        {stSelect, "SELECT"},    {stFieldName, "t"},      {stFieldName, "a"},
        {stPredicate, ","},      {stFieldName, "max(b)"}, {stFrom, "FROM"},
        {stTableName, "s"},      {stTableName, "t1"},     {stWhere, "WHERE"},
        {stFieldName, "c"},      {stPredicate, "="},      {stValue, "it's"},
        {stPredicate, "AND"},    {stFieldName, "d"},      {stPredicate, ">="},
        {stParameter, ":p"},     {stGroupBy, "GROUP BY"}, {stFieldName, "a"},
        {stOrderBy, "ORDER BY"}, {stValue, "2"},          {stEnd, ""},
    };
    int pos = 1;
    TSQLToken section = stUnknown;
    for (const Tok& e : expected) {
        std::string token;
        const TSQLToken kind = NextSqlTokenAt(text, pos, section, token);
        EXPECT_EQ(kind, e.kind) << e.text;
        EXPECT_EQ(token, e.text);
        if (kind >= stSelect && kind != stDistinct && kind != stEnd) section = kind;
    }
    std::string token;
    EXPECT_EQ(NextSqlTokenAt(text, pos, section, token), stEnd);  // stays at the end
    EXPECT_EQ(pos, int(text.size()) + 1);
}

std::vector<std::string> Names(const rtl::Params& p) {
    std::vector<std::string> out;
    for (int i = 0; i < p.Count(); ++i)
        out.push_back(p[i].Name());
    return out;
}

TEST(SqlText, CreateParamsFromSql) {
    struct Case {
        const char* text;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"select * from t where a = :a and b = '::x :y' and c = :c", {"a", "c"}},
        {"select * from t where a = :\"my name\"", {"my name"}},
        {"select a::int from t", {}},
        {"select * from t where a = :a or b = :a", {"a", "a"}},
        {"insert into t values(:id,:name)", {"id", "name"}},
        {"select ':' from t where x = \":not\" and y=:y", {"y"}},
        {"select * from t where a = :", {}},
        {"select * from t where a := 1", {}},
        {"select * from t where a = :p;", {"p"}},
        {"where a = 'unterminated :p", {}},
        // A name ends at the first character that cannot be in one; the colon of an array
        // slice (after "[" or a digit inside brackets) starts none.
        {"select a[1:2], a[:2], a[3:] from t", {}},
        {"select a[1:2] from t where id = :id", {"id"}},
        {"select :p::int, b[:q], c[i:j], :x] from t", {"p", "j", "x"}},
        {"select :ção, :$a#b@c, :a.b, :a-1 from t", {"ção", "$a#b@c", "a", "a"}},
        {"where a = :\"x y\"z", {"x y"}},
    };
    for (const auto& c : cases) {
        rtl::Params params;
        CreateParamsFromSql(&params, c.text);
        EXPECT_EQ(Names(params), c.names) << c.text;
        for (int i = 0; i < params.Count(); ++i) {
            EXPECT_EQ(params[i].ParamType(), rtl::ptInput) << c.text;  // every one, repeated names too
            EXPECT_EQ(params[i].DataType(), rtl::ftUnknown);
        }
    }
    CreateParamsFromSql(nullptr, "select :a");  // no collection: nothing to fill, no failure
    rtl::Params other;
    CreateParamsFromSql(&other, "select * from t where a = ?a and b = ?b", '?');
    EXPECT_EQ(Names(other), (std::vector<std::string>{"a", "b"}));
}

TEST(SqlText, ReplaceParamsWithMarkersTouchesWholeMarkersOnly) {
    rtl::Params params;
    params.CreateParam(rtl::ftInteger, "id", rtl::ptInput);
    params.CreateParam(rtl::ftString, "my name", rtl::ptInput);
    params.CreateParam(rtl::ftInteger, "ID", rtl::ptInput);
    EXPECT_EQ(ReplaceParamsWithMarkers(
                  "select * from t where idx = :idx and id = :ID and n = :\"my name\" or a = :id", params),
              "select * from t where idx = :idx and id = ? and n = ? or a = ?");
    EXPECT_EQ(ReplaceParamsWithMarkers("select ':id' from t where b = :id", params),
              "select ':id' from t where b = ?");
    EXPECT_EQ(ReplaceParamsWithMarkers("select a::id from t", params), "select a::id from t");
}

TEST(SqlText, ReplaceParamMarker) {
    struct Case {
        bool firstOnly;
        const char* marker;
        const char* value;
        const char* text;
        bool replaced;
        const char* result;
    };
    const Case cases[] = {
        {false, ":p", "1", "a = :p or b = :p", true, "a = 1 or b = 1"},
        {true, ":p", "1", "a = :p or b = :p", true, "a = 1 or b = :p"},
        {false, ":id", "7", "x = :idx and y = :id)", true, "x = :idx and y = 7)"},
        {false, ":p", "1", "a = 'x :p' and b = :P", true, "a = 'x :p' and b = 1"},
        {false, ":p", "1", "a = 'it''s' and b = :p", true, "a = 'it''s' and b = 1"},
        {false, ":p", "1", "a = 'b\"c' and d = :p", true, "a = 'b\"c' and d = 1"},
        {false, ":p", "1", "a = 'x and :p", false, "a = 'x and :p"},
        {false, ":p", "1", "a = ::p", false, "a = ::p"},
        {false, "?", ":1", "update t set a = ? where b = ?", true, "update t set a = :1 where b = :1"},
        {true, "?", ":1", "a = '?' and b = (?, ?)", true, "a = '?' and b = (:1, ?)"},
        {false, ":p", ":p:p", "a = :p, b = :p", true, "a = :p:p, b = :p:p"},
        {false, ":p", "1", "", false, ""},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(ReplaceParamMarker(c.firstOnly, c.marker, c.value, text), c.replaced) << c.text;
        EXPECT_EQ(text, c.result) << c.text;
    }
}

TEST(SqlText, OdbcCallStatement) {
    rtl::Params params;
    EXPECT_EQ(BuildOdbcCallStatement("proc", nullptr, false), "{CALL proc}");
    EXPECT_EQ(BuildOdbcCallStatement("proc", &params, true), "{CALL proc()}");
    params.CreateParam(rtl::ftInteger, "r", rtl::ptResult);
    EXPECT_EQ(BuildOdbcCallStatement("f", &params, false), "{?=CALL f}");
    params.CreateParam(rtl::ftInteger, "a", rtl::ptInput);
    params.CreateParam(rtl::ftInteger, "b", rtl::ptOutput);
    params.CreateParam(rtl::ftInteger, "c", rtl::ptInputOutput);
    params.CreateParam(rtl::ftInteger, "d", rtl::ptUnknown);
    EXPECT_EQ(BuildOdbcCallStatement("f", &params, false), "{?=CALL f(?, ?, ?)}");
}

TEST(SqlText, SmallTextRoutines) {
    EXPECT_EQ(DoubleChar('\'', "d'água's"), "d''água''s");
    EXPECT_TRUE(StartsWithNoCase("old_ID", "OLD_"));
    EXPECT_FALSE(StartsWithNoCase("OLD_", "old_"));
    EXPECT_FALSE(StartsWithNoCase("OL", "OLD_"));
    EXPECT_EQ(PosNoCase("FROM", "select a from t"), 10);
    EXPECT_EQ(PosNoCase("x", "abc"), 0);
    EXPECT_EQ(PosNoCaseFrom("a", "a b a", 2), 5);
    EXPECT_EQ(PosNoCaseFrom("a", "a b a", 0), 1);
    EXPECT_EQ(PosNoCaseFrom("a", "a b a", 9), 0);
    EXPECT_EQ(PosNoCase("ÇÃO", "ação"), 2);

    EXPECT_EQ(QuoteIdentifier("s.t", true), "\"s\".\"t\"");
    EXPECT_EQ(QuoteIdentifier("t", true), "\"t\"");
    EXPECT_EQ(QuoteIdentifier("s.t", false), "s.t");
    // A part quoted already is not quoted again; a "." inside quotes does not split.
    EXPECT_EQ(QuoteIdentifier("\"S\".t", true), "\"S\".\"t\"");
    EXPECT_EQ(QuoteIdentifier("\"MixedCase\"", true), "\"MixedCase\"");
    EXPECT_EQ(QuoteIdentifier("s.\"a.b\"", true), "\"s\".\"a.b\"");
    EXPECT_EQ(ExtractLastNamePart("s.\"a.b\""), "\"a.b\"");
    EXPECT_EQ(ExtractLastNamePart("t.col"), "col");
    EXPECT_EQ(ExtractBareName("s.\"a.b\""), "a.b");
    EXPECT_EQ(UnquoteText("'it''s' rest", '\''), "it's");
    EXPECT_EQ(UnquoteText("'open", '\''), "open");
    EXPECT_EQ(UnquoteText("plain", '\''), "plain");
    EXPECT_EQ(UnquoteText("\"x\"", 0), "\"x\"");
    EXPECT_EQ(UnquoteText("", '"'), "");
    EXPECT_EQ(ExtractBareName("\"s\".\"col\""), "col");
    EXPECT_EQ(ExtractBareName("t.col"), "col");
    EXPECT_EQ(ExtractBareName(""), "");
    EXPECT_EQ(StripQuotes("\"a b\""), "a b");
    EXPECT_EQ(StripQuotes("'x"), "x");
    EXPECT_EQ(StripQuotes(""), "");
    EXPECT_EQ(StripQuotes("\""), "");
}

TEST(SqlText, ConnectionAndCatalogTexts) {
    struct Split {
        const char* remote;
        const char* server;
        const char* database;
    };
    for (const Split& s :
         {Split{"host:db", "host", "db"}, Split{"host::db", "host", "db"}, Split{"db", "db", ""},
          Split{"srv@base", "srv", "base"}, Split{"srv:@db", "srv", "db"}, Split{"srv:", "srv", ""}}) {
        EXPECT_EQ(ExtractServerName(s.remote), s.server) << s.remote;
        EXPECT_EQ(ExtractDatabaseName(s.remote), s.database) << s.remote;
    }

    const std::string list = "ICLIT09B.DLL; ICLIT09A.DLL ;;last";
    int pos = 1;
    std::vector<std::string> items;
    while (pos <= int(list.size()))
        items.push_back(ExtractListItem(list, ';', pos));
    EXPECT_EQ(items, (std::vector<std::string>{"ICLIT09B.DLL", "ICLIT09A.DLL", "", "last"}));
    EXPECT_EQ(ExtractListItem(list, ';', pos), "");

    EXPECT_EQ(ExtractProcName("proc;2"), "proc");
    EXPECT_EQ(ExtractProcName("proc"), "proc");
    EXPECT_TRUE(HasWildcard("a%"));
    EXPECT_FALSE(HasWildcard("a_"));

    struct Owner {
        const char* pattern;
        const char* owner;
        const char* name;
    };
    for (const Owner& o : {Owner{"tab", "%", "tab"}, Owner{" .x", "%", "x"}, Owner{"s.t", "s", "t"},
                           Owner{"s.", "s", "%"}, Owner{"", "%", "%"}, Owner{"a.b.c", "a", "b.c"}}) {
        std::string owner, name;
        EXPECT_TRUE(SplitOwnerAndName(o.pattern, owner, name));
        EXPECT_EQ(owner, o.owner) << o.pattern;
        EXPECT_EQ(name, o.name) << o.pattern;
    }
    EXPECT_EQ(StripOwnerPrefix("s.t", true), "t");
    EXPECT_EQ(StripOwnerPrefix("s.t", false), "s.t");
    EXPECT_EQ(StripOwnerPrefix("t", true), "t");
    EXPECT_EQ(StripOwnerPrefix("", true), "");
}

}  // namespace
