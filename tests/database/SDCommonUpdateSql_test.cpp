// Update statements and column origins: the select-list scan, the generated texts, and the
// generated refresh, update, insert and delete statements run on a real SQLite database,
// where each must touch exactly the intended row.
#include <gtest/gtest.h>

#include <map>

#include "SqliteTestDriver.h"
#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDCommonUpdateSql.h"
#include "rtl/Assert.h"
#include "support/TestSupport.h"

namespace {

using rtl::Variant;
using sqlitetest::SqliteDatabase;

rtl::StringList Names(std::initializer_list<std::string> names) {
    return rtl::StringList(names);
}

TEST(AnalyseSelectText, OriginsAndTables) {
    struct Case {
        const char* sql;
        rtl::StringList columns;
        const char* origins;
        const char* tables;
    };
    const Case cases[] = {
        {"SELECT e.nm AS name, d.nm FROM emp e JOIN dept d ON e.dep = d.id", Names({"name", "nm"}),
         "name=emp.nm\r\nnm=dept.nm\r\n", "E=emp\r\nD=dept\r\n"},
        {"select * from emp", Names({"a", "b"}), "a=emp.a\r\nb=emp.b\r\n", "EMP=emp\r\n"},
        {"select a.id, b.id from a, b", Names({"id", "id_1"}), "id=a.id\r\nid_1=b.id\r\n", "A=a\r\nB=b\r\n"},
        {"select a from a join b on a.x = b.y", Names({"a"}), "a=a.a\r\n", "A=a\r\nB=b\r\n"},
        {"select distinct n = t.name, t.\"Code\" from s.things t where x in (1, 2) and f(y) > 0;",
         Names({"n", "Code"}), "n=s.things.name\r\nCode=s.things.\"Code\"\r\n", "T=s.things\r\n"},
        {"select id, name from items order by name", Names({"ID", "NAME", "PRICE"}),
         "ID=items.id\r\nNAME=items.name\r\n", "ITEMS=items\r\n"},
        {"select x.a from t1 x union select y.a from t2 y", Names({"a"}), "a=t1.a\r\n", "X=t1\r\nY=t2\r\n"},
        {"select q.a from t as q", Names({"a"}), "a=q.a\r\n", "AS Q=t\r\n"},  // AS stays in the alias
        // Expressions come from no column: they get no origin, and still take their names,
        // so that a column of the same name after them is told apart.
        {"select count(*), b from t", Names({"count", "b"}), "b=t.b\r\n", "T=t\r\n"},
        {"select id, qty * 2 as total, qty*3 triple, upper(name) un, 'x' as k, 2 two from stock",
         Names({"id", "total", "triple", "un", "k", "two"}), "id=stock.id\r\n", "STOCK=stock\r\n"},
        {"select upper(name) as name, t.name, a + b from t", Names({"name", "name_1", "?column?"}),
         "name_1=t.name\r\n", "T=t\r\n"},
        {"select coalesce(a, b) as c, max(t.d), t.e from t", Names({"c", "max", "e"}), "e=t.e\r\n", "T=t\r\n"},
        {"select t.*, u.x from t, u", Names({"a", "x"}), "a=t.a\r\nx=t.x\r\n", "T=t\r\nU=u\r\n"},
        {"select a from t group by a", Names({"a"}), "a=t.a\r\n", "T=t\r\n"},
        {"select nothing", Names({"a"}), "", ""},
    };
    for (const auto& c : cases) {
        rtl::StringList origins{"stale=x.y"};
        rtl::StringList tables{"STALE=x"};
        AnalyseSelectText(c.sql, c.columns, origins, tables);
        EXPECT_EQ(origins.Text(), c.origins) << c.sql;
        EXPECT_EQ(tables.Text(), c.tables) << c.sql;
    }
    rtl::StringList origins{"kept=x.y"};
    rtl::StringList tables;
    EXPECT_THROW(AnalyseSelectText("select a from t", rtl::StringList(), origins, tables),
                 rtl::EAssertionFailed);
    EXPECT_EQ(origins.Count(), 1);  // nothing changed before the check
}

TSDUpdateField Field(const std::string& name, Variant oldValue, Variant newValue, bool key = false,
                     bool blob = false) {
    TSDUpdateField f;
    f.FieldName = name;
    f.OldValue = std::move(oldValue);
    f.NewValue = std::move(newValue);
    f.IsIndexField = key;
    f.IsBlob = blob;
    return f;
}

TEST(GenerateModifySql, Texts) {
    const rtl::StringList origins{"ID=T.ID", "NAME=T.NAME", "NOTE=T.NOTE", "DATA=T.DATA", "CALC=T.CALC"};
    TSDUpdateField calc = Field("CALC", Variant(int32_t(1)), Variant(int32_t(2)));
    calc.IsDataField = false;
    const std::vector<TSDUpdateField> fields = {
        Field("ID", Variant(int32_t(1)), Variant(int32_t(1)), true),
        Field("NAME", Variant("a"), Variant("b")),
        Field("NOTE", Variant::Null(), Variant::Null()),
        Field("DATA", Variant::FromBytes({1}), Variant::FromBytes({1}), false, true),
        calc,
    };
    struct Case {
        TSDModifyKind kind;
        rtl::TUpdateMode mode;
        bool quote;
        const char* expected;
    };
    const Case cases[] = {
        {mkModify, rtl::upWhereKeyOnly, false, "update T set   NAME = :NAME where   ID = :OLD_ID"},
        {mkModify, rtl::upWhereAll, false,
         "update T set   NAME = :NAME where   ID = :OLD_ID and  NAME = :OLD_NAME and  NOTE is NULL"},
        {mkModify, rtl::upWhereChanged, false,
         "update T set   NAME = :NAME where   ID = :OLD_ID and  NAME = :OLD_NAME"},
        {mkDelete, rtl::upWhereKeyOnly, false, "delete from T where   ID = :OLD_ID"},
        // NOTE was never written: the server's default applies.
        {mkInsert, rtl::upWhereKeyOnly, false, "insert into T (ID, NAME, DATA) values(:ID, :NAME, :DATA)"},
        {mkRefresh, rtl::upWhereKeyOnly, false, "select ID, NAME, NOTE, DATA from T where   ID = :OLD_ID"},
        {mkRefresh, rtl::upWhereChanged, false,
         "select ID, NAME, NOTE, DATA from T where   ID = :OLD_ID and  NAME = :OLD_NAME and  NOTE is NULL"},
        {mkModify, rtl::upWhereKeyOnly, true, "update \"T\" set   \"NAME\" = :NAME where   \"ID\" = :OLD_ID"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GenerateModifySql(c.kind, c.mode, "T", c.quote, fields, origins), c.expected) << c.expected;

    // Columns named otherwise than their fields are selected under the field's name; quoting
    // alone never adds the alias.
    const rtl::StringList lower{"ID=s.t.id", "NAME=s.t.NAME"};
    const std::vector<TSDUpdateField> two = {Field("ID", Variant(int32_t(1)), Variant(int32_t(1)), true),
                                             Field("NAME", Variant("a"), Variant("a"))};
    EXPECT_EQ(GenerateModifySql(mkRefresh, rtl::upWhereKeyOnly, "s.t", true, two, lower),
              "select \"id\" as ID, \"NAME\" from \"s\".\"t\" where   \"id\" = :OLD_ID");
    // Nothing changed: no update; a null new value is written as NULL.
    EXPECT_EQ(GenerateModifySql(mkModify, rtl::upWhereKeyOnly, "T", false, two, origins), "");
    const std::vector<TSDUpdateField> toNull = {Field("ID", Variant(int32_t(1)), Variant(int32_t(1)), true),
                                                Field("NAME", Variant("a"), Variant::Null())};
    EXPECT_EQ(GenerateModifySql(mkModify, rtl::upWhereKeyOnly, "T", false, toNull, origins),
              "update T set   NAME = NULL where   ID = :OLD_ID");
    // A blob marked modified counts as changed even with equal values.
    std::vector<TSDUpdateField> blob = {
        Field("ID", Variant(int32_t(1)), Variant(int32_t(1)), true),
        Field("DATA", Variant::FromBytes({1}), Variant::FromBytes({1}), false, true)};
    blob[1].Modified = true;
    EXPECT_EQ(GenerateModifySql(mkModify, rtl::upWhereAll, "T", false, blob, origins),
              "update T set   DATA = :DATA where   ID = :OLD_ID");
}

TEST(GenerateModifySql, NoConditionMeansNoStatement) {
    const rtl::StringList origins{"ID=T.ID", "NAME=T.NAME", "DATA=T.DATA"};
    const std::vector<TSDUpdateField> noKey = {Field("ID", Variant(int32_t(1)), Variant(int32_t(1))),
                                               Field("NAME", Variant("a"), Variant("b"))};
    EXPECT_EQ(GenerateModifySql(mkRefresh, rtl::upWhereKeyOnly, "T", false, noKey, origins), "");
    EXPECT_THROW(GenerateModifySql(mkModify, rtl::upWhereKeyOnly, "T", false, noKey, origins),
                 rtl::EDatabaseError);
    EXPECT_THROW(GenerateModifySql(mkDelete, rtl::upWhereKeyOnly, "T", false, noKey, origins),
                 rtl::EDatabaseError);
    // Key fields that are all blobs give no condition either.
    const std::vector<TSDUpdateField> blobKey = {
        Field("DATA", Variant::FromBytes({1}), Variant::FromBytes({2}), true, true)};
    EXPECT_THROW(GenerateModifySql(mkModify, rtl::upWhereAll, "T", false, blobKey, origins),
                 rtl::EDatabaseError);
    EXPECT_EQ(GenerateModifySql(mkInsert, rtl::upWhereKeyOnly, "T", false, noKey, origins),
              "insert into T (ID, NAME) values(:ID, :NAME)");
}

// A field without origin (an expression) names no column: it is neither written nor compared.
// A value given to it could not reach the server, and is refused rather than dropped.
TEST(GenerateModifySql, FieldsWithoutOriginStayOut) {
    const rtl::StringList origins{"ID=T.ID", "QTY=T.QTY"};
    std::vector<TSDUpdateField> fields = {Field("ID", Variant(int32_t(1)), Variant(int32_t(1)), true),
                                          Field("QTY", Variant(int32_t(2)), Variant(int32_t(3))),
                                          Field("TOTAL", Variant(int32_t(4)), Variant(int32_t(4)))};
    EXPECT_EQ(GenerateModifySql(mkModify, rtl::upWhereAll, "T", false, fields, origins),
              "update T set   QTY = :QTY where   ID = :OLD_ID and  QTY = :OLD_QTY");
    EXPECT_EQ(GenerateModifySql(mkDelete, rtl::upWhereAll, "T", false, fields, origins),
              "delete from T where   ID = :OLD_ID and  QTY = :OLD_QTY");
    EXPECT_EQ(GenerateModifySql(mkRefresh, rtl::upWhereAll, "T", false, fields, origins),
              "select ID, QTY from T where   ID = :OLD_ID and  QTY = :OLD_QTY");
    fields[2].NewValue = Variant(int32_t(6));
    EXPECT_THROW(GenerateModifySql(mkModify, rtl::upWhereAll, "T", false, fields, origins), rtl::EDatabaseError);
    EXPECT_THROW(GenerateModifySql(mkInsert, rtl::upWhereAll, "T", false, fields, origins), rtl::EDatabaseError);
    fields[2].NewValue = Variant::Null();
    EXPECT_EQ(GenerateModifySql(mkInsert, rtl::upWhereAll, "T", false, fields, origins),
              "insert into T (ID, QTY) values(:ID, :QTY)");
}

// Names the select list quotes keep their quotes exactly once, with and without quoting.
TEST(GenerateModifySql, QuotedIdentifiersAreQuotedOnce) {
    rtl::StringList origins;
    rtl::StringList tables;
    AnalyseSelectText("select \"Id\", m.\"Name\", m.plain from public.\"MixedCase\" m",
                      Names({"Id", "Name", "plain"}), origins, tables);
    EXPECT_EQ(origins.Text(),
              "Id=public.\"MixedCase\".\"Id\"\r\nName=public.\"MixedCase\".\"Name\"\r\n"
              "plain=public.\"MixedCase\".plain\r\n");
    const std::vector<TSDUpdateField> fields = {Field("Id", Variant(int32_t(1)), Variant(int32_t(1)), true),
                                                Field("Name", Variant("a"), Variant("b")),
                                                Field("plain", Variant("p"), Variant("p"))};
    EXPECT_EQ(GenerateModifySql(mkModify, rtl::upWhereKeyOnly, "public.\"MixedCase\"", false, fields, origins),
              "update public.\"MixedCase\" set   \"Name\" = :Name where   \"Id\" = :OLD_Id");
    EXPECT_EQ(GenerateModifySql(mkModify, rtl::upWhereKeyOnly, "public.\"MixedCase\"", true, fields, origins),
              "update \"public\".\"MixedCase\" set   \"Name\" = :Name where   \"Id\" = :OLD_Id");
    EXPECT_EQ(GenerateModifySql(mkInsert, rtl::upWhereKeyOnly, "\"MixedCase\"", true, fields, origins),
              "insert into \"MixedCase\" (\"Id\", \"Name\", \"plain\") values(:Id, :Name, :plain)");
    // The refresh names no alias for a quoted column of the field's own name.
    EXPECT_EQ(GenerateModifySql(mkRefresh, rtl::upWhereKeyOnly, "\"MixedCase\"", false, fields, origins),
              "select \"Id\", \"Name\", plain from \"MixedCase\" where   \"Id\" = :OLD_Id");
}

// An auto-increment field left null is the server's to fill: the insert does not name it. One
// given a value keeps it.
TEST(GenerateModifySql, InsertLeavesNullAutoIncrementFieldsOut) {
    const rtl::StringList origins{"ID=T.ID", "NAME=T.NAME"};
    std::vector<TSDUpdateField> fields = {Field("ID", Variant::Null(), Variant::Null(), true),
                                          Field("NAME", Variant::Null(), Variant("a"))};
    fields[0].IsAutoInc = true;
    EXPECT_EQ(GenerateModifySql(mkInsert, rtl::upWhereKeyOnly, "T", false, fields, origins),
              "insert into T (NAME) values(:NAME)");
    fields[0].NewValue = Variant(int32_t(7));
    EXPECT_EQ(GenerateModifySql(mkInsert, rtl::upWhereKeyOnly, "T", false, fields, origins),
              "insert into T (ID, NAME) values(:ID, :NAME)");
    // Other kinds treat it as any other field.
    fields[0].OldValue = Variant(int32_t(7));
    EXPECT_EQ(GenerateModifySql(mkModify, rtl::upWhereKeyOnly, "T", false, fields, origins),
              "update T set   NAME = :NAME where   ID = :OLD_ID");
    // Written as NULL, an auto-increment field still stays out; the others are written. A
    // record that wrote nothing names its columns with NULL, as servers differ in how they
    // take a row of defaults only.
    fields[0].NewValue = Variant::Null();
    fields[0].Modified = true;
    fields[1].NewValue = Variant::Null();
    fields[1].Modified = true;
    EXPECT_EQ(GenerateModifySql(mkInsert, rtl::upWhereKeyOnly, "T", false, fields, origins),
              "insert into T (NAME) values(NULL)");
    fields[1].Modified = false;
    EXPECT_EQ(GenerateModifySql(mkInsert, rtl::upWhereKeyOnly, "T", false, fields, origins),
              "insert into T (NAME) values(NULL)");
}

// A driver's own comparison of an old value serves the where-all and where-changed modes; keys
// of key-only statements and null old values keep theirs.
TEST(GenerateModifySql, DriverComparesOldValuesOutsideKeyOnlyMode) {
    const rtl::StringList origins{"ID=T.ID", "TS=T.TS"};
    std::vector<TSDUpdateField> fields = {
        Field("ID", Variant(int32_t(1)), Variant(int32_t(1)), true),
        Field("TS", Variant::FromDateTime(1.5), Variant::FromDateTime(2.5), true)};
    for (TSDUpdateField& f : fields)
        f.OldValueCondition = [](const std::string& column, const std::string& marker) {
            return "trunc(" + column + ") = " + marker;
        };
    EXPECT_EQ(GenerateModifySql(mkModify, rtl::upWhereAll, "T", false, fields, origins),
              "update T set   TS = :TS where   trunc(ID) = :OLD_ID and  trunc(TS) = :OLD_TS");
    EXPECT_EQ(
        GenerateModifySql(mkRefresh, rtl::upWhereChanged, "T", true, fields, origins),
        "select \"ID\", \"TS\" from \"T\" where   trunc(\"ID\") = :OLD_ID and  trunc(\"TS\") = :OLD_TS");
    EXPECT_EQ(GenerateModifySql(mkDelete, rtl::upWhereKeyOnly, "T", false, fields, origins),
              "delete from T where   ID = :OLD_ID and  TS = :OLD_TS");
    fields[1].OldValue = Variant::Null();
    EXPECT_EQ(GenerateModifySql(mkDelete, rtl::upWhereAll, "T", false, fields, origins),
              "delete from T where   trunc(ID) = :OLD_ID and  TS is NULL");
}

// A field whose name would end a marker early is named in quotes.
TEST(GenerateModifySql, NamesThatEndAMarkerAreQuoted) {
    const rtl::StringList origins{"ID=T.ID", "my-col=T.\"my-col\""};
    const std::vector<TSDUpdateField> fields = {Field("ID", Variant(int32_t(1)), Variant(int32_t(1)), true),
                                                Field("my-col", Variant("a"), Variant("b"))};
    const std::string sql = GenerateModifySql(mkModify, rtl::upWhereAll, "T", false, fields, origins);
    EXPECT_EQ(
        sql,
        "update T set   \"my-col\" = :\"my-col\" where   ID = :OLD_ID and  \"my-col\" = :\"OLD_my-col\"");
    rtl::Params params;
    CreateParamsFromSql(&params, sql);
    std::vector<std::string> names;
    for (int i = 0; i < params.Count(); ++i)
        names.push_back(params[i].Name());
    EXPECT_EQ(names, (std::vector<std::string>{"my-col", "OLD_ID", "OLD_my-col"}));
}

TEST(PostgresOldValueCondition, ComparesAtTheEnginesPrecision) {
    struct Case {
        TFieldType type;
        TSDHeldAs heldAs;
        const char* expected;
    } cases[] = {
        {ftDateTime, TSDHeldAs::Milliseconds, "date_trunc('milliseconds', c) = :m"},
        {ftDateTime, TSDHeldAs::Seconds, "date_trunc('second', c) = :m"},
        {ftTime, TSDHeldAs::Milliseconds,
         "CAST(date_trunc('milliseconds', CAST(c AS interval)) AS time) = :m"},
        {ftFloat, TSDHeldAs::SingleAsDouble, "c = CAST(:m AS real)"},
        {ftFloat, TSDHeldAs::NumericAsDouble, "CAST(c AS double precision) = :m"},
        {ftInteger, TSDHeldAs::Exact, "c = :m"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PostgresOldValueCondition(c.type, c.heldAs, "c", ":m"), c.expected);
}

// A table of four rows in a fresh SQLite database, reached through the SQLite test driver.
class GeneratedOnSqlite : public ::testing::Test {
protected:
    kwtest::TempDir dir;
    SqliteDatabase db{nullptr, rtl::StringList()};
    const std::string select = "select id, name, price, note, data from items";
    rtl::StringList origins;

    void SetUp() override {
        db.Connect((dir / "items.db").string(), "", "");
        db.Exec("create table items (id integer primary key, name text, price real, note text, data blob)");
        db.Exec(
            "insert into items values (1, 'Ann', 1.5, null, x'01'), (2, 'Bob', 2.5, 'x', null),"
            " (3, 'Bob', 2.5, 'y', x'0203'), (4, 'Dee', null, null, null)");
        rtl::StringList tables;
        AnalyseSelectText(select, Names({"ID", "NAME", "PRICE", "NOTE", "DATA"}), origins, tables);
    }

    // The table's rows as texts, read with the library's own interface.
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        sqlite3_exec(
            db.Handle(), "select id, name, price, note, hex(data) from items order by id",
            [](void* out, int n, char** values, char**) {
                std::string row;
                for (int i = 0; i < n; ++i)
                    row += std::string(i ? "|" : "") + (values[i] ? values[i] : "NULL");
                static_cast<std::vector<std::string>*>(out)->push_back(row);
                return 0;
            },
            &rows, nullptr);
        return rows;
    }

    // The row's fields with old values as stored and new values as given.
    std::vector<TSDUpdateField> Row(int id, const std::map<std::string, Variant>& changes,
                                    bool keyed = true) {
        auto cmd = db.CreateSqlCommand(nullptr);
        cmd->ExecDirect(select + " where id = " + std::to_string(id));
        EXPECT_TRUE(cmd->FetchNextRow());
        std::vector<TSDUpdateField> fields;
        for (int i = 0; i < cmd->FieldDescs->Count(); ++i) {
            const TSDFieldDesc& d = cmd->FieldDescs->GetFieldDesc(i);
            TSDUpdateField f;
            f.FieldName = rtl::UpperCase(d.FieldName);
            f.IsBlob = d.FieldType == ftBlob;
            f.IsIndexField = keyed && f.FieldName == "ID";
            std::string text;
            if (f.IsBlob) {
                const TSDBlobRef blob = cmd->GetFieldBlobData(d);
                f.OldValue = blob ? Variant::FromBytes(*blob) : Variant::Null();
            } else if (!cmd->GetFieldAsString(d.FieldNo, text)) {
                f.OldValue = Variant::Null();
            } else if (d.FieldType == ftInteger) {
                f.OldValue = Variant(rtl::StrToInt(text));
            } else if (d.FieldType == ftFloat) {
                double v = 0;
                cmd->GetFieldAsFloat(d.FieldNo, v);
                f.OldValue = Variant(v);
            } else {
                f.OldValue = Variant(text);
            }
            auto it = changes.find(f.FieldName);
            f.NewValue = it == changes.end() ? f.OldValue : it->second;
            fields.push_back(f);
        }
        return fields;
    }

    // Runs a generated statement as the engine does: markers from the text, "OLD_" markers
    // bound to old values, the others to new values. Answers the rows affected.
    int32_t Run(const std::string& sql, const std::vector<TSDUpdateField>& fields,
                std::vector<std::string>* rows = nullptr) {
        TParams params;
        CreateParamsFromSql(&params, sql);
        for (int i = 0; i < params.Count(); ++i) {
            TParam& p = params[i];
            const bool old = StartsWithNoCase(p.Name(), "OLD_");
            const std::string name = old ? p.Name().substr(4) : p.Name();
            for (const auto& f : fields)
                if (rtl::SameText(f.FieldName, name)) p.SetValue(old ? f.OldValue : f.NewValue);
        }
        auto cmd = db.CreateSqlCommand(nullptr);
        cmd->SetParams(&params);
        cmd->ExecDirect(sql);
        if (rows != nullptr) {
            while (cmd->FetchNextRow()) {
                std::string row;
                for (int i = 0; i < cmd->FieldDescs->Count(); ++i) {
                    std::string v;
                    const TSDFieldDesc& d = cmd->FieldDescs->GetFieldDesc(i);
                    if (!cmd->GetFieldAsString(d.FieldNo, v)) v = "NULL";
                    row += (i ? "|" : "") + d.FieldName + "=" + v;
                }
                rows->push_back(row);
            }
        }
        return cmd->GetRowsAffected();
    }
};

TEST_F(GeneratedOnSqlite, ModifyByKeyChangesOnlyThatRow) {
    const auto before = Rows();
    const auto fields = Row(2, {{"NAME", Variant("Bea")}});
    const std::string sql = GenerateModifySql(mkModify, rtl::upWhereKeyOnly, "items", false, fields, origins);
    EXPECT_EQ(sql, "update items set   name = :NAME where   id = :OLD_ID");
    EXPECT_EQ(Run(sql, fields), 1);
    auto expected = before;
    expected[1] = "2|Bea|2.5|x|";
    EXPECT_EQ(Rows(), expected);
}

TEST_F(GeneratedOnSqlite, ModifyWhereAllMatchesNullsAndSkipsBlobs) {
    const auto before = Rows();
    const auto fields = Row(4, {{"PRICE", Variant(9.75)}}, false);
    const std::string sql = GenerateModifySql(mkModify, rtl::upWhereAll, "items", false, fields, origins);
    EXPECT_EQ(
        sql,
        "update items set   price = :PRICE where   id = :OLD_ID and  name = :OLD_NAME and  price is NULL "
        "and  note is NULL");
    EXPECT_EQ(Run(sql, fields), 1);
    auto expected = before;
    expected[3] = "4|Dee|9.75|NULL|";
    EXPECT_EQ(Rows(), expected);
}

TEST_F(GeneratedOnSqlite, StaleOldValuesChangeNothing) {
    auto fields = Row(3, {{"NOTE", Variant("z")}}, false);
    db.Exec("update items set name = 'Cid' where id = 3");  // another user's change
    const auto before = Rows();
    const std::string sql = GenerateModifySql(mkModify, rtl::upWhereAll, "items", false, fields, origins);
    EXPECT_EQ(Run(sql, fields), 0);  // the engine reports "Registro foi alterado por outro usuário"
    EXPECT_EQ(Rows(), before);
}

TEST_F(GeneratedOnSqlite, ModifyWhereChangedTellsEqualRowsApartByKey) {
    // Rows 2 and 3 share name and price; only the key keeps the change to one of them.
    const auto before = Rows();
    const auto fields = Row(3, {{"PRICE", Variant(3.0)}});
    const std::string sql = GenerateModifySql(mkModify, rtl::upWhereChanged, "items", false, fields, origins);
    EXPECT_EQ(sql, "update items set   price = :PRICE where   id = :OLD_ID and  price = :OLD_PRICE");
    EXPECT_EQ(Run(sql, fields), 1);
    auto expected = before;
    expected[2] = "3|Bob|3.0|y|0203";
    EXPECT_EQ(Rows(), expected);
}

TEST_F(GeneratedOnSqlite, InsertAddsExactlyTheNewRow) {
    const auto before = Rows();
    std::vector<TSDUpdateField> fields = Row(1, {});
    fields[0].NewValue = Variant(int32_t(5));
    fields[1].NewValue = Variant("Eve");
    fields[2].NewValue = Variant(0.5);
    fields[3].NewValue = Variant::Null();
    fields[3].Modified = true;  // written as NULL
    fields[4].NewValue = Variant::FromBytes({0xCA, 0xFE});
    const std::string sql = GenerateModifySql(mkInsert, rtl::upWhereKeyOnly, "items", false, fields, origins);
    EXPECT_EQ(sql, "insert into items (id, name, price, note, data) values(:ID, :NAME, :PRICE, NULL, :DATA)");
    EXPECT_EQ(Run(sql, fields), 1);
    auto expected = before;
    expected.push_back("5|Eve|0.5|NULL|CAFE");
    EXPECT_EQ(Rows(), expected);
}

TEST_F(GeneratedOnSqlite, DeleteRemovesOnlyThatRow) {
    const auto before = Rows();
    const auto fields = Row(2, {});
    const std::string sql = GenerateModifySql(mkDelete, rtl::upWhereKeyOnly, "items", false, fields, origins);
    EXPECT_EQ(sql, "delete from items where   id = :OLD_ID");
    EXPECT_EQ(Run(sql, fields), 1);
    auto expected = before;
    expected.erase(expected.begin() + 1);
    EXPECT_EQ(Rows(), expected);
}

TEST_F(GeneratedOnSqlite, RefreshReadsTheRowBackUnderTheFieldNames) {
    const auto fields = Row(3, {});
    const std::string sql =
        GenerateModifySql(mkRefresh, rtl::upWhereKeyOnly, "items", false, fields, origins);
    EXPECT_EQ(
        sql,
        "select id as ID, name as NAME, price as PRICE, note as NOTE, data as DATA from items where   id = "
        ":OLD_ID");
    std::vector<std::string> rows;
    Run(sql, fields, &rows);
    EXPECT_EQ(rows, std::vector<std::string>{"ID=3|NAME=Bob|PRICE=2.5|NOTE=y|DATA=\x02\x03"});
}

TEST_F(GeneratedOnSqlite, QuotedOwnerQualifiedNames) {
    const auto before = Rows();
    const auto fields = Row(1, {{"NOTE", Variant("quoted")}});
    const std::string sql =
        GenerateModifySql(mkModify, rtl::upWhereKeyOnly, "main.items", true, fields, origins);
    EXPECT_EQ(sql, "update \"main\".\"items\" set   \"note\" = :NOTE where   \"id\" = :OLD_ID");
    EXPECT_EQ(Run(sql, fields), 1);
    auto expected = before;
    expected[0] = "1|Ann|1.5|quoted|01";
    EXPECT_EQ(Rows(), expected);
}

TEST_F(GeneratedOnSqlite, WithoutKeyNothingIsWritten) {
    const auto before = Rows();
    const auto fields = Row(2, {{"NAME", Variant("All")}}, false);
    EXPECT_THROW(GenerateModifySql(mkModify, rtl::upWhereKeyOnly, "items", false, fields, origins),
                 rtl::EDatabaseError);
    EXPECT_THROW(GenerateModifySql(mkDelete, rtl::upWhereKeyOnly, "items", false, fields, origins),
                 rtl::EDatabaseError);
    EXPECT_EQ(Rows(), before);
}

}  // namespace
