// crypto/base/SBSharedResource.h: TElSharedResource, the library's many-readers / one-writer lock.
//
// Guards the provider lists and random generator, the PKCS#11 module list, certificate
// storages and the TLS layer. What must stay true:
// - a writer is alone: no reader and no other writer holds the lock while it writes;
// - readers share the lock; a waiting writer keeps new readers out (writer preference), and a
//   release that frees the lock hands it to a waiting writer before any waiting reader;
// - it is re-entrant: a writer may take it again for reading or writing, and a thread that
//   already reads may read again even while a writer waits (it would otherwise wait for a
//   writer that waits for it);
// - a reader may take it for writing (an upgrade) only as the sole reader: the upgrade waits
//   until the other readers have left; a second thread asking for an upgrade while one is
//   pending would wait for ever, so it is refused with ESharedResourceError instead.
// Every acquisition is paired with one Release by the same thread; a Release by a thread
// that holds nothing raises ESharedResourceError and changes nothing. The lock must be idle
// when it is destroyed.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "crypto/base/SBUtils.h"

RTL_EXCEPTION(ESharedResourceError, ECryptoLibraryError);

class TElSharedResource final {
public:
    TElSharedResource() = default;
    ~TElSharedResource() = default;
    TElSharedResource(const TElSharedResource&) = delete;
    TElSharedResource& operator=(const TElSharedResource&) = delete;

    void AcquireRead();
    void AcquireWrite();
    void Release();

    // While false the three operations return at once without locking anything. Change it
    // only while nobody holds the lock.
    bool Enabled = true;

    // A snapshot of the bookkeeping, for diagnostics and tests: 0 free, n > 0 readers
    // (threads), -1 a writer.
    int32_t ActiveCount() const;
    int32_t WaitingReaders() const;
    int32_t WaitingWriters() const;
    // How many times the writing thread holds the lock (reads taken while writing included).
    int32_t WriteDepth() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable readersCv_;
    std::condition_variable writersCv_;
    int32_t active_ = 0;
    int32_t waitingReaders_ = 0;
    int32_t waitingWriters_ = 0;
    std::thread::id writer_;
    int32_t writeDepth_ = 0;
    // Read holds per reading thread; active_ counts the threads in it.
    std::unordered_map<std::thread::id, int32_t> readHolds_;
    // A reader waiting to become the writer, and its read holds, given back when it is done.
    bool upgradePending_ = false;
    int32_t upgradedReadHolds_ = 0;
};
