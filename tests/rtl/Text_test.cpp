// Text helpers: trimming, case folding of ASCII and Latin-1 letters in UTF-8, fields, numbers.
#include <gtest/gtest.h>

#include "rtl/ByteReader.h"
#include "rtl/Bytes.h"
#include "rtl/Exception.h"
#include "rtl/Text.h"
#include "rtl/Unicode.h"

namespace {

TEST(Text, TrimAndCase) {
    EXPECT_EQ(rtl::Trim(" \t a b \r\n"), "a b");
    EXPECT_EQ(rtl::TrimLeft("  a "), "a ");
    EXPECT_EQ(rtl::TrimRight("  a \x01"), "  a");
    EXPECT_EQ(rtl::UpperCase("ação çãõ éü ÿ ÷"), "AÇÃO ÇÃÕ ÉÜ ÿ ÷");
    EXPECT_EQ(rtl::LowerCase("AÇÃO × É"), "ação × é");
    EXPECT_TRUE(rtl::SameText("Configuração", "CONFIGURAÇÃO"));
    EXPECT_FALSE(rtl::SameText("abc", "abd"));
    EXPECT_EQ(rtl::CompareText("a", "B"), -1);
    EXPECT_EQ(rtl::CompareText("b", "A"), 1);
    EXPECT_TRUE(rtl::StartsText("/ch", "/CHECK"));
    EXPECT_TRUE(rtl::EndsText(".EXE", "kwExec.exe"));
    EXPECT_EQ(rtl::PosText("srvr", "x/HTTPSRVR.DLL"), 6u);
    EXPECT_EQ(rtl::StringReplace("a.exe.EXE", ".exe", "App.cer", false, true), "aApp.cer.EXE");
    EXPECT_EQ(rtl::StringReplace("aXbXc", "X", "--"), "a--b--c");
    EXPECT_EQ(rtl::QuotedStr("d'água"), "'d''água'");
}

// SameText compares ASCII in place and folds from the first other byte on: the same answers as
// comparing the two texts upper-cased, characters that differ in the case bit only but are no
// letters included.
TEST(Text, SameTextIsUpperCaseEquality) {
    struct Caso {
        const char* a;
        const char* b;
        bool igual;
    };
    const Caso casos[] = {
        {"", "", true},
        {"kwExec.exe", "KWEXEC.EXE", true},
        {"f00001.dll", "kwExec.exe", false},
        {"a", "b", false},
        {"@", "`", false},
        {"[", "{", false},
        {"^", "~", false},
        {"1", "\x11", false},
        {"Z", "z", true},
        {"ação.dll", "AÇÃO.DLL", true},
        {"acao.dll", "AÇÃO.DLL", false},
        {"x\xC3"
         "abc",
         "X\xC3"
         "ABC",
         true},
        {"x\xC3"
         "abc",
         "X\xC3"
         "ABD",
         false},
        {"ab\xC3\xA7", "AB\xC3\x87", true},
        {"ÿ", "Ÿ", false},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(rtl::SameText(c.a, c.b), c.igual);
        EXPECT_EQ(rtl::SameText(c.b, c.a), c.igual);
        EXPECT_EQ(rtl::UpperCase(c.a) == rtl::UpperCase(c.b), c.igual);
    }
}

TEST(Text, StrayLeadByteDoesNotHideTheNextLetter) {
    // "Ã" written as one Latin-1 byte (0xC3) before an ASCII letter: the letter still folds,
    // and the stray byte stays as it is.
    EXPECT_EQ(rtl::UpperCase("\xC3"
                             "a\xC3"),
              "\xC3"
              "A\xC3");
    EXPECT_EQ(rtl::LowerCase("\xC3Z"), "\xC3z");
    EXPECT_TRUE(
        rtl::SameText("x\xC3"
                      "abc",
                      "X\xC3"
                      "ABC"));
    EXPECT_EQ(rtl::UpperCase("\xC3\xC3\xA7"), "\xC3\xC3\x87");  // a stray byte, then "ç"
}

TEST(Text, Fields) {
    using V = std::vector<std::string>;
    EXPECT_EQ(rtl::SplitFields("a;;b", ';'), (V{"a", "", "b"}));
    EXPECT_EQ(rtl::SplitFields("", ';'), (V{""}));
    EXPECT_EQ(rtl::SplitFields("a;", ';'), (V{"a", ""}));
    EXPECT_EQ(rtl::JoinFields(V{"x", "", "y"}, ';'), "x;;y");
}

TEST(Text, WholeNumbersOnly) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"42", true, 42},
        {"-7", true, -7},
        {"+7", true, 7},
        {"2147483647", true, 2147483647},
        {"2147483648", false, 0},
        {"", false, 0},
        {" 1", false, 0},
        {"1 ", false, 0},
        {"1.5", false, 0},
        {"1e3", false, 0},
        {"0x10", false, 0},
        {"-", false, 0},
        {"+-1", false, 0},
        {"abc", false, 0},
    };
    for (const auto& c : cases) {
        int32_t v = -1;
        EXPECT_EQ(rtl::TryStrToInt(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
    EXPECT_THROW(rtl::StrToInt("x1"), rtl::EConvertError);
    EXPECT_EQ(rtl::StrToIntDef("x", 9), 9);
    EXPECT_EQ(rtl::IntToHex(0xABC, 6), "000ABC");
}

TEST(Unicode, RoundTripsAndLatin1Fallback) {
    const std::string s = "ação €𝄞";
    EXPECT_EQ(rtl::Utf16ToUtf8(rtl::Utf8ToUtf16(s)), s);
    EXPECT_EQ(rtl::Utf8ToUtf16("é"), std::u16string(u"\u00e9"));
    EXPECT_EQ(rtl::Utf8ToUtf16("\xe9"), std::u16string(u"\u00e9"));  // a Latin-1 byte
    EXPECT_EQ(rtl::Utf8ToUtf16("𝄞").size(), 2u);
    EXPECT_EQ(rtl::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_TRUE(rtl::IsValidUtf8(s));
    EXPECT_FALSE(rtl::IsValidUtf8("\xC0\x80"));      // overlong
    EXPECT_FALSE(rtl::IsValidUtf8("\xED\xA0\x80"));  // surrogate
}

TEST(Bytes, LoadStoreAndCompare) {
    uint8_t b[8];
    rtl::store_be32(b, 0x01020304);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(rtl::load_le32(b), 0x04030201u);
    rtl::store_le64(b, 0x0102030405060708ull);
    EXPECT_EQ(rtl::load_be64(b), 0x0807060504030201ull);
    EXPECT_EQ(rtl::rotl32(0x80000001u, 1), 3u);
    EXPECT_TRUE(rtl::ct_equal("abc", "abc", 3));
    EXPECT_FALSE(rtl::ct_equal("abc", "abd", 3));
    rtl::secure_wipe(b, sizeof b);
    for (uint8_t x : b)
        EXPECT_EQ(x, 0);
}

TEST(ByteReader, ChecksEveryRead) {
    const uint8_t data[] = {1, 0, 0, 0, 0x41, 0, 0x42, 0, 9};
    rtl::ByteReader r(data, sizeof data);
    EXPECT_EQ(r.i32le(), 1);
    EXPECT_EQ(r.utf16(2), "AB");
    EXPECT_EQ(r.remaining(), 1u);
    EXPECT_THROW(r.u16le(), rtl::EReadError);
    EXPECT_EQ(r.u8(), 9);  // a failed read consumes nothing
    EXPECT_THROW(r.u8(), rtl::EReadError);
    rtl::ByteReader r2(data, sizeof data);
    EXPECT_THROW(r2.utf16(size_t(1) << 62), rtl::EReadError);
    EXPECT_THROW(r2.bytes(100), rtl::EReadError);
    EXPECT_THROW(r2.seek(10), rtl::EReadError);
}

TEST(ByteReader, EveryWidthAndOrder) {
    const uint8_t data[] = {1, 2, 3, 4, 5, 6, 7, 8};
    struct Case {
        const char* name;
        uint64_t (*read)(rtl::ByteReader&);
        size_t width;
        uint64_t want;
    };
    const Case cases[] = {
        {"u8", [](rtl::ByteReader& r) -> uint64_t { return r.u8(); }, 1, 0x01},
        {"u16le", [](rtl::ByteReader& r) -> uint64_t { return r.u16le(); }, 2, 0x0201},
        {"u16be", [](rtl::ByteReader& r) -> uint64_t { return r.u16be(); }, 2, 0x0102},
        {"u32le", [](rtl::ByteReader& r) -> uint64_t { return r.u32le(); }, 4, 0x04030201},
        {"u32be", [](rtl::ByteReader& r) -> uint64_t { return r.u32be(); }, 4, 0x01020304},
        {"u64le", [](rtl::ByteReader& r) -> uint64_t { return r.u64le(); }, 8, 0x0807060504030201ull},
        {"u64be", [](rtl::ByteReader& r) -> uint64_t { return r.u64be(); }, 8, 0x0102030405060708ull},
    };
    for (const auto& c : cases) {
        rtl::ByteReader r(data, sizeof data);
        EXPECT_EQ(c.read(r), c.want) << c.name;
        EXPECT_EQ(r.position(), c.width) << c.name;
        // Too few bytes left: the read raises and the position stays where it was.
        rtl::ByteReader shortOne(data, c.width - 1);
        EXPECT_THROW(c.read(shortOne), rtl::EReadError) << c.name;
        EXPECT_EQ(shortOne.position(), 0u) << c.name;
    }
    const uint8_t one[] = {0, 0, 0, 0, 0, 0, 0xF0, 0x3F};  // 1.0 as a little-endian double
    rtl::ByteReader f(one, sizeof one);
    EXPECT_EQ(f.f64le(), 1.0);
    EXPECT_TRUE(f.eof());
}

TEST(Unicode, MalformedSequencesAreRefusedAndReadAsLatin1) {
    struct Case {
        std::string bytes;
        bool valid;
        std::u16string utf16;  // what the conversion gives
    };
    const Case cases[] = {
        {"\xC1\xBF", false, u"\u00C1\u00BF"},                                // overlong two-byte form
        {"\xE0\x80\x80", false, u"\u00E0\u0080\u0080"},                      // overlong three-byte form
        {"\xF0\x80\x80\x80", false, u"\u00F0\u0080\u0080\u0080"},            // overlong four-byte form
        {"\xED\xBF\xBF", false, u"\u00ED\u00BF\u00BF"},                      // low surrogate
        {"\xF4\x90\x80\x80", false, u"\u00F4\u0090\u0080\u0080"},            // above U+10FFFF
        {"\xF8\x88\x80\x80\x80", false, u"\u00F8\u0088\u0080\u0080\u0080"},  // five bytes
        {"\xE2\x82", false, u"\u00E2\u0082"},                                // cut short
        {"\x80"
         "a",
         false, u"\u0080a"},                // a lone continuation byte
        {"\xED\x9F\xBF", true, u"\uD7FF"},  // just below the surrogates
        {"\xEE\x80\x80", true, u"\uE000"},  // just above them
        {"\xEF\xBF\xBF", true, u"\uFFFF"},
        {"\xF4\x8F\xBF\xBF", true, u"\U0010FFFF"},
        {"\xC2\x80", true, u"\u0080"},  // the shortest two-byte form
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rtl::IsValidUtf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
        EXPECT_EQ(rtl::Utf8ToUtf16(c.bytes), c.utf16) << testing::PrintToString(c.bytes);
    }
    size_t pos = 2;
    EXPECT_THROW(rtl::DecodeUtf8("ab", pos), rtl::EReadError);
    EXPECT_EQ(pos, 2u);
}

TEST(Unicode, OneCodePointInEveryLengthWithSurrogatesReplacedOrKept) {
    struct Case {
        char32_t cp;
        std::string replaced;  // the default: well-formed UTF-8
        std::string kept;      // a lone surrogate carried through
    };
    const Case cases[] = {
        {U'A', "A", "A"},
        {0x7F, "\x7F", "\x7F"},
        {0x80, "\xC2\x80", "\xC2\x80"},
        {0x7FF, "\xDF\xBF", "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80", "\xE0\xA0\x80"},
        {0xD7FF, "\xED\x9F\xBF", "\xED\x9F\xBF"},
        {0xD800, "\xEF\xBF\xBD", "\xED\xA0\x80"},
        {0xDFFF, "\xEF\xBF\xBD", "\xED\xBF\xBF"},
        {0xFFFF, "\xEF\xBF\xBF", "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80", "\xF0\x90\x80\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {0x110000, "\xEF\xBF\xBD", "\xEF\xBF\xBD"},  // never a code point
    };
    for (const Case& c : cases) {
        std::string replaced = "x";
        std::string kept;
        rtl::AppendUtf8(replaced, c.cp);
        rtl::AppendUtf8(kept, c.cp, rtl::Surrogates::Keep);
        EXPECT_EQ(replaced, "x" + c.replaced) << std::hex << uint32_t(c.cp);
        EXPECT_EQ(kept, c.kept) << std::hex << uint32_t(c.cp);
    }
}

}  // namespace
