// net/IdBuffer.cpp: the queue's appends, removals, compaction and searches.
#include "net/IdBuffer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "net/IdStream.h"
#include "rtl/Format.h"

namespace {
constexpr int64_t kMaxSize = std::numeric_limits<int32_t>::max();
}

void TIdBuffer::EmptyBuffer() {
    TBytes().swap(storage_);
    headOffset_ = 0;
    dataSize_ = 0;
}

int32_t TIdBuffer::CheckedCount(int32_t count) const {
    if (count == -1) return dataSize_;
    if (count > dataSize_)
        EIdException::RaiseIdException<EIdNotEnoughDataInBuffer>(
            rtl::Format("Not enough data in buffer. (%d/%d)", count, dataSize_));
    return count;
}

void TIdBuffer::CheckRoom(size_t n) const {
    if (int64_t(n) > kMaxSize - dataSize_)
        EIdException::RaiseIdException<EIdTooMuchDataInBuffer>("Too much data in buffer.");
}

void TIdBuffer::Reserve(size_t n) {
    CompactToFront(false);
    const size_t need = size_t(dataSize_) + n;
    if (need <= storage_.size()) return;
    // Geometric growth, never by less than one step, never past the size limit.
    size_t capacity = std::max(need + size_t(GrowthStep), storage_.size() * 2);
    capacity = std::min<size_t>(capacity, size_t(kMaxSize));
    storage_.resize(std::max(capacity, need));
}

void TIdBuffer::AppendBytes(TBytes&& bytes) {
    CheckRoom(bytes.size());
    if (bytes.empty()) return;
    if (dataSize_ == 0) {
        storage_ = std::move(bytes);
        headOffset_ = 0;
        dataSize_ = int32_t(storage_.size());
        return;
    }
    AppendBytes(std::span<const uint8_t>(bytes));
}

void TIdBuffer::AppendBytes(std::span<const uint8_t> bytes) {
    CheckRoom(bytes.size());
    if (bytes.empty()) return;
    Reserve(bytes.size());
    std::memcpy(storage_.data() + dataSize_, bytes.data(), bytes.size());
    dataSize_ += int32_t(bytes.size());
}

void TIdBuffer::ExtractBytes(TBytes& bytes, int32_t count, bool append) {
    count = CheckedCount(count);
    if (count < 1) return;
    size_t at = 0;
    if (append) {
        at = bytes.size();
        bytes.resize(at + size_t(count));
    } else if (bytes.size() < size_t(count)) {
        bytes.resize(size_t(count));
    }
    std::memcpy(bytes.data() + at, storage_.data() + headOffset_, size_t(count));
    Consume(count);
}

std::string TIdBuffer::ExtractText(int32_t count) {
    count = CheckedCount(count);
    if (count < 1) return {};
    std::string text(reinterpret_cast<const char*>(storage_.data()) + headOffset_, size_t(count));
    Consume(count);
    return text;
}

void TIdBuffer::MoveTo(TIdBuffer& other, int32_t count) {
    count = CheckedCount(count);
    if (count < 1) return;
    other.AppendBytes(Data().first(size_t(count)));
    Consume(count);
}

void TIdBuffer::WriteToStream(TIdStream& stream, int32_t count) {
    CompactToFront();
    count = CheckedCount(count);
    if (count < 1) return;
    TBytes bytes(storage_.begin(), storage_.begin() + count);
    stream.StreamWriteBytes(bytes, count);
    Consume(count);
}

void TIdBuffer::Consume(int32_t count) {
    if (count <= 0) return;
    if (count >= dataSize_) {
        EmptyBuffer();
    } else {
        headOffset_ += count;
        dataSize_ -= count;
        if (headOffset_ > GrowthStep) CompactToFront(true);
    }
    if (RemovalNotice) RemovalNotice(this, count);
}

void TIdBuffer::CompactToFront(bool mayShrink) {
    if (headOffset_ == 0) return;
    std::memmove(storage_.data(), storage_.data() + headOffset_, size_t(dataSize_));
    headOffset_ = 0;
    if (mayShrink && int64_t(storage_.size()) - dataSize_ > GrowthStep) {
        storage_.resize(size_t(dataSize_) + size_t(GrowthStep));
        storage_.shrink_to_fit();
    }
}

int32_t TIdBuffer::FindText(std::string_view text, int32_t start) const {
    return FindBytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()), start);
}

int32_t TIdBuffer::FindBytes(std::span<const uint8_t> bytes, int32_t start) const {
    if (dataSize_ == 0) return -1;
    if (bytes.empty()) EIdException::RaiseIdException("Buffer terminator must be specified.");
    if (start < 0 || start >= dataSize_) EIdException::RaiseIdException("Buffer start position is invalid.");
    const std::span<const uint8_t> data = Data();
    const auto it = std::search(data.begin() + start, data.end(), bytes.begin(), bytes.end());
    return it == data.end() ? -1 : int32_t(it - data.begin());
}
