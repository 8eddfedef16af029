// database/engine/SDEngineTimer.cpp: the timer thread.
#include "database/engine/SDEngineTimer.h"

#include <algorithm>
#include <chrono>

#include "database/engine/SDEngine.h"
#include "platform/Clock.h"

TSDThreadTimer::TSDThreadTimer(TSDDatabase* database, bool createSuspended) : database_(database) {
    if (!createSuspended) Resume();
}

TSDThreadTimer::~TSDThreadTimer() {
    Terminate();
    WaitFor();
}

void TSDThreadTimer::Resume() {
    std::lock_guard lock(mutex_);
    if (thread_.joinable() || finished_) return;
    thread_ = std::thread([this] { Execute(); });
}

void TSDThreadTimer::Terminate() {
    {
        std::lock_guard lock(mutex_);
        terminated_ = true;
    }
    wake_.notify_all();
}

void TSDThreadTimer::WaitFor() {
    std::thread t;
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable() || OnTimerThread()) return;
        t = std::move(thread_);
    }
    t.join();
}

void TSDThreadTimer::SetInterval(int32_t ms) {
    if (interval_ != ms) interval_ = ms;
}

void TSDThreadTimer::SetOnTimer(TSDTimerEvent event) {
    std::lock_guard lock(mutex_);
    onTimer_ = std::move(event);
}

void TSDThreadTimer::SetOnTerminate(TSDTimerEvent event) {
    std::lock_guard lock(mutex_);
    onTerminate_ = std::move(event);
}

std::string TSDThreadTimer::LastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

void TSDThreadTimer::Timer() {
    TSDTimerEvent event;
    {
        std::lock_guard lock(mutex_);
        event = onTimer_;
    }
    if (event && !terminated_) event(*this);
}

bool TSDThreadTimer::WaitStep() {
    plat::Clock& clock = plat::GetClock();
    const bool systemClock = dynamic_cast<plat::SystemClock*>(&clock) != nullptr;
    const uint64_t deadline = clock.Ticks() + kStepMs;
    ++waits_;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (terminated_) return false;
        const uint64_t now = clock.Ticks();
        if (now >= deadline) return true;
        const auto wait =
            systemClock ? std::chrono::milliseconds(deadline - now) : std::chrono::milliseconds(2);
        wake_.wait_for(lock, wait);
    }
}

void TSDThreadTimer::Execute() {
    threadId_ = std::this_thread::get_id();
    try {
        while (!terminated_ && interval_ > 0) {
            int64_t remaining = interval_;
            while (!terminated_ && remaining > 0) {
                if (!WaitStep()) break;
                remaining -= kStepMs;
                ++steps_;
                if (database_ != nullptr && !database_->IdleFlag()) break;
            }
            Timer();
            ++rounds_;
        }
    } catch (const std::exception& e) {
        // An exception in a tick ends the timer's thread; its owner sees the timer finished.
        std::lock_guard lock(mutex_);
        lastError_ = e.what();
    } catch (...) {
        std::lock_guard lock(mutex_);
        lastError_ = "unknown exception";
    }
    TSDTimerEvent onTerminate;
    {
        std::lock_guard lock(mutex_);
        onTerminate = onTerminate_;
    }
    finished_ = true;
    if (onTerminate) {
        try {
            onTerminate(*this);
        } catch (const std::exception&) {
            // The thread is ending; a failing termination handler has nobody to report to.
        }
    }
}
