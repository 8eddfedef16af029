// Field values between the engine and the client libraries' slots: the slot kind of every
// field type, each kind written into a slot and read back at its limits, the texts, bytes,
// dates, packed decimals and fixed-width values the fetch paths store into a record.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonSlots.h"
#include "rtl/Assert.h"
#include "rtl/Bcd.h"
#include "rtl/DatabaseError.h"
#include "rtl/DateTime.h"
#include "rtl/Format.h"

namespace {

using rtl::Variant;
using Kind = TSDSlotKind;

// A slot bigger than any value, so that a write past a value's width shows.
constexpr int32_t kRoom = 48;
constexpr uint8_t kFill = 0xA5;

struct Slot {
    uint8_t bytes[kRoom + 8];
    Slot() { std::memset(bytes, kFill, sizeof bytes); }
    // The bytes at or past n that were written.
    int WrittenPast(int n) const {
        int written = 0;
        for (size_t i = size_t(n); i < sizeof bytes; ++i)
            if (bytes[i] != kFill) ++written;
        return written;
    }
};

rtl::Param MakeParam(TFieldType type, const Variant& value) {
    rtl::Param p("P", type, rtl::ptInput);
    p.SetValue(value);
    return p;
}

// A date-time layout of its own, so that the calls show they go through the driver's pair:
// the engine's record behind a marker byte.
int32_t PackMarked(TFieldType type, rtl::TDateTime value, uint8_t* slot, int32_t size) {
    slot[0] = 0x7E;
    return 1 + PackEngineDateTime(type, value, slot + 1, size - 1);
}

TSDDateTimeRec UnpackMarked(TFieldType type, const uint8_t* slot, int32_t length) {
    EXPECT_EQ(slot[0], 0x7E);
    return UnpackEngineDateTime(type, slot + 1, length - 1);
}

int32_t NoPack(TFieldType, rtl::TDateTime, uint8_t*, int32_t) {
    ADD_FAILURE() << "a date packer was called for a value that is no date";
    return 0;
}

TSDDateTimeRec NoUnpack(TFieldType, const uint8_t*, int32_t) {
    ADD_FAILURE() << "a date unpacker was called for a value that is no date";
    return {};
}

// Writes the value of a parameter of that type through the kind of kEngineSlots, reads it
// back into a parameter of the same type, and answers that parameter's value.
Variant RoundTrip(TFieldType type, const Variant& value, int32_t size = kRoom) {
    const rtl::Param in = MakeParam(type, value);
    Slot slot;
    const Kind kind = kEngineSlots[type];
    const int32_t n = PutParamSlot(in, kind, slot.bytes, size, PackMarked);
    EXPECT_GE(n, 0) << rtl::FieldTypeName(type);
    rtl::Param out("P", type, rtl::ptOutput);
    EXPECT_TRUE(SetParamFromSlot(out, kind, slot.bytes, n, UnpackMarked)) << rtl::FieldTypeName(type);
    return out.Value();
}

TEST(SlotMap, EveryFieldTypeHasItsKindAndWidth) {
    struct Row {
        TFieldType type;
        Kind kind;
        uint16_t width;
    };
    const Row rows[] = {
        {ftUnknown, Kind::None, 0},     {ftString, Kind::Text, 0},      {ftSmallint, Kind::Int16, 2},
        {ftInteger, Kind::Int32, 4},    {ftWord, Kind::Word16, 2},      {ftBoolean, Kind::Bool16, 2},
        {ftFloat, Kind::Float64, 8},    {ftCurrency, Kind::Float64, 8}, {ftBCD, Kind::None, 0},
        {ftDate, Kind::DateTime, 9},    {ftTime, Kind::DateTime, 9},    {ftDateTime, Kind::DateTime, 9},
        {ftBytes, Kind::Bytes, 0},      {ftVarBytes, Kind::Bytes, 0},   {ftAutoInc, Kind::Int32, 4},
        {ftBlob, Kind::None, 0},        {ftMemo, Kind::None, 0},        {ftGraphic, Kind::None, 0},
        {ftFmtMemo, Kind::None, 0},     {ftParadoxOle, Kind::None, 0},  {ftDBaseOle, Kind::None, 0},
        {ftTypedBinary, Kind::None, 0}, {ftCursor, Kind::None, 0},      {ftFixedChar, Kind::Text, 0},
        {ftWideString, Kind::None, 0},  {ftLargeint, Kind::Int64, 8},   {ftADT, Kind::None, 0},
        {ftArray, Kind::None, 0},       {ftReference, Kind::None, 0},   {ftDataSet, Kind::None, 0},
        {ftOraBlob, Kind::None, 0},     {ftOraClob, Kind::None, 0},     {ftVariant, Kind::None, 0},
        {ftInterface, Kind::None, 0},   {ftIDispatch, Kind::None, 0},   {ftGuid, Kind::Guid, 16},
        {ftTimeStamp, Kind::None, 0},   {ftFMTBcd, Kind::None, 0},
    };
    ASSERT_EQ(std::size(rows), size_t(rtl::kFieldTypeCount));
    for (const Row& r : rows) {
        EXPECT_EQ(kEngineSlots[r.type], r.kind) << rtl::FieldTypeName(r.type);
        // A date or time takes the driver's layout's size; 9 stands for it here.
        EXPECT_EQ(NativeSlotSize(kEngineSlots, r.type, 9), r.width) << rtl::FieldTypeName(r.type);
    }
    // Past the enumeration, in either direction, there is no slot.
    EXPECT_EQ(kEngineSlots[TFieldType(rtl::kFieldTypeCount)], Kind::None);
    EXPECT_EQ(kEngineSlots[TFieldType(-1)], Kind::None);
    EXPECT_EQ(NativeSlotSize(kEngineSlots, TFieldType(1000), 9), 0);
}

TEST(SlotMap, OnlyKeepsTheListedTypesAndWithMovesOne) {
    constexpr TSDSlotMap narrowed = kEngineSlots.Only({ftSmallint, ftDate, ftBCD}).With(ftBCD, Kind::Float64);
    EXPECT_EQ(narrowed[ftSmallint], Kind::Int16);
    EXPECT_EQ(narrowed[ftDate], Kind::DateTime);
    EXPECT_EQ(narrowed[ftBCD], Kind::Float64);
    EXPECT_EQ(narrowed[ftInteger], Kind::None);
    EXPECT_EQ(narrowed[ftString], Kind::None);
    EXPECT_EQ(NativeSlotSize(narrowed, ftBCD, 7), 8);
    EXPECT_EQ(NativeSlotSize(narrowed, ftDate, 7), 7);
    EXPECT_EQ(NativeSlotSize(narrowed, ftInteger, 7), 0);
    // kEngineSlots itself stays as it was.
    EXPECT_EQ(kEngineSlots[ftInteger], Kind::Int32);
    EXPECT_EQ(kEngineSlots[ftBCD], Kind::None);
    EXPECT_EQ(kEngineSlots.With(ftSmallint, Kind::None)[ftSmallint], Kind::None);
}

TEST(SlotMap, FieldTypeSetsHoldTheirListAndNothingElse) {
    constexpr TSDFieldTypes set{ftUnknown, ftDate, ftGuid, ftFMTBcd};
    for (int t = -2; t < rtl::kFieldTypeCount + 30; ++t) {
        const bool listed = t == ftUnknown || t == ftDate || t == ftGuid || t == ftFMTBcd;
        EXPECT_EQ(set.Has(TFieldType(t)), listed) << t;
    }
    EXPECT_FALSE(TSDFieldTypes({}).Has(ftUnknown));
}

TEST(SlotWrite, IntegersAtTheirLimits) {
    struct Case {
        TFieldType type;
        Variant value;
        int64_t expected;  // as the slot's integer of the kind's width reads it
    };
    const Case cases[] = {
        {ftSmallint, Variant(int16_t(-32768)), -32768},
        {ftSmallint, Variant(int16_t(32767)), 32767},
        {ftSmallint, Variant(int32_t(40000)), int16_t(40000)},  // the low 16 bits, as every client binds
        {ftWord, Variant::FromWord(65535), int16_t(-1)},
        {ftWord, Variant::FromWord(0), 0},
        {ftInteger, Variant(std::numeric_limits<int32_t>::min()), std::numeric_limits<int32_t>::min()},
        {ftInteger, Variant(std::numeric_limits<int32_t>::max()), std::numeric_limits<int32_t>::max()},
        {ftAutoInc, Variant(int32_t(-1)), -1},
        {ftInteger, Variant(std::string(" 17")), 17},
        {ftLargeint, Variant(std::numeric_limits<int64_t>::min()), std::numeric_limits<int64_t>::min()},
        {ftLargeint, Variant(std::numeric_limits<int64_t>::max()), std::numeric_limits<int64_t>::max()},
        {ftBoolean, Variant(true), 1},
        {ftBoolean, Variant(false), 0},
        {ftBoolean, Variant(int32_t(-5)), 1},
    };
    for (const Case& c : cases) {
        Slot slot;
        const Kind kind = kEngineSlots[c.type];
        const int32_t n = PutParamSlot(MakeParam(c.type, c.value), kind, slot.bytes, kRoom, NoPack);
        ASSERT_EQ(n, SlotWidth(kind)) << rtl::FieldTypeName(c.type);
        EXPECT_EQ(slot.WrittenPast(n), 0) << "nothing past the value";
        int64_t got = 0;
        if (n == 2) {
            int16_t v;
            std::memcpy(&v, slot.bytes, 2);
            got = v;
        } else if (n == 4) {
            int32_t v;
            std::memcpy(&v, slot.bytes, 4);
            got = v;
        } else {
            std::memcpy(&got, slot.bytes, 8);
        }
        EXPECT_EQ(got, c.expected) << rtl::FieldTypeName(c.type) << " " << c.value.AsString();
    }
    // A 32-bit slot refuses what 32 bits cannot hold, with the variant's own error.
    Slot slot;
    EXPECT_THROW(
        PutParamSlot(MakeParam(ftInteger, Variant(int64_t(1) << 40)), Kind::Int32, slot.bytes, kRoom, NoPack),
        rtl::EVariantError);
    // A null, or a text that is no number, has no integer to write.
    rtl::Param null("P", ftInteger, rtl::ptInput);
    null.Clear();
    EXPECT_THROW(PutParamSlot(null, Kind::Int32, slot.bytes, kRoom, NoPack), rtl::EVariantError);
    EXPECT_THROW(PutParamSlot(MakeParam(ftSmallint, Variant(std::string("x"))), Kind::Int16, slot.bytes,
                              kRoom, NoPack),
                 rtl::EVariantError);
}

TEST(SlotWrite, DoublesAsTheyAre) {
    const double cases[] = {0.0,
                            -0.0,
                            1.5,
                            std::numeric_limits<double>::max(),
                            std::numeric_limits<double>::lowest(),
                            std::numeric_limits<double>::denorm_min(),
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity()};
    for (TFieldType type : {ftFloat, ftCurrency}) {
        for (double v : cases) {
            Slot slot;
            ASSERT_EQ(PutParamSlot(MakeParam(type, Variant(v)), Kind::Float64, slot.bytes, kRoom, NoPack), 8);
            double got;
            std::memcpy(&got, slot.bytes, 8);
            EXPECT_EQ(std::memcmp(&got, &v, 8), 0) << v;
            EXPECT_EQ(slot.WrittenPast(8), 0);
        }
    }
    // NaN keeps its bits: the double slot refuses nothing (the literal writers do).
    Slot slot;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ASSERT_EQ(PutParamSlot(MakeParam(ftFloat, Variant(nan)), Kind::Float64, slot.bytes, kRoom, NoPack), 8);
    double got;
    std::memcpy(&got, slot.bytes, 8);
    EXPECT_TRUE(std::isnan(got));
    // A currency amount is written as its double.
    ASSERT_EQ(PutParamSlot(MakeParam(ftCurrency, Variant::FromCurrency(123456)), Kind::Currency, slot.bytes,
                           kRoom, NoPack),
              8);
    std::memcpy(&got, slot.bytes, 8);
    EXPECT_DOUBLE_EQ(got, 12.3456);
}

TEST(SlotWrite, TextsAreCutToTheSlotWithTheirZero) {
    struct Case {
        std::string text;
        int32_t size;
        std::string expected;
    };
    const std::string longest(kRoom - 1, 'x');
    const Case cases[] = {
        {"", 8, ""},
        {"abc", 8, "abc"},
        {"abcdefg", 8, "abcdefg"},         // size - 1 characters: all of them
        {"abcdefgh", 8, "abcdefg"},        // one more: cut
        {longest, kRoom, longest},         // the largest slot full
        {longest + "yz", kRoom, longest},  // and past it
        {std::string("a\0b", 3), 8, "a"},  // a zero inside ends the text as the client reads it
        {"abc", 1, ""},                    // room for the zero only
    };
    for (const Case& c : cases) {
        Slot slot;
        const int32_t n =
            PutParamSlot(MakeParam(ftString, Variant(c.text)), Kind::Text, slot.bytes, c.size, NoPack);
        EXPECT_EQ(n, int32_t(std::min(c.text.size(), size_t(c.size - 1)))) << c.text;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(slot.bytes)), c.expected);
        EXPECT_EQ(slot.bytes[n], 0);
        EXPECT_EQ(slot.WrittenPast(n + 1), 0) << "nothing past the zero";
    }
    // A slot without room takes nothing, not even the zero.
    Slot slot;
    EXPECT_EQ(
        PutParamSlot(MakeParam(ftString, Variant(std::string("abc"))), Kind::Text, slot.bytes, 0, NoPack), 0);
    EXPECT_EQ(slot.WrittenPast(0), 0);
    // A null text is the empty text.
    rtl::Param null("P", ftString, rtl::ptInput);
    null.Clear();
    EXPECT_EQ(PutParamSlot(null, Kind::Text, slot.bytes, 8, NoPack), 0);
    EXPECT_EQ(slot.bytes[0], 0);
}

TEST(SlotWrite, BytesAreCutToTheSlotAndTheRestZeroed) {
    const rtl::ByteArray full(kRoom, 0xEE);
    struct Case {
        rtl::ByteArray bytes;
        int32_t size;
        int32_t expected;
    };
    const Case cases[] = {
        {{}, 8, 0},           {{1, 2, 3}, 8, 3}, {rtl::ByteArray(8, 7), 8, 8}, {rtl::ByteArray(9, 7), 8, 8},
        {full, kRoom, kRoom}, {{1, 2, 3}, 0, 0},
    };
    for (const Case& c : cases) {
        Slot slot;
        const int32_t n = PutParamSlot(MakeParam(ftBytes, Variant::FromBytes(c.bytes)), Kind::Bytes,
                                       slot.bytes, c.size, NoPack);
        ASSERT_EQ(n, c.expected);
        if (n > 0) {
            EXPECT_EQ(std::memcmp(slot.bytes, c.bytes.data(), size_t(n)), 0);
        }
        for (int32_t i = n; i < c.size; ++i)
            EXPECT_EQ(slot.bytes[i], 0) << i;
        EXPECT_EQ(slot.WrittenPast(c.size), 0);
    }
}

TEST(SlotWrite, DatesGoThroughTheDriversPack) {
    const rtl::TDateTime first = rtl::EncodeDate(1, 1, 1);
    const rtl::TDateTime last = rtl::EncodeDate(9999, 12, 31) + rtl::EncodeTime(23, 59, 59, 999);
    for (TFieldType type : {ftDate, ftTime, ftDateTime}) {
        for (rtl::TDateTime v :
             {first, last, rtl::EncodeDate(1899, 12, 30), rtl::EncodeDate(2024, 2, 29) + 0.5}) {
            Slot slot;
            ASSERT_EQ(PutParamSlot(MakeParam(type, Variant::FromDateTime(v)), Kind::DateTime, slot.bytes, 9,
                                   PackMarked),
                      9);
            EXPECT_EQ(slot.bytes[0], 0x7E);
            const TSDDateTimeRec rec = GetBufferDateTimeRec(slot.bytes, 1);
            const TSDDateTimeRec expected = DateTimeToRec(type, v);
            EXPECT_EQ(std::memcmp(rec.Bytes, expected.Bytes, 8), 0) << rtl::FieldTypeName(type) << " " << v;
        }
    }
    // The engine's own layout needs its 8 bytes.
    Slot slot;
    EXPECT_THROW(PackEngineDateTime(ftDate, first, slot.bytes, 7), rtl::EAssertionFailed);
}

TEST(SlotWrite, KindsWithoutAShapeHereWriteNothing) {
    for (Kind kind : {Kind::None, Kind::Guid}) {
        Slot slot;
        EXPECT_EQ(
            PutParamSlot(MakeParam(ftGuid, Variant(std::string("{00000000-0000-0000-0000-000000000000}"))),
                         kind, slot.bytes, kRoom, NoPack),
            -1);
        EXPECT_EQ(slot.WrittenPast(0), 0);
    }
}

TEST(SlotRead, EveryEngineTypeComesBackAsItWent) {
    struct Case {
        TFieldType type;
        Variant value;
    };
    const rtl::TDateTime first = rtl::EncodeDate(1, 1, 1);
    const rtl::TDateTime last = rtl::EncodeDate(9999, 12, 31) + rtl::EncodeTime(23, 59, 59, 999);
    const Case cases[] = {
        {ftString, Variant(std::string())},
        {ftString, Variant(std::string(kRoom - 1, 'q'))},
        {ftFixedChar, Variant(std::string("padded  "))},
        {ftSmallint, Variant(int16_t(-32768))},
        {ftSmallint, Variant(int16_t(32767))},
        {ftWord, Variant::FromWord(65535)},
        {ftInteger, Variant(std::numeric_limits<int32_t>::min())},
        {ftAutoInc, Variant(std::numeric_limits<int32_t>::max())},
        {ftLargeint, Variant(std::numeric_limits<int64_t>::min())},
        {ftLargeint, Variant(std::numeric_limits<int64_t>::max())},
        {ftBoolean, Variant(true)},
        {ftBoolean, Variant(false)},
        {ftFloat, Variant(std::numeric_limits<double>::max())},
        {ftFloat, Variant(-std::numeric_limits<double>::infinity())},
        {ftCurrency, Variant(-12.25)},
        {ftDate, Variant::FromDateTime(first)},
        {ftDate, Variant::FromDateTime(rtl::EncodeDate(9999, 12, 31))},
        {ftTime, Variant::FromDateTime(rtl::EncodeTime(0, 0, 0, 0))},
        {ftTime, Variant::FromDateTime(rtl::EncodeTime(23, 59, 59, 999))},
        {ftDateTime, Variant::FromDateTime(first)},
        {ftDateTime, Variant::FromDateTime(last)},
        {ftBytes, Variant::FromBytes({})},
        {ftVarBytes, Variant::FromBytes(rtl::ByteArray(kRoom, 0))},
    };
    for (const Case& c : cases) {
        const Variant back = RoundTrip(c.type, c.value);
        EXPECT_EQ(back.Type(), c.value.Type()) << rtl::FieldTypeName(c.type);
        if (c.value.Type() == rtl::VarType::ByteArray)
            EXPECT_EQ(back.AsBytes(), c.value.AsBytes()) << rtl::FieldTypeName(c.type);
        else
            EXPECT_EQ(back.AsString(), c.value.AsString()) << rtl::FieldTypeName(c.type);
    }
}

TEST(SlotRead, EachKindAtItsWidth) {
    Slot slot;
    const int64_t all = -1;
    std::memcpy(slot.bytes, &all, 8);
    struct Case {
        Kind kind;
        TFieldType type;
        const char* expected;
    };
    const Case cases[] = {
        {Kind::Int16, ftSmallint, "-1"}, {Kind::Word16, ftWord, "65535"},   {Kind::Int32, ftInteger, "-1"},
        {Kind::Int64, ftLargeint, "-1"}, {Kind::Bool16, ftBoolean, "True"},
    };
    for (const Case& c : cases) {
        rtl::Param p("P", c.type, rtl::ptOutput);
        ASSERT_TRUE(SetParamFromSlot(p, c.kind, slot.bytes, 8, NoUnpack));
        EXPECT_EQ(p.AsString(), c.expected);
    }
    // A currency bound as a double reads back rounded to four places, both ways from zero.
    for (const auto& [v, scaled] :
         std::vector<std::pair<double, int64_t>>{{12.34566, 123457},
                                                 {-12.34566, -123457},
                                                 {0.00004, 0},
                                                 {-0.00004, 0},
                                                 {900000000000.0, 9000000000000000}}) {
        std::memcpy(slot.bytes, &v, 8);
        rtl::Param p("P", ftCurrency, rtl::ptOutput);
        ASSERT_TRUE(SetParamFromSlot(p, Kind::Currency, slot.bytes, 8, NoUnpack));
        EXPECT_EQ(p.Value().Type(), rtl::VarType::Currency);
        EXPECT_EQ(p.Value().AsCurrency(), scaled) << v;
    }
    // A text ends at its first zero or its length, whichever comes first; a negative length
    // sets no limit.
    std::memcpy(slot.bytes, "abc\0def", 8);
    rtl::Param text("P", ftString, rtl::ptOutput);
    ASSERT_TRUE(SetParamFromSlot(text, Kind::Text, slot.bytes, 8, NoUnpack));
    EXPECT_EQ(text.AsString(), "abc");
    ASSERT_TRUE(SetParamFromSlot(text, Kind::Text, slot.bytes, 2, NoUnpack));
    EXPECT_EQ(text.AsString(), "ab");
    ASSERT_TRUE(SetParamFromSlot(text, Kind::Text, slot.bytes, -1, NoUnpack));
    EXPECT_EQ(text.AsString(), "abc");
    ASSERT_TRUE(SetParamFromSlot(text, Kind::Text, slot.bytes, 0, NoUnpack));
    EXPECT_EQ(text.AsString(), "");
    // Bytes are their length, zeros included; none for a length of 0 or below.
    rtl::Param bytes("P", ftBytes, rtl::ptOutput);
    ASSERT_TRUE(SetParamFromSlot(bytes, Kind::Bytes, slot.bytes, 6, NoUnpack));
    EXPECT_EQ(bytes.Value().AsBytes(), rtl::ByteArray({'a', 'b', 'c', 0, 'd', 'e'}));
    ASSERT_TRUE(SetParamFromSlot(bytes, Kind::Bytes, slot.bytes, -3, NoUnpack));
    EXPECT_TRUE(bytes.Value().AsBytes().empty());
}

TEST(SlotRead, KindsWithoutAShapeHereLeaveTheParameterAlone) {
    Slot slot;
    for (Kind kind : {Kind::None, Kind::Guid}) {
        rtl::Param p = MakeParam(ftGuid, Variant(std::string("kept")));
        EXPECT_FALSE(SetParamFromSlot(p, kind, slot.bytes, kRoom, NoUnpack));
        EXPECT_EQ(p.AsString(), "kept");
    }
}

TEST(SlotRead, ADateOfNoDayIsRefused) {
    // Day 0 comes before 0001-01-01: the engine's record of it has no date.
    const TSDDateTimeRec rec = TSDDateTimeRec::FromDate(0);
    uint8_t slot[8];
    std::memcpy(slot, rec.Bytes, 8);
    rtl::Param p("P", ftDate, rtl::ptOutput);
    EXPECT_THROW(SetParamFromSlot(p, Kind::DateTime, slot, 8, UnpackEngineDateTime), rtl::EConvertError);
}

TEST(RecordStore, TextsKeepTheirZeroAndLoseTheirPadding) {
    struct Case {
        std::string text;
        int32_t destSize;
        bool trim;
        std::string expected;
    };
    const Case cases[] = {
        {"", 8, false, ""},
        {"abc", 8, false, "abc"},
        {"abcdefg", 8, false, "abcdefg"},
        {"abcdefgh", 8, false, "abcdefg"},
        {"ab  ", 8, false, "ab  "},
        {"ab  ", 8, true, "ab"},
        {"    ", 8, true, ""},
        {"abc", 1, false, ""},
    };
    for (const Case& c : cases) {
        Slot dest;
        StoreTextSlot(dest.bytes, c.destSize, c.text.data(), c.text.size(), c.trim);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(dest.bytes)), c.expected) << c.text;
        // Trimmed blanks become zeros, not characters left after the end.
        const size_t written = std::min(c.text.size(), size_t(c.destSize - 1));
        for (size_t i = c.expected.size(); i <= written; ++i)
            EXPECT_EQ(dest.bytes[i], 0) << c.text << " at " << i;
        EXPECT_EQ(dest.WrittenPast(int(written) + 1), 0);
    }
    for (int32_t none : {0, -1}) {
        Slot dest;
        StoreTextSlot(dest.bytes, none, "abc", 3, true);
        EXPECT_EQ(dest.WrittenPast(0), 0);
    }
}

TEST(RecordStore, FixedWidthValuesNeedTheirRoom) {
    Slot dest;
    StoreSlotValue(dest.bytes, 2, int16_t(-2), "Caller.Fn", "ftSmallint");
    EXPECT_EQ(GetBufferWord(dest.bytes, 0), 0xFFFE);
    EXPECT_EQ(dest.WrittenPast(2), 0);
    StoreSlotValue(dest.bytes, 8, std::numeric_limits<int64_t>::min(), "Caller.Fn", "ftLargeint");
    EXPECT_EQ(GetBufferInt64(dest.bytes, 0), std::numeric_limits<int64_t>::min());
    try {
        StoreSlotValue(dest.bytes, 3, 1.0, "TIMyCommand.GetCnvtFieldData", "ftFloat");
        FAIL() << "a double in 3 bytes";
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "TIMyCommand.GetCnvtFieldData: ftFloat needs 8 bytes, got 3");
    }
}

TEST(RecordStore, DatesTakeTheirFieldsWidth) {
    const rtl::TDateTime last = rtl::EncodeDate(9999, 12, 31) + rtl::EncodeTime(23, 59, 59, 999);
    for (TFieldType type : {ftDate, ftTime, ftDateTime}) {
        const int32_t width = type == ftDateTime ? 8 : 4;
        const TSDDateTimeRec rec = DateTimeToRec(type, last);
        Slot dest;
        StoreDateTimeRec(type, rec, dest.bytes, width);
        EXPECT_EQ(std::memcmp(dest.bytes, rec.Bytes, size_t(width)), 0);
        EXPECT_EQ(dest.WrittenPast(width), 0);
        EXPECT_THROW(StoreDateTimeRec(type, rec, dest.bytes, width - 1), rtl::EAssertionFailed);
        EXPECT_DOUBLE_EQ(DateTimeRecToDateTime(type, rec), type == ftDate   ? rtl::EncodeDate(9999, 12, 31)
                                                           : type == ftTime ? rtl::EncodeTime(23, 59, 59, 999)
                                                                            : last);
    }
    // The first day and the last millisecond of a day in the record's three forms.
    rtl::TTimeStamp stamp;
    stamp.Date = 1;
    stamp.Time = int32_t(rtl::MSecsPerDay - 1);
    EXPECT_EQ(TimeStampToRec(ftDate, stamp).Date(), 1);
    EXPECT_EQ(TimeStampToRec(ftTime, stamp).Time(), stamp.Time);
    EXPECT_DOUBLE_EQ(TimeStampToRec(ftDateTime, stamp).DateTime(), double(rtl::MSecsPerDay) + stamp.Time);
    EXPECT_EQ(std::memcmp(DateTimeToRec(ftDate, rtl::EncodeDate(1, 1, 1)).Bytes,
                          TSDDateTimeRec::FromDate(1).Bytes, 8),
              0);
}

TEST(RecordStore, CurrenciesAsPackedDecimals) {
    struct Case {
        int64_t scaled;
        int places;
        const char* expected;
    };
    const Case cases[] = {
        {0, 4, "0.0000"},
        {123456, 4, "12.3456"},
        {-123456, 2, "-12.35"},
        {std::numeric_limits<int64_t>::max(), 4, "922337203685477.5807"},
        {std::numeric_limits<int64_t>::min(), 4, "-922337203685477.5808"},
    };
    for (const Case& c : cases) {
        Slot dest;
        ASSERT_TRUE(StoreCurrencyAsBcd(c.scaled, c.places, dest.bytes, int32_t(sizeof(rtl::TBcd))))
            << c.scaled;
        rtl::TBcd bcd;
        std::memcpy(&bcd, dest.bytes, sizeof bcd);
        EXPECT_EQ(rtl::BcdToText(bcd), c.expected);
        EXPECT_EQ(dest.WrittenPast(int(sizeof bcd)), 0);
    }
    // A destination smaller than a packed decimal takes its first bytes; none takes nothing.
    Slot small;
    ASSERT_TRUE(StoreCurrencyAsBcd(10000, 4, small.bytes, 2));
    EXPECT_EQ(small.WrittenPast(2), 0);
    Slot none;
    ASSERT_TRUE(StoreCurrencyAsBcd(10000, 4, none.bytes, -1));
    EXPECT_EQ(none.WrittenPast(0), 0);
    // Places a packed decimal of 32 digits cannot have are refused, and nothing is written.
    EXPECT_FALSE(StoreCurrencyAsBcd(1, 33, none.bytes, int32_t(sizeof(rtl::TBcd))));
    EXPECT_EQ(none.WrittenPast(0), 0);
}

}  // namespace
