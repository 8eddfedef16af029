// Driver utilities: raw buffers, text-to-value conversions, value comparisons, hexadecimal
// and GUID texts, field-type predicates and client-library loading.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonBuffers.h"
#include "database/engine/SDCommonLibrary.h"
#include "database/engine/SDCommonValues.h"
#include "rtl/Assert.h"
#include "rtl/DateTime.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

using rtl::Variant;

TEST(SqlValues, TextToDateTime) {
    struct Case {
        const char* text;
        int y, m, d, hh, nn, ss;
    };
    const Case cases[] = {
        {"2004-02-30", 2004, 2, 29, 0, 0, 0},
        {"2003-13-05 10:61:00", 2003, 12, 5, 10, 59, 0},
        {"0000-00-00", 1, 1, 1, 0, 0, 0},
        {"2001-01-01 23:59:59.999", 2001, 1, 1, 23, 59, 59},  // fractions ignored
        {"1999-12-31 25:00:99", 1999, 12, 31, 23, 0, 59},
        {"abcd-ef-gh", 1, 1, 1, 0, 0, 0},
        {"", 1, 1, 1, 0, 0, 0},
        {"1850-06-15 06:00:00", 1850, 6, 15, 6, 0, 0},  // before 1899: the time still counts forwards
    };
    for (const auto& c : cases) {
        const rtl::TDateTime dt = SqlTextToDateTime(c.text);
        int y, m, d, hh, nn, ss, ms;
        rtl::DecodeDate(dt, y, m, d);
        rtl::DecodeTime(dt, hh, nn, ss, ms);
        EXPECT_EQ(std::vector<int>({y, m, d, hh, nn, ss}),
                  std::vector<int>({c.y, c.m, c.d, c.hh, c.nn, c.ss}))
            << c.text;
    }
    EXPECT_THROW(SqlTextToDateTime("-001-01-01"), rtl::EConvertError);  // 16 bits of -1: year 65535
}

TEST(SqlValues, TextToTime) {
    EXPECT_NEAR(SqlTextToTime("12:30:00"), 0.5208333, 1e-7);
    EXPECT_DOUBLE_EQ(SqlTextToTime("2001-01-01"), rtl::EncodeDate(2001, 1, 1));
    EXPECT_DOUBLE_EQ(SqlTextToTime("2001-01-01 06:00:00"), rtl::EncodeDate(2001, 1, 1) + 0.25);
    EXPECT_DOUBLE_EQ(SqlTextToTime("1:2"), 0.0);  // too short for either part
}

TEST(SqlValues, TextToFloatAndBoolean) {
    EXPECT_DOUBLE_EQ(SqlTextToFloat("1,5", 0), 1.5);
    EXPECT_DOUBLE_EQ(SqlTextToFloat("abc", 7), 7);
    EXPECT_DOUBLE_EQ(SqlTextToFloat("", 7), 0);
    EXPECT_DOUBLE_EQ(SqlTextToFloat(" -2.25e2 ", 0), -225);
    EXPECT_DOUBLE_EQ(SqlTextToFloat(std::string("3.5\0junk", 8), 0), 3.5);
    EXPECT_DOUBLE_EQ(SqlTextToFloat("1.000,5", 9), 9);
    const char saved = rtl::FormatSettings.DecimalSeparator;
    rtl::FormatSettings.DecimalSeparator = ',';
    EXPECT_DOUBLE_EQ(SqlTextToFloat("1.5", 0), 1.5);
    EXPECT_DOUBLE_EQ(SqlTextToFloat("1,5", 0), 1.5);
    rtl::FormatSettings.DecimalSeparator = saved;

    struct Case {
        const char* text;
        bool expected;
    };
    for (const Case& c :
         {Case{"YES", true}, Case{"on", false}, Case{"T", true}, Case{"true", true}, Case{"1", true},
          Case{"y", true}, Case{"11", false}, Case{"0", false}, Case{"", false}, Case{"F", false}})
        EXPECT_EQ(SqlTextToBoolean(c.text), c.expected) << c.text;
}

TEST(SqlValues, CompareVariants) {
    auto arr = [](std::initializer_list<int32_t> v) {
        std::vector<Variant> items;
        for (int32_t x : v)
            items.emplace_back(x);
        return Variant::FromArray(items);
    };
    struct Case {
        Variant a, b;
        bool ci;
        int expected;
    };
    const Case cases[] = {
        {arr({1, 2}), arr({1, 3}), false, -1},
        {arr({1, 2}), arr({1, 2}), false, 0},
        {arr({2}), arr({1, 9}), false, 1},
        {Variant::Null(), Variant::Null(), false, 0},
        {Variant::Null(), Variant(int32_t(0)), false, -1},
        {Variant(int32_t(0)), Variant::Null(), false, 1},
        {Variant("a"), Variant("B"), false, -1},  // letters alphabetically whatever their case
        {Variant("a"), Variant("A"), false, -1},  // lower case first
        {Variant("a"), Variant("A"), true, 0},
        {Variant("ação"), Variant("AÇÃO"), true, 0},
        {Variant("b"), Variant("a"), true, 1},
        {Variant(2.5), Variant(int32_t(2)), false, 1},
        {Variant(int32_t(2)), Variant(int32_t(2)), false, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(CompareVariants(cases[i].a, cases[i].b, cases[i].ci), cases[i].expected) << "case " << i;
}

TEST(SqlValues, SameVariantValues) {
    struct Case {
        Variant a, b;
        bool ci, partial;
        bool expected;
    };
    const Variant key1 = Variant::FromArray({Variant(int32_t(1)), Variant("Smith")});
    const Variant key2 = Variant::FromArray({Variant(int32_t(1)), Variant("Sm")});
    const Variant key3 = Variant::FromArray({Variant(int32_t(1))});
    const Case cases[] = {
        {Variant::Null(), Variant::Null(), false, false, true},
        {Variant::Null(), Variant(int32_t(0)), false, false, false},
        {Variant("Smith"), Variant("Sm"), false, true, true},
        {Variant("Smith"), Variant("Sm"), false, false, false},
        {Variant("Smith"), Variant("sm"), false, true, false},
        {Variant("Smith"), Variant("sm"), true, true, true},
        {Variant("Sm"), Variant("Smith"), false, true, false},
        {Variant(""), Variant(""), false, true, true},
        {Variant("abc"), Variant(""), false, true, false},  // an empty key matches only an empty text
        {Variant("abc"), Variant("ABC"), true, false, true},
        {Variant(int32_t(123)), Variant("12"), false, true, true},  // a partial key compares texts
        {Variant(int32_t(5)), Variant(5.0), false, false, true},
        {key1, key2, false, true, true},
        {key1, key2, false, false, false},
        {key1, key3, false, true, false},  // other high bound
        {key1, Variant("x"), false, true, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(SameVariantValues(c.a, c.b, c.ci, c.partial, true), c.expected) << "case " << i;
    }
    // Without PrefixMatch a partial key needs the whole value.
    EXPECT_FALSE(SameVariantValues(Variant("Smith"), Variant("Sm"), false, true, false));
    EXPECT_TRUE(SameVariantValues(Variant("Smith"), Variant("SMITH"), true, true, false));
}

TEST(SqlValues, HexAndGuidTexts) {
    EXPECT_EQ(VariantToHexLiteral(Variant::FromBytes({10})), "0x0a");
    EXPECT_EQ(VariantToHexLiteral(Variant("")), "NULL");
    EXPECT_EQ(VariantToHexLiteral(Variant::Null()), "NULL");
    EXPECT_EQ(VariantToHexLiteral(Variant()), "NULL");
    EXPECT_EQ(VariantToHexLiteral(Variant("AB\xff")), "0x4142ff");
    EXPECT_EQ(VariantToHexLiteral(Variant::FromArray({Variant(int32_t(257)), Variant(int32_t(-1))})),
              "0x01ff");
    // Other values give the bytes of their text.
    EXPECT_EQ(VariantToHexLiteral(Variant(int32_t(10))), "0x3130");
    std::string dateHex = "0x";
    for (char c : std::string("29/02/2004 12:00:00"))
        dateHex += rtl::LowerCase(rtl::IntToHex(uint8_t(c), 2));
    EXPECT_EQ(VariantToHexLiteral(Variant::FromDateTime(rtl::EncodeDate(2004, 2, 29) + 0.5)), dateHex);
    EXPECT_EQ(VariantToHexLiteral(Variant(1234567890.25)), "0x313233343536373839302e3235");

    const uint8_t guid[16] = {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE,
                              0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    char out[40];
    std::memset(out, '#', sizeof out);
    GuidToChars(guid, 16, out, 38);
    EXPECT_EQ(std::string(out, 38), "{12345678-9ABC-DEF0-0123-456789ABCDEF}");
    EXPECT_EQ(out[38], '#');  // no terminating zero
    EXPECT_THROW(GuidToChars(guid, 16, out, 37), rtl::EAssertionFailed);
    EXPECT_THROW(GuidToChars(guid, 15, out, 38), rtl::EAssertionFailed);

    EXPECT_EQ(NibbleOf(0x12345678, 0), 8);
    EXPECT_EQ(NibbleOf(0x12345678, 7), 1);
    EXPECT_EQ(HexDigitOf(0xABCDEF01, 6), 'B');
    try {
        NibbleOf(1, 8);
        FAIL();
    } catch (const rtl::ERangeError& e) {
        EXPECT_EQ(e.Message(), "Byte number has to be in 0-7 range ");
    }
    EXPECT_THROW(HexDigitOf(1, -1), rtl::ERangeError);
}

TEST(SqlBuffers, TypedAccessAndCells) {
    TSDBuffer b(64);
    uint8_t* p = b.Data();
    SetCellHeader(p, 8, -1, 300000);
    int32_t indicator = 0, length = 0;
    GetCellHeader(p, 8, indicator, length);
    EXPECT_EQ(indicator, -1);
    EXPECT_EQ(length, 300000);
    SetBufferByte(p, 0, 0xFE);
    EXPECT_EQ(GetBufferByte(p, 0), 0xFE);
    SetBufferSmallint(p, 1, -2);
    EXPECT_EQ(GetBufferWord(p, 1), 0xFFFE);  // read unsigned
    SetBufferInteger(p, 16, -123456789);
    EXPECT_EQ(GetBufferInteger(p, 16), -123456789);
    SetBufferInt64(p, 20, int64_t(-1) << 40);
    EXPECT_EQ(GetBufferInt64(p, 20), int64_t(-1) << 40);
    SetBufferDouble(p, 28, -0.125);
    EXPECT_EQ(GetBufferDouble(p, 28), -0.125);
    const float f = 1.5f;
    std::memcpy(p + 36, &f, 4);
    EXPECT_EQ(GetBufferSingle(p, 36), 1.5);
    int marker = 0;
    SetBufferPointer(p, 40, &marker);
    EXPECT_EQ(GetBufferPointer(p, 40), &marker);
    const TSDDateTimeRec rec = TSDDateTimeRec::FromDate(730000);
    SetBufferDateTimeRec(p, 48, rec);
    EXPECT_EQ(GetBufferDateTimeRec(p, 48).Date(), 730000);
    SetBufferString(p, 56, "abcdef", 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(p + 56), 4), std::string("abc\0", 4));
    const uint8_t guid[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    SetBufferGuid(p, 48, guid);
    EXPECT_EQ(std::memcmp(p + 48, guid, 16), 0);
    EXPECT_EQ(IncPointer(p, 5), p + 5);
    EXPECT_EQ(GetCellIndicatorOffset(), 0);
    EXPECT_EQ(GetCellLengthOffset(), 4);

    // Blob slots: the arrays are shared by reference, the slot word only marks them.
    TSDBuffer row(24);
    auto data = std::make_shared<const rtl::ByteArray>(rtl::ByteArray{1, 2, 3});
    SetBlobSlot(&row, 16, 1, data);
    EXPECT_EQ(GetBlobSlot(&row, 16, 1), data);
    EXPECT_EQ(GetBlobSlot(&row, 16, 0), nullptr);
    EXPECT_EQ(GetBlobSlotLength(&row, 16, 1), 3);
    TSDBuffer copy(24);
    std::memcpy(copy.Data(), row.Data(), 16);
    SetBlobSlot(&copy, 16, 1, GetBlobSlot(&row, 16, 1));
    EXPECT_EQ(GetBlobSlot(&copy, 16, 1).get(), data.get());
    row.ClearBlobs();
    EXPECT_EQ(GetBufferInteger(row.Data(), 20), 0);
    EXPECT_THROW(GetBlobSlot(nullptr, 16, 0), rtl::EAssertionFailed);
    EXPECT_THROW(SetBlobSlot(&row, 16, 2, data), rtl::EAssertionFailed);
}

TEST(SqlBuffers, TextsListsAndPredicates) {
    char text[] = "abc   ";
    TrimTrailingBlanks(text);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(text[5], 0);
    char blanks[] = "   ";
    TrimTrailingBlanks(blanks);
    EXPECT_STREQ(blanks, "");
    EXPECT_EQ(PCharToString("hello", 3), "hel");
    EXPECT_EQ(PCharToString("hello", -1), "hello");
    EXPECT_EQ(PCharToString("hi", 10), "hi");
    EXPECT_EQ(PCharToString(nullptr), "");
    EXPECT_EQ(BytesToString({'a', 0, 'b'}), std::string("a\0b", 3));

    std::vector<uint8_t> block;
    ReallocBuffer(block, 10);
    EXPECT_EQ(block.size(), 10u);
    ReallocBuffer(block, 0);
    EXPECT_TRUE(block.empty());

    TSDBufferList list;
    char* a = list.AllocString("name");
    char* b = list.Alloc(4);
    EXPECT_STREQ(a, "name");
    EXPECT_STREQ(b, "");
    EXPECT_EQ(list.Count(), 2);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);

    EXPECT_EQ(DaysInMonth(2, 2000), 29);
    EXPECT_EQ(DaysInMonth(2, 1900), 28);
    EXPECT_EQ(DaysInMonth(2, 2004), 29);
    EXPECT_EQ(DaysInMonth(4, 2003), 30);
    EXPECT_EQ(DaysInMonth(12, 2003), 31);
    EXPECT_EQ(MaxInteger(3, -4), 3);
    EXPECT_EQ(MinInteger(3, -4), -4);

    for (int t = 0; t < rtl::kFieldTypeCount; ++t) {
        const auto ft = TFieldType(t);
        EXPECT_EQ(IsBlobOrMemoType(ft), ft == ftBlob || ft == ftMemo || ft == ftOraBlob || ft == ftOraClob)
            << t;
        EXPECT_EQ(IsDateTimeFieldType(ft), ft == ftDate || ft == ftTime || ft == ftDateTime) << t;
        EXPECT_EQ(FieldTypeHasSize(ft), ft == ftString || ft == ftBytes || ft == ftVarBytes ||
                                            ft == ftParadoxOle || ft == ftDBaseOle || ft == ftTypedBinary ||
                                            ft == ftFixedChar)
            << t;
        EXPECT_EQ(IsNumericFieldType(ft), ft == ftSmallint || ft == ftInteger || ft == ftWord ||
                                              ft == ftFloat || ft == ftCurrency || ft == ftBCD ||
                                              ft == ftAutoInc || ft == ftLargeint)
            << t;
    }

    rtl::Param p("d", ftDate, rtl::ptInput);
    SetParamDateTimeRec(p, TSDDateTimeRec::FromDate(693594 + 1));
    EXPECT_EQ(p.Value().Type(), rtl::VarType::Date);
    EXPECT_DOUBLE_EQ(p.Value().AsDateTime(), 1.0);
    rtl::TBcd bcd;
    EXPECT_TRUE(CurrencyToBcd(15000, bcd, 5, 2));
}

TEST(SqlLibrary, LoadingAndNames) {
    TSDModule module = LoadClientLibrary("libsqlite3.so.0");
    ASSERT_NE(module, nullptr) << "libsqlite3 is a test dependency";
    EXPECT_TRUE(HasProcAddress(module.get(), "sqlite3_open_v2"));
    EXPECT_FALSE(HasProcAddress(module.get(), "no_such_entry"));
    EXPECT_FALSE(HasProcAddress(nullptr, "sqlite3_open_v2"));
    const std::string path = GetModulePath(module.get());
    EXPECT_EQ(path.front(), '/');
    EXPECT_TRUE(std::filesystem::exists(path)) << path;
    EXPECT_NE(path.find("libsqlite3.so.0"), std::string::npos) << path;
    // The version comes from the real file's name, libsqlite3.so.0.<minor>.<release>.
    const std::string real = std::filesystem::canonical(path).filename().string();
    const int32_t version = GetFileVersionNumber(path);
    EXPECT_EQ(GetVersionMajor(version), 0);
    EXPECT_EQ(rtl::Format("libsqlite3.so.0.%d.", GetVersionMinor(version)),
              real.substr(0, real.rfind('.') + 1));
    EXPECT_EQ(GetFileVersionNumber("/no/such/file.so.1.2"), 0);

    EXPECT_EQ(LoadClientLibrary("libno-such-client.so"), nullptr);
    try {
        GetModulePath(nullptr);
        FAIL();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "System error 6");
    }

    const rtl::StringList params{"ODBC API LIBRARY=  /opt/odbc/libodbc.so.2 ", "DB2 API LIBRARY=   "};
    EXPECT_EQ(ClientLibraryName(params, stODBC, "libodbc.so.2"), "/opt/odbc/libodbc.so.2");
    EXPECT_EQ(ClientLibraryName(params, stDB2, "libdb2.so.1"), "libdb2.so.1");
    EXPECT_EQ(ClientLibraryName(params, stInformix, "a.so;b.so"), "a.so;b.so");

    EXPECT_EQ(GetAppExeName(), "kw_tests_database");
    std::ifstream in("/proc/sys/kernel/hostname");
    std::string host;
    std::getline(in, host);
    EXPECT_EQ(GetClientHostName(), host.substr(0, 15));
}

}  // namespace
