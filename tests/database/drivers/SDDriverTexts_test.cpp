// The texts the PostgreSQL and MySQL drivers write and read without a server: parameter
// substitution, literals, the bytea and money decoders, MySQL's quoted names and SHOW type
// texts, and the two type tables.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "database/drivers/SDMySql.h"
#include "database/drivers/SDPgSQL.h"
#include "database/drivers/SDSqlLiterals.h"
#include "rtl/DateTime.h"

namespace {

std::string Pg(const std::string& sql, TParams& params) {
    return SubstituteParamLiterals(sql, &params, PgParamLiteral);
}

TEST(SqlLiterals, MarkersAreReplacedInOnePassOutsideLiterals) {
    TParams params;
    params.CreateParam(ftString, "p1", ptInput).SetValue(rtl::Variant("x :p10 ' :p1"));
    params.CreateParam(ftInteger, "p10", ptInput).SetValue(rtl::Variant(int32_t(10)));
    params.CreateParam(ftString, "Name", ptInput).SetValue(rtl::Variant("n"));
    struct Case {
        const char* sql;
        const char* expected;
    } cases[] = {
        // Both uses of a name; :p1 is not the start of :p10; values are never read again.
        {"select :p1, :p10, :P1", "select E'x :p10 '' :p1', 10, E'x :p10 '' :p1'"},
        {"where a=:p10;", "where a=10;"},
        // Inside literals, after "::" and with more name after them, markers stay; a name ends
        // at the first character that cannot be in one (a cast, a bracket).
        {"select ':p1', \":p1\", x::p1, :p1x, :p1::text",
         "select ':p1', \":p1\", x::p1, :p1x, E'x :p10 '' :p1'::text"},
        // The colon of an array slice starts no marker: after "[" or a digit inside brackets.
        {"select a[1:2], a[:2], a[2:], a[i:p10], b[:p10 + 1], :p10]",
         "select a[1:2], a[:2], a[2:], a[i10], b[:p10 + 1], 10]"},
        {"select :\"Name\", :name)", "select E'n', E'n')"},
        {"select :unknown, :", "select :unknown, :"},
        {"select 'it''s :p1' || :p1", "select 'it''s :p1' || E'x :p10 '' :p1'"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Pg(c.sql, params), c.expected) << c.sql;
    // Of two parameters of one name the last one counts.
    params.CreateParam(ftInteger, "P10", ptInput).SetValue(rtl::Variant(int32_t(11)));
    EXPECT_EQ(Pg("a=:p10", params), "a=11");
}

TEST(SqlLiterals, NumbersComeFromTheirValues) {
    TParams params;
    TParam& i = params.CreateParam(ftInteger, "i", ptInput);
    i.SetValue(rtl::Variant("1; drop table t"));
    EXPECT_THROW(PgParamLiteral(i), rtl::EDatabaseError);
    i.SetValue(rtl::Variant("42"));
    EXPECT_EQ(PgParamLiteral(i), "42");
    TParam& big = params.CreateParam(ftLargeint, "b", ptInput);
    big.SetValue(rtl::Variant(std::numeric_limits<int64_t>::min()));
    EXPECT_EQ(PgParamLiteral(big), "-9223372036854775808");

    for (double v : {0.1, 1.0 / 3.0, 1e300, -2.5e-308, 123456789.125}) {
        const std::string text = FloatLiteral(v);
        EXPECT_EQ(std::stod(text), v) << text;
        EXPECT_EQ(text.find(','), std::string::npos);
    }
    EXPECT_EQ(FloatLiteral(1.5), "1.5");
    EXPECT_THROW(FloatLiteral(std::nan("")), rtl::EDatabaseError);
    EXPECT_THROW(FloatLiteral(HUGE_VAL), rtl::EDatabaseError);

    EXPECT_EQ(CurrencyLiteral(123456), "12.3456");
    EXPECT_EQ(CurrencyLiteral(-5), "-0.0005");
    EXPECT_EQ(CurrencyLiteral(std::numeric_limits<int64_t>::min()), "-922337203685477.5808");
    TParam& money = params.CreateParam(ftCurrency, "m", ptInput);
    money.SetValue(rtl::Variant::FromCurrency(9223372036854775807LL));
    EXPECT_EQ(PgParamLiteral(money), "922337203685477.5807");

    TParam& flag = params.CreateParam(ftBoolean, "f", ptInput);
    flag.SetValue(rtl::Variant(true));
    EXPECT_EQ(PgParamLiteral(flag), "TRUE");
    EXPECT_EQ(MySqlParamLiteral(flag, nullptr), "1");
    TParam& none = params.CreateParam(ftString, "n", ptInput);
    none.SetValue(rtl::Variant::Null());
    EXPECT_EQ(PgParamLiteral(none), "NULL");
}

TEST(SqlLiterals, DateTimesKeepTheirMilliseconds) {
    struct Case {
        rtl::TDateTime value;
        const char* text;
    } cases[] = {
        {rtl::EncodeDate(2024, 3, 1), "2024-03-01"},
        {rtl::EncodeDate(2024, 3, 1) + rtl::EncodeTime(12, 30, 15, 750), "2024-03-01 12:30:15.750"},
        {rtl::EncodeDate(2024, 3, 1) + rtl::EncodeTime(12, 30, 15, 0), "2024-03-01 12:30:15"},
        {rtl::EncodeTime(10, 0, 0, 0), "1899-12-30 10:00:00"},
        {rtl::EncodeTime(0, 0, 0, 5), "1899-12-30 00:00:00.005"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DateTimeLiteralText(c.value), c.text);
        if (c.value >= 1) {
            EXPECT_NEAR(SqlTextToDateTimeMs(c.text), c.value, 1e-9) << c.text;
        }
    }
    // A time parameter carries its time part, midnight included, and no date.
    EXPECT_EQ(TimeLiteralText(0.0), "00:00:00");
    EXPECT_EQ(TimeLiteralText(rtl::EncodeTime(23, 59, 59, 999)), "23:59:59.999");
    EXPECT_EQ(TimeLiteralText(rtl::EncodeTime(0, 0, 0, 5)), "00:00:00.005");
    EXPECT_NEAR(SqlTextToTimeMs("12:30:15.75"), rtl::EncodeTime(12, 30, 15, 750), 1e-9);
    EXPECT_NEAR(SqlTextToDateTimeMs("2024-03-01 12:30:15.123456+01"),
                rtl::EncodeDate(2024, 3, 1) + rtl::EncodeTime(12, 30, 15, 123), 1e-9);
    const TSDDateTimeRec rec = DateTimeToRec(ftDateTime, rtl::EncodeDate(1899, 12, 31) + rtl::EncodeTime(0, 0, 1, 2));
    EXPECT_EQ(rec.DateTime(), (693594.0 + 1) * 86400000.0 + 1002);
}

// The numbers of a value text: every form the general reading takes is read as it reads it,
// the short decimals (read digit by digit) included, and every form it refuses is refused.
TEST(SqlLiterals, NumberTextsReadAsTheGeneralReadingReadsThem) {
    const auto generalInt = [](const std::string& text, int64_t& value) {
        const char* begin = text.c_str();
        if (*begin == '+' && text.size() > 1) ++begin;
        const auto r = std::from_chars(begin, text.c_str() + text.size(), value);
        return r.ec == std::errc() && r.ptr == text.c_str() + text.size();
    };
    const auto generalDouble = [](const std::string& text, double& value) {
        const auto r = std::from_chars(text.c_str(), text.c_str() + text.size(), value);
        return r.ec == std::errc() && r.ptr == text.c_str() + text.size();
    };
    std::vector<std::string> texts = {"0",
                                      "-0",
                                      "7",
                                      "-7",
                                      "+7",
                                      "007",
                                      "42",
                                      "-2147483648",
                                      "2147483647",
                                      "123456789012345678",
                                      "-123456789012345678",
                                      "1234567890123456789",
                                      "9223372036854775807",
                                      "-9223372036854775808",
                                      "9223372036854775808",
                                      "99999999999999999999",
                                      "",
                                      "-",
                                      "+",
                                      "1.",
                                      ".5",
                                      "-.5",
                                      "1.5",
                                      "-1.5",
                                      "0.1",
                                      "0.30000000000000004",
                                      "1.25",
                                      "24999.25",
                                      "250000",
                                      "3.14159265358979",
                                      "9007199254740993",
                                      "9007199254740992.5",
                                      "12345678901234567.8",
                                      "1e5",
                                      "1E-3",
                                      "inf",
                                      "nan",
                                      "0x10",
                                      " 1",
                                      "1 ",
                                      "1,5",
                                      "1.2.3",
                                      "--1",
                                      "1-",
                                      "12a",
                                      "0.000000000000000001",
                                      "123456789.123456789",
                                      std::string("12\0"
                                                  "3",
                                                  4)};
    // Decimals of every length up to the fast reading's limit and past it, of a fixed seed.
    uint64_t seed = 0x9E3779B97F4A7C15ULL;
    for (int i = 0; i < 4000; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const int digits = 1 + int((seed >> 33) % 21);
        const int point = int((seed >> 17) % uint64_t(digits + 1));
        std::string text = (seed & 1) != 0 ? "-" : "";
        uint64_t r = seed;
        for (int d = 0; d < digits; ++d) {
            if (d == point && d > 0) text += '.';
            r = r * 6364136223846793005ULL + 1;
            text += char('0' + (r >> 60) % 10);
        }
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        int64_t expectedInt = 0, actualInt = 0;
        const bool intOk = generalInt(text, expectedInt);
        ASSERT_EQ(ParseSqlInt64(text.data(), text.size(), actualInt), intOk) << text;
        if (intOk) {
            EXPECT_EQ(actualInt, expectedInt) << text;
        }
        double expected = 0, actual = 0;
        const bool ok = generalDouble(text, expected);
        ASSERT_EQ(ParseSqlDouble(text.data(), text.size(), actual), ok) << text;
        if (ok) {
            // The same double, bit for bit (the sign of a zero included).
            uint64_t a = 0, b = 0;
            std::memcpy(&a, &actual, 8);
            std::memcpy(&b, &expected, 8);
            EXPECT_EQ(a, b) << text;
        }
    }
    double zero = 0;
    ASSERT_TRUE(ParseSqlDouble("-0.0", 4, zero));
    EXPECT_TRUE(std::signbit(zero));
    EXPECT_FALSE(ParseSqlDouble(nullptr, 0, zero));
}

// The servers' date texts become day numbers by the calendar's arithmetic: the same day as the
// class library's date encoding from the first year to the last, leap days checked, and texts
// of impossible dates refused.
TEST(SqlLiterals, DateTextsGiveTheCalendarsDayNumbers) {
    char text[40];
    for (int year : {1, 2, 4, 99, 100, 400, 1582, 1899, 1900, 1970, 2000, 2023, 2024, 2100, 9999}) {
        for (int month = 1; month <= 12; ++month) {
            for (int day = 1; day <= rtl::DaysInMonth(year, month); ++day) {
                std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
                rtl::TTimeStamp stamp;
                ASSERT_TRUE(ParseSqlTimeStamp(text, 10, true, stamp)) << text;
                ASSERT_EQ(stamp.Date, rtl::DateTimeToTimeStamp(rtl::EncodeDate(year, month, day)).Date) << text;
            }
        }
    }
    for (const char* bad : {"2023-02-29", "1900-02-29", "2024-04-31", "2024-13-01", "0000-01-01", "2024-00-10"}) {
        rtl::TTimeStamp stamp;
        EXPECT_FALSE(ParseSqlTimeStamp(bad, 10, true, stamp)) << bad;
    }
}

TEST(PgSQLTexts, TextAndByteLiteralsHoldUnderEitherQuotingRule) {
    EXPECT_EQ(PgStringLiteral("O'Brien"), "E'O''Brien'");
    EXPECT_EQ(PgStringLiteral("a\\b"), "E'a\\\\b'");
    EXPECT_THROW(PgStringLiteral(std::string("a\0b", 3)), rtl::EDatabaseError);
    EXPECT_EQ(PgByteaLiteral({0x00, 0x27, 0x5C, 0x41, 0xFF}), "E'\\\\x00275c41ff'");
    EXPECT_EQ(PgByteaLiteral({}), "E'\\\\x'");
}

TEST(PgSQLTexts, ByteaDecodesBothFormsAndRefusesMalformedText) {
    struct Case {
        std::string text;
        bool ok;
        rtl::ByteArray bytes;
        const char* error;
    } cases[] = {
        {"\\x00275c41ff", true, {0x00, 0x27, 0x5C, 0x41, 0xFF}, ""},
        {"\\x", true, {}, ""},
        {"\\xABcd", true, {0xAB, 0xCD}, ""},
        {"\\000\\'A\\377", true, {0x00, 0x27, 0x41, 0xFF}, ""},
        {"a\\\\b", true, {'a', '\\', 'b'}, ""},
        {"end\\", true, {'e', 'n', 'd'}, ""},
        {"\\x0", false, {}, "odd number"},
        {"\\x0g", false, {}, "offset:4"},
        {"\\400", false, {}, "offset:2"},
        {"ab\\9", false, {}, "Invalid octal number format(offset:4) in Blob field"},
        {"\\01", false, {}, "offset:2"},
    };
    for (const Case& c : cases) {
        rtl::ByteArray bytes = {1, 2, 3};
        std::string error;
        const bool ok = DecodePgBytea(c.text.data(), c.text.size(), bytes, error);
        EXPECT_EQ(ok, c.ok) << c.text;
        if (ok) {
            EXPECT_EQ(bytes, c.bytes) << c.text;
        } else {
            EXPECT_EQ(bytes, (rtl::ByteArray{1, 2, 3})) << c.text;
            EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
        }
    }
}

TEST(PgSQLTexts, MoneyReadsItsAmount) {
    struct Case {
        const char* text;
        bool ok;
        double value;
    } cases[] = {
        {"$1,234.56", true, 1234.56},    {"-$0.50", true, -0.5},       {"($7.00)", true, -7.0},
        {"1.234,56 €", true, 1234.56},   {"¥1,234", true, 1234.0},     {"$92,233,720,368,547,758.07", true, 92233720368547758.07},
        {"$0.00", true, 0.0},            {"12", true, 12.0},           {"$", false, 0},
        {"", false, 0},
    };
    for (const Case& c : cases) {
        double v = -99;
        EXPECT_EQ(DecodePgMoney(c.text, std::strlen(c.text), v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(v, c.value) << c.text;
        }
    }
}

TEST(PgSQLTexts, TypeTable) {
    TIPgCommand cmd(nullptr, nullptr);
    struct Case {
        int32_t oid;
        TFieldType type;
    } cases[] = {{16, ftBoolean},  {17, ftBlob},     {20, ftLargeint}, {21, ftSmallint}, {23, ftInteger},
                 {26, ftInteger},  {25, ftMemo},     {700, ftFloat},   {790, ftFloat},   {1700, ftFloat},
                 {1082, ftDate},   {1083, ftTime},   {1114, ftDateTime}, {1184, ftDateTime}, {1043, ftString},
                 {1042, ftString}, {1186, ftString}, {2950, ftString}};
    for (const Case& c : cases)
        EXPECT_EQ(cmd.FieldDataType(c.oid), c.type) << c.oid;
    EXPECT_TRUE(cmd.IsFixedCharType(1042));
    EXPECT_FALSE(cmd.IsFixedCharType(1043));
    EXPECT_TRUE(cmd.RequiredCnvtFieldType(ftLargeint));
    EXPECT_FALSE(cmd.RequiredCnvtFieldType(ftCurrency));
}

TEST(MySqlTexts, TableNamesAreQuotedPartByPart) {
    EXPECT_EQ(MySqlQuoteTableName("t"), "`t`");
    EXPECT_EQ(MySqlQuoteTableName("db.t"), "`db`.`t`");
    EXPECT_EQ(MySqlQuoteTableName("a`b; drop table x"), "`a``b; drop table x`");
    EXPECT_EQ(MySqlQuoteTableName("`my.db`.t"), "`my.db`.`t`");
}

TEST(MySqlTexts, ShowColumnsTypeTexts) {
    struct Case {
        const char* text;
        int32_t precision, scale, length;
    } cases[] = {
        {"decimal(10,2)", 12, 2, 8}, {"varchar(50)", 50, 0, 50}, {"int(11)", 11, 0, 4},
        {"datetime", 0, 0, 8},       {"int(11) unsigned", 0, 0, 4}, {"enum('a','b')", 0, 0, 0},
        {"bigint(20)", 20, 0, 4},    {"text", 0, 0, 0},          {"char(3)", 3, 0, 3},
        {"double", 0, 0, 8},         {"", 0, 0, 0},              {"(", 0, 0, 0},
    };
    for (const Case& c : cases) {
        const TMySqlColumnType t = ParseMySqlColumnType(c.text);
        EXPECT_EQ(t.Precision, c.precision) << c.text;
        EXPECT_EQ(t.Scale, c.scale) << c.text;
        EXPECT_EQ(t.Length, c.length) << c.text;
    }
}

TEST(MySqlTexts, ParamLiterals) {
    TParams params;
    const auto quote = [](const std::string& s) { return "Q(" + s + ")"; };
    TParam& bytes = params.CreateParam(ftBlob, "b", ptInput);
    bytes.SetValue(rtl::Variant::FromBytes({0x00, 0x27, 0x5C, 0x41, 0xFF}));
    EXPECT_EQ(MySqlParamLiteral(bytes, quote), "X'00275C41FF'");
    TParam& text = params.CreateParam(ftString, "s", ptInput);
    text.SetValue(rtl::Variant("it's"));
    EXPECT_EQ(MySqlParamLiteral(text, quote), "Q(it's)");
    TParam& when = params.CreateParam(ftDateTime, "d", ptInput);
    when.SetValue(rtl::Variant::FromDateTime(rtl::EncodeDate(2024, 3, 1) + rtl::EncodeTime(1, 2, 3, 4)));
    EXPECT_EQ(MySqlParamLiteral(when, quote), "'2024-03-01 01:02:03.004'");
    EXPECT_TRUE(MySqlConnectionLostError(2006));
    EXPECT_TRUE(MySqlConnectionLostError(2013));
    EXPECT_FALSE(MySqlConnectionLostError(1045));
}

TEST(MySqlTexts, TypeTable) {
    TIMyDatabase db(nullptr, rtl::StringList());
    TIMyCommand cmd(&db, nullptr);
    struct Case {
        int32_t code;
        TFieldType type;
    } cases[] = {{0, ftFloat},     {4, ftFloat},   {5, ftFloat},    {246, ftFloat},  {1, ftSmallint},
                 {2, ftSmallint},  {3, ftInteger}, {9, ftInteger},  {13, ftInteger}, {8, ftLargeint},
                 {10, ftDate},     {14, ftDate},   {11, ftTime},    {12, ftDateTime}, {16, ftBoolean},
                 {249, ftBlob},    {252, ftBlob},  {7, ftString},   {253, ftString}, {254, ftString},
                 {247, ftString}};
    for (const Case& c : cases)
        EXPECT_EQ(cmd.FieldDataType(c.code), c.type) << c.code;
    EXPECT_EQ(cmd.NativeDataType(ftCurrency), 0);
    EXPECT_EQ(cmd.NativeDataSize(ftDateTime), 8);
    EXPECT_EQ(cmd.NativeDataType(ftMemo), 251);
    EXPECT_TRUE(cmd.IsFixedCharType(254));
    EXPECT_FALSE(cmd.IsFixedCharType(253));
}

}  // namespace
