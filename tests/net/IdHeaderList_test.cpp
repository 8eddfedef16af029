// Tests of the header list and of replies.
#include "net/IdHeaderList.h"

#include <gtest/gtest.h>

#include "net/IdGlobalProtocols.h"
#include "net/IdReplyRFC.h"
#include "rtl/Text.h"
#include "support/TestSupport.h"

namespace {

TEST(IdHeaderList, FindsHeadersByNameInAnyCase) {
    TIdHeaderList h;
    h.Add("Content-Type: text/html");
    h.Add("Content-Length: 5");
    h.Add("no colon here");
    EXPECT_EQ(h.GetValueByName("content-type"), "text/html");
    EXPECT_EQ(h.IndexOfHeader("CONTENT-LENGTH"), 1);
    EXPECT_EQ(h.NameOfLine(1), "CONTENT-LENGTH");
    h.NamesCaseSensitive = true;
    EXPECT_EQ(h.NameOfLine(1), "Content-Length");
    EXPECT_EQ(h.IndexOfHeader("content-length"), 1);  // finding ignores case either way
    // A line without ":" has an empty name and is never found by name.
    EXPECT_EQ(h.NameOfLine(2), "");
    EXPECT_EQ(h.IndexOfHeader(""), -1);
    EXPECT_EQ(h.GetValueByName("absent"), "");
    EXPECT_EQ(h.ValueOfLine(99), "");
}

TEST(IdHeaderList, UnfoldsContinuationLines) {
    TIdHeaderList h;
    h.Add("X-A: one");
    h.Add(" two");
    h.Add("\tthree");
    h.Add("X-B: b");
    EXPECT_EQ(h.GetValueByName("X-A"), "one two three");
    h.UnfoldOnRead = false;
    EXPECT_EQ(h.GetValueByName("X-A"), "one");
    rtl::StringList values;
    h.Add("x-a: again");
    h.UnfoldOnRead = true;
    h.ExtractValues("X-A", &values);
    EXPECT_EQ(values, (rtl::StringList{"one two three", "again"}));
    h.ExtractValues("X-A", nullptr);
}

TEST(IdHeaderList, FoldsALongValueAndReadsItBack) {
    std::string words;
    for (int i = 0; words.size() < 200; ++i) words += (i ? " word" : "word") + std::to_string(i);
    TIdHeaderList h;
    h.Add("Before: 1");
    h.SetValueByName("X-Long", words);
    h.Add("After: 2");
    ASSERT_GT(h.Count(), 3);
    EXPECT_LE(h[1].size(), 78u);
    EXPECT_EQ(h[1].rfind("X-Long: ", 0), 0u);
    int i = 2;
    for (; i < h.Count() && h[i][0] == ' '; ++i) {
        EXPECT_LE(h[i].size(), 78u) << h[i];
        EXPECT_NE(h[i][1], ' ') << "one space only: " << h[i];
    }
    EXPECT_EQ(h[i], "After: 2");
    EXPECT_EQ(h.GetValueByName("x-long"), words);

    // Setting it again replaces every physical line; an empty value removes them all.
    h.SetValueByName("X-Long", "short");
    EXPECT_EQ(h, (rtl::StringList{"Before: 1", "X-Long: short", "After: 2"}));
    h.SetValueByName("X-Long", "");
    EXPECT_EQ(h, (rtl::StringList{"Before: 1", "After: 2"}));
    h.SetValueByName("Absent", "");
    EXPECT_EQ(h.Count(), 2);
    h.FoldOnWrite = false;
    h.SetValueByName("New", words);
    EXPECT_EQ(h[2], "New: " + words);
}

TEST(IdHeaderList, ANameOrValueWithALineBreakOrNulIsRefusedAndChangesNothing) {
    using namespace std::string_literals;
    const std::pair<std::string, std::string> cases[] = {
        {"X-A", "a\r\nX-Injected: 1"}, {"X-A", "a\nX-Injected: 1"}, {"X-A", "a\rX-Injected: 1"},
        {"X-A", "a\0X-Injected: 1"s},  {"X-A", "a\r\n b"},          {"X-A\r\nX-Injected", "1"},
    };
    for (const auto& [name, value] : cases) {
        SCOPED_TRACE(name + "|" + value);
        TIdHeaderList h;
        h.Add("X-A: old");
        EXPECT_NE(kwtest::ThrownMessage([&] { h.SetValueByName(name, value); }).find("line break or a NUL"),
                  std::string::npos);
        EXPECT_EQ(h, (rtl::StringList{"X-A: old"}));
    }
}

TEST(IdHeaderList, AQuotedRunIsNeverBroken) {
    const std::string quoted = "\"" + std::string(60, 'q') + " " + std::string(60, 'r') + "\"";
    TIdHeaderList h;
    h.SetValueByName("X-Q", "a, " + quoted + ", b");
    bool whole = false;
    for (int i = 0; i < h.Count(); ++i) whole = whole || h[i].find(quoted) != std::string::npos;
    EXPECT_TRUE(whole) << h.Text();
    EXPECT_EQ(h.GetValueByName("X-Q"), "a, " + quoted + ", b");
}

TEST(IdHeaderList, WrapAtBreaks) {
    EXPECT_EQ(WrapAtBreaks("aaa bbb ccc", "\r\n ", " ", 5), "aaa \r\n bbb \r\n ccc");
    // No break character after the width: one long line.
    EXPECT_EQ(WrapAtBreaks(std::string(100, 'x'), "\r\n ", " ", 10), std::string(100, 'x'));
    // A break already in the text is kept, not doubled.
    EXPECT_EQ(WrapAtBreaks("ab\r\n cd", "\r\n ", " ", 78), "ab\r\n cd");
}

TEST(IdReplyRFC, CodesTable) {
    struct Row {
        const char* code;
        bool valid;
    };
    const Row rows[] = {{"abc", false}, {"99", false}, {"1000", false}, {"", true},  {"  ", true},
                        {"100", true},  {"999", true}, {"250", true},   {"25x", false}, {"-100", false}};
    for (const Row& r : rows) {
        TIdReplyRFC reply;
        if (r.valid) {
            EXPECT_NO_THROW(reply.SetCode(r.code)) << r.code;
        } else {
            try {
                reply.SetCode(r.code);
                ADD_FAILURE() << r.code;
            } catch (const EIdException& e) {
                EXPECT_EQ(e.Message(), std::string("Reply Code is not valid: ") + r.code);
            }
        }
    }
}

TEST(IdReplyRFC, FormatsParsesAndRaises) {
    TIdReplyRFC reply;
    reply.SetCode("250");
    reply.Text().Add("first");
    reply.Text().Add("second");
    EXPECT_EQ(reply.FormattedLines(), (rtl::StringList{"250-first", "250 second"}));
    EXPECT_EQ(reply.DisplayName(), "250 first");
    reply.Text().Clear();
    EXPECT_EQ(reply.FormattedLines(), (rtl::StringList{"250"}));
    reply.SetCode("");
    reply.Text().Add("plain");
    EXPECT_EQ(reply.FormattedLines(), (rtl::StringList{"plain"}));

    TIdReplyRFC parsed;
    parsed.ParseFormattedLines(rtl::StringList{"220-hello", "220 ready"});
    EXPECT_EQ(parsed.Code(), "220");
    EXPECT_EQ(parsed.Text(), (rtl::StringList{"hello", "ready"}));
    EXPECT_FALSE(parsed.IsLastLine("220-hello"));
    EXPECT_TRUE(parsed.IsLastLine("220 ready"));
    EXPECT_TRUE(parsed.IsLastLine("220"));
    TIdReplyRFC bad;
    EXPECT_THROW(bad.ParseFormattedLines(rtl::StringList{"abc hello"}), EIdException);

    try {
        parsed.RaiseAsError();
    } catch (const EIdReplyRFCError& e) {
        EXPECT_EQ(e.ReplyErrorCode, 220);
        EXPECT_EQ(e.Message(), "hello\r\nready\r\n");
    }

    TIdReplyRFC zero;
    zero.SetNumericCode(0);
    EXPECT_FALSE(zero.HasReply());
    zero.Text().Add("line");
    EXPECT_TRUE(zero.HasReply());

    TIdReplyRFC copy;
    copy.Assign(parsed);
    EXPECT_EQ(copy.Code(), "220");
    EXPECT_EQ(copy.Text(), parsed.Text());
    copy.AssignReply(550, "no\r\nway");
    EXPECT_EQ(copy.GetNumericCode(), 550);
    EXPECT_EQ(copy.Text(), (rtl::StringList{"no", "way"}));
    EXPECT_THROW(copy.AssignReply(42, "x"), EIdException);
    copy.ClearReply();
    EXPECT_FALSE(copy.HasReply());
}

}  // namespace
