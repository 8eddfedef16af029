// database/engine/SDCommonBuffers.cpp: raw buffers, cells and field-type predicates.
#include "database/engine/SDCommonBuffers.h"

#include <algorithm>
#include <cstring>

#include "rtl/Assert.h"
#include "rtl/Format.h"

namespace {

template <typename T>
T Load(const uint8_t* buffer, int offset) {
    T v;
    std::memcpy(&v, buffer + offset, sizeof v);
    return v;
}

template <typename T>
void Store(uint8_t* buffer, int offset, T v) {
    std::memcpy(buffer + offset, &v, sizeof v);
}

}  // namespace

void TSDBuffer::CheckSlot(size_t offset) const {
    rtl::Assert(offset + 4 <= data_.size(), "Blob slot at %d outside a buffer of %d bytes", int64_t(offset),
                int64_t(data_.size()));
}

const TSDBlobRef& TSDBuffer::BlobAt(size_t offset) const {
    static const TSDBlobRef kNone;
    CheckSlot(offset);
    auto it = blobs_.find(offset);
    return it == blobs_.end() ? kNone : it->second;
}

void TSDBuffer::SetBlobAt(size_t offset, TSDBlobRef blob) {
    CheckSlot(offset);
    if (blob == nullptr || blob->empty()) {
        blobs_.erase(offset);
        Store<int32_t>(data_.data(), int(offset), 0);
    } else {
        blobs_[offset] = std::move(blob);
        Store<int32_t>(data_.data(), int(offset), 1);
    }
}

void TSDBuffer::ClearBlobs() {
    for (const auto& [offset, blob] : blobs_)
        Store<int32_t>(data_.data(), int(offset), 0);
    blobs_.clear();
}

char* TSDBufferList::Alloc(size_t size) {
    buffers_.push_back(std::make_unique<char[]>(size + 1));  // value-initialised: zeros
    return buffers_.back().get();
}

char* TSDBufferList::AllocString(std::string_view text) {
    char* p = Alloc(text.size());
    std::memcpy(p, text.data(), text.size());
    return p;
}

void TSDBufferList::Clear() {
    while (!buffers_.empty())
        buffers_.pop_back();
}

TSDDateTimeRec TSDDateTimeRec::FromDate(int32_t dayNumber) {
    TSDDateTimeRec r;
    Store(r.Bytes, 0, dayNumber);
    return r;
}

TSDDateTimeRec TSDDateTimeRec::FromTime(int32_t milliseconds) {
    TSDDateTimeRec r;
    Store(r.Bytes, 0, milliseconds);
    return r;
}

TSDDateTimeRec TSDDateTimeRec::FromDateTime(double milliseconds) {
    TSDDateTimeRec r;
    Store(r.Bytes, 0, milliseconds);
    return r;
}

int32_t TSDDateTimeRec::Date() const {
    return Load<int32_t>(Bytes, 0);
}
int32_t TSDDateTimeRec::Time() const {
    return Load<int32_t>(Bytes, 0);
}
double TSDDateTimeRec::DateTime() const {
    return Load<double>(Bytes, 0);
}

void GetCellHeader(const uint8_t* buffer, int offset, int32_t& indicator, int32_t& length) {
    indicator = Load<int32_t>(buffer, offset + GetCellIndicatorOffset());
    length = Load<int32_t>(buffer, offset + GetCellLengthOffset());
}

void SetCellHeader(uint8_t* buffer, int offset, int32_t indicator, int32_t length) {
    Store(buffer, offset + GetCellIndicatorOffset(), indicator);
    Store(buffer, offset + GetCellLengthOffset(), length);
}

uint8_t GetBufferByte(const uint8_t* buffer, int offset) {
    return buffer[offset];
}
void SetBufferByte(uint8_t* buffer, int offset, uint8_t value) {
    buffer[offset] = value;
}
uint16_t GetBufferWord(const uint8_t* buffer, int offset) {
    return Load<uint16_t>(buffer, offset);
}
void SetBufferSmallint(uint8_t* buffer, int offset, int16_t value) {
    Store(buffer, offset, value);
}
int32_t GetBufferInteger(const uint8_t* buffer, int offset) {
    return Load<int32_t>(buffer, offset);
}
void SetBufferInteger(uint8_t* buffer, int offset, int32_t value) {
    Store(buffer, offset, value);
}
int64_t GetBufferInt64(const uint8_t* buffer, int offset) {
    return Load<int64_t>(buffer, offset);
}
void SetBufferInt64(uint8_t* buffer, int offset, int64_t value) {
    Store(buffer, offset, value);
}
double GetBufferDouble(const uint8_t* buffer, int offset) {
    return Load<double>(buffer, offset);
}
void SetBufferDouble(uint8_t* buffer, int offset, double value) {
    Store(buffer, offset, value);
}
double GetBufferSingle(const uint8_t* buffer, int offset) {
    return double(Load<float>(buffer, offset));
}
void* GetBufferPointer(const uint8_t* buffer, int offset) {
    return Load<void*>(buffer, offset);
}
void SetBufferPointer(uint8_t* buffer, int offset, void* value) {
    Store(buffer, offset, value);
}

TSDDateTimeRec GetBufferDateTimeRec(const uint8_t* buffer, int offset) {
    TSDDateTimeRec r;
    std::memcpy(r.Bytes, buffer + offset, sizeof r.Bytes);
    return r;
}

void SetBufferDateTimeRec(uint8_t* buffer, int offset, const TSDDateTimeRec& value) {
    std::memcpy(buffer + offset, value.Bytes, sizeof value.Bytes);
}

void SetBufferGuid(uint8_t* buffer, int offset, const uint8_t guid[16]) {
    std::memcpy(buffer + offset, guid, 16);
}

void SetBufferString(uint8_t* buffer, int offset, std::string_view text, int count) {
    if (count <= 0) return;
    const size_t n = std::min(size_t(count), text.size());
    std::memcpy(buffer + offset, text.data(), n);
}

// A negative index or data size would address a slot inside the cells (a column without a
// slot has blob index -1), whose data the slot word would then overwrite.
static void CheckSlotIndex(int dataSize, int index) {
    rtl::Assert(dataSize >= 0 && index >= 0, "Blob slot %d after %d bytes of cells", index, dataSize);
}

TSDBlobRef GetBlobSlot(const TSDBuffer* buffer, int dataSize, int index) {
    rtl::Assert(buffer != nullptr, "GetBlobSlot: no buffer");
    CheckSlotIndex(dataSize, index);
    return buffer->BlobAt(size_t(dataSize) + 4 * size_t(index));
}

int GetBlobSlotLength(const TSDBuffer* buffer, int dataSize, int index) {
    const TSDBlobRef blob = GetBlobSlot(buffer, dataSize, index);
    return blob ? int(blob->size()) : 0;
}

void SetBlobSlot(TSDBuffer* buffer, int dataSize, int index, TSDBlobRef blob) {
    rtl::Assert(buffer != nullptr, "SetBlobSlot: no buffer");
    CheckSlotIndex(dataSize, index);
    buffer->SetBlobAt(size_t(dataSize) + 4 * size_t(index), std::move(blob));
}

uint8_t* IncPointer(uint8_t* p, int offset) {
    return p + offset;
}
const uint8_t* IncPointer(const uint8_t* p, int offset) {
    return p + offset;
}

void ReallocBuffer(std::vector<uint8_t>& block, int size) {
    if (size <= 0) {
        block.clear();
        block.shrink_to_fit();
        return;
    }
    block.resize(size_t(size), 0);
}

void MoveBuffer(const void* source, void* dest, size_t count) {
    if (count > 0) std::memmove(dest, source, count);
}

void FillBuffer(void* dest, size_t count, uint8_t value) {
    if (count > 0) std::memset(dest, value, count);
}

std::string BytesToString(const rtl::ByteArray& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string PCharToString(const char* p, int maxLength) {
    if (p == nullptr) return "";
    if (maxLength < 0) return std::string(p);
    return std::string(p, strnlen(p, size_t(maxLength)));
}

void TrimTrailingBlanks(char* text) {
    if (text == nullptr || *text == 0) return;
    for (size_t i = std::strlen(text); i > 0 && text[i - 1] == ' '; --i)
        text[i - 1] = 0;
}

bool IsBlobOrMemoType(TFieldType t) {
    return t == ftBlob || t == ftMemo || t == ftOraBlob || t == ftOraClob;
}

bool FieldTypeHasSize(TFieldType t) {
    switch (t) {
        case ftString:
        case ftBytes:
        case ftVarBytes:
        case ftParadoxOle:
        case ftDBaseOle:
        case ftTypedBinary:
        case ftFixedChar:
            return true;
        default:
            return false;
    }
}

bool IsDateTimeFieldType(TFieldType t) {
    return t == ftDate || t == ftTime || t == ftDateTime;
}

bool IsNumericFieldType(TFieldType t) {
    switch (t) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftFloat:
        case ftCurrency:
        case ftBCD:
        case ftAutoInc:
        case ftLargeint:
            return true;
        default:
            return false;
    }
}

int32_t MaxInteger(int32_t a, int32_t b) {
    return a > b ? a : b;
}
int32_t MinInteger(int32_t a, int32_t b) {
    return a < b ? a : b;
}

int DaysInMonth(int month, int year) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    if (month == 2 && (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0))) return 29;
    return kDays[month - 1];
}
