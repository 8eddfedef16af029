// database/engine/SDEngineRecordStore.h: where the record buffers of an open data set live (part of
// unit SDEngine).
//
// A data set with its default row cache keeps a record buffer for every row it fetched, each
// at the full width of its layout: a result of 200,000 rows with two wide text columns is some
// 100 MB of records. Taken from the heap a few hundred kilobytes at a time, that memory cost a
// fault and a page of zeros per 4 KB, and then a clearing pass before each row was written:
// more than converting the rows.
//
// The store is a rtl::RecordPool whose slabs are plat::LargeBlocks (TSDRecordBlocks): the
// first of kFirstBlock from the heap, so that a data set of a few rows keeps a few pages, each
// next one twice the last up to kLargestBlock. From plat::LargeBlock::kPiece on a block is
// mapped in aligned pieces that the system may back with huge pages, and comes zeroed, so a
// fresh row is not cleared before the fetch writes it and its memory costs one fault per piece.
// Records never span two blocks; the tail of a block too short for one more slot stays unused.
// Slots given back (rows deleted, a cache cleared for a refresh, the originals of committed
// rows, the rows a unidirectional data set let go) are handed out again, cleared, before any
// new block is taken, so a data set that refreshes or deletes and fetches again does not grow.
// Blocks stay until the pool goes: with the data set's last buffer after it closes or changes
// its layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Memory.h"
#include "rtl/DataSet.h"

class TSDRecordBlocks final : public rtl::RecordPool::SlabSource {
public:
    static constexpr size_t kFirstBlock = size_t(64) << 10;
    static constexpr size_t kLargestBlock = 4 * plat::LargeBlock::kPiece;

    // The next block: the planned size, or a larger one when a single slot needs it.
    uint8_t* NewSlab(size_t minimum, size_t& size, bool& zeroed) override;

    size_t BlockCount() const { return blocks_.size(); }
    const plat::LargeBlock& Block(size_t index) const { return blocks_.at(index); }

private:
    std::vector<plat::LargeBlock> blocks_;
    size_t next_ = kFirstBlock;
};

// A pool for records of that many bytes whose slabs are TSDRecordBlocks.
std::shared_ptr<rtl::RecordPool> NewSDRecordStore(size_t recordSize);
