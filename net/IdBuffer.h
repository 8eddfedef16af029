// net/IdBuffer.h: the byte queue of the IO handler.
//
// Received bytes are appended at the back; lines and blocks are searched for and taken off
// the front. Taking off the front only moves HeadOffset; the storage is compacted once the
// head has passed GrowthStep, and released whenever the queue runs empty, so an idle buffer
// holds no memory. The first append into an empty buffer adopts the caller's array without
// copying. Storage grows geometrically (never by less than GrowthStep), so a run of small
// appends reallocates rarely; callers rely on counts, order and errors, never on Capacity.
//
// Invariants: HeadOffset + Size <= Capacity; an empty buffer has HeadOffset 0. Every byte
// taken off the front passes through the removal notice (with the count taken). A failed
// check (too few bytes, too many, a bad search) raises before anything changes.
// A buffer belongs to one IO handler and is used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "net/IdGlobal.h"

class TIdStream;
class TIdBuffer;

RTL_EXCEPTION(EIdNotEnoughDataInBuffer, EIdException);
RTL_EXCEPTION(EIdTooMuchDataInBuffer, EIdException);

using TIdBufferBytesRemoved = std::function<void(TIdBuffer* ABuffer, int32_t ABytes)>;

class TIdBuffer {
public:
    TIdBuffer() = default;
    explicit TIdBuffer(TIdBufferBytesRemoved notice) : RemovalNotice(std::move(notice)) {}
    ~TIdBuffer() { EmptyBuffer(); }
    TIdBuffer(const TIdBuffer&) = delete;
    TIdBuffer& operator=(const TIdBuffer&) = delete;

    int32_t GrowthStep = 2048;
    TIdBufferBytesRemoved RemovalNotice;

    int32_t Size() const { return dataSize_; }
    int32_t Capacity() const { return int32_t(storage_.size()); }
    int32_t HeadOffset() const { return headOffset_; }
    // The queued bytes, front first (valid until the next change).
    std::span<const uint8_t> Data() const { return {storage_.data() + headOffset_, size_t(dataSize_)}; }

    void EmptyBuffer();
    // "Too much data in buffer." when the size would pass 2147483647.
    void AppendBytes(TBytes&& bytes);
    void AppendBytes(std::span<const uint8_t> bytes);
    // count bytes (-1: all) off the front: after the array's content (append) or over its start.
    void ExtractBytes(TBytes& bytes, int32_t count = -1, bool append = true);
    std::string ExtractText(int32_t count = -1);
    void MoveTo(TIdBuffer& other, int32_t count = -1);
    void WriteToStream(TIdStream& stream, int32_t count = -1);
    void Consume(int32_t count);
    void CompactToFront(bool mayShrink = true);
    // Position (from the front) of the first occurrence at or after start, -1 when absent.
    int32_t FindText(std::string_view text, int32_t start = 0) const;
    int32_t FindBytes(std::span<const uint8_t> bytes, int32_t start = 0) const;

private:
    // -1 becomes the size; more than the size raises "Not enough data in buffer. (n/size)".
    int32_t CheckedCount(int32_t count) const;
    void CheckRoom(size_t n) const;
    void Reserve(size_t n);

    TBytes storage_;
    int32_t headOffset_ = 0;
    int32_t dataSize_ = 0;
};
