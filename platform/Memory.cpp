// platform/Memory.cpp: large blocks in huge-page-sized pieces (mmap, madvise).
#include "platform/Memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>
#include <utility>

namespace plat {

LargeBlock::LargeBlock(size_t size) {
    if (size < kPiece) {
        heap_ = std::make_unique_for_overwrite<char[]>(size);  // the caller writes before it reads
        data_ = heap_.get();
        size_ = size;
        return;
    }
    if (size > SIZE_MAX - 2 * kPiece) throw std::bad_alloc();
    size_ = (size + kPiece - 1) / kPiece * kPiece;
    // One piece more than asked, so that an aligned run of pieces lies inside; the rest on
    // either side goes back at once.
    const size_t taken = size_ + kPiece;
    void* p = ::mmap(nullptr, taken, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = (start + kPiece - 1) / kPiece * kPiece;
    if (aligned > start) ::munmap(p, aligned - start);
    const uintptr_t end = start + taken;
    if (end > aligned + size_) ::munmap(reinterpret_cast<void*>(aligned + size_), end - (aligned + size_));
    data_ = reinterpret_cast<char*>(aligned);
    // Only a wish: a system without huge pages, or without any free, gives small ones.
    ::madvise(data_, size_, MADV_HUGEPAGE);
}

LargeBlock::~LargeBlock() {
    Release();
}

LargeBlock::LargeBlock(LargeBlock&& other) noexcept
    : heap_(std::move(other.heap_)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

LargeBlock& LargeBlock::operator=(LargeBlock&& other) noexcept {
    if (this != &other) {
        Release();
        heap_ = std::move(other.heap_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void LargeBlock::Release() noexcept {
    if (data_ != nullptr && !heap_) ::munmap(data_, size_);
    heap_.reset();
    data_ = nullptr;
    size_ = 0;
}

}  // namespace plat
