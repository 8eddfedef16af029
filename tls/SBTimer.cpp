// tls/SBTimer.cpp: the timer thread and its component.
#include "tls/SBTimer.h"

#include <algorithm>
#include <chrono>

#include "platform/Clock.h"

TTimerThread::TTimerThread(TTickEvent onTick) : state_(std::make_shared<State>()) {
    state_->onTick = std::move(onTick);
    state_->countStart = plat::GetClock().Ticks();
    thread_ = std::thread(&TTimerThread::Execute, state_);
}

TTimerThread::~TTimerThread() {
    {
        std::lock_guard<std::mutex> lock(state_->m);
        state_->terminate = true;
        state_->generation++;
    }
    state_->cv.notify_all();
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();  // destroyed from inside a tick: the thread ends after it returns
    else if (thread_.joinable())
        thread_.join();
}

void TTimerThread::SetInterval(uint32_t ms) {
    {
        std::lock_guard<std::mutex> lock(state_->m);
        state_->interval = ms;
        state_->countStart = plat::GetClock().Ticks();
        state_->generation++;
    }
    state_->cv.notify_all();
}

uint32_t TTimerThread::GetInterval() const {
    std::lock_guard<std::mutex> lock(state_->m);
    return state_->interval;
}

void TTimerThread::SetEnabled(bool value) {
    {
        std::lock_guard<std::mutex> lock(state_->m);
        if (state_->enabled == value) return;
        state_->enabled = value;
        state_->countStart = plat::GetClock().Ticks();
        state_->generation++;
    }
    state_->cv.notify_all();
}

bool TTimerThread::GetEnabled() const {
    std::lock_guard<std::mutex> lock(state_->m);
    return state_->enabled;
}

void TTimerThread::Execute(std::shared_ptr<State> state) {
    std::unique_lock<std::mutex> lock(state->m);
    while (!state->terminate) {
        if (!state->enabled) {
            state->cv.wait(lock, [&] { return state->terminate || state->enabled; });
            continue;
        }
        const uint64_t generation = state->generation;
        const uint64_t deadline = state->countStart + state->interval;
        bool due = false;
        while (!state->terminate && state->generation == generation) {
            const uint64_t now = plat::GetClock().Ticks();
            if (now >= deadline) {
                due = true;
                break;
            }
            const uint64_t wait = std::min<uint64_t>(deadline - now, PollMs);
            state->cv.wait_for(lock, std::chrono::milliseconds(wait));
        }
        if (!due || state->terminate) continue;
        // The next count runs from when this tick was due; a tick handler that overran a
        // whole interval does not make the ticks it missed.
        const uint64_t now = plat::GetClock().Ticks();
        state->countStart = now - deadline >= state->interval ? now : deadline;
        TTickEvent tick = state->onTick;
        lock.unlock();
        if (tick) tick();
        lock.lock();
    }
}

TElTimer::TElTimer(rtl::Component* owner) : rtl::Component(owner) {
    thread_ = std::make_unique<TTimerThread>([this] {
        // A copy: the handler may destroy the timer, and with it OnTimer.
        const auto handler = OnTimer;
        if (handler) handler(this);
    });
    thread_->SetEnabled(false);
    thread_->SetInterval(interval_);
}

TElTimer::~TElTimer() {
    MarkDestroying();
    thread_.reset();
}

void TElTimer::SetInterval(uint32_t ms) {
    if (ms == interval_) return;
    interval_ = ms;
    thread_->SetInterval(ms);
}

bool TElTimer::GetEnabled() const { return thread_->GetEnabled(); }

void TElTimer::SetEnabled(bool value) { thread_->SetEnabled(value); }
