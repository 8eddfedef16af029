// Tests of the library's byte, text, IPv6 and tick helpers.
#include "net/IdGlobal.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <thread>

#include "platform/Clock.h"

namespace {

TEST(IdGlobal, NormalizeIPv6TextTable) {
    struct Row {
        const char* in;
        const char* out;
    };
    const Row rows[] = {
        {"::1", "0:0:0:0:0:0:0:1"},
        {"fe80::A:0001", "FE80:0:0:0:0:0:A:1"},
        {"1:2:3:4:5:6:1.2.3.4", "1:2:3:4:5:6:0102:0304"},
        {"::1.2.3.4", "0:0:0:0:0:0:0102:0304"},
        {"::192.168.1.1", "0:0:0:0:0:0:C0A8:0101"},
        {"::", "0:0:0:0:0:0:0:0"},
        {"1::", "1:0:0:0:0:0:0:0"},
        {"::2:3:4:5:6:7:8", "0:2:3:4:5:6:7:8"},
        {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
        {"::3:4:5:6:7:1.2.3.4", "0:3:4:5:6:7:0102:0304"},
        {"2001:db8:0:0:1:0:0:1", "2001:DB8:0:0:1:0:0:1"},
        {"0000:0000:0000:0000:0000:0000:0000:ffff", "0:0:0:0:0:0:0:FFFF"},
        // Invalid texts.
        {"1::2::3", ""},
        {"1.2.3.4", ""},
        {"12345::1", ""},
        {"1:2:3:4:5:6:7:8:9", ""},
        {":", ""},
        {"", ""},
        // Hostile ones.
        {"10000::1", ""},             // a group over FFFF
        {"::1.2.3.4.5", ""},          // a fourth dot
        {":::", ""},                  // a second "::"
        {"::1:2:3:4:5:6:7:8", ""},    // a "::" standing for no group
        {"1:2:3::4:5:6:7:8", ""},
        {"::1:2:3:4:5:6:7::", ""},
        {"1:2:3:4", ""},              // too few groups without "::"
        {"1:2:3:4:5:6:7", ""},        // seven groups
        {"::256.1.1.1", ""},          // a dotted byte over 255
        {"::1.2.3.1234", ""},         // four digits after the third dot
        {"::1..3.4", ""},             // an empty dotted byte
        {"::a.2.3.4", ""},            // a letter in the dotted part
        {"1.2.3.4::", ""},            // dots before the last colon
        {"::1.2.3", ""},              // two dots
        {"g::1", ""},                 // not hexadecimal
        {"::1%eth0", ""},             // a zone
        {"00000000000000000001::1", "1:0:0:0:0:0:0:1"},  // leading zeros never overflow
        {"fffffffffffffffffffff::1", ""},
    };
    for (const Row& r : rows) EXPECT_EQ(NormalizeIPv6Text(r.in), r.out) << "input: " << r.in;
}

TEST(IdGlobal, IPv6WordsToText) {
    EXPECT_EQ(IPv6WordsToText(TIdIPv6Address{}), ":0000:0000:0000:0000:0000:0000:0000:0000");
    EXPECT_EQ(IPv6WordsToText(TIdIPv6Address{0xFE80, 0, 0, 0, 0, 0, 0xA, 0xBEEF}),
              ":FE80:0000:0000:0000:0000:0000:000A:BEEF");
}

TEST(IdGlobal, CutAtDelimiterTable) {
    struct Row {
        const char* text;
        const char* delimiter;
        bool remove, caseSensitive;
        const char* result;
        const char* left;
    };
    const Row rows[] = {
        {"a b", " ", true, true, "a", "b"},
        {"a b", " ", false, true, "a", "a b"},
        {"abc", " ", true, true, "abc", ""},
        {"abc", " ", false, true, "abc", "abc"},
        {"a::b::c", "::", true, true, "a", "b::c"},
        {"xxENDyy", "end", true, true, "xxENDyy", ""},
        {"xxENDyy", "end", true, false, "xx", "yy"},
        {"çaÇb", "Ç", true, false, "", "aÇb"},
        {"", ",", true, true, "", ""},
        {",", ",", true, true, "", ""},
        {"a", "", true, true, "a", ""},
    };
    for (const Row& r : rows) {
        std::string text = r.text;
        EXPECT_EQ(CutAtDelimiter(text, r.delimiter, r.remove, r.caseSensitive), r.result) << r.text;
        EXPECT_EQ(text, r.left) << r.text;
    }
    std::string nul("a\0b", 3);
    EXPECT_EQ(CutAtDelimiter(nul, std::string_view("\0", 1), true, true), "a");
    EXPECT_EQ(nul, "b");
}

TEST(IdGlobal, BytesToTextBounds) {
    const TBytes three{'a', 'b', 'c'};
    EXPECT_EQ(BytesToText(TBytes{}, 0, 5), "");
    EXPECT_EQ(BytesToText(three, 0, 3), "abc");
    EXPECT_EQ(BytesToText(three, 2, 100), "c");
    EXPECT_EQ(BytesToText(three, 1, 0), "");
    EXPECT_EQ(BytesToText(three, 1, -5), "bc");
    for (int start : {3, -1, 4})
        EXPECT_THROW(
            {
                try {
                    BytesToText(three, start, 1);
                } catch (const EIdException& e) {
                    EXPECT_EQ(e.Message(), "Index out of bounds.");
                    throw;
                }
            },
            EIdException)
            << start;
    EXPECT_THROW(BytesToText(TBytes{}, 1, 1), EIdException);
}

TEST(IdGlobal, ByteHelpersRefuseRangesOutsideTheirArrays) {
    TBytes dst(4, 0);
    const TBytes src{1, 2, 3};
    CopyBytes(src, 1, dst, 2, 2);
    EXPECT_EQ(dst, (TBytes{0, 0, 2, 3}));
    EXPECT_THROW(CopyBytes(src, 2, dst, 2, 0), EIdException);   // beyond src
    EXPECT_THROW(CopyBytes(src, 0, dst, 2, 3), EIdException);   // beyond dst
    EXPECT_THROW(CopyBytes(src, -1, dst, 1, 0), EIdException);  // negative index
    EXPECT_THROW(CopyBytes(src, 0, dst, -1, 0), EIdException);  // negative count
    EXPECT_EQ(dst, (TBytes{0, 0, 2, 3}));  // failed copies change nothing

    TBytes three(3);
    EXPECT_THROW(WriteInt32ToBytes(three, 7), EIdException);
    EXPECT_THROW(FirstInteger(three), EIdException);
    EXPECT_THROW(FirstInteger(TBytes{}), EIdException);
    TBytes four(4);
    WriteInt32ToBytes(four, 0x01020304);
    EXPECT_EQ(FirstInteger(four), 0x01020304);
    EXPECT_EQ(four, (TBytes{4, 3, 2, 1}));  // host order (little-endian)
    EXPECT_EQ(Int16ToBytes(0x0102), (TBytes{2, 1}));
    EXPECT_EQ(Cardinal32ToBytes(0xFFFFFFFEu), (TBytes{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(CopyBytesPrefix(src, 2), (TBytes{1, 2}));
    EXPECT_THROW(CopyBytesPrefix(src, 4), EIdException);
    TBytes app{1};
    AppendBytes(app, src);
    EXPECT_EQ(app, (TBytes{1, 1, 2, 3}));

    TIdIPv6Address a{};
    CopyIPv6Bytes(TBytes(15, 0xFF), a);
    EXPECT_EQ(a, TIdIPv6Address{});
    CopyIPv6Bytes(TBytes(16, 0x11), a);
    EXPECT_EQ(a[7], 0x1111);

    EXPECT_THROW(TextToBytes("x", enNone), EIdException);
    EXPECT_EQ(TextToBytes("é"), (TBytes{0xC3, 0xA9}));

    rtl::MemoryStream stream("hello");
    TBytes buf(3);
    EXPECT_EQ(ReadStreamToBytes(stream, buf, 10), 3);
    EXPECT_EQ(BytesToText(buf), "hel");
}

TEST(IdGlobal, TextHelpers) {
    EXPECT_EQ(TextPos("lo", "hello"), 4);
    EXPECT_EQ(TextPos("x", "hello"), 0);
    EXPECT_EQ(TextPos("", "hello"), 0);
    EXPECT_TRUE(TextIsSame("AÇÃO", "ação"));
    EXPECT_EQ(IndexInTextArray("B", {"a", "b"}, false), 1);
    EXPECT_EQ(IndexInTextArray("B", {"a", "b"}, true), -1);
    EXPECT_TRUE(CharIsInSet("abc", 2, "xb"));
    EXPECT_FALSE(CharIsInSet("abc", 4, "xb"));
    EXPECT_THROW(CharIsInSet("abc", 0, "a"), EIdException);
    EXPECT_TRUE(IsOctalText("0127"));
    EXPECT_FALSE(IsOctalText("8"));
    EXPECT_TRUE(IsHexText("09afAF"));
    EXPECT_FALSE(IsHexText("g"));
    EXPECT_TRUE(IsIntegerText("-9223372036854775808"));
    EXPECT_FALSE(IsIntegerText("9223372036854775808"));
    EXPECT_EQ(WithTrailingPathDelimiter("/a"), "/a/");
    EXPECT_EQ(WithTrailingPathDelimiter("/a/"), "/a/");
}

TEST(IdGlobal, TickDiffAcrossTheWrap) {
    EXPECT_EQ(TickDiff(0xFFFFFFF0u, 0x10u), 0x20u);
    EXPECT_EQ(TickDiff(0xFFFFFFFFu, 0u), 1u);
    EXPECT_EQ(TickDiff(5, 5), 0u);
    EXPECT_EQ(TickDiff(5, 105), 100u);
}

TEST(IdGlobal, TicksAndSleepFollowTheInstalledClock) {
    plat::ManualClock clock(std::chrono::system_clock::now(), 0xFFFFFF00u);
    plat::ScopedClock scoped(clock);
    const uint32_t before = GetTickCountHighRes();
    SleepMs(0x200);
    EXPECT_EQ(TickDiff(before, GetTickCountHighRes()), 0x200u);  // across the 32-bit wrap
}

TEST(IdGlobal, ThreadNameKeepsTheFirstFifteenBytes) {
    std::string seen;
    uint64_t id = 0;
    std::thread t([&] {
        SetThreadNameForDebugger("TIdTelnetReadThread-very-long");
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        seen = name;
        id = GetCurrentThreadIdentifier();
    });
    t.join();
    EXPECT_EQ(seen, "TIdTelnetReadTh");
    EXPECT_NE(id, GetCurrentThreadIdentifier());
}

}  // namespace
