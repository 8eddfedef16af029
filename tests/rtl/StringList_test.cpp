// String list: editing, lookups with and without case, name=value lines, sorting, the text
// forms (lines, delimited, comma) and files.
#include <gtest/gtest.h>

#include <random>

#include "rtl/Exception.h"
#include "rtl/StringList.h"
#include "support/TestSupport.h"

namespace {

using Lines = std::vector<std::string>;

TEST(StringList, EditingAndIndexChecks) {
    rtl::StringList l;
    EXPECT_EQ(l.Add("b"), 0);
    EXPECT_EQ(l.Add("d"), 1);
    l.Insert(0, "a");
    l.Insert(2, "c");
    l.Insert(4, "e");  // inserting at Count appends
    EXPECT_EQ(l.Lines(), (Lines{"a", "b", "c", "d", "e"}));
    l.Delete(1);
    l.Set(0, "A");
    l.Exchange(0, 3);
    EXPECT_EQ(l.Lines(), (Lines{"e", "c", "d", "A"}));
    EXPECT_EQ(l[1], "c");
    EXPECT_EQ(l.Strings(2), "d");

    for (int bad : {-1, 4, 100}) {
        EXPECT_THROW(l.Strings(bad), rtl::EListError) << bad;
        EXPECT_THROW(l.Delete(bad), rtl::EListError) << bad;
        EXPECT_THROW(l.Set(bad, "x"), rtl::EListError) << bad;
    }
    EXPECT_THROW(l.Insert(5, "x"), rtl::EListError);
    try {
        l.Delete(7);
    } catch (const rtl::EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (7)");
    }
    EXPECT_EQ(l.Count(), 4);

    l.AddStrings(l);  // a list added to itself doubles
    EXPECT_EQ(l.Count(), 8);
    l.Clear();
    EXPECT_EQ(l.Count(), 0);
}

TEST(StringList, LookupsIgnoreCaseUnlessAsked) {
    rtl::StringList l{"Ação", "beta", "BETA"};
    EXPECT_EQ(l.IndexOf("AÇÃO"), 0);
    EXPECT_EQ(l.IndexOf("Beta"), 1);
    EXPECT_EQ(l.IndexOf("gamma"), -1);
    l.SetCaseSensitive(true);
    EXPECT_EQ(l.IndexOf("AÇÃO"), -1);
    EXPECT_EQ(l.IndexOf("BETA"), 2);
}

TEST(StringList, NameValueLines) {
    rtl::StringList l{"Alias=PROD", "Esquema = dbo",     "semigual",
                      "=orphan",    "Url=http://h/?a=b", "alias=second"};
    struct Case {
        int index;
        const char* name;
        const char* value;
    };
    const Case cases[] = {
        {0, "Alias", "PROD"}, {1, "Esquema ", " dbo"},     {2, "", ""},  // a line without '=' has neither
        {3, "", "orphan"},    {4, "Url", "http://h/?a=b"},               // only the first '=' separates
    };
    for (const auto& c : cases) {
        EXPECT_EQ(l.Names(c.index), c.name) << c.index;
        EXPECT_EQ(l.ValueFromIndex(c.index), c.value) << c.index;
    }
    EXPECT_EQ(l.Values("ALIAS"), "PROD");  // the first of two, without regard to case
    EXPECT_EQ(l.IndexOfName("alias"), 0);
    EXPECT_EQ(l.Values("Esquema"), "");  // names are not trimmed
    EXPECT_EQ(l.Values("semigual"), "");
    EXPECT_EQ(l.IndexOfName("semigual"), -1);

    l.SetValue("URL", "x");  // replaces the line, with the name as given
    EXPECT_EQ(l[4], "URL=x");
    l.SetValue("Novo", "1");  // adds at the end
    EXPECT_EQ(l[l.Count() - 1], "Novo=1");
    l.SetValue("alias", "");  // an empty value deletes the first line of that name
    EXPECT_EQ(l.IndexOfName("alias"), 4);
    EXPECT_EQ(l.Values("alias"), "second");
    l.SetValue("ausente", "");  // deleting a missing name does nothing
    EXPECT_EQ(l.Count(), 6);

    l.SetNameValueSeparator(':');
    l.Add("porta:211");
    EXPECT_EQ(l.Values("PORTA"), "211");
}

TEST(StringList, SortIsStableAndSortedListsKeepOrder) {
    rtl::StringList l{"b1", "B1", "a", "C", "A", "c"};
    l.Sort();
    EXPECT_EQ(l.Lines(), (Lines{"a", "A", "b1", "B1", "C", "c"}));  // equals keep their order
    l.SetCaseSensitive(true);
    l.Sort();
    EXPECT_EQ(l.Lines(), (Lines{"A", "B1", "C", "a", "b1", "c"}));

    struct Case {
        rtl::DuplicateMode mode;
        Lines expected;
        bool raises;
    };
    const Case cases[] = {
        {rtl::DuplicateMode::Ignore, {"a", "b", "x"}, false},
        {rtl::DuplicateMode::Accept, {"a", "b", "B", "x"}, false},
        {rtl::DuplicateMode::Error, {"a", "b", "x"}, true},
    };
    for (const auto& c : cases) {
        rtl::StringList s;
        s.SetDuplicates(c.mode);
        s.SetSorted(true);
        s.Add("x");
        s.Add("b");
        s.Add("a");
        if (c.raises)
            EXPECT_THROW(s.Add("B"), rtl::EListError);
        else
            s.Add("B");
        EXPECT_EQ(s.Lines(), c.expected);
        int index = -1;
        EXPECT_TRUE(s.Find("X", index));
        EXPECT_EQ(index, int(c.expected.size()) - 1);
        EXPECT_FALSE(s.Find("c", index));
        EXPECT_EQ(index, int(c.expected.size()) - 1);  // where "c" would go
        EXPECT_EQ(s.IndexOf("B"), 1);
        EXPECT_THROW(s.Insert(0, "z"), rtl::EListError);
        EXPECT_THROW(s.Set(0, "z"), rtl::EListError);
    }

    // Sorting a filled list on demand, and values set in a sorted list keep it sorted.
    rtl::StringList s{"m=1", "c=2"};
    s.SetSorted(true);
    EXPECT_EQ(s.Lines(), (Lines{"c=2", "m=1"}));
    s.SetValue("c", "zz");
    s.SetValue("a", "0");
    EXPECT_EQ(s.Lines(), (Lines{"a=0", "c=zz", "m=1"}));
}

TEST(StringList, TextSplitsEveryLineEnd) {
    struct Case {
        std::string text;
        Lines lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"\r\n", {""}},
        {"\n\r", {"", ""}},  // LF then CR: two line ends
        {"x\r\r\ny\n\nz", {"x", "", "y", "", "z"}},
        {std::string("n\0ul\nx", 6), {std::string("n\0ul", 4), "x"}},
    };
    for (const auto& c : cases) {
        rtl::StringList l;
        l.SetText(c.text);
        EXPECT_EQ(l.Lines(), c.lines) << testing::PrintToString(c.text);
    }
    rtl::StringList l{"a", "", "ç"};
    EXPECT_EQ(l.Text(), "a\r\n\r\nç\r\n");
    rtl::StringList back;
    back.SetText(l.Text());
    EXPECT_EQ(back, l);
}

TEST(StringList, DelimitedTextQuotesWhatWouldNotReadBack) {
    struct Case {
        Lines lines;
        std::string comma;
    };
    const Case cases[] = {
        {{}, ""},
        {{""}, "\"\""},
        {{"", ""}, ","},
        {{"a", "", "b"}, "a,,b"},
        {{"a b", "c"}, "\"a b\",c"},
        {{"x,y"}, "\"x,y\""},
        {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
        {{"tab\there"}, "\"tab\there\""},
        {{"ação", "d'água"}, "ação,d'água"},
    };
    for (const auto& c : cases) {
        rtl::StringList l;
        for (const auto& s : c.lines)
            l.Add(s);
        EXPECT_EQ(l.CommaText(), c.comma);
        rtl::StringList back;
        back.SetCommaText(c.comma);
        EXPECT_EQ(back.Lines(), c.lines) << c.comma;
    }
}

TEST(StringList, DelimitedTextReading) {
    struct Case {
        std::string text;
        Lines lines;
    };
    const Case cases[] = {
        {"a b,c", {"a", "b", "c"}},  // blanks separate bare items
        {"  a ,  b  ", {"a", "b"}},
        {"a,", {"a", ""}},
        {",a", {"", "a"}},
        {"\"a,b\" , c", {"a,b", "c"}},
        {"\"unclosed, rest", {"unclosed, rest"}},
        {"\"ab\"cd,e", {"ab", "cd", "e"}},
        {"a\"b", {"a\"b"}},
        {"\"\"", {""}},
        {"   ", {}},
    };
    for (const auto& c : cases) {
        rtl::StringList l;
        l.SetCommaText(c.text);
        EXPECT_EQ(l.Lines(), c.lines) << c.text;
    }

    // Delimiter and quote of one's own; CommaText ignores them.
    rtl::StringList l;
    l.SetDelimiter(';');
    l.SetQuoteChar('\'');
    l.SetDelimitedText("IP:a;'URL:b c';x,y");
    EXPECT_EQ(l.Lines(), (Lines{"IP:a", "URL:b c", "x,y"}));
    EXPECT_EQ(l.DelimitedText(), "IP:a;'URL:b c';x,y");
    EXPECT_EQ(l.CommaText(), "IP:a,\"URL:b c\",\"x,y\"");
}

TEST(StringList, DelimitedTextRoundTripsAnyList) {
    // Lists drawn from the characters that matter to the quoting rules.
    const std::string alphabet = std::string("a;, \"'\t\x01") + "ç";
    std::mt19937 gen(7);
    for (int round = 0; round < 3000; ++round) {
        rtl::StringList l;
        const int n = int(gen() % 5);
        for (int i = 0; i < n; ++i) {
            std::string s;
            const int len = int(gen() % 5);
            for (int k = 0; k < len; ++k)
                s += alphabet[gen() % alphabet.size()];
            l.Add(s);
        }
        for (char delim : {',', ';'}) {
            l.SetDelimiter(delim);
            rtl::StringList back;
            back.SetDelimiter(delim);
            back.SetDelimitedText(l.DelimitedText());
            ASSERT_EQ(back.Lines(), l.Lines()) << l.DelimitedText();
        }
        rtl::StringList back;
        back.SetCommaText(l.CommaText());
        ASSERT_EQ(back.Lines(), l.Lines()) << l.CommaText();
    }
}

TEST(StringList, Files) {
    kwtest::TempDir dir;
    const std::string path = (dir / "lines.txt").string();
    rtl::StringList l{"[kwBalanceador]", "EnderecoIP1=10.0.0.1:211", ""};
    l.SaveToFile(path);
    EXPECT_EQ(kwtest::ReadFile(path), "[kwBalanceador]\r\nEnderecoIP1=10.0.0.1:211\r\n\r\n");

    kwtest::WriteFile(dir / "mixed.txt", "um\ndois\r\ntrês\rquatro");
    rtl::StringList m;
    m.Add("replaced");
    m.LoadFromFile((dir / "mixed.txt").string());
    EXPECT_EQ(m.Lines(), (Lines{"um", "dois", "três", "quatro"}));

    const std::string missing = (dir / "missing.txt").string();
    try {
        m.LoadFromFile(missing);
        ADD_FAILURE() << "loaded a missing file";
    } catch (const rtl::EFOpenError& e) {
        EXPECT_NE(e.Message().find(missing), std::string::npos) << e.Message();
    }
    EXPECT_EQ(m.Count(), 4);  // a failed load leaves the list alone
    EXPECT_THROW(l.SaveToFile((dir / "no" / "x.txt").string()), rtl::EFOpenError);
    EXPECT_THROW(l.SaveToFile("/dev/full"), rtl::EFOpenError);
}

}  // namespace
