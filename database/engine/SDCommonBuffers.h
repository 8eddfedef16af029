// database/engine/SDCommonBuffers.h: raw buffers of the driver layer (part of unit SDCommon).
//
// Parameter values and fetched rows travel between the engine and the drivers in flat
// buffers of cells: an 8-byte header (32-bit null indicator at offset 0, 32-bit data length
// at offset 4) followed by the data. Client libraries write these cells in the machine's own
// byte order, so the typed reads and writes here are native-order copies (memcpy), never
// casts, and they check nothing unless said so: the callers computed the offsets.
//
// Slot rule on 64-bit: the engine's own slot sizes stay as the layout rules fix them; a blob
// slot (and a record's blob reference) is 4 bytes wide. A pointer never lives in those 4
// bytes: the byte arrays a TSDBuffer's slots refer to are kept beside the block, keyed by the
// slot's offset, and the 4-byte word only says whether the slot holds one (1) or not (0).
// Values that are addresses in the original (GetBufferPointer) take a full pointer's width.
//
// TSDBufferList owns the zero-terminated character buffers a command allocates while it
// binds parameters, freed together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/FieldType.h"
#include "rtl/Variant.h"

using rtl::TFieldType;
using enum rtl::TFieldType;

// A byte array held by a blob slot; shared between a row and its copies, never changed in
// place (a writer stores a new array).
using TSDBlobRef = std::shared_ptr<const rtl::ByteArray>;

// A flat, zero-filled block of cells and the byte arrays its blob slots refer to.
class TSDBuffer {
public:
    explicit TSDBuffer(size_t size) : data_(size, 0) {}

    uint8_t* Data() { return data_.data(); }
    const uint8_t* Data() const { return data_.data(); }
    size_t Size() const { return data_.size(); }

    // The byte array of the 4-byte slot at that offset (nullptr when empty). Raises
    // rtl::EAssertionFailed when the slot does not lie inside the block.
    const TSDBlobRef& BlobAt(size_t offset) const;
    // Stores an array (nullptr or an empty array empties the slot) and marks the slot word.
    void SetBlobAt(size_t offset, TSDBlobRef blob);
    // Empties every slot.
    void ClearBlobs();

private:
    void CheckSlot(size_t offset) const;

    std::vector<uint8_t> data_;
    std::map<size_t, TSDBlobRef> blobs_;
};

// Zero-terminated character buffers owned together (a command's BufferList).
class TSDBufferList {
public:
    TSDBufferList() = default;
    ~TSDBufferList() { Clear(); }
    TSDBufferList(const TSDBufferList&) = delete;
    TSDBufferList& operator=(const TSDBufferList&) = delete;

    // A new zero-filled buffer of size + 1 characters, owned by the list.
    char* Alloc(size_t size);
    // A new buffer holding a copy of the text and its terminating zero.
    char* AllocString(std::string_view text);
    int Count() const { return int(buffers_.size()); }
    // Frees every buffer, last first.
    void Clear();

private:
    std::vector<std::unique_ptr<char[]>> buffers_;
};

// The 8-byte date-time record of the driver layer, by field type:
//   ftDate      32-bit day number (day 693594 = 30 December 1899, day 1 = 1 January of year 1),
//               4 bytes not read
//   ftTime      32-bit milliseconds since midnight, 4 bytes not read
//   ftDateTime  64-bit float milliseconds on the same scale (day number x 86400000 + ms)
struct TSDDateTimeRec {
    uint8_t Bytes[8] = {};

    static TSDDateTimeRec FromDate(int32_t dayNumber);
    static TSDDateTimeRec FromTime(int32_t milliseconds);
    static TSDDateTimeRec FromDateTime(double milliseconds);
    int32_t Date() const;
    int32_t Time() const;
    double DateTime() const;
};

// Cell headers.
inline constexpr int kCellHeaderSize = 8;
void GetCellHeader(const uint8_t* buffer, int offset, int32_t& indicator, int32_t& length);
void SetCellHeader(uint8_t* buffer, int offset, int32_t indicator, int32_t length);
inline int GetCellIndicatorOffset() {
    return 0;
}
inline int GetCellLengthOffset() {
    return 4;
}

// Typed reads and writes at a byte offset, in the machine's byte order.
uint8_t GetBufferByte(const uint8_t* buffer, int offset);
void SetBufferByte(uint8_t* buffer, int offset, uint8_t value);
uint16_t GetBufferWord(const uint8_t* buffer, int offset);
void SetBufferSmallint(uint8_t* buffer, int offset, int16_t value);
int32_t GetBufferInteger(const uint8_t* buffer, int offset);
void SetBufferInteger(uint8_t* buffer, int offset, int32_t value);
int64_t GetBufferInt64(const uint8_t* buffer, int offset);
void SetBufferInt64(uint8_t* buffer, int offset, int64_t value);
double GetBufferDouble(const uint8_t* buffer, int offset);
void SetBufferDouble(uint8_t* buffer, int offset, double value);
double GetBufferSingle(const uint8_t* buffer, int offset);
void* GetBufferPointer(const uint8_t* buffer, int offset);
void SetBufferPointer(uint8_t* buffer, int offset, void* value);
TSDDateTimeRec GetBufferDateTimeRec(const uint8_t* buffer, int offset);
void SetBufferDateTimeRec(uint8_t* buffer, int offset, const TSDDateTimeRec& value);
// 16 bytes of a GUID, as given.
void SetBufferGuid(uint8_t* buffer, int offset, const uint8_t guid[16]);
// The first `count` characters of the text (fewer when it is shorter), no terminating zero.
void SetBufferString(uint8_t* buffer, int offset, std::string_view text, int count);

// Blob slot i of a row buffer lies at dataSize + 4 * i. Each raises rtl::EAssertionFailed
// without a buffer, for a negative index or data size, or for a slot outside the block.
TSDBlobRef GetBlobSlot(const TSDBuffer* buffer, int dataSize, int index);
int GetBlobSlotLength(const TSDBuffer* buffer, int dataSize, int index);
void SetBlobSlot(TSDBuffer* buffer, int dataSize, int index, TSDBlobRef blob);

uint8_t* IncPointer(uint8_t* p, int offset);
const uint8_t* IncPointer(const uint8_t* p, int offset);
// Resizes a block, keeping its start; a size of 0 or below frees it.
void ReallocBuffer(std::vector<uint8_t>& block, int size);
void MoveBuffer(const void* source, void* dest, size_t count);
void FillBuffer(void* dest, size_t count, uint8_t value);

std::string BytesToString(const rtl::ByteArray& bytes);
// Zero-terminated characters as text, cut to maxLength when that is 0 or more (-1: no
// limit); nullptr gives "".
std::string PCharToString(const char* p, int maxLength = -1);
// Each trailing blank of a non-empty zero-terminated text becomes a zero character.
void TrimTrailingBlanks(char* text);

// Field-type predicates.
bool IsBlobOrMemoType(TFieldType t);
bool FieldTypeHasSize(TFieldType t);
bool IsDateTimeFieldType(TFieldType t);
bool IsNumericFieldType(TFieldType t);

int32_t MaxInteger(int32_t a, int32_t b);
int32_t MinInteger(int32_t a, int32_t b);
// 31, 30, or for February 29 in a (Gregorian) leap year and 28 otherwise.
int DaysInMonth(int month, int year);
