// tls/SBTimer.h: TElTimer, a component that fires OnTimer from a thread of its own every
// Interval milliseconds while it is enabled; the datagram engine's retransmission timer is
// built on it.
//
// TTimerThread is that thread. Its states: disabled (it waits until it is enabled or told to
// stop), counting (it waits on a condition variable until Interval milliseconds of
// plat::Clock's ticks have passed since the count began, or until it is disabled, given a new
// interval or told to stop, each of which ends the count without a tick), ticking (it calls the
// tick event outside its lock, then counts again from the moment the tick was due), stopped.
// A count begins when the timer is enabled or given an interval, at the caller's moment, not
// when the thread wakes. What must stay true:
// - no tick is delivered once the stop was asked: the flag is read under the lock after every
//   wait, and the thread is joined (or, when the owner goes from inside a tick, detached with
//   the state it shares) before the timer is gone;
// - time is read only from plat::Clock, so a test's ManualClock drives it; the waits poll the
//   clock at least every PollMs of real time, because a manual clock moves without telling.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "rtl/Component.h"

class TTimerThread final {
public:
    using TTickEvent = std::function<void()>;

    explicit TTimerThread(TTickEvent onTick);
    // Asks the thread to stop and waits for it; from inside a tick it is let go instead.
    ~TTimerThread();
    TTimerThread(const TTimerThread&) = delete;
    TTimerThread& operator=(const TTimerThread&) = delete;

    void SetInterval(uint32_t ms);
    uint32_t GetInterval() const;
    void SetEnabled(bool value);
    bool GetEnabled() const;

    // Longest real-time wait between two readings of the clock.
    static constexpr uint32_t PollMs = 20;

private:
    struct State {
        std::mutex m;
        std::condition_variable cv;
        uint32_t interval = 1000;
        bool enabled = true;
        bool terminate = false;
        uint64_t generation = 0;  // bumped by every change that ends a count
        uint64_t countStart = 0;  // the clock's ticks when the running count began
        TTickEvent onTick;
    };
    static void Execute(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;
    std::thread thread_;
};

class TElTimer final : public rtl::Component {
public:
    explicit TElTimer(rtl::Component* owner = nullptr);
    ~TElTimer() override;

    uint32_t GetInterval() const { return interval_; }
    void SetInterval(uint32_t ms);
    bool GetEnabled() const;
    void SetEnabled(bool value);

    std::function<void(rtl::Component* sender)> OnTimer;

private:
    uint32_t interval_ = 1000;
    std::unique_ptr<TTimerThread> thread_;
};
