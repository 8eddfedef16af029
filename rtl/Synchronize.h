// rtl/Synchronize.h: calls that a worker thread hands to another thread and waits for.
//
// A worker that must run something in the thread that owns some state (the thread that made
// it, in the original's manner of a synchronised call) posts the call to a SyncQueue owned by
// that thread and blocks until the call has run there; an exception the call raises comes back
// to the worker. The owner serves its queues whenever it calls CheckSynchronize; whoever waits
// for the worker to end serves the worker's queue meanwhile (SyncQueue::Serve), so a worker
// blocked in a call is never waited for in vain, whichever thread waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace rtl {

class SyncQueue {
public:
    // A queue served by the owner thread's CheckSynchronize (and by anyone calling Serve).
    static std::shared_ptr<SyncQueue> Create(std::thread::id owner = std::this_thread::get_id());
    ~SyncQueue();
    SyncQueue(const SyncQueue&) = delete;
    SyncQueue& operator=(const SyncQueue&) = delete;

    std::thread::id Owner() const { return owner_; }
    // Runs f in a thread that serves this queue and waits for it; f's exception is rethrown
    // here. Called by the owner itself, f runs at once.
    void Call(const std::function<void()>& f);
    // Runs the calls waiting now; when there are none, waits up to `wait` for one (or for
    // Wake). True when a call ran.
    bool Serve(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    // Ends a Serve that is waiting.
    void Wake();

private:
    explicit SyncQueue(std::thread::id owner) : owner_(owner) {}

    struct Pending {
        const std::function<void()>* call;
        std::exception_ptr error;
        bool done = false;
    };

    std::thread::id owner_;
    std::mutex lock_;
    std::condition_variable posted_;  // a call arrived, or Wake
    std::condition_variable ran_;     // a call finished
    std::deque<Pending*> pending_;
    bool woken_ = false;
};

// Serves every queue owned by the calling thread, waiting up to timeoutMs for a call when none
// waits; true when a call ran.
bool CheckSynchronize(int timeoutMs = 0);

}  // namespace rtl
