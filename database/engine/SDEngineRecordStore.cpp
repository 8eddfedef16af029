// database/engine/SDEngineRecordStore.cpp: the record blocks of an open data set.
#include "database/engine/SDEngineRecordStore.h"

#include <algorithm>

uint8_t* TSDRecordBlocks::NewSlab(size_t minimum, size_t& size, bool& zeroed) {
    plat::LargeBlock& block = blocks_.emplace_back(std::max(next_, minimum));
    next_ = std::min(next_ * 2, kLargestBlock);
    size = block.Size();
    zeroed = block.Zeroed();
    return reinterpret_cast<uint8_t*>(block.Data());
}

std::shared_ptr<rtl::RecordPool> NewSDRecordStore(size_t recordSize) {
    return std::make_shared<rtl::RecordPool>(recordSize, std::make_unique<TSDRecordBlocks>());
}
