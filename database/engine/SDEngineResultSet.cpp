// database/engine/SDEngineResultSet.cpp: the row cache of an open SQL data set.
#include "database/engine/SDEngineResultSet.h"

#include <cstring>

#include "database/engine/SDEngineDataSet.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"

using rtl::RecordBuffer;
using rtl::TUpdateStatus;
using rtl::usDeleted;
using rtl::usInserted;
using rtl::usModified;
using rtl::usUnmodified;

namespace {

[[noreturn]] void NotAvailable() {
    throw rtl::EDatabaseError("Record is not available locally");
}

}  // namespace

TSDResultSet::TSDResultSet(TSDDataSet& dataSet, bool copyBlobs) : dataSet_(dataSet), copyBlobs_(copyBlobs) {}

TSDResultSet::~TSDResultSet() = default;

void TSDResultSet::Clear() {
    position_ = -1;
    items_.clear();
    base_ = 0;
    spare_.reset();
    deletedCount_ = 0;
    allFetched_ = false;
    Changed();
}

constinit const TSDResultSet::Entry TSDResultSet::kReleased;

const TSDResultSet::Entry& TSDResultSet::At(int index) const {
    if (index < 0 || index >= Count()) NotAvailable();
    if (index < base_) return kReleased;
    return items_[size_t(index - base_)];
}

TSDResultSet::Entry& TSDResultSet::Own(int index) {
    if (index < 0 || index >= Count()) NotAvailable();
    if (index < base_) Materialize();
    return items_[size_t(index - base_)];
}

TSDResultSet::Entry& TSDResultSet::Live(int index) {
    if (index < base_ || index >= Count()) NotAvailable();
    Entry& e = items_[size_t(index - base_)];
    if (!e.current) NotAvailable();
    return e;
}

void TSDResultSet::Materialize() {
    // One at a time, so that the count stays true if the memory for one runs out.
    for (; base_ > 0; --base_)
        items_.emplace_front();
}

bool TSDResultSet::HasEntry(int index) const {
    return index >= base_ && index < Count() && items_[size_t(index - base_)].current != nullptr;
}

RecordBuffer& TSDResultSet::GetItemBuffer(int index) {
    return *Live(index).current;
}

RecordBuffer* TSDResultSet::GetOldItemBuffer(int index) {
    return Live(index).original.get();
}

TUpdateStatus TSDResultSet::GetItemStatus(int index) const {
    const Entry& e = At(index);
    if (!e.current) return usUnmodified;  // a released row was unchanged
    return dataSet_.StatusOf(*e.current);
}

void TSDResultSet::SetItemStatus(int index, TUpdateStatus status) {
    Entry& e = Live(index);
    dataSet_.SetStatusOf(*e.current, status);
    if (e.original) dataSet_.SetStatusOf(*e.original, status);
    Changed();
}

uint8_t TSDResultSet::GetItemFlag(int index) const {
    return At(index).flag;
}

void TSDResultSet::SetItemFlag(int index, uint8_t flag) {
    if (index >= 0 && index < base_ && flag == 1) return;  // what a released row reads already
    Own(index).flag = flag;
}

int TSDResultSet::GetRowIndex(const RecordBuffer& buffer) const {
    return dataSet_.BookmarkOf(buffer);
}

int TSDResultSet::FindRowIndex(int recordNumber) {
    // Released rows have no buffer to match.
    for (int i = base_; i < Count(); ++i) {
        const Entry& e = items_[size_t(i - base_)];
        if (!e.current) continue;
        if (dataSet_.RecNoOf(*e.current) == recordNumber && dataSet_.StatusOf(*e.current) != usDeleted)
            return i;
    }
    return -1;
}

void TSDResultSet::CopyRow(const RecordBuffer& source, RecordBuffer& target) const {
    const size_t dataSize = size_t(dataSet_.RecordDataSize());
    std::memcpy(target.Data(), source.Data(), dataSize);
    const size_t header = size_t(dataSet_.HeaderOffset());
    std::memcpy(target.Data() + header, source.Data() + header, 10);
    if (copyBlobs_)
        for (size_t i = 0; i < source.BlobCount() && i < target.BlobCount(); ++i)
            target.SetBlob(i, source.Blob(i));
}

// ---------------------------------------------------------------------------------------------
// Fetching

bool TSDResultSet::FetchNext() {
    if (allFetched_) return false;
    if (!dataSet_.CommandHasHandle()) return false;
    if (!dataSet_.FetchCommandRow()) {
        if (dataSet_.DetachOnFetchAll()) dataSet_.Detach();
        allFetched_ = true;
        return false;
    }
    const int index = Count();
    std::unique_ptr<RecordBuffer> buffer = std::move(spare_);
    if (buffer) {
        std::memset(buffer->Data(), 0, buffer->Size());
        buffer->ClearBlobs();
    } else {
        buffer = dataSet_.NewRecordBuffer();
    }
    dataSet_.SetRecNoOf(*buffer, index - deletedCount_);
    dataSet_.SetStatusOf(*buffer, usUnmodified);
    dataSet_.SetBookmarkFlagOf(*buffer, rtl::bfCurrent);
    dataSet_.SetBookmarkOf(*buffer, index);
    dataSet_.CopyRowFromCommand(*buffer);
    if (dataSet_.UniDirectional() && items_.size() == 1 && dataSet_.RecordBufferCount() == 1) {
        // The usual step of a unidirectional read: the one row kept goes (its buffer serves the
        // next row) and the new one takes its entry, as the general steps below would leave it.
        Entry& only = items_.front();
        if (only.current && only.flag == 1 && !only.original &&
            dataSet_.StatusOf(*only.current) == usUnmodified) {
            spare_ = std::move(only.current);
            only.current = std::move(buffer);
            ++base_;
            position_ = index;
            Changed();
            return true;
        }
    }
    Entry entry;
    entry.current = std::move(buffer);
    items_.push_back(std::move(entry));
    position_ = index;
    Changed();
    if (dataSet_.UniDirectional()) {
        // Keep only as many recent rows as the data set has record buffers; the buffer of the
        // oldest unchanged one serves the next row.
        const int release = Count() - dataSet_.RecordBufferCount() - 1;
        if (release >= base_) {
            Entry& old = items_[size_t(release - base_)];
            if (old.current && dataSet_.StatusOf(*old.current) == usUnmodified) {
                spare_ = std::move(old.current);
                old.original.reset();
            }
        }
        // Released entries at the front are not kept (unless a flag was set on one).
        while (!items_.empty() && !items_.front().current && items_.front().flag == 1) {
            items_.pop_front();
            ++base_;
        }
    }
    return true;
}

void TSDResultSet::FetchAll() {
    if (allFetched_) return;
    const int saved = position_;
    while (FetchNext()) {
    }
    position_ = saved;
}

// ---------------------------------------------------------------------------------------------
// Moves

bool TSDResultSet::Advance() {
    if (position_ + 1 < Count()) {
        ++position_;
        return true;
    }
    if (position_ >= Count()) position_ = Count() - 1;
    return FetchNext();
}

bool TSDResultSet::IsRowVisible(int index) {
    const Entry& e = At(index);
    const TUpdateStatus status = e.current ? dataSet_.StatusOf(*e.current) : usUnmodified;
    if (!dataSet_.IsStatusShown(status)) return false;
    if (!dataSet_.Filtered()) return true;
    if (!e.current) NotAvailable();
    return dataSet_.FilterRecord(*e.current);
}

bool TSDResultSet::MoveNextVisible() {
    for (;;) {
        if (!Advance()) return false;
        if (IsRowVisible(position_)) return true;
    }
}

bool TSDResultSet::MovePrior() {
    if (position_ > Count()) position_ = Count();
    while (position_ > 0) {
        --position_;
        if (IsRowVisible(position_)) return true;
    }
    return false;
}

bool TSDResultSet::GetRecord(RecordBuffer& buffer, rtl::TGetMode mode) {
    bool found = false;
    switch (mode) {
        case rtl::gmNext:
            found = MoveNextVisible();
            break;
        case rtl::gmPrior:
            if (position_ > Count()) position_ = Count();
            if (position_ < 0) return false;
            while (position_ >= 0) {
                --position_;
                if (position_ >= 0 && IsRowVisible(position_)) {
                    found = true;
                    break;
                }
            }
            break;
        case rtl::gmCurrent:
            if (position_ >= Count()) position_ = Count() - 1;
            if (position_ < 0) position_ = 0;
            if (position_ < Count() && IsRowVisible(position_))
                found = true;
            else
                found = MoveNextVisible();
            break;
    }
    if (!found) return false;
    const Entry& e = At(position_);
    if (!e.current) NotAvailable();
    CopyRow(*e.current, buffer);
    return true;
}

int TSDResultSet::GetVisibleCount() {
    if (!dataSet_.Filtered()) return std::max(Count() - deletedCount_, 0);
    if (cachedGeneration_ == generation_ && cachedFilterGeneration_ == dataSet_.FilterGeneration())
        return cachedVisible_;
    int visible = 0;
    for (int i = 0; i < Count(); ++i)
        if (IsRowVisible(i)) ++visible;
    cachedVisible_ = visible;
    cachedGeneration_ = generation_;
    cachedFilterGeneration_ = dataSet_.FilterGeneration();
    return visible;
}

// ---------------------------------------------------------------------------------------------
// Changes

void TSDResultSet::Renumber(int from) {
    // Record numbers count the rows that are not deleted. The count before `from` comes from the
    // nearest earlier row that has one, or from counting when a released row is in the way.
    int next = 0;
    bool counted = false;
    for (int i = from - 1; i >= 0; --i) {
        const Entry& e = At(i);
        if (!e.current) break;
        if (dataSet_.StatusOf(*e.current) != usDeleted) {
            next = dataSet_.RecNoOf(*e.current) + 1;
            counted = true;
            break;
        }
        if (i == 0) counted = true;  // only deleted rows before `from`
    }
    if (!counted && from > 0) {
        next = 0;
        for (int i = 0; i < from; ++i) {
            const Entry& e = At(i);
            if (!e.current || dataSet_.StatusOf(*e.current) != usDeleted) ++next;
        }
    }
    for (int i = from; i < Count(); ++i) {
        const Entry& e = At(i);
        if (!e.current) {
            ++next;
            continue;
        }
        const bool deleted = dataSet_.StatusOf(*e.current) == usDeleted;
        const int32_t r = deleted ? -1 : next++;
        for (RecordBuffer* buf : {e.current.get(), e.original.get()}) {
            if (!buf) continue;
            dataSet_.SetRecNoOf(*buf, r);
            dataSet_.SetBookmarkOf(*buf, i);
        }
    }
}

int TSDResultSet::InsertRow(RecordBuffer& buffer, bool append, bool setPosition) {
    Materialize();
    int index = dataSet_.BookmarkOf(buffer);
    if (index < 0) index = append ? Count() : std::max(position_, 0);
    if (index > Count()) index = Count();
    std::unique_ptr<RecordBuffer> row = dataSet_.NewRecordBuffer();
    CopyRow(buffer, *row);
    dataSet_.SetStatusOf(*row, usInserted);
    dataSet_.SetBookmarkFlagOf(*row, rtl::bfCurrent);
    dataSet_.SetBookmarkOf(*row, index);
    dataSet_.SetRecNoOf(*row, 0);
    Entry entry;
    entry.flag = 0;
    entry.current = std::move(row);
    items_.insert(items_.begin() + index, std::move(entry));
    Renumber(index);
    if (setPosition) position_ = index;
    const RecordBuffer& stored = *items_[size_t(index)].current;
    dataSet_.SetRecNoOf(buffer, dataSet_.RecNoOf(stored));
    dataSet_.SetBookmarkOf(buffer, index);
    Changed();
    return index;
}

void TSDResultSet::UpdateItem(const RecordBuffer& buffer) {
    const int index = dataSet_.BookmarkOf(buffer);
    Entry& e = Live(index);
    const TUpdateStatus status = dataSet_.StatusOf(*e.current);
    if ((status == usUnmodified || status == usModified) && !e.original) {
        e.original = dataSet_.NewRecordBuffer();
        std::memcpy(e.original->Data(), e.current->Data(), e.current->Size());
        for (size_t i = 0; i < e.current->BlobCount(); ++i)
            e.original->SetBlob(i, e.current->Blob(i));
        dataSet_.SetStatusOf(*e.current, usModified);
        dataSet_.SetStatusOf(*e.original, usModified);
    }
    e.flag = 0;
    std::memcpy(e.current->Data(), buffer.Data(), size_t(dataSet_.RecordDataSize()));
    Changed();
}

void TSDResultSet::ApplyBlob(int blobIndex, const RecordBuffer& buffer, rtl::BlobRef blob) {
    if (dataSet_.BookmarkFlagOf(buffer) == rtl::bfInserted || dataSet_.BookmarkOf(buffer) < 0) return;
    Entry& e = Live(dataSet_.BookmarkOf(buffer));
    const TUpdateStatus status = dataSet_.StatusOf(*e.current);
    if (status == usUnmodified || (status == usModified && !e.original)) UpdateItem(buffer);
    e.current->SetBlob(size_t(blobIndex), std::move(blob));
    Changed();
}

int TSDResultSet::DeleteRow(const RecordBuffer& buffer) {
    const int index = dataSet_.BookmarkOf(buffer);
    Entry& e = Live(index);
    if (dataSet_.StatusOf(*e.current) == usInserted) {
        DeleteItem(index);
        return index;
    }
    if (dataSet_.StatusOf(*e.current) != usDeleted) ++deletedCount_;
    e.flag = 0;
    dataSet_.SetStatusOf(*e.current, usDeleted);
    dataSet_.SetRecNoOf(*e.current, -1);
    if (e.original) {
        dataSet_.SetStatusOf(*e.original, usDeleted);
        dataSet_.SetRecNoOf(*e.original, -1);
    }
    Renumber(index + 1);
    Changed();
    return index;
}

void TSDResultSet::DeleteItem(int index) {
    Entry& e = Own(index);
    if (e.current && dataSet_.StatusOf(*e.current) == usDeleted) --deletedCount_;
    items_.erase(items_.begin() + (index - base_));
    if (position_ > index) --position_;
    Renumber(index);
    Changed();
}

bool TSDResultSet::CommitItem(int index) {
    if (index < base_ || index >= Count()) return false;  // a released row has nothing to commit
    Entry& e = items_[size_t(index - base_)];
    if (e.flag == 0 || !e.current) return false;
    switch (dataSet_.StatusOf(*e.current)) {
        case usModified:
            e.original.reset();
            dataSet_.SetStatusOf(*e.current, usUnmodified);
            break;
        case usInserted:
            dataSet_.SetStatusOf(*e.current, usUnmodified);
            break;
        case usDeleted:
            DeleteItem(index);
            return true;
        default:
            break;
    }
    e.flag = 1;
    Changed();
    return true;
}

void TSDResultSet::CommitStatuses() {
    for (Entry& e : items_) {
        if (!e.current || dataSet_.StatusOf(*e.current) == usUnmodified) continue;
        dataSet_.SetStatusOf(*e.current, usUnmodified);
        if (e.original) dataSet_.SetStatusOf(*e.original, usUnmodified);
        e.flag = 1;
    }
    Changed();
}

void TSDResultSet::ExchangeItems(int i, int j) {
    if (i == j) return;
    Entry& a = Live(i);
    Entry& b = Live(j);
    // What stays with the position: record number, bookmark flag and bookmark.
    const int32_t recA = dataSet_.RecNoOf(*a.current);
    const int32_t recB = dataSet_.RecNoOf(*b.current);
    const rtl::TBookmarkFlag flagA = dataSet_.BookmarkFlagOf(*a.current);
    const rtl::TBookmarkFlag flagB = dataSet_.BookmarkFlagOf(*b.current);
    std::swap(a, b);
    auto place = [&](Entry& e, int32_t rec, rtl::TBookmarkFlag flag, int index) {
        for (RecordBuffer* buf : {e.current.get(), e.original.get()}) {
            if (!buf) continue;
            dataSet_.SetRecNoOf(*buf, rec);
            dataSet_.SetBookmarkFlagOf(*buf, flag);
            dataSet_.SetBookmarkOf(*buf, index);
        }
    };
    place(a, recA, flagA, i);
    place(b, recB, flagB, j);
    Changed();
}

void TSDResultSet::Reorder(const std::vector<int>& order) {
    Materialize();
    std::vector<bool> seen(items_.size(), false);
    rtl::Assert(order.size() == items_.size(), "TSDResultSet.Reorder: the order must name every row");
    for (int from : order) {
        rtl::Assert(from >= 0 && from < Count() && !seen[size_t(from)],
                    "TSDResultSet.Reorder: the order must name every row once");
        seen[size_t(from)] = true;
    }
    std::vector<rtl::TBookmarkFlag> flags(items_.size());
    for (size_t p = 0; p < items_.size(); ++p) {
        if (!items_[p].current) NotAvailable();
        flags[p] = dataSet_.BookmarkFlagOf(*items_[p].current);
    }
    std::deque<Entry> sorted;
    for (int from : order)
        sorted.push_back(std::move(items_[size_t(from)]));
    items_ = std::move(sorted);
    for (size_t p = 0; p < items_.size(); ++p) {
        Entry& e = items_[p];
        for (RecordBuffer* buf : {e.current.get(), e.original.get()})
            if (buf) dataSet_.SetBookmarkFlagOf(*buf, flags[p]);
    }
    Renumber(0);
    Changed();
}
