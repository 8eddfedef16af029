// rtl/Synchronize.cpp: per-thread queues of synchronised calls.
#include "rtl/Synchronize.h"

#include <algorithm>
#include <vector>

namespace rtl {

namespace {

// The queues, by owner; a queue that went is pruned when the next one is made.
struct Registry {
    std::mutex lock;
    std::vector<std::weak_ptr<SyncQueue>> queues;
};
Registry& TheRegistry() {
    static Registry* r = new Registry;  // outlives every queue, whatever the order of exit
    return *r;
}

}  // namespace

std::shared_ptr<SyncQueue> SyncQueue::Create(std::thread::id owner) {
    std::shared_ptr<SyncQueue> q(new SyncQueue(owner));
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    std::erase_if(r.queues, [](const std::weak_ptr<SyncQueue>& w) { return w.expired(); });
    r.queues.push_back(q);
    return q;
}

SyncQueue::~SyncQueue() = default;

void SyncQueue::Call(const std::function<void()>& f) {
    if (std::this_thread::get_id() == owner_) {
        f();
        return;
    }
    Pending p{&f, nullptr};
    std::unique_lock guard(lock_);
    pending_.push_back(&p);
    posted_.notify_all();
    ran_.wait(guard, [&] { return p.done; });
    if (p.error) std::rethrow_exception(p.error);
}

bool SyncQueue::Serve(std::chrono::milliseconds wait) {
    std::unique_lock guard(lock_);
    if (pending_.empty() && wait.count() > 0)
        posted_.wait_for(guard, wait, [&] { return !pending_.empty() || woken_; });
    woken_ = false;
    bool ran = false;
    while (!pending_.empty()) {
        Pending* p = pending_.front();
        pending_.pop_front();
        guard.unlock();
        try {
            (*p->call)();
        } catch (...) {
            p->error = std::current_exception();
        }
        guard.lock();
        p->done = true;
        ran = true;
        ran_.notify_all();
    }
    return ran;
}

void SyncQueue::Wake() {
    std::lock_guard guard(lock_);
    woken_ = true;
    posted_.notify_all();
}

bool CheckSynchronize(int timeoutMs) {
    // The calling thread's queues, kept alive while they are served.
    std::vector<std::shared_ptr<SyncQueue>> mine;
    {
        Registry& r = TheRegistry();
        std::lock_guard guard(r.lock);
        for (const std::weak_ptr<SyncQueue>& w : r.queues)
            if (std::shared_ptr<SyncQueue> q = w.lock(); q && q->Owner() == std::this_thread::get_id())
                mine.push_back(std::move(q));
    }
    bool ran = false;
    for (const std::shared_ptr<SyncQueue>& q : mine) ran = q->Serve(std::chrono::milliseconds(mine.size() == 1 ? timeoutMs : 0)) || ran;
    return ran;
}

}  // namespace rtl
