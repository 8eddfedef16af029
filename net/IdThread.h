// net/IdThread.h: the library's worker thread.
//
// A TIdThread calls Run in a loop (or once) until it is stopped or terminated, under start /
// stop / terminate control taken under its own lock, names itself for debuggers, and records
// the exception that ends it (TerminatingException, TerminatingExceptionClass, OnException)
// instead of letting it out. No thread is suspended from outside: a stopped thread waits on a
// condition variable at its loop's stop point until Start (or Terminate) wakes it. The system
// thread is made with the object and first waits there, so a derived class is complete before
// Run is ever called; a thread "created running" is started by the end of its most-derived
// constructor (TIdTelnetReadThread) or by its creator.
//
// SynchronizeMethod runs a call in the thread that made the TIdThread: the call is posted to
// the thread's SyncQueue, served by that thread whenever it calls rtl::CheckSynchronize and by
// whoever waits for this thread (TerminateAndWaitFor, WaitFor, destruction), so a client driven
// from a worker thread never deadlocks.
//
// States: stopped (itoStopped; the body waits) <-> running (Run steps) -> terminated (the body
// ends; Finished) -> destroyed (joined). ThreadCount counts live TIdThread objects.
// A derived class's destructor calls TerminateAndWaitFor first, so the body never runs
// against a half-destroyed object.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/IdException.h"
#include "rtl/Synchronize.h"

RTL_EXCEPTION(EIdThreadException, EIdException);
RTL_EXCEPTION(EIdThreadTerminateAndWaitFor, EIdThreadException);

enum TIdThreadStopMode { smTerminate, smSuspend };
enum TIdThreadOption : uint8_t { itoStopped = 1, itoReqCleanup = 2, itoDataOwner = 4 };

class TIdThread;
using TIdExceptionThreadEvent = std::function<void(TIdThread* AThread, const std::exception& AException)>;
using TIdNotifyThreadEvent = std::function<void(TIdThread* AThread)>;

// Live TIdThread objects in the process.
int32_t ThreadCount();

class TIdThread {
public:
    explicit TIdThread(bool createSuspended = true, bool loop = true, std::string name = {});
    virtual ~TIdThread();
    TIdThread(const TIdThread&) = delete;
    TIdThread& operator=(const TIdThread&) = delete;

    bool Loop;
    const std::string Name;
    TIdThreadStopMode StopMode = smTerminate;
    TIdExceptionThreadEvent OnException;
    TIdNotifyThreadEvent OnStopped;
    // Owned data freed by Cleanup when itoDataOwner is set.
    std::unique_ptr<void, void (*)(void*)> Data{nullptr, [](void*) {}};
    // Never freed on termination here; TerminateAndWaitFor refuses such a thread.
    bool FreeOnTerminate = false;

    std::string TerminatingException() const;
    std::string TerminatingExceptionClass() const;

    virtual void Start();
    virtual void Stop();
    virtual void Terminate();
    // Terminates, lets a stopped thread finish, and waits for its end.
    virtual void TerminateAndWaitFor();
    // Waits for the end, serving this thread's synchronised calls meanwhile.
    void WaitFor();
    bool Stopped();
    bool Terminated() const { return terminated_.load(); }
    bool Finished() const { return finished_.load(); }
    uint8_t Options();

protected:
    virtual void Run() = 0;
    virtual void BeforeExecute() {}
    virtual void AfterExecute() {}
    virtual void BeforeRun() {}
    virtual void AfterRun() {}
    virtual void Cleanup();
    virtual void DoException(const std::exception& e);
    virtual void DoStopped();
    // True when the thread goes on after Run raised.
    virtual bool HandleRunException(const std::exception&) { return false; }
    // Runs f in the thread that made this one (see above).
    void SynchronizeMethod(const std::function<void()>& f) { queue_->Call(f); }

private:
    void Execute();

    std::mutex lock_;
    std::condition_variable wake_;
    uint8_t options_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    bool started_ = false;  // Start was called once (under lock_)
    std::string terminatingException_;
    std::string terminatingExceptionClass_;
    std::shared_ptr<rtl::SyncQueue> queue_;
    std::thread thread_;
};
