// Client-side filters: filter texts compiled by the parser and evaluated over the rows of a
// query on the fake driver, and hand-built trees for the evaluator's edge cases.
#include <gtest/gtest.h>

#include <cmath>

#include "FakeDataSetFixture.h"
#include "database/engine/SDCommonFilter.h"
#include "platform/Clock.h"
#include "rtl/DateTime.h"
#include "rtl/ExprParser.h"

using fakeds::Fixture;

namespace {

// The fake driver reads an empty cell as null; a lone zero byte is an empty text.
fake::Cell EmptyText() {
    return fake::Cell{0};
}

class Filters : public Fixture {
protected:
    void SetUp() override {
        Fixture::SetUp();
        auto born = [](int y, int m, int d, int h) {
            const rtl::TDateTime dt = rtl::EncodeDate(y, m, d) + rtl::EncodeTime(h, 0, 0, 0);
            return fake::DateTimeCell(
                TSDDateTimeRec::FromDateTime(rtl::TimeStampToMSecs(rtl::DateTimeToTimeStamp(dt))));
        };
        server.columns = {{"ID", ftInteger, 4},    {"NAME", ftString, 21}, {"PRICE", ftFloat, 8},
                          {"BORN", ftDateTime, 8}, {"NOTE", ftString, 21}, {"QTY", ftSmallint, 2}};
        server.rows = {
            {fake::IntCell(1), fake::TextCell("Abc"), fake::FloatCell(10.5), born(1990, 3, 4, 8),
             fake::TextCell(" x "), fake::SmallCell(3)},
            {fake::IntCell(2), fake::TextCell("abd"), fake::FloatCell(25), born(1985, 12, 31, 23),
             fake::Cell(), fake::SmallCell(0)},
            {fake::IntCell(3), fake::TextCell("ab*"), fake::FloatCell(30), born(2001, 7, 1, 12), EmptyText(),
             fake::SmallCell(-2)},
            {fake::IntCell(4), fake::TextCell("Xyz"), fake::FloatCell(99.9), fake::Cell(),
             fake::TextCell("note"), fake::Cell()},
            {fake::IntCell(5), EmptyText(), fake::FloatCell(0), born(1990, 1, 15, 0), fake::TextCell("x"),
             fake::SmallCell(7)},
        };
        rtl::SetApplicationExceptionHandler([this](const std::exception& e) { handled.push_back(e.what()); });
    }
    void TearDown() override {
        rtl::SetApplicationExceptionHandler(nullptr);
        Fixture::TearDown();
    }

    std::vector<int> Selected(TSDQuery& q) {
        std::vector<int> ids;
        for (q.First(); !q.Eof(); q.Next())
            ids.push_back(q.FieldByName("ID").AsInteger());
        return ids;
    }

    std::vector<std::string> handled;
};

}  // namespace

TEST_F(Filters, ExpressionsSelectRows) {
    struct Case {
        const char* filter;
        rtl::TFilterOptions options;
        std::vector<int> ids;
    };
    const Case cases[] = {
        {"ID = 2", 0, {2}},
        {"ID <> 2", 0, {1, 3, 4, 5}},
        {"PRICE > 10 and PRICE <= 30", 0, {1, 2, 3}},
        {"ID < 2 or ID >= 5", 0, {1, 5}},
        {"not (ID = 1)", 0, {2, 3, 4, 5}},
        {"NAME = 'Abc'", 0, {1}},
        {"NAME = 'abc'", rtl::foCaseInsensitive, {1}},
        {"NAME = 'ab*'", 0, {2, 3}},                     // a trailing star compares the start
        {"NAME = 'ab*'", rtl::foNoPartialCompare, {3}},  // only the text itself
        {"NAME like 'ab*'", rtl::foCaseInsensitive, {1, 2, 3}},
        {"NAME like 'ab*'", rtl::foNoPartialCompare, {3}},
        {"NAME like 'ab'", 0, {2, 3}},
        {"NAME like '*'", 0, {5}},  // only empty texts
        {"NOTE is null", 0, {2}},
        {"NOTE is not null", 0, {1, 3, 4, 5}},
        {"NOTE = NULL", 0, {2}},
        {"NOTE <> null", 0, {1, 3, 4, 5}},
        {"ID in (1, 3, 5)", 0, {1, 3, 5}},
        {"NAME in ('Xyz', 'abd')", 0, {2, 4}},
        {"upper(NAME) = 'ABD'", 0, {2}},
        {"lower(NAME) = 'xyz'", 0, {4}},
        {"substring(NAME, 2, 2) = 'bc'", 0, {1}},
        {"trim(NOTE) = 'x'", 0, {1, 5}},
        {"trimleft(NOTE) = 'x '", 0, {1}},
        {"year(BORN) = 1990", 0, {1, 5}},
        {"month(BORN) = 12 and day(BORN) = 31", 0, {2}},
        {"hour(BORN) = 12", 0, {3}},
        {"day(BORN) = 0", 0, {4}},  // DAY of a null value is 0
        {"BORN > '2000-01-01'", 0, {3}},
        {"date(BORN) = '1990-03-04'", 0, {1}},
        {"ID + 1 = 3", 0, {2}},
        {"PRICE * 2 > 59", 0, {3, 4}},
        {"PRICE / 2 = 5.25", 0, {1}},
        {"-ID = -3", 0, {3}},
        {"QTY - 1 < 0", 0, {2, 3}},
        // Operators of one level group from the left, and bind tighter than those below them.
        {"10 - ID - 1 = 6", 0, {3}},
        {"12 / ID / 2 = 2", 0, {3}},
        {"1 + ID * 2 = 7", 0, {3}},
        {"ID = 1 or ID = 2 and ID = 3", 0, {1}},
        {"[NAME] = 'Xyz' or \"ID\" = 5", 0, {4, 5}},
        {"NAME = 'Xyz' and NOTE = 'note' or ID = 1", 0, {1, 4}},
    };
    TSDQuery& q = Query();
    q.Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        q.SetFilterOptions(c.options);
        q.SetFilter(c.filter);
        q.SetFiltered(true);
        EXPECT_EQ(Selected(q), c.ids);
        EXPECT_EQ(q.RecordCount(), int(c.ids.size()));
        q.SetFiltered(false);
    }
    EXPECT_TRUE(handled.empty()) << handled.front();
}

TEST_F(Filters, SyntaxErrors) {
    struct Case {
        const char* filter;
        const char* message;
    };
    const Case cases[] = {
        {"ID = ", "Expression expected but nothing found"},
        {"ID = 1)", "Filter expression incorrectly terminated"},
        {"NAME = 'abc", "Unterminated string constant"},
        {"[NAME = 'x'", "Unterminated field name"},
        {"ID > NULL", "NULL only allowed with '=' and '<>'"},
        {"ID in ()", "IN predicate list may not be empty"},
        {"ID # 2", "Invalid filter expression character: '#'"},
        {"(ID = 1", "')' expected but nothing found"},
    };
    TSDQuery& q = Query();
    q.Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        try {
            q.SetFilter(c.filter);
            FAIL() << "no error";
        } catch (const rtl::EDatabaseError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_EQ(q.Filter(), "");  // a text that does not compile is not taken
    }
}

TEST_F(Filters, AFilterThatDoesNotCompileLeavesTheOneInForce) {
    TSDQuery& q = Query();
    q.Open();
    q.SetFilter("ID > 2");
    q.SetFiltered(true);
    ASSERT_EQ(Selected(q), (std::vector<int>{3, 4, 5}));
    EXPECT_THROW(q.SetFilter("ID = "), rtl::EDatabaseError);
    EXPECT_EQ(q.Filter(), "ID > 2");
    EXPECT_EQ(Selected(q), (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(q.RecordCount(), 3);
    // New options compile the text in force again.
    q.SetFilter("NAME = 'ab*'");
    ASSERT_EQ(Selected(q), (std::vector<int>{2, 3}));
    q.SetFilterOptions(rtl::foNoPartialCompare);
    EXPECT_EQ(Selected(q), (std::vector<int>{3}));
}

TEST_F(Filters, UnknownFunctionRejectsTheRowThroughTheHandler) {
    TSDQuery& q = Query();
    q.Open();
    q.SetFilter("NOW() = 1");
    q.SetFiltered(true);
    EXPECT_TRUE(q.IsEmpty());
    ASSERT_FALSE(handled.empty());
    EXPECT_EQ(handled.front(), "Expression expected but NOW found");
}

// An unknown field is refused when the text is compiled, not met row by row (which would show
// no rows and leave the error to the application's handler).
TEST_F(Filters, UnknownFieldIsRefusedWhenTheFilterIsSet) {
    TSDQuery& q = Query();
    q.SetName("Q");
    q.Open();
    q.SetFiltered(true);
    try {
        q.SetFilter("ID > 1 and lower(NOPE) = 'x'");
        FAIL() << "the filter was taken";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Q: Campo 'NOPE' não encontrado");
    }
    EXPECT_EQ(q.Filter(), "");
    EXPECT_EQ(Selected(q), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(handled.empty());
}

TEST_F(Filters, FilterAndEventTogether) {
    TSDQuery& q = Query();
    q.SetFilter("PRICE < 50");
    q.SetFiltered(true);
    q.SetOnFilterRecord(
        [](rtl::TDataSet& ds, bool& accept) { accept = ds.FieldByName("ID").AsInteger() != 2; });
    q.Open();
    EXPECT_EQ(Selected(q), (std::vector<int>{1, 3, 5}));
}

TEST_F(Filters, AFieldIsLookedUpOnceUntilTheDataSetCloses) {
    TSDQuery& q = Query();
    q.SetFilter("ID > 1 and ID < 5 and ID <> 3");
    q.SetFiltered(true);
    q.Open();
    EXPECT_EQ(Selected(q), (std::vector<int>{2, 4}));
    ASSERT_NE(q.FilterParser(), nullptr);
    EXPECT_EQ(q.FilterParser()->FieldLookups(), 1);
    q.Close();
    EXPECT_EQ(q.FilterParser()->FieldCacheCount(), 0);
    q.Open();
    EXPECT_EQ(Selected(q), (std::vector<int>{2, 4}));
    EXPECT_EQ(q.FilterParser()->FieldLookups(), 2);
}

TEST_F(Filters, FilteredCountIsComputedOnceUntilRowsOrFilterChange) {
    TSDQuery& q = Query();
    int evaluations = 0;
    q.SetOnFilterRecord([&](rtl::TDataSet& ds, bool& accept) {
        ++evaluations;
        accept = ds.FieldByName("ID").AsInteger() % 2 == 1;
    });
    q.SetFiltered(true);
    q.OnUpdateRecord = [](rtl::TDataSet&, rtl::TUpdateKind, rtl::TUpdateAction& a) { a = rtl::uaApplied; };
    q.Open();
    EXPECT_EQ(q.RecordCount(), 3);
    const int once = evaluations;
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(q.RecordCount(), 3);
    EXPECT_EQ(evaluations, once);  // a loop over RecordCount does not re-filter every row
    // A changed row counts again.
    q.Edit();
    q.FieldByName("ID").SetAsInteger(2);
    q.Post();
    EXPECT_EQ(q.RecordCount(), 2);
    // So does a changed filter.
    q.SetOnFilterRecord([&](rtl::TDataSet&, bool& accept) {
        ++evaluations;
        accept = true;
    });
    EXPECT_EQ(q.RecordCount(), 5);
}

namespace {

// Evaluates a hand-built tree over the current record of a data set.
rtl::Variant Eval(rtl::TDataSet& ds, const rtl::TExprTreeBuilder& b, uint16_t root, uint16_t version = 2) {
    TSDExprParser parser(ds, b.Finish(root, version), ds.FilterOptions(), SDFilterFieldMap());
    return EvaluateFilterValue(parser);
}

}  // namespace

TEST_F(Filters, EvaluatorEdgeCases) {
    TSDQuery& q = Query();
    q.Open();
    q.Next();  // ID 2: NOTE is null
    {
        rtl::TExprTreeBuilder b;
        const uint16_t root = b.ConstTime(12 * 3600 * 1000);
        EXPECT_DOUBLE_EQ(Eval(q, b, root).AsDateTime(), 0.5);
    }
    {
        // Two nulls in a compare node: equal, not greater; a null and a value only unequal.
        struct Case {
            uint32_t op;
            bool bothNull;
            bool expected;
        };
        const Case cases[] = {{rtl::coEQ, true, true},  {rtl::coGE, true, true},   {rtl::coNE, true, false},
                              {rtl::coGT, true, false}, {rtl::coLIKE, true, true}, {rtl::coEQ, false, false},
                              {rtl::coNE, false, true}, {rtl::coLE, false, false}};
        for (const Case& c : cases) {
            rtl::TExprTreeBuilder b;
            const uint16_t left = b.Field("NOTE");
            const uint16_t right = c.bothNull ? b.Field("NOTE") : b.ConstString("x");
            const uint16_t root = b.Compare(c.op, false, 0, left, right);
            EXPECT_EQ(Eval(q, b, root).AsBoolean(), c.expected) << c.op << " " << c.bothNull;
        }
    }
    {
        // SUBSTRING with two elements gives an empty text; a float start of 2.0 counts.
        rtl::TExprTreeBuilder b;
        const uint16_t text = b.ConstString("abcdef");
        const uint16_t start = b.ConstFloat(2.0);
        const uint16_t l2 = b.ListElem(start, 0);
        const uint16_t l1 = b.ListElem(text, l2);
        const uint16_t root = b.Function("SUBSTRING", l1);
        EXPECT_EQ(Eval(q, b, root).AsString(), "");
        rtl::TExprTreeBuilder b2;
        const uint16_t t2 = b2.ConstString("abcdef");
        const uint16_t s2 = b2.ConstFloat(2.0);
        const uint16_t n2 = b2.ConstInteger(3);
        const uint16_t e3 = b2.ListElem(n2, 0);
        const uint16_t e2 = b2.ListElem(s2, e3);
        const uint16_t e1 = b2.ListElem(t2, e2);
        EXPECT_EQ(Eval(q, b2, b2.Function("substring", e1)).AsString(), "bcd");
    }
    {
        // A start or length past any whole number a count can hold is clamped, not converted
        // out of range: substring('Abc', 1e65, 1) is '', and a huge negative start counts as 1.
        struct Case {
            double start, length;
            const char* expected;
        };
        for (const Case& c : {Case{1e65, 1, ""}, Case{-1e65, 2, "Ab"}, Case{1, 1e65, "Abc"},
                              Case{2, -1e65, ""}, Case{9.3e18, 1, ""}, Case{std::nan(""), 1, "A"}}) {
            rtl::TExprTreeBuilder b;
            const uint16_t n = b.ConstFloat(c.length);
            const uint16_t s = b.ConstFloat(c.start);
            const uint16_t t = b.ConstString("Abc");
            const uint16_t e3 = b.ListElem(n, 0);
            const uint16_t e2 = b.ListElem(s, e3);
            const uint16_t e1 = b.ListElem(t, e2);
            EXPECT_EQ(Eval(q, b, b.Function("SUBSTRING", e1)).AsString(), c.expected)
                << c.start << " " << c.length;
        }
    }
    {
        // GETDATE reads the system's clock; DAY of null is 0 (a 16-bit word, not null).
        plat::ManualClock clock;
        plat::ScopedClock scoped(clock);
        rtl::TExprTreeBuilder b;
        const uint16_t root = b.Function("GETDATE", 0);
        EXPECT_DOUBLE_EQ(Eval(q, b, root).AsDateTime(), rtl::DateTimeFromTimePoint(clock.Now()));
        rtl::TExprTreeBuilder b2;
        const uint16_t arg = b2.ListElem(b2.Field("NOTE"), 0);
        const rtl::Variant day = Eval(q, b2, b2.Function("DAY", arg));
        EXPECT_EQ(day.Type(), rtl::VarType::Word);
        EXPECT_EQ(day.AsInteger(), 0);
    }
    {
        // A call without arguments evaluates nothing in their place.
        rtl::TExprTreeBuilder b;
        EXPECT_EQ(Eval(q, b, b.Function("TRIM", 0)).AsString(), "");
    }
}

TEST_F(Filters, MalformedTreesFailCleanly) {
    TSDQuery& q = Query();
    q.Open();
    auto message = [&](const std::vector<uint8_t>& tree) {
        try {
            TSDExprParser parser(q, tree, 0, SDFilterFieldMap());
            EvaluateFilterValue(parser);
            return std::string("no error");
        } catch (const rtl::EDatabaseError& e) {
            return e.Message();
        }
    };
    {
        rtl::TExprTreeBuilder b;
        EXPECT_EQ(message(b.Finish(b.ConstInteger(1), 3)), "Version 3 of expression is not supported");
    }
    {
        // A node whose operand points back at itself.
        rtl::TExprTreeBuilder b;
        b.ConstInteger(1);
        const uint16_t next = 8 + 3 * 2;  // the node after the constant, which takes 14 bytes
        const uint16_t root = b.Node(rtl::nodeUNARY, rtl::coNOT, {next});
        ASSERT_EQ(root, next);
        EXPECT_EQ(message(b.Finish(root)), "Incorrectly formed filter expression");
    }
    {
        // Operands and literals outside the tree.
        rtl::TExprTreeBuilder b;
        const uint16_t root = b.Binary(rtl::coEQ, 0x4000, 0x5000);
        EXPECT_EQ(message(b.Finish(root)), "Incorrectly formed filter expression");
        rtl::TExprTreeBuilder b2;
        const uint16_t bad = b2.Node(rtl::nodeCONST, rtl::coCONST2, {uint16_t(ftInteger), 4, 0x7000});
        EXPECT_EQ(message(b2.Finish(bad)), "Incorrectly formed filter expression");
    }
    {
        struct Case {
            uint32_t cls;
            uint32_t op;
        };
        for (const Case c : {Case{rtl::nodeUNARY, rtl::coADD}, Case{rtl::nodeBINARY, rtl::coNOT}, Case{7, 1},
                             Case{rtl::nodeCOMPARE, rtl::coGT}}) {
            rtl::TExprTreeBuilder b;
            const uint16_t a = b.ConstInteger(1);
            const uint16_t x = b.ConstInteger(1);
            const uint16_t root =
                c.cls == rtl::nodeCOMPARE ? b.Compare(c.op, false, 0, a, x) : b.Node(c.cls, c.op, {a, x});
            EXPECT_EQ(message(b.Finish(root)), "Incorrectly formed filter expression")
                << c.cls << " " << c.op;
        }
        rtl::TExprTreeBuilder b;
        const uint16_t root = b.Const(ftBlob, {1, 2, 3});
        EXPECT_EQ(message(b.Finish(root)), "Incorrectly formed filter expression");
    }
    {
        rtl::TExprTreeBuilder b;
        const uint16_t arg = b.ListElem(b.ConstInteger(1), 0);
        EXPECT_EQ(message(b.Finish(b.Function("NOW", arg))), "Expression expected but NOW found");
    }
}

TEST_F(Filters, DeepExpressionsAreRefusedNotOverflowed) {
    TSDQuery& q = Query();
    q.Open();
    auto chain = [](int terms) {
        std::string text = "ID = 0";
        for (int i = 1; i < terms; ++i)
            text += " or ID = " + std::to_string(i);
        return text;
    };
    q.SetFilter(chain(300));
    q.SetFiltered(true);
    EXPECT_EQ(Selected(q), (std::vector<int>{1, 2, 3, 4, 5}));
    std::string nots;
    for (int i = 0; i < 100000; ++i)
        nots += "not ";
    std::string parens(100000, '(');
    for (const std::string& text :
         {chain(2000), nots + "ID = 1", parens + "ID = 1" + std::string(100000, ')')}) {
        try {
            q.SetFilter(text);
            FAIL() << "no error";
        } catch (const rtl::EDatabaseError& e) {
            EXPECT_EQ(e.Message(), "Filter expression is too complex");
        }
    }
    // A tree whose header claims thousands of nodes around a node that points at itself.
    rtl::TExprTreeBuilder b;
    const uint16_t root = b.Node(rtl::nodeUNARY, rtl::coNOT, {0});
    std::vector<uint8_t> tree = b.Finish(root);
    tree[4] = 0x01;
    tree[5] = 0x20;  // 8193 nodes
    TSDExprParser parser(q, tree, 0, SDFilterFieldMap());
    try {
        EvaluateFilterValue(parser);
        FAIL() << "no error";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Incorrectly formed filter expression");
    }
}

TEST_F(Filters, TreeLayout) {
    rtl::TFieldMap map = SDFilterFieldMap();
    rtl::TExprParser parser("ID = 5", 0, rtl::poExtSyntax, map, nullptr);
    const std::vector<uint8_t>& t = parser.FilterData();
    ASSERT_GE(t.size(), 10u);
    auto word = [&](size_t at) { return int(t[at] | (t[at + 1] << 8)); };
    EXPECT_EQ(word(0), 2);              // version
    EXPECT_EQ(word(2), int(t.size()));  // total size
    EXPECT_EQ(word(4), 3);              // field, constant, binary
    const int root = word(6);
    EXPECT_EQ(t[size_t(root)], rtl::nodeBINARY);
    EXPECT_EQ(t[size_t(root) + 4], rtl::coEQ);
    const int literals = word(8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&t[size_t(literals)])), "ID");
}
