// platform/Clock.h: the one clock and sleep of the system, replaceable in tests.
//
// Retries, polls and time-outs (waiting for the application, connection attempts, idle and
// reconnect timers) read time and sleep only through plat::GetClock(), so a test installs a
// ManualClock and a wait of minutes passes in milliseconds.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace plat {

class Clock {
public:
    virtual ~Clock() = default;
    // Wall-clock time.
    virtual std::chrono::system_clock::time_point Now() = 0;
    // Wall-clock time as cheaply as the system gives it, at the resolution of its timer tick
    // (it trails Now() by a few milliseconds at most, as the original platform's local time
    // did): for stamps that show whole seconds and are taken many times a second. Now()
    // unless the clock has something cheaper.
    virtual std::chrono::system_clock::time_point CoarseNow() { return Now(); }
    // Milliseconds since an arbitrary start, monotonic.
    virtual uint64_t Ticks() = 0;
    virtual void Sleep(uint32_t ms) = 0;

    // The 32-bit millisecond counter of the original (wraps after 49.7 days).
    uint32_t TickCount() { return uint32_t(Ticks()); }
};

// The real clock.
class SystemClock final : public Clock {
public:
    std::chrono::system_clock::time_point Now() override;
    std::chrono::system_clock::time_point CoarseNow() override;
    uint64_t Ticks() override;
    void Sleep(uint32_t ms) override;
};

// A clock for tests: time moves only when Sleep or Advance is called. Sleep returns at once
// (after yielding the processor), so polling loops run quickly but still in order. Safe to
// use from several threads.
class ManualClock final : public Clock {
public:
    explicit ManualClock(std::chrono::system_clock::time_point start =
                             std::chrono::system_clock::time_point(std::chrono::seconds(1'800'000'000)),
                         uint64_t startTicks = 1'000'000);
    std::chrono::system_clock::time_point Now() override;
    uint64_t Ticks() override;
    void Sleep(uint32_t ms) override;
    void Advance(uint64_t ms) { elapsed_ += ms; }
    // Total milliseconds slept or advanced so far.
    uint64_t Elapsed() const { return elapsed_; }

private:
    std::chrono::system_clock::time_point start_;
    uint64_t startTicks_;
    std::atomic<uint64_t> elapsed_{0};
};

// The clock in use; the system clock unless a test installed another.
Clock& GetClock();
// Installs a clock (nullptr restores the system clock). The caller keeps ownership.
void SetClock(Clock* clock);

// Installs a clock for the lifetime of the object.
class ScopedClock {
public:
    explicit ScopedClock(Clock& clock) { SetClock(&clock); }
    ~ScopedClock() { SetClock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace plat
