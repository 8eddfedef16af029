// crypto/base/SBSharedResource.cpp: the reader-writer lock's bookkeeping.
//
// One mutex guards the counters; waiting happens on two condition variables outside any
// other lock. Holds are counted per thread, which is what makes the lock safe to re-enter:
// a thread's second read never queues behind a writer that waits for its first, and the
// last reader is never mistaken for a sole reader while others still read.
//
// Writer preference falls out of the predicates: readers wait while any writer (or an
// upgrading reader) waits, and the counter of waiting writers drops only when a writer has
// taken the lock, so a release cannot hand the lock to readers in between.
#include "crypto/base/SBSharedResource.h"

void TElSharedResource::AcquireRead() {
    if (!Enabled) return;
    std::unique_lock<std::mutex> lock(mutex_);
    const std::thread::id me = std::this_thread::get_id();
    if (active_ == -1 && writer_ == me) {
        ++writeDepth_;
        return;
    }
    if (auto it = readHolds_.find(me); it != readHolds_.end()) {
        ++it->second;
        return;
    }
    ++waitingReaders_;
    readersCv_.wait(lock, [&] { return active_ >= 0 && waitingWriters_ == 0; });
    --waitingReaders_;
    readHolds_[me] = 1;
    ++active_;
}

void TElSharedResource::AcquireWrite() {
    if (!Enabled) return;
    std::unique_lock<std::mutex> lock(mutex_);
    const std::thread::id me = std::this_thread::get_id();
    if (active_ == -1 && writer_ == me) {
        ++writeDepth_;
        return;
    }
    if (readHolds_.count(me) != 0) {
        // An upgrade: only the sole reader may write, so wait for the others to leave. Two
        // readers waiting for each other to leave would never wake; refuse the second.
        if (upgradePending_)
            throw ESharedResourceError("Shared resource: another reader is already waiting to write");
        if (active_ != 1) {
            upgradePending_ = true;
            ++waitingWriters_;
            writersCv_.wait(lock, [&] { return active_ == 1; });
            --waitingWriters_;
            upgradePending_ = false;
        }
        auto it = readHolds_.find(me);
        upgradedReadHolds_ = it->second;
        readHolds_.erase(it);
        active_ = -1;
        writer_ = me;
        writeDepth_ = 1;
        return;
    }
    ++waitingWriters_;
    writersCv_.wait(lock, [&] { return active_ == 0 && !upgradePending_; });
    --waitingWriters_;
    active_ = -1;
    writer_ = me;
    writeDepth_ = 1;
}

void TElSharedResource::Release() {
    if (!Enabled) return;
    std::unique_lock<std::mutex> lock(mutex_);
    const std::thread::id me = std::this_thread::get_id();
    if (active_ == -1 && writer_ == me) {
        if (--writeDepth_ > 0) return;
        writer_ = std::thread::id();
        if (upgradedReadHolds_ > 0) {
            // The upgraded reader goes back to reading with the holds it had.
            readHolds_[me] = upgradedReadHolds_;
            upgradedReadHolds_ = 0;
            active_ = 1;
        } else {
            active_ = 0;
        }
    } else {
        auto it = readHolds_.find(me);
        if (it == readHolds_.end())
            throw ESharedResourceError("Shared resource released by a thread that does not hold it");
        if (--it->second > 0) return;
        readHolds_.erase(it);
        --active_;
    }
    if (waitingWriters_ > 0) {
        // A free lock goes to a writer; one reader left may be an upgrade in waiting.
        if (active_ <= 1) writersCv_.notify_all();
    } else if (waitingReaders_ > 0 && active_ >= 0) {
        readersCv_.notify_all();
    }
}

int32_t TElSharedResource::ActiveCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return active_;
}

int32_t TElSharedResource::WaitingReaders() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waitingReaders_;
}

int32_t TElSharedResource::WaitingWriters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waitingWriters_;
}

int32_t TElSharedResource::WriteDepth() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writeDepth_;
}
