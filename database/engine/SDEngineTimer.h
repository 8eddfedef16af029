// database/engine/SDEngineTimer.h: the timer thread of the database component's idle and reconnect
// time-outs (part of unit SDEngine).
//
// A TSDThreadTimer runs rounds on a thread of its own: each round waits its interval in
// steps of 500 ms and then calls its event on the timer's thread. A timer that has a
// database stops a round's wait early when that database's idle flag is clear, so driver
// activity re-arms the idle time-out at the next step. The interval is read again each
// round; 0 or less ends the thread after the current round.
//
// Waiting: time is read only through plat::GetClock(), so a test that installs a
// plat::ManualClock drives the timer by advancing the clock. A step ends when the clock has
// moved 500 ms from the step's start; between checks the thread sleeps on a condition
// variable for the rest of the step (the system clock) or for 2 ms of real time (any other
// clock, which only moves when someone moves it). Terminate wakes the thread at once.
// Waits(), Steps() and Rounds() count begun waits, finished steps and rounds, so a test can
// advance the clock only while the timer waits and then wait until it has seen the time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class TSDDatabase;

class TSDThreadTimer {
public:
    using TSDTimerEvent = std::function<void(TSDThreadTimer& sender)>;

    static constexpr int32_t kStepMs = 500;

    // database: the database whose idle flag may cut a wait short, or nullptr. The thread
    // starts at once unless createSuspended; then Resume starts it. The interval starts at
    // 1000 ms.
    TSDThreadTimer(TSDDatabase* database, bool createSuspended);
    // Terminates the thread and waits for it.
    virtual ~TSDThreadTimer();
    TSDThreadTimer(const TSDThreadTimer&) = delete;
    TSDThreadTimer& operator=(const TSDThreadTimer&) = delete;

    void Resume();
    // Asks the thread to end; it ends after the event that may be running.
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Waits until the thread has ended (nothing when it never started). Never call it from
    // the timer's own thread.
    void WaitFor();
    // The thread has run and ended.
    bool Finished() const { return finished_; }
    bool OnTimerThread() const { return std::this_thread::get_id() == threadId_.load(); }

    // Stored when it differs; read again at the next round.
    void SetInterval(int32_t ms);
    int32_t Interval() const { return interval_; }
    void SetOnTimer(TSDTimerEvent event);
    // Runs on the timer's thread when it ends.
    void SetOnTerminate(TSDTimerEvent event);

    uint64_t Steps() const { return steps_; }
    uint64_t Rounds() const { return rounds_; }
    // Waits begun (each after its end time was read from the clock).
    uint64_t Waits() const { return waits_; }
    // The message of the exception that ended the thread, or "".
    std::string LastError() const;

protected:
    // Calls the event when one is set and the thread is not terminated.
    virtual void Timer();

private:
    void Execute();
    // Waits one step; false when the thread was terminated meanwhile.
    bool WaitStep();

    TSDDatabase* database_;
    std::atomic<int32_t> interval_{1000};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<uint64_t> steps_{0};
    std::atomic<uint64_t> rounds_{0};
    std::atomic<uint64_t> waits_{0};
    std::atomic<std::thread::id> threadId_{};
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    TSDTimerEvent onTimer_;
    TSDTimerEvent onTerminate_;
    std::string lastError_;
    std::thread thread_;
};
