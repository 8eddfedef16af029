// Variants, parameters, packed decimals, components and field-type names of the SQL
// library's class base.
#include <gtest/gtest.h>

#include "rtl/Bcd.h"
#include "rtl/Component.h"
#include "rtl/DatabaseError.h"
#include "rtl/DateTime.h"
#include "rtl/DbParams.h"
#include "rtl/Field.h"
#include "rtl/FieldType.h"
#include "rtl/Format.h"
#include "rtl/Variant.h"

namespace {

using rtl::Variant;
using rtl::VarRelation;

TEST(Variant, ConversionsFollowTheClassLibrary) {
    EXPECT_EQ(Variant().AsString(), "");
    EXPECT_EQ(Variant::Null().AsString(), "");
    EXPECT_EQ(Variant(int32_t(-42)).AsString(), "-42");
    EXPECT_EQ(Variant(true).AsString(), "True");
    EXPECT_EQ(Variant(2.5).AsString(), "2.5");
    EXPECT_EQ(Variant::FromCurrency(12345).AsString(), "1.2345");
    EXPECT_EQ(Variant::FromDateTime(rtl::EncodeDate(2004, 2, 29) + 0.5).AsString(), "29/02/2004 12:00:00");
    EXPECT_EQ(Variant(" 17 ").AsInteger(), 17);
    EXPECT_EQ(Variant("2.5").AsDouble(), 2.5);
    EXPECT_EQ(Variant(true).AsInteger(), -1);  // the class library's True
    EXPECT_EQ(Variant(2.5).AsInteger(), 2);    // ties to even
    EXPECT_EQ(Variant(3.5).AsInteger(), 4);
    EXPECT_EQ(Variant(1.23456).AsCurrency(), 12346);
    EXPECT_TRUE(Variant("true").AsBoolean());
    EXPECT_FALSE(Variant("0").AsBoolean());
    EXPECT_EQ(Variant::FromBytes({0x41, 0x00, 0x42}).AsString(), std::string("A\0B", 3));
    EXPECT_EQ(Variant::FromArray({Variant(int32_t(1)), Variant(int32_t(258))}).AsBytes(),
              (rtl::ByteArray{1, 2}));

    EXPECT_THROW(Variant("abc").AsInteger(), rtl::EVariantTypeCastError);
    EXPECT_THROW(Variant::Null().AsInteger(), rtl::EVariantTypeCastError);
    EXPECT_THROW(Variant(int64_t(1) << 40).AsInteger(), rtl::EVariantTypeCastError);
    EXPECT_THROW(Variant::FromArray({}).AsString(), rtl::EVariantTypeCastError);
}

TEST(Variant, IntegralValuesAreTheIntegersAndBooleans) {
    // These compare and compute as 64-bit integers; a float, a currency or a date-time does not.
    struct Case {
        Variant value;
        bool integral;
    };
    const Case cases[] = {
        {Variant(int16_t(1)), true},
        {Variant(int32_t(1)), true},
        {Variant(int64_t(1)), true},
        {Variant::FromWord(1), true},
        {Variant::FromByte(1), true},
        {Variant(true), true},
        {Variant(1.0), false},
        {Variant::FromCurrency(10000), false},
        {Variant::FromDateTime(1), false},
        {Variant("1"), false},
        {Variant(), false},
        {Variant::Null(), false},
        {Variant::FromBytes({1}), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.value.IsIntegral(), c.integral) << rtl::VarTypeName(c.value.Type());
}

TEST(Variant, CurrencyConversionsAreExactAndRangeChecked) {
    // Whole amounts from currencies round half to even on the exact count of ten-thousandths,
    // also where a double would lose the last digits.
    struct Case {
        int64_t scaled;
        int64_t whole;
    };
    for (const Case& c : {Case{25000, 2}, Case{35000, 4}, Case{-25000, -2}, Case{-35001, -4},
                          Case{1125899906842625001, 112589990684263}, Case{INT64_MIN, -922337203685478},
                          Case{INT64_MAX, 922337203685478}})
        EXPECT_EQ(Variant::FromCurrency(c.scaled).AsInt64(), c.whole) << c.scaled;
    // An integer whose amount does not fit a currency is an error, not a wrapped value.
    EXPECT_EQ(Variant(int64_t(922337203685477)).AsCurrency(), int64_t(9223372036854770000));
    EXPECT_THROW(Variant(int64_t(922337203685478)).AsCurrency(), rtl::EVariantTypeCastError);
    EXPECT_THROW(Variant(INT64_MAX).AsCurrency(), rtl::EVariantTypeCastError);
    EXPECT_THROW(Variant(INT64_MIN).AsCurrency(), rtl::EVariantTypeCastError);
    EXPECT_EQ(Variant(int64_t(-922337203685477)).AsCurrency(), int64_t(-9223372036854770000));

    // The text of a currency keeps every digit.
    struct Text {
        int64_t scaled;
        const char* text;
    };
    for (const Text& t : {Text{INT64_MAX, "922337203685477.5807"}, Text{INT64_MIN, "-922337203685477.5808"},
                          Text{-5, "-0.0005"}, Text{150000, "15"}, Text{12340, "1.234"}, Text{0, "0"}})
        EXPECT_EQ(Variant::FromCurrency(t.scaled).AsString(), t.text) << t.scaled;
    // ...and reads back from it exactly, past a double's digits; a text past the range is refused.
    for (const Text& t : {Text{INT64_MAX, "922337203685477.5807"}, Text{INT64_MIN, "-922337203685477.5808"},
                          Text{999999999999999999, "99999999999999.9999"}, Text{-5, "-0.0005"}})
        EXPECT_EQ(Variant(t.text).AsCurrency(), t.scaled) << t.text;
    EXPECT_THROW(Variant("922337203685477.5808").AsCurrency(), rtl::EVariantTypeCastError);
}

TEST(Variant, ComparisonTable) {
    struct Case {
        Variant a, b;
        VarRelation expected;
    };
    const Case cases[] = {
        {Variant::Null(), Variant::Null(), VarRelation::Equal},
        {Variant::Null(), Variant(int32_t(0)), VarRelation::NotEqual},
        {Variant(int32_t(0)), Variant::Null(), VarRelation::NotEqual},
        {Variant(int32_t(1)), Variant(1.0), VarRelation::Equal},
        {Variant(int16_t(2)), Variant(int64_t(3)), VarRelation::Less},
        {Variant::FromCurrency(15000), Variant(1.5), VarRelation::Equal},
        {Variant("10"), Variant(int32_t(9)), VarRelation::Greater},  // the text is read as a number
        {Variant("B"), Variant("a"), VarRelation::Less},             // texts byte by byte
        {Variant("abc"), Variant("abc"), VarRelation::Equal},
        {Variant(), Variant(""), VarRelation::Equal},
        {Variant(), Variant(int32_t(0)), VarRelation::Equal},
        {Variant(true), Variant(int32_t(-1)), VarRelation::Equal},
        {Variant::FromBytes({1, 2}), Variant::FromBytes({1, 3}), VarRelation::Less},
        {Variant::FromBytes({1, 2}), Variant::FromArray({Variant(int32_t(1)), Variant(int32_t(2))}),
         VarRelation::Equal},
        {Variant::FromArray({Variant(int32_t(1))}),
         Variant::FromArray({Variant(int32_t(1)), Variant(int32_t(0))}), VarRelation::Less},
        {Variant::FromBytes({1}), Variant(int32_t(1)), VarRelation::NotEqual},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(rtl::VarCompareValue(cases[i].a, cases[i].b), cases[i].expected) << "case " << i;
    EXPECT_THROW(rtl::VarCompareValue(Variant("x"), Variant(int32_t(1))), rtl::EVariantTypeCastError);
    EXPECT_TRUE(Variant::Null() == Variant::Null());
    EXPECT_TRUE(Variant::Null() != Variant(""));
}

TEST(Variant, Arrays) {
    const Variant bytes = Variant::FromBytes({10, 20, 30});
    EXPECT_TRUE(bytes.IsArray());
    EXPECT_EQ(bytes.ArrayLowBound(), 0);
    EXPECT_EQ(bytes.ArrayHighBound(), 2);
    EXPECT_EQ(bytes.Element(1).AsInteger(), 20);
    EXPECT_EQ(bytes.Element(1).Type(), rtl::VarType::Byte);
    EXPECT_THROW(bytes.Element(3), rtl::EVariantError);
    EXPECT_THROW(Variant(int32_t(1)).ArrayHighBound(), rtl::EVariantError);
    EXPECT_EQ(Variant::FromArray({}).ArrayHighBound(), -1);
}

TEST(DbParams, DataSizesAndLookup) {
    rtl::Params params;
    auto& text = params.CreateParam(rtl::ftString, "Name", rtl::ptInput);
    text.SetValue(Variant("0123456789"));
    EXPECT_EQ(text.GetDataSize(), 11);
    struct Case {
        rtl::TFieldType type;
        Variant value;
        int size;
    };
    const Case cases[] = {
        {rtl::ftSmallint, Variant(int16_t(1)), 2},
        {rtl::ftInteger, Variant(int32_t(1)), 4},
        {rtl::ftWord, Variant::FromWord(1), 2},
        {rtl::ftBoolean, Variant(true), 2},
        {rtl::ftFloat, Variant(1.0), 8},
        {rtl::ftCurrency, Variant::FromCurrency(1), 8},
        {rtl::ftBCD, Variant(1.0), 34},
        {rtl::ftDate, Variant::FromDateTime(1), 4},
        {rtl::ftTime, Variant::FromDateTime(0.5), 4},
        {rtl::ftDateTime, Variant::FromDateTime(1.5), 8},
        {rtl::ftLargeint, Variant(int64_t(1)), 8},
        {rtl::ftBytes, Variant::FromBytes({1, 2, 3}), 3},
        {rtl::ftBlob, Variant::FromBytes({1, 2, 3, 4, 5}), 5},
        {rtl::ftMemo, Variant("abc"), 4},
        {rtl::ftCursor, Variant(), 0},
    };
    for (const auto& c : cases) {
        rtl::Param p("p", c.type, rtl::ptInput);
        p.SetValue(c.value);
        EXPECT_EQ(p.GetDataSize(), c.size) << rtl::FieldTypeName(c.type);
    }

    params.CreateParam(rtl::ftInteger, "name", rtl::ptOutput);  // same name, other case
    EXPECT_EQ(params.Count(), 2);
    EXPECT_EQ(params.FindParam("NAME"), &params[0]);
    EXPECT_EQ(params.FindParam("other"), nullptr);
    EXPECT_THROW(params.ParamByName("other"), rtl::EDatabaseError);
    EXPECT_THROW(params[2], rtl::EListError);

    rtl::Params copy = params;
    copy[0].SetValue(Variant("changed"));
    EXPECT_EQ(params[0].AsString(), "0123456789");
    EXPECT_EQ(copy.Count(), 2);

    rtl::Param untyped("x", rtl::ftUnknown, rtl::ptInput);
    untyped.SetValue(Variant(int32_t(5)));
    EXPECT_EQ(untyped.DataType(), rtl::ftInteger);
    untyped.Clear();
    EXPECT_TRUE(untyped.IsNull());
    EXPECT_TRUE(untyped.Bound());
}

TEST(Bcd, CurrencyToBcdAndBack) {
    struct Case {
        int64_t scaled;
        int precision, decimals;
        bool ok;
        uint8_t sign;
        std::vector<uint8_t> fraction;  // leading bytes of Fraction
    };
    const Case cases[] = {
        {12345678, 10, 4, true, 0x04, {0x00, 0x12, 0x34, 0x56, 0x78}},  // 1234.5678 as 001234.5678
        {-15000, 4, 2, true, 0x82, {0x01, 0x50}},                       // -1.50
        {12345, 3, 1, true, 0x01, {0x01, 0x20}},                        // 1.2345 -> 01.2 (rounded)
        {15500, 2, 0, true, 0x00, {0x02}},                              // 1.55 -> 2 (half up)
        {10000000, 4, 2, false, 0, {}},                                 // 1000.00 needs 6 digits
        {1, 0, 0, false, 0, {}},
    };
    for (const auto& c : cases) {
        rtl::TBcd bcd;
        ASSERT_EQ(rtl::CurrencyToBcd(c.scaled, bcd, c.precision, c.decimals), c.ok) << c.scaled;
        if (!c.ok) continue;
        EXPECT_EQ(bcd.Precision, c.precision);
        EXPECT_EQ(bcd.SignSpecialPlaces, c.sign) << c.scaled;
        for (size_t i = 0; i < c.fraction.size(); ++i)
            EXPECT_EQ(bcd.Fraction[i], c.fraction[i]) << c.scaled << " " << i;
    }
    for (int64_t v : {int64_t(0), int64_t(1), int64_t(-99999999), int64_t(922337203685477), INT64_MIN + 1}) {
        rtl::TBcd bcd;
        ASSERT_TRUE(rtl::CurrencyToBcd(v, bcd, 32, 4));
        int64_t back = 0;
        ASSERT_TRUE(rtl::BcdToCurrency(bcd, back));
        EXPECT_EQ(back, v);
    }
    rtl::TBcd bad;
    bad.Precision = 2;
    bad.Fraction[0] = 0xA0;  // not a decimal digit
    int64_t out = 0;
    EXPECT_FALSE(rtl::BcdToCurrency(bad, out));
}

// Decimal texts become packed decimals exactly, past a currency's range too, and back.
TEST(Bcd, DecimalTextsExactlyBothWays) {
    struct Case {
        const char* text;
        int places;
        const char* back;  // nullptr: refused
    };
    const Case cases[] = {
        {"9999999999999999.9999", 4, "9999999999999999.9999"},
        {"-123456789012345678.91", 2, "-123456789012345678.91"},
        {"12.5", 4, "12.5000"},
        {"+0.5", 1, "0.5"},
        {".5", 2, "0.50"},
        {"007", 0, "7"},
        {"-0.00", 2, "0.00"},   // no negative zero
        {"1.2300", 2, "1.23"},  // zeros past the places are no digits
        {"1.235", 2, nullptr},  // nothing is rounded
        {"1e5", 0, nullptr},
        {"1.2.3", 1, nullptr},
        {" 1", 0, nullptr},
        {"", 0, nullptr},
        {"-", 0, nullptr},
        {"NaN", 0, nullptr},
        {"1234567890123456789012345678901234567890123456789012345678901234", 0,
         "1234567890123456789012345678901234567890123456789012345678901234"},  // 64 digits
        {"12345678901234567890123456789012345678901234567890123456789012345", 0, nullptr},
    };
    for (const Case& c : cases) {
        rtl::TBcd bcd;
        const bool ok = rtl::TextToBcd(c.text, bcd, c.places);
        ASSERT_EQ(ok, c.back != nullptr) << c.text;
        if (ok) {
            EXPECT_EQ(rtl::BcdToText(bcd), c.back) << c.text;
        }
    }
    rtl::TBcd bad;
    bad.Precision = 2;
    bad.Fraction[0] = 0xA0;
    EXPECT_EQ(rtl::BcdToText(bad), "");
}

TEST(Component, OwnerListAndDetaching) {
    auto owner = std::make_unique<rtl::Component>();
    auto a = std::make_unique<rtl::Component>(owner.get());
    auto b = std::make_unique<rtl::Component>(owner.get());
    a->SetName("A");
    ASSERT_EQ(owner->Components().size(), 2u);
    EXPECT_EQ(owner->Components()[0], a.get());
    a.reset();
    ASSERT_EQ(owner->Components().size(), 1u);
    EXPECT_EQ(owner->Components()[0], b.get());
    owner.reset();
    EXPECT_EQ(b->Owner(), nullptr);
    b->BeginLoading();
    EXPECT_TRUE(b->IsLoading());
    b->Loaded();
    EXPECT_FALSE(b->IsLoading());
}

TEST(FieldType, OrdinalsAndNames) {
    EXPECT_EQ(int(rtl::ftBlob), 15);
    EXPECT_EQ(int(rtl::ftLargeint), 25);
    EXPECT_EQ(int(rtl::ftArray), 27);
    EXPECT_EQ(int(rtl::ftGuid), 35);
    EXPECT_STREQ(rtl::FieldTypeName(rtl::ftSmallint), "SmallInt");
    EXPECT_STREQ(rtl::FieldTypeName(rtl::ftDBaseOle), "dBaseOle");
    EXPECT_STREQ(rtl::FieldTypeName(rtl::TFieldType(99)), "Unknown");
}

TEST(FieldType, FixedSizesAreTheSameForFieldsAndParameters) {
    // A fixed-size value takes as many bytes in a record as in a parameter buffer, whatever
    // size the field was declared with; the packed decimal is TBcd's 34 bytes.
    EXPECT_EQ(rtl::FixedFieldTypeSize(rtl::ftBCD), 34);
    EXPECT_EQ(rtl::FixedFieldTypeSize(rtl::ftTimeStamp), 16);
    EXPECT_EQ(rtl::FixedFieldTypeSize(rtl::ftString), 0);
    EXPECT_EQ(rtl::FixedFieldTypeSize(rtl::ftGuid), 0);
    int fixed = 0;
    for (int32_t i = 0; i < rtl::kFieldTypeCount; ++i) {
        const auto t = rtl::TFieldType(i);
        const int size = rtl::FixedFieldTypeSize(t);
        if (size == 0) continue;
        ++fixed;
        EXPECT_EQ(rtl::FieldDataSize(t, 99), size) << rtl::FieldTypeName(t);
        rtl::Param p("p", t, rtl::ptInput);
        EXPECT_EQ(p.GetDataSize(), size) << rtl::FieldTypeName(t);
    }
    EXPECT_EQ(fixed, 14);
}

}  // namespace

namespace {

TEST(Variant, AutomationTypes) {
    const Variant single = Variant::FromSingle(1.1f);
    EXPECT_EQ(single.Type(), rtl::VarType::Single);
    EXPECT_EQ(single.AsString(), "1.1");  // the single's digits, not its binary noise
    EXPECT_FLOAT_EQ(float(single.AsDouble()), 1.1f);
    EXPECT_TRUE(single.IsNumeric());
    EXPECT_EQ(Variant::FromShortInt(-5).AsInteger(), -5);
    EXPECT_EQ(Variant::FromLongWord(4000000000u).AsInt64(), 4000000000);
    EXPECT_TRUE(Variant::FromLongWord(1).IsIntegral());
    EXPECT_EQ(Variant::FromError(int32_t(0x80020004u)).AsInteger(), int32_t(0x80020004u));
    EXPECT_THROW(Variant::FromError(1).AsString(), rtl::EVariantTypeCastError);
    EXPECT_EQ(Variant::FromDispatch(nullptr).Type(), rtl::VarType::Dispatch);
    EXPECT_EQ(Variant::FromDispatch(nullptr).AsDispatch(), nullptr);
    EXPECT_THROW(Variant(1).AsDispatch(), rtl::EVariantTypeCastError);
    EXPECT_THROW(Variant::FromDispatch(nullptr).AsString(), rtl::EVariantTypeCastError);
    EXPECT_EQ(Variant::FromShortInt(3), Variant(int32_t(3)));
}

TEST(Variant, SafeArraysKeepTheirShape) {
    // Two dimensions with bounds that do not start at 0; last dimension fastest.
    std::vector<Variant> items;
    for (int32_t i = 0; i < 6; ++i)
        items.emplace_back(i);
    const Variant a = Variant::FromSafeArray(rtl::VarType::Integer, {{1, 2}, {-1, 1}}, items);
    EXPECT_EQ(a.Type(), rtl::VarType::Array);
    EXPECT_EQ(a.ArrayDimCount(), 2);
    EXPECT_EQ(a.ArrayBound(1), (rtl::VarArrayBound{-1, 1}));
    EXPECT_EQ(a.ArrayElementType(), rtl::VarType::Integer);
    EXPECT_EQ(a.ArrayElementCount(), 6u);
    EXPECT_EQ(a.FlatElement(4).AsInteger(), 4);
    EXPECT_THROW(a.Element(1), rtl::EVariantError);  // several dimensions

    const Variant one = Variant::FromSafeArray(rtl::VarType::String, {{5, 6}}, {Variant("a"), Variant("b")});
    EXPECT_EQ(one.ArrayLowBound(), 5);
    EXPECT_EQ(one.Element(6).AsString(), "b");
    EXPECT_THROW(one.Element(4), rtl::EVariantError);

    const Variant bytes = Variant::FromSafeArray(rtl::VarType::Byte, {{0, 1}}, {Variant::FromByte(7), Variant::FromByte(8)});
    EXPECT_EQ(bytes.Type(), rtl::VarType::ByteArray);
    EXPECT_EQ(*bytes.Bytes(), (rtl::ByteArray{7, 8}));
    EXPECT_EQ(Variant::FromBytes({1, 2, 3}).ArrayElementType(), rtl::VarType::Byte);
    EXPECT_EQ(Variant::FromArray({}).ArrayBound(0), (rtl::VarArrayBound{0, -1}));

    EXPECT_THROW(Variant::FromSafeArray(rtl::VarType::Integer, {{0, 2}}, {Variant(1)}), rtl::EVariantError);
    EXPECT_THROW(Variant::FromSafeArray(rtl::VarType::Integer, {}, {}), rtl::EVariantError);
    EXPECT_THROW(Variant::FromSafeArray(rtl::VarType::Integer, {{0, 0}}, {Variant("x")}), rtl::EVariantError);
    EXPECT_THROW(Variant::FromSafeArray(rtl::VarType::Integer, {{3, 1}}, {}), rtl::EVariantError);
    // Huge bounds do not overflow the count.
    EXPECT_THROW(Variant::FromSafeArray(rtl::VarType::Integer, {{0, 2147483647}, {0, 2147483647}, {0, 2147483647}}, {}),
                 rtl::EVariantError);
}

}  // namespace
