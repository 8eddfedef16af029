// TElSharedResource: readers together, writers alone, writer preference, re-entry, upgrades
// only for a sole reader, and releases that do not match an acquisition. Meant to run under
// ThreadSanitizer as well (build with -DKW_TSAN=ON): the shared data the critical sections
// guard is deliberately plain, so a lapse of exclusion shows up as a data race too.
//
// Ordering is observed through the lock's own counters (waiting readers and writers), never
// through sleeps; a step that does not finish within a generous guard fails the test and
// ends the program instead of hanging it.
#include "crypto/base/SBSharedResource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <latch>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kGuard = 20s;

// Polls until the condition holds; a lock that never gets there fails the test.
bool WaitUntil(const std::function<bool()>& done) {
    return kwtest::Eventually(done, kGuard, std::chrono::milliseconds(1));
}

// A state the lock must reach; like MustFinish, a lock that never gets there ends the run.
void Reach(const std::function<bool()>& condition, const char* what) {
    if (!WaitUntil(condition)) {
        std::fprintf(stderr, "deadlock: never reached %s\n", what);
        std::fflush(stderr);
        std::_Exit(1);
    }
}

// A step that must complete; a deadlock ends the run with a message rather than a hang.
void MustFinish(std::future<void>& f, const char* what) {
    if (f.wait_for(kGuard) != std::future_status::ready) {
        std::fprintf(stderr, "deadlock: %s did not finish\n", what);
        std::fflush(stderr);
        std::_Exit(1);
    }
    f.get();
}

// A thread that runs the steps it is given one at a time, so a test can drive several
// threads through the lock in a chosen order.
class Actor {
public:
    Actor() : thread_([this] { Loop(); }) {}
    ~Actor() {
        Post([] {}, true);
        thread_.join();
    }
    // Starts a step; the future is ready when it has run.
    std::future<void> Post(std::function<void()> step, bool last = false) {
        std::packaged_task<void()> task(std::move(step));
        auto f = task.get_future();
        {
            std::lock_guard<std::mutex> l(m_);
            task_ = std::move(task);
            last_ = last;
        }
        ready_.release();
        return f;
    }
    // Runs a step and waits for it.
    void Do(std::function<void()> step, const char* what) {
        auto f = Post(std::move(step));
        MustFinish(f, what);
    }

private:
    void Loop() {
        for (;;) {
            ready_.acquire();
            std::packaged_task<void()> task;
            bool last;
            {
                std::lock_guard<std::mutex> l(m_);
                task = std::move(task_);
                last = last_;
            }
            task();
            if (last) return;
        }
    }

    std::mutex m_;
    std::packaged_task<void()> task_;
    bool last_ = false;
    std::binary_semaphore ready_{0};
    std::thread thread_;
};

TEST(TElSharedResource, ReadersHoldItTogether) {
    TElSharedResource lock;
    constexpr int kReaders = 4;
    std::atomic<int> inside{0};
    std::atomic<bool> allInside{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < kReaders; ++i) {
        readers.emplace_back([&] {
            lock.AcquireRead();
            ++inside;
            // Nobody leaves before everybody is in: exclusive readers would never get here.
            WaitUntil([&] { return inside.load() == kReaders; });
            if (lock.ActiveCount() == kReaders) allInside = true;
            lock.Release();
        });
    }
    for (auto& t : readers)
        t.join();
    EXPECT_TRUE(allInside.load());
    EXPECT_EQ(lock.ActiveCount(), 0);
}

TEST(TElSharedResource, WritersAreAlone) {
    TElSharedResource lock;
    // The counters are relaxed so that they add no ordering of their own: only the lock may
    // order the accesses to the plain shared words.
    std::atomic<int> readersIn{0}, writersIn{0};
    std::atomic<int> violations{0};
    uint64_t guarded[2] = {0, 0};  // kept equal by every writer; plain on purpose
    constexpr int kThreads = 6, kRounds = 2000;
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < kRounds; ++i) {
                if ((i + t) % 3 == 0) {
                    lock.AcquireWrite();
                    if (writersIn.fetch_add(1, std::memory_order_relaxed) != 0 ||
                        readersIn.load(std::memory_order_relaxed) != 0)
                        violations.fetch_add(1, std::memory_order_relaxed);
                    // Re-entry while writing: a read and a second write.
                    lock.AcquireRead();
                    lock.AcquireWrite();
                    const uint64_t v = guarded[0];
                    for (int spin = 0; spin < 50; ++spin)
                        std::atomic_signal_fence(std::memory_order_seq_cst);
                    guarded[0] = v + 1;
                    guarded[1] = v + 1;
                    lock.Release();
                    lock.Release();
                    writersIn.fetch_sub(1, std::memory_order_relaxed);
                    lock.Release();
                } else {
                    lock.AcquireRead();
                    readersIn.fetch_add(1, std::memory_order_relaxed);
                    if (writersIn.load(std::memory_order_relaxed) != 0)
                        violations.fetch_add(1, std::memory_order_relaxed);
                    if (guarded[0] != guarded[1]) violations.fetch_add(1, std::memory_order_relaxed);
                    readersIn.fetch_sub(1, std::memory_order_relaxed);
                    lock.Release();
                }
            }
        });
    }
    for (auto& th : threads)
        th.join();
    uint64_t expected = 0;
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kRounds; ++i)
            if ((i + t) % 3 == 0) ++expected;
    EXPECT_EQ(violations.load(), 0);
    EXPECT_EQ(guarded[0], expected) << "a lost update means two writers overlapped";
    EXPECT_EQ(lock.ActiveCount(), 0);
    EXPECT_EQ(lock.WriteDepth(), 0);
}

// Two readers hold it and a writer waits: a third reader waits too; when both readers have
// left the writer runs, and only after it the third reader.
TEST(TElSharedResource, WaitingWriterGoesBeforeNewReaders) {
    TElSharedResource lock;
    Actor r1, r2, w, r3;
    std::mutex logMutex;
    std::vector<std::string> log;
    auto note = [&](const char* s) {
        std::lock_guard<std::mutex> l(logMutex);
        log.push_back(s);
    };
    r1.Do([&] { lock.AcquireRead(); }, "first reader");
    r2.Do([&] { lock.AcquireRead(); }, "second reader");
    auto writer = w.Post([&] {
        lock.AcquireWrite();
        note("writer");
    });
    Reach([&] { return lock.WaitingWriters() == 1; }, "one waiting writer");
    auto reader = r3.Post([&] {
        lock.AcquireRead();
        note("third reader");
    });
    Reach([&] { return lock.WaitingReaders() == 1; }, "one waiting reader");

    r1.Do([&] { lock.Release(); }, "first reader's release");
    EXPECT_EQ(lock.ActiveCount(), 1);
    EXPECT_EQ(lock.WaitingWriters(), 1);
    r2.Do([&] { lock.Release(); }, "second reader's release");
    MustFinish(writer, "the writer's acquisition");
    EXPECT_EQ(lock.ActiveCount(), -1);
    EXPECT_EQ(lock.WaitingReaders(), 1) << "the third reader must still wait";
    w.Do([&] { lock.Release(); }, "writer's release");
    MustFinish(reader, "the third reader's acquisition");
    EXPECT_EQ(lock.ActiveCount(), 1);
    r3.Do([&] { lock.Release(); }, "third reader's release");
    EXPECT_EQ(log, (std::vector<std::string>{"writer", "third reader"}));
    EXPECT_EQ(lock.ActiveCount(), 0);
}

TEST(TElSharedResource, WriterReentersForReadingAndWriting) {
    TElSharedResource lock;
    lock.AcquireWrite();
    lock.AcquireRead();
    EXPECT_EQ(lock.ActiveCount(), -1);
    EXPECT_EQ(lock.WriteDepth(), 2);
    lock.Release();
    lock.Release();
    EXPECT_EQ(lock.ActiveCount(), 0);
    EXPECT_EQ(lock.WriteDepth(), 0);

    lock.AcquireWrite();
    lock.AcquireWrite();
    lock.AcquireRead();
    lock.Release();
    lock.Release();
    EXPECT_EQ(lock.ActiveCount(), -1) << "one write hold is left";
    // Another thread cannot get in until the last release.
    Actor other;
    auto read = other.Post([&] { lock.AcquireRead(); });
    Reach([&] { return lock.WaitingReaders() == 1; }, "one waiting reader");
    lock.Release();
    MustFinish(read, "the other thread's read");
    EXPECT_EQ(lock.ActiveCount(), 1);
    other.Do([&] { lock.Release(); }, "the other thread's release");
    EXPECT_EQ(lock.ActiveCount(), 0);
}

// A thread that reads may read again while a writer waits; queueing it behind the writer,
// which waits for this very thread, would hang both.
TEST(TElSharedResource, ReentrantReadIsNotQueuedBehindAWaitingWriter) {
    TElSharedResource lock;
    Actor reader, writer;
    reader.Do([&] { lock.AcquireRead(); }, "first read");
    auto w = writer.Post([&] { lock.AcquireWrite(); });
    Reach([&] { return lock.WaitingWriters() == 1; }, "one waiting writer");
    reader.Do([&] { lock.AcquireRead(); }, "the nested read");
    EXPECT_EQ(lock.ActiveCount(), 1);
    reader.Do([&] { lock.Release(); }, "nested release");
    EXPECT_EQ(lock.ActiveCount(), 1) << "one read hold is left";
    EXPECT_EQ(lock.WaitingWriters(), 1);
    reader.Do([&] { lock.Release(); }, "last release");
    MustFinish(w, "the writer");
    EXPECT_EQ(lock.ActiveCount(), -1);
    writer.Do([&] { lock.Release(); }, "writer's release");
    EXPECT_EQ(lock.ActiveCount(), 0);
}

// The last reader to arrive is not a sole reader: its write must wait until the others
// have left, and when it is done it is a reader again.
TEST(TElSharedResource, UpgradeWaitsUntilTheReaderIsAlone) {
    TElSharedResource lock;
    Actor first, last;
    first.Do([&] { lock.AcquireRead(); }, "first read");
    last.Do([&] { lock.AcquireRead(); }, "second read");
    auto upgrade = last.Post([&] { lock.AcquireWrite(); });
    Reach([&] { return lock.WaitingWriters() == 1; }, "one waiting writer");
    EXPECT_EQ(lock.ActiveCount(), 2) << "no writer while another reader holds the lock";
    first.Do([&] { lock.Release(); }, "first release");
    MustFinish(upgrade, "the upgrade");
    EXPECT_EQ(lock.ActiveCount(), -1);
    EXPECT_EQ(lock.WriteDepth(), 1);
    last.Do([&] { lock.Release(); }, "write release");
    EXPECT_EQ(lock.ActiveCount(), 1) << "back to reading";
    last.Do([&] { lock.Release(); }, "read release");
    EXPECT_EQ(lock.ActiveCount(), 0);

    // A sole reader upgrades at once.
    lock.AcquireRead();
    lock.AcquireWrite();
    EXPECT_EQ(lock.ActiveCount(), -1);
    lock.Release();
    lock.Release();
    EXPECT_EQ(lock.ActiveCount(), 0);
}

// Two readers that both want to write would wait for each other for ever: the second is
// refused and keeps its read hold.
TEST(TElSharedResource, SecondPendingUpgradeIsRefused) {
    TElSharedResource lock;
    Actor a, b;
    a.Do([&] { lock.AcquireRead(); }, "a reads");
    b.Do([&] { lock.AcquireRead(); }, "b reads");
    auto upgrade = a.Post([&] { lock.AcquireWrite(); });
    Reach([&] { return lock.WaitingWriters() == 1; }, "one waiting writer");
    bool refused = false;
    b.Do(
        [&] {
            try {
                lock.AcquireWrite();
            } catch (const ESharedResourceError&) {
                refused = true;
            }
        },
        "b's upgrade");
    EXPECT_TRUE(refused);
    EXPECT_EQ(lock.ActiveCount(), 2);
    b.Do([&] { lock.Release(); }, "b releases");
    MustFinish(upgrade, "a's upgrade");
    a.Do(
        [&] {
            lock.Release();
            lock.Release();
        },
        "a releases");
    EXPECT_EQ(lock.ActiveCount(), 0);
}

TEST(TElSharedResource, ReleaseWithoutAcquisitionIsRefused) {
    TElSharedResource lock;
    EXPECT_THROW(lock.Release(), ESharedResourceError);
    EXPECT_EQ(lock.ActiveCount(), 0);
    EXPECT_EQ(lock.WriteDepth(), 0);

    // Another thread's read is not this thread's to release.
    Actor reader;
    reader.Do([&] { lock.AcquireRead(); }, "read");
    EXPECT_THROW(lock.Release(), ESharedResourceError);
    EXPECT_EQ(lock.ActiveCount(), 1);
    reader.Do([&] { lock.Release(); }, "release");
    EXPECT_EQ(lock.ActiveCount(), 0);
    // Nor is a writer's.
    reader.Do([&] { lock.AcquireWrite(); }, "write");
    EXPECT_THROW(lock.Release(), ESharedResourceError);
    EXPECT_EQ(lock.WriteDepth(), 1);
    reader.Do([&] { lock.Release(); }, "release");
    EXPECT_EQ(lock.ActiveCount(), 0);
}

TEST(TElSharedResource, DisabledLockExcludesNobody) {
    TElSharedResource lock;
    lock.Enabled = false;
    Actor other;
    lock.AcquireWrite();
    other.Do([&] { lock.AcquireWrite(); }, "a second writer");
    EXPECT_EQ(lock.ActiveCount(), 0);
    other.Do([&] { lock.Release(); }, "its release");
    lock.Release();
    EXPECT_EQ(lock.ActiveCount(), 0);
}

}  // namespace
