// database/engine/SDCommonSlots.h: field values between the engine and the client libraries' value
// slots (part of unit SDCommon).
//
// Every driver moves the same few shapes of value between the engine's field types and the
// slots its client library reads and writes: 16-, 32- and 64-bit integers, a Boolean as a
// 16-bit 1 or 0, doubles, texts, byte strings, and dates and times. The shapes are written
// once here; a driver says which field types it binds in which shape with a slot map
// (kEngineSlots, narrowed or changed where its client differs), and hands the calls its own
// date-time layout as a function pair:
//   Pack(fieldType, value, slot, size)   writes a date-time into a slot of size bytes in the
//                                        client's layout; answers the bytes written
//   Unpack(fieldType, slot, length)      reads such a slot as the engine's record
// DB-Library's and Client-Library's day and tick counts, OCI's seven bytes, the ODBC and
// OLE DB structures, InterBase's ISC dates and SQLBase's internal form are such layouts; so
// is the engine's own record (PackEngineDateTime, UnpackEngineDateTime), which the drivers
// that convert into the engine's layout first read their output parameters from.
//
// What stays with each driver: the types only its server has (decimals, intervals, money),
// GUIDs (whose text each client parses its own way), long values, how its cells say null
// and length, and its errors. Nothing here checks a slot's room unless said so: the drivers
// sized their slots by the same maps (NativeSlotSize).
//
// Everything here is inline: the fetch paths call it once per value of every row.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include "database/engine/SDCommonBuffers.h"
#include "database/engine/SDCommonValues.h"
#include "rtl/Assert.h"
#include "rtl/Bcd.h"
#include "rtl/DateTime.h"
#include "rtl/DbParams.h"
#include "rtl/Variant.h"

// The shape of a field value in a slot.
enum class TSDSlotKind : uint8_t {
    None,      // no slot of its own here: long values, cursors, a type the driver does not bind
    Int16,     // ftSmallint
    Word16,    // ftWord: 16 bits without sign
    Int32,     // ftInteger, ftAutoInc
    Int64,     // ftLargeint
    Bool16,    // ftBoolean: 1 or 0 in 16 bits
    Float64,   // ftFloat, ftCurrency: a double
    Currency,  // a double that reads back as a currency amount (four places, rounded)
    DateTime,  // ftDate, ftTime, ftDateTime: the driver's layout, through its Pack and Unpack
    Text,      // ftString, ftFixedChar: characters, a zero after them where the slot has room
    Bytes,     // ftBytes, ftVarBytes
    Guid,      // ftGuid: 16 bytes, which the drivers read and write themselves
};

// The bytes a value of the kind takes in a slot; 0 where the value gives the size (texts and
// bytes) or the driver does (dates and times, which take its layout's size).
constexpr uint16_t SlotWidth(TSDSlotKind kind) {
    switch (kind) {
        case TSDSlotKind::Int16:
        case TSDSlotKind::Word16:
        case TSDSlotKind::Bool16:
            return 2;
        case TSDSlotKind::Int32:
            return 4;
        case TSDSlotKind::Int64:
        case TSDSlotKind::Float64:
        case TSDSlotKind::Currency:
            return 8;
        case TSDSlotKind::Guid:
            return 16;
        default:
            return 0;
    }
}

// The slot kind of each field type, for the types a driver binds. A map is a constant the
// driver derives from kEngineSlots: Only keeps the listed types (the rest become None), With
// puts one type into another kind.
class TSDSlotMap {
public:
    constexpr TSDSlotMap() = default;
    constexpr TSDSlotMap(std::initializer_list<std::pair<TFieldType, TSDSlotKind>> entries) {
        for (const auto& [type, kind] : entries)
            kinds_[size_t(type)] = kind;
    }

    constexpr TSDSlotKind operator[](TFieldType type) const {
        return uint32_t(type) < kinds_.size() ? kinds_[size_t(type)] : TSDSlotKind::None;
    }
    constexpr TSDSlotMap Only(std::initializer_list<TFieldType> types) const {
        TSDSlotMap kept;
        for (TFieldType t : types)
            kept.kinds_[size_t(t)] = (*this)[t];
        return kept;
    }
    constexpr TSDSlotMap With(TFieldType type, TSDSlotKind kind) const {
        TSDSlotMap changed = *this;
        changed.kinds_[size_t(type)] = kind;
        return changed;
    }

private:
    std::array<TSDSlotKind, size_t(rtl::kFieldTypeCount)> kinds_{};
};

// A set of field types, written as their list: what a driver converts rather than copies
// (RequiredCnvtFieldType), and the like.
class TSDFieldTypes {
public:
    constexpr TSDFieldTypes(std::initializer_list<TFieldType> types) {
        for (TFieldType t : types)
            bits_ |= uint64_t(1) << unsigned(t);
    }
    constexpr bool Has(TFieldType type) const {
        return uint32_t(type) < uint32_t(rtl::kFieldTypeCount) && (bits_ >> unsigned(type) & 1) != 0;
    }

private:
    static_assert(rtl::kFieldTypeCount <= 64, "a field type set is one 64-bit word");
    uint64_t bits_ = 0;
};

// The engine's own shapes: what a field type's value is in a record (dates as TSDDateTimeRec)
// and, for most clients, in their bound slots too.
inline constexpr TSDSlotMap kEngineSlots = {
    {ftString, TSDSlotKind::Text},       {ftFixedChar, TSDSlotKind::Text}, {ftSmallint, TSDSlotKind::Int16},
    {ftWord, TSDSlotKind::Word16},       {ftInteger, TSDSlotKind::Int32},  {ftAutoInc, TSDSlotKind::Int32},
    {ftLargeint, TSDSlotKind::Int64},    {ftBoolean, TSDSlotKind::Bool16}, {ftFloat, TSDSlotKind::Float64},
    {ftCurrency, TSDSlotKind::Float64},  {ftDate, TSDSlotKind::DateTime},  {ftTime, TSDSlotKind::DateTime},
    {ftDateTime, TSDSlotKind::DateTime}, {ftBytes, TSDSlotKind::Bytes},    {ftVarBytes, TSDSlotKind::Bytes},
    {ftGuid, TSDSlotKind::Guid},
};

// The size of a field type's slot by the driver's map: the kind's width, dateTimeSize for a
// date or time (the driver's layout), 0 for a type the map leaves out or whose value gives
// the size. What a driver's NativeDataSize answers.
constexpr uint16_t NativeSlotSize(const TSDSlotMap& map, TFieldType type, uint16_t dateTimeSize) {
    const TSDSlotKind kind = map[type];
    return kind == TSDSlotKind::DateTime ? dateTimeSize : SlotWidth(kind);
}

// ---------------------------------------------------------------------------------------------
// Parameter values into slots

// Writes a parameter's value into a slot of size bytes in the shape of kind: an integer,
// Boolean or double at its width (the slot holds it: the driver sized it by its map), a
// date-time through the driver's Pack, a text cut to size - 1 characters with a zero after
// it, bytes cut to the slot with zeros after them. The value is read as the parameter holds
// it, so a value that cannot be read so (a null where an integer is wanted, a text that is no
// number) raises the variant's own error. Answers the value's length in the slot (Pack's answer
// for a date-time), or -1, writing nothing, for a kind it does not write (None, Guid).
template <typename Pack>
int32_t PutParamSlot(const rtl::Param& param, TSDSlotKind kind, uint8_t* slot, int32_t size, Pack&& pack) {
    switch (kind) {
        case TSDSlotKind::Int16:
        case TSDSlotKind::Word16: {
            // A word's 16 bits are the same whichever sign they are read with.
            const int16_t v = int16_t(param.Value().AsInteger());
            std::memcpy(slot, &v, sizeof v);
            return 2;
        }
        case TSDSlotKind::Int32: {
            const int32_t v = param.Value().AsInteger();
            std::memcpy(slot, &v, sizeof v);
            return 4;
        }
        case TSDSlotKind::Int64: {
            // The 64-bit value itself: a detour through a double or a currency would lose
            // the values past their range.
            const int64_t v = param.Value().AsInt64();
            std::memcpy(slot, &v, sizeof v);
            return 8;
        }
        case TSDSlotKind::Bool16: {
            const int16_t v = param.Value().AsBoolean() ? 1 : 0;
            std::memcpy(slot, &v, sizeof v);
            return 2;
        }
        case TSDSlotKind::Float64:
        case TSDSlotKind::Currency: {
            const double v = param.Value().AsDouble();
            std::memcpy(slot, &v, sizeof v);
            return 8;
        }
        case TSDSlotKind::DateTime:
            return pack(param.DataType(), param.Value().AsDateTime(), slot, size);
        case TSDSlotKind::Text: {
            const std::string text = param.AsString();
            const size_t n = std::min(text.size(), size > 0 ? size_t(size - 1) : size_t(0));
            std::memcpy(slot, text.data(), n);
            if (size > 0) slot[n] = 0;
            return int32_t(n);
        }
        case TSDSlotKind::Bytes: {
            // The value's own length: the zeros after it are no part of it.
            const rtl::ByteArray bytes = param.Value().AsBytes();
            const size_t room = size_t(std::max(size, 0));
            const size_t n = std::min(bytes.size(), room);
            if (n > 0) std::memcpy(slot, bytes.data(), n);
            std::memset(slot + n, 0, room - n);
            return int32_t(n);
        }
        default:
            return -1;
    }
}

// ---------------------------------------------------------------------------------------------
// Slots into parameter values (output parameters)

// Sets a parameter's value from a slot in the shape of kind: an integer or double at its
// width, a currency amount rounded to four places, a Boolean that is not 0, a date-time
// through the driver's Unpack, the characters before the slot's first zero byte (at most
// length of them; a negative length: no limit), length bytes. Answers false, leaving the
// parameter as it is, for a kind it does not read (None, Guid).
template <typename Unpack>
bool SetParamFromSlot(rtl::Param& param, TSDSlotKind kind, const uint8_t* slot, int32_t length,
                      Unpack&& unpack) {
    switch (kind) {
        case TSDSlotKind::Int16: {
            int16_t v;
            std::memcpy(&v, slot, sizeof v);
            param.SetValue(rtl::Variant(v));
            return true;
        }
        case TSDSlotKind::Word16: {
            uint16_t v;
            std::memcpy(&v, slot, sizeof v);
            param.SetValue(rtl::Variant::FromWord(v));
            return true;
        }
        case TSDSlotKind::Int32: {
            int32_t v;
            std::memcpy(&v, slot, sizeof v);
            param.SetValue(rtl::Variant(v));
            return true;
        }
        case TSDSlotKind::Int64: {
            int64_t v;
            std::memcpy(&v, slot, sizeof v);
            param.SetValue(rtl::Variant(v));
            return true;
        }
        case TSDSlotKind::Bool16: {
            int16_t v;
            std::memcpy(&v, slot, sizeof v);
            param.SetValue(rtl::Variant(v != 0));
            return true;
        }
        case TSDSlotKind::Float64: {
            double v;
            std::memcpy(&v, slot, sizeof v);
            param.SetValue(rtl::Variant(v));
            return true;
        }
        case TSDSlotKind::Currency: {
            double v;
            std::memcpy(&v, slot, sizeof v);
            param.SetValue(rtl::Variant::FromCurrency(std::llround(v * 10000)));
            return true;
        }
        case TSDSlotKind::DateTime:
            SetParamDateTimeRec(param, unpack(param.DataType(), slot, length));
            return true;
        case TSDSlotKind::Text:
            param.SetValue(rtl::Variant(PCharToString(reinterpret_cast<const char*>(slot), length)));
            return true;
        case TSDSlotKind::Bytes:
            param.SetValue(rtl::Variant::FromBytes(rtl::ByteArray(slot, slot + std::max(length, 0))));
            return true;
        default:
            return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Slots into the engine's record (fetched values)

// A value of a fixed width into the engine's record; rtl::EAssertionFailed naming the caller and
// the value ("TIMyCommand.GetCnvtFieldData: ftInteger needs 4 bytes, got 2") for a smaller
// destination.
template <typename T>
[[gnu::always_inline]] inline void StoreSlotValue(void* dest, int32_t destSize, T value, const char* caller,
                                                  const char* what) {
    rtl::Assert(destSize >= int32_t(sizeof value), "%s: %s needs %d bytes, got %d", caller, what,
                int32_t(sizeof value), destSize);
    std::memcpy(dest, &value, sizeof value);
}

// A text into the engine's record: length characters, at most destSize - 1 of them, and a
// zero after them; with trimBlanks the trailing blanks become zeros too (a fixed-length
// column's padding). Nothing for a destination without room.
[[gnu::always_inline]] inline void StoreTextSlot(void* dest, int32_t destSize, const void* text,
                                                 size_t length, bool trimBlanks) {
    if (destSize <= 0) return;
    auto* out = static_cast<char*>(dest);
    const size_t n = std::min(length, size_t(destSize - 1));
    std::memcpy(out, text, n);
    out[n] = 0;
    if (trimBlanks) TrimTrailingBlanks(out);
}

// A currency amount (units of 1/10000) as a packed decimal of the given places, the first
// destSize bytes of it into the record; false, writing nothing, when the amount does not fit
// one (the driver raises its own error).
inline bool StoreCurrencyAsBcd(int64_t scaled, int places, void* dest, int32_t destSize) {
    rtl::TBcd bcd;
    if (!rtl::CurrencyToBcd(scaled, bcd, 32, places)) return false;
    std::memcpy(dest, &bcd, size_t(std::clamp<int32_t>(destSize, 0, int32_t(sizeof bcd))));
    return true;
}

// A date-time in the engine's record for the field type: the day number for ftDate, the
// milliseconds of the day for ftTime, the milliseconds as a double for ftDateTime (any
// other type).
TSDDateTimeRec TimeStampToRec(TFieldType fieldType, const rtl::TTimeStamp& stamp);
TSDDateTimeRec DateTimeToRec(TFieldType fieldType, rtl::TDateTime value);
// Copies a record into a column's destination in the engine's row: a date or a time of day
// takes its first 4 bytes (the engine's fields are that wide), a time stamp all 8;
// rtl::EAssertionFailed for a smaller destination.
void StoreDateTimeRec(TFieldType fieldType, const TSDDateTimeRec& rec, void* dest, int32_t destSize);

// The engine's own date-time layout as a Pack and an Unpack: a slot of 8 bytes holding a
// TSDDateTimeRec (rtl::EAssertionFailed for a smaller one).
int32_t PackEngineDateTime(TFieldType fieldType, rtl::TDateTime value, uint8_t* slot, int32_t size);
TSDDateTimeRec UnpackEngineDateTime(TFieldType fieldType, const uint8_t* slot, int32_t length);

// Sets a parameter's value from a value in the driver layer's layout of the parameter's data
// type (what GetCnvtFieldData writes): zero-terminated text (at most size bytes), 16-, 32- and
// 64-bit integers, a 16-bit Boolean, doubles, date-time records, a GUID's 38-character text,
// or size raw bytes. EDatabaseError for a type that has no such layout, or a buffer smaller
// than the type's value.
void SetParamData(rtl::Param& param, const uint8_t* buffer, int32_t size);
