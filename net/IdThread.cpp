// net/IdThread.cpp: the worker thread's body, control and synchronised calls.
#include "net/IdThread.h"

#include "net/IdGlobal.h"
#include "net/IdThreadSafe.h"

namespace {

TIdThreadSafeInteger& LiveThreads() {
    static TIdThreadSafeInteger* count = new TIdThreadSafeInteger;
    return *count;
}

// Steps in which a waiter serves synchronised calls; the worker's end wakes it at once.
constexpr std::chrono::milliseconds kServeStep(100);

}  // namespace

int32_t ThreadCount() { return LiveThreads().Value(); }

TIdThread::TIdThread(bool createSuspended, bool loop, std::string name)
    : Loop(loop), Name(std::move(name)), options_(itoDataOwner | itoStopped), queue_(rtl::SyncQueue::Create()) {
    (void)createSuspended;  // the body always starts stopped; see the header
    LiveThreads().Increment();
    thread_ = std::thread([this] { Execute(); });
}

TIdThread::~TIdThread() {
    Terminate();
    WaitFor();
    if (thread_.joinable()) thread_.join();
    if (Options() & itoReqCleanup) Cleanup();
    LiveThreads().Decrement();
}

std::string TIdThread::TerminatingException() const {
    return finished_ ? terminatingException_ : std::string();
}

std::string TIdThread::TerminatingExceptionClass() const {
    return finished_ ? terminatingExceptionClass_ : std::string();
}

uint8_t TIdThread::Options() {
    std::lock_guard guard(lock_);
    return options_;
}

bool TIdThread::Stopped() {
    std::lock_guard guard(lock_);
    return terminated_ || (options_ & itoStopped);
}

void TIdThread::Start() {
    std::lock_guard guard(lock_);
    started_ = true;
    if (!(terminated_ || (options_ & itoStopped))) return;
    if (terminated_)
        options_ |= itoStopped;
    else
        options_ &= uint8_t(~itoStopped);
    wake_.notify_all();
}

void TIdThread::Stop() {
    {
        std::lock_guard guard(lock_);
        if (terminated_ || (options_ & itoStopped)) return;
    }
    if (StopMode == smTerminate) Terminate();
    std::lock_guard guard(lock_);
    options_ |= itoStopped;
}

void TIdThread::Terminate() {
    std::lock_guard guard(lock_);
    options_ |= itoStopped;
    terminated_ = true;
    wake_.notify_all();
}

void TIdThread::TerminateAndWaitFor() {
    if (FreeOnTerminate)
        EIdException::RaiseIdException<EIdThreadTerminateAndWaitFor>(
            "Cannot call TerminateAndWaitFor on FreeAndTerminate threads");
    {
        // Terminated and started in one step: a thread still waiting for its first Start that
        // saw the termination alone would end without running its body.
        std::lock_guard guard(lock_);
        options_ |= itoStopped;
        terminated_ = true;
        started_ = true;
        wake_.notify_all();
    }
    WaitFor();
}

void TIdThread::WaitFor() {
    if (std::this_thread::get_id() == thread_.get_id()) return;
    while (!finished_) queue_->Serve(kServeStep);
    queue_->Serve();
}

void TIdThread::Cleanup() {
    {
        std::lock_guard guard(lock_);
        options_ &= uint8_t(~itoReqCleanup);
    }
    if (Options() & itoDataOwner) Data.reset();
}

void TIdThread::DoException(const std::exception& e) {
    if (OnException) OnException(this, e);
}

void TIdThread::DoStopped() {
    if (OnStopped) OnStopped(this);
}

void TIdThread::Execute() {
    SetThreadNameForDebugger(Name);
    {
        // Nothing of the object is touched before the first Start: until then it may still be
        // under construction. A thread terminated without ever being started just ends.
        std::unique_lock guard(lock_);
        wake_.wait(guard, [&] { return started_ || terminated_; });
        if (!started_) {
            guard.unlock();
            finished_ = true;
            queue_->Wake();
            return;
        }
    }
    try {
        try {
            BeforeExecute();
            while (!terminated_) {
                if (Stopped()) {
                    DoStopped();
                    std::unique_lock guard(lock_);
                    // The stop point: wait here until started or terminated.
                    wake_.wait(guard, [&] { return terminated_ || !(options_ & itoStopped); });
                    if (terminated_) break;
                }
                {
                    std::lock_guard guard(lock_);
                    options_ |= itoReqCleanup;
                }
                BeforeRun();
                TIdFinally cleanup{[this] { Cleanup(); }};
                try {
                    if (Loop) {
                        while (!Stopped()) Run();
                    } else {
                        Run();
                        Terminate();  // run once: done
                    }
                } catch (const std::exception& e) {
                    if (!HandleRunException(e)) {
                        Terminate();
                        AfterRun();
                        throw;
                    }
                }
                AfterRun();
            }
        } catch (...) {
            AfterExecute();
            throw;
        }
        AfterExecute();
    } catch (const std::exception& e) {
        // The thread ends quietly; the failure is recorded and reported once.
        const auto* rtlError = dynamic_cast<const rtl::Exception*>(&e);
        terminatingExceptionClass_ = rtlError ? rtlError->ClassName() : "std::exception";
        terminatingException_ = rtlError ? rtlError->Message() : e.what();
        DoException(e);
        Terminate();
    } catch (...) {
        terminatingExceptionClass_ = "unknown";
        Terminate();
    }
    finished_ = true;
    queue_->Wake();
}
