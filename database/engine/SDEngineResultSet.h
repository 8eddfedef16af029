// database/engine/SDEngineResultSet.h: the row cache of an open SQL data set (part of unit SDEngine).
//
// TSDResultSet keeps the rows a TSDDataSet has fetched from its driver command: one entry per
// row in cursor order, each with the row's current record buffer and, once the row was changed
// after being fetched, a copy of its original buffer. Rows are fetched one at a time, only when
// a move or a count needs them; the cache keeps a current position (-1 before the first row, the
// row count after the last), each row's update status and record number in the buffer's header
// (layout in SDEngineDataSet.h), and a flag per entry that is 1 while the row matches the server.
// A unidirectional data set keeps only a window of rows: older unchanged entries lose their
// buffers as new rows arrive, and the released entries at the front of the cache are not kept
// at all (they are counted, and read as released rows), so that reading a long result this way
// costs no memory per row. The rare operations that rearrange entries (inserts, removals, sorts,
// a flag set on a released row) first bring the released entries back as empty ones.
//
// What must stay true:
//   - record numbers count the rows that are not deleted, from 0, in cache order; deleted rows
//     and new records carry -1; a row's bookmark is its index in the cache;
//   - an entry without buffers (released by a unidirectional data set) is never read: reading
//     it fails with "Record is not available locally";
//   - blob arrays are shared between a row, its original and the data set's buffers, and never
//     written in place (writers store new arrays), so the original keeps what was fetched;
//   - the filtered visible count is computed once per state of the rows and of the filter.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "rtl/DataSet.h"

class TSDDataSet;

class TSDResultSet {
public:
    TSDResultSet(TSDDataSet& dataSet, bool copyBlobs);
    ~TSDResultSet();
    TSDResultSet(const TSDResultSet&) = delete;
    TSDResultSet& operator=(const TSDResultSet&) = delete;

    // Frees every row; position -1, nothing deleted, not all fetched.
    void Clear();
    int Count() const { return base_ + int(items_.size()); }
    int Position() const { return position_; }
    void SetPosition(int position) { position_ = position; }
    int DeletedCount() const { return deletedCount_; }
    bool AllFetched() const { return allFetched_; }
    void SetAllFetched(bool value) { allFetched_ = value; }
    bool CopyBlobs() const { return copyBlobs_; }

    void ResetPosition() { position_ = -1; }
    void SetPositionToEnd() { position_ = Count(); }
    // One more row from the command; false at the end of its rows.
    bool FetchNext();
    // Every remaining row; the position stays.
    void FetchAll();
    // Moves by the mode and copies the row reached into the buffer; false when no shown row
    // was reached.
    bool GetRecord(rtl::RecordBuffer& buffer, rtl::TGetMode mode);
    bool MoveNextVisible();
    bool MovePrior();
    // The shown-status and filter test of a cached row.
    bool IsRowVisible(int index);
    int GetVisibleCount();

    // The row's buffers ("Record is not available locally" outside the rows or for an empty
    // entry). GetOldItemBuffer answers nullptr for a row without an original.
    rtl::RecordBuffer& GetItemBuffer(int index);
    rtl::RecordBuffer* GetOldItemBuffer(int index);
    bool HasEntry(int index) const;
    rtl::TUpdateStatus GetItemStatus(int index) const;
    // Keeps the deleted count as it is.
    void SetItemStatus(int index, rtl::TUpdateStatus status);
    uint8_t GetItemFlag(int index) const;
    void SetItemFlag(int index, uint8_t flag);
    int GetRowIndex(const rtl::RecordBuffer& buffer) const;
    // The first row of that record number that is not deleted; -1 when none.
    int FindRowIndex(int recordNumber);

    // A new row from a data set buffer; answers its index, which the buffer receives as record
    // number and bookmark.
    int InsertRow(rtl::RecordBuffer& buffer, bool append, bool setPosition);
    // Stores an edited record into its row (an original is kept from the first change on).
    void UpdateItem(const rtl::RecordBuffer& buffer);
    // Stores a new blob value into the row of the buffer.
    void ApplyBlob(int blobIndex, const rtl::RecordBuffer& buffer, rtl::BlobRef blob);
    // Marks the row of the buffer deleted (an inserted row goes at once); answers its index.
    int DeleteRow(const rtl::RecordBuffer& buffer);
    // Removes an entry; the rows after it move up.
    void DeleteItem(int index);
    // Accepts the applied change of one row.
    bool CommitItem(int index);
    void CommitStatuses();
    // Swaps two rows: record numbers, bookmark flags and bookmarks stay with the positions.
    void ExchangeItems(int i, int j);
    // Puts the rows in a new order: the row at position p becomes the one that was at
    // order[p]. Bookmarks and bookmark flags stay with the positions and record numbers are
    // counted again, so that rows hidden by a delete keep -1 wherever they land.
    void Reorder(const std::vector<int>& order);
    // Copies the data area and header (and blob references with copy blobs).
    void CopyRow(const rtl::RecordBuffer& source, rtl::RecordBuffer& target) const;

    // Changes whenever a row is added, changed or removed.
    uint64_t Generation() const { return generation_; }
    // A row's buffer was written in place (a record read again, an identity filled in).
    void RowWritten() { Changed(); }

private:
    struct Entry {
        uint8_t flag = 1;
        std::unique_ptr<rtl::RecordBuffer> current;
        std::unique_ptr<rtl::RecordBuffer> original;
    };

    // What every released row reads as. Set up before the program runs, so that reading it
    // checks no first use.
    static const Entry kReleased;
    // The entry of a row (a released row's reads as an empty one); "Record is not available
    // locally" outside the rows.
    const Entry& At(int index) const;
    // The entry of a row to change: a released row's entry is brought back first.
    Entry& Own(int index);
    // The entry of a row that has its buffers; "Record is not available locally" for others.
    Entry& Live(int index);
    // Brings the released entries at the front back as empty entries.
    void Materialize();
    bool Advance();
    void Renumber(int from);
    void Changed() { ++generation_; }

    TSDDataSet& dataSet_;
    bool copyBlobs_;
    int position_ = -1;
    int deletedCount_ = 0;
    bool allFetched_ = false;
    // The entries of rows base_ .. Count() - 1; the rows before base_ were released. A deque:
    // a cache of many rows grows by whole nodes, never by copying every entry into an array
    // twice as large (which left the old arrays behind as heap the rows could not use), and a
    // unidirectional data set lets go of its front entries at no cost.
    std::deque<Entry> items_;
    int base_ = 0;
    // The buffer of the last row a unidirectional data set let go, for its next row.
    std::unique_ptr<rtl::RecordBuffer> spare_;
    uint64_t generation_ = 0;
    // The filtered visible count and the states it was computed for.
    int cachedVisible_ = 0;
    uint64_t cachedGeneration_ = ~uint64_t(0);
    uint64_t cachedFilterGeneration_ = ~uint64_t(0);
};
