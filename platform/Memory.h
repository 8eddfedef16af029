// platform/Memory.h: memory for large buffers that are written once, from start to end.
//
// Memory fresh from the system costs a fault and a page of zeros for every 4 KB the first time
// it is touched: for the 15 MB of lines that a verification of 20,000 requisites logs, that cost
// more than writing the lines. A LargeBlock of 2 MB or more is taken from the system in whole,
// aligned 2 MB pieces that the system may back with huge pages (on Linux, transparent huge
// pages for memory that asks for them): one fault per piece. Where the system keeps to small
// pages, the block is ordinary memory. A smaller block comes from the ordinary heap.
//
// A block taken from the system reads as zeros until it is written (Zeroed), so a caller that
// needs zeros there writes none: the first write of a page is its fault, not a clearing pass
// over it. A block from the heap holds whatever was there before.
#pragma once

#include <cstddef>
#include <memory>

namespace plat {

class LargeBlock {
public:
    static constexpr size_t kPiece = size_t(2) << 20;

    LargeBlock() = default;
    // At least `size` bytes (a multiple of kPiece from kPiece on), zeroed only where Zeroed()
    // says so; raises std::bad_alloc when the memory cannot be had.
    explicit LargeBlock(size_t size);
    ~LargeBlock();
    LargeBlock(LargeBlock&& other) noexcept;
    LargeBlock& operator=(LargeBlock&& other) noexcept;
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;

    char* Data() const { return data_; }
    size_t Size() const { return size_; }
    // Every byte reads as zero until written: the block came straight from the system.
    bool Zeroed() const { return data_ != nullptr && !heap_; }

private:
    void Release() noexcept;

    std::unique_ptr<char[]> heap_;  // a small block; else the pieces are mapped
    char* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace plat
