// tests/support/GatedClock.h: a manual clock whose sleeps in other threads wait at a gate.
//
// Time moves only when someone sleeps (or Advance is called), as with plat::ManualClock. The
// thread that made the clock (the test's) never waits in Sleep; any other thread's Sleep
// waits while the gate is closed, then moves time on. So a worker that only sleeps (a
// time-out thread) stays where it is until the test opens the gate, while the test's own
// polls run on at once: whether a time-out fires is the test's decision, not the machine's
// speed. The destructor opens the gate and waits until no thread is inside Sleep; a test
// must see to it that no thread calls Sleep again afterwards (it waits for its threads).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/Clock.h"

namespace kwtest {

class GatedClock final : public plat::Clock {
public:
    explicit GatedClock(bool open = false) : open_(open) {}
    ~GatedClock() override {
        Open();
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return waiting_ == 0; });
    }

    std::chrono::system_clock::time_point Now() override {
        return std::chrono::system_clock::time_point(std::chrono::seconds(1'800'000'000)) +
               std::chrono::milliseconds(elapsed_.load());
    }
    uint64_t Ticks() override { return 1'000'000 + elapsed_.load(); }
    void Sleep(uint32_t ms) override {
        if (std::this_thread::get_id() != owner_) {
            std::unique_lock lock(mutex_);
            ++waiting_;
            cv_.notify_all();
            cv_.wait(lock, [&] { return open_; });
            --waiting_;
            cv_.notify_all();
        }
        elapsed_ += ms;
        std::this_thread::yield();
    }

    void Advance(uint64_t ms) { elapsed_ += ms; }
    uint64_t Elapsed() const { return elapsed_.load(); }

    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }
    void Close() {
        std::lock_guard lock(mutex_);
        open_ = false;
    }
    // Threads waiting at the gate now.
    int Waiting() {
        std::lock_guard lock(mutex_);
        return waiting_;
    }

private:
    const std::thread::id owner_ = std::this_thread::get_id();
    std::atomic<uint64_t> elapsed_{0};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_;
    int waiting_ = 0;
};

}  // namespace kwtest
