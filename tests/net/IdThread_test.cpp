// Tests of the worker thread, its synchronised calls and the thread-safe integer.
#include "net/IdThread.h"

#include <gtest/gtest.h>

#include <atomic>

#include "net/IdExceptionCore.h"
#include "net/IdThreadSafe.h"
#include "support/TestSupport.h"

namespace {

class CountingThread : public TIdThread {
public:
    using TIdThread::TIdThread;
    ~CountingThread() override { TerminateAndWaitFor(); }
    std::atomic<int> runs{0};
    std::atomic<int> befores{0};
    std::atomic<int> afters{0};
    int raiseAt = -1;
    std::function<void()> step;

protected:
    void BeforeExecute() override { ++befores; }
    void AfterExecute() override { ++afters; }
    void Run() override {
        const int n = ++runs;
        if (step) step();
        if (n == raiseAt) EIdException::RaiseIdException<EIdConnClosedGracefully>("ended by the peer");
    }
};

TEST(IdThread, ARunThatRaisesEndsTheThreadQuietly) {
    CountingThread t(true, true, "raiser");
    t.raiseAt = 3;
    std::atomic<int> exceptions{0};
    std::string seen;
    t.OnException = [&](TIdThread*, const std::exception& e) {
        ++exceptions;
        seen = e.what();
    };
    t.Start();
    ASSERT_TRUE(kwtest::Eventually([&] { return t.Finished(); }));
    EXPECT_EQ(t.runs, 3);
    EXPECT_EQ(exceptions, 1);
    EXPECT_EQ(seen, "ended by the peer");
    EXPECT_EQ(t.TerminatingException(), "ended by the peer");
    EXPECT_EQ(t.TerminatingExceptionClass(), "EIdConnClosedGracefully");
    EXPECT_TRUE(t.Terminated());
    EXPECT_EQ(t.afters, 1);
}

TEST(IdThread, TerminateAndWaitForOnAThreadCreatedStopped) {
    const int before = ThreadCount();
    {
        CountingThread t;
        EXPECT_EQ(ThreadCount(), before + 1);
        EXPECT_TRUE(t.Stopped());
        t.TerminateAndWaitFor();
        EXPECT_TRUE(t.Finished());
        // The body ran to its end without a Run step.
        EXPECT_EQ(t.befores, 1);
        EXPECT_EQ(t.afters, 1);
        EXPECT_EQ(t.runs, 0);
        t.FreeOnTerminate = true;
        EXPECT_THROW(t.TerminateAndWaitFor(), EIdThreadTerminateAndWaitFor);
        t.FreeOnTerminate = false;
    }
    EXPECT_EQ(ThreadCount(), before);
    {
        // Never started: destroyed without running anything.
        CountingThread t;
    }
    EXPECT_EQ(ThreadCount(), before);
}

TEST(IdThread, StopWaitsAtTheStopPointUntilStart) {
    CountingThread t;
    t.StopMode = smSuspend;
    std::atomic<int> stopped{0};
    t.OnStopped = [&](TIdThread*) { ++stopped; };
    t.Start();
    ASSERT_TRUE(kwtest::Eventually([&] { return t.runs > 5; }));
    t.Stop();
    EXPECT_TRUE(t.Stopped());
    ASSERT_TRUE(kwtest::Eventually([&] { return stopped == 1; }));
    const int frozen = t.runs;
    // While stopped, no Run step is taken (the thread waits for Start, without spinning).
    EXPECT_FALSE(kwtest::Eventually([&] { return t.runs > frozen + 1; }, std::chrono::milliseconds(100)));
    t.Start();
    ASSERT_TRUE(kwtest::Eventually([&] { return t.runs > frozen + 5; }));
    t.StopMode = smTerminate;
    t.Stop();
    ASSERT_TRUE(kwtest::Eventually([&] { return t.Finished(); }));
}

TEST(IdThread, ALoopOfOneRunsOnce) {
    CountingThread t(true, false);
    t.Start();
    ASSERT_TRUE(kwtest::Eventually([&] { return t.Finished(); }));
    EXPECT_EQ(t.runs, 1);
}

class SyncingThread : public TIdThread {
public:
    SyncingThread() : TIdThread(true, true) {}
    ~SyncingThread() override { TerminateAndWaitFor(); }
    std::thread::id ranIn;
    std::string error;
    std::atomic<int> calls{0};

protected:
    void Run() override {
        SynchronizeMethod([this] { ranIn = std::this_thread::get_id(); });
        try {
            SynchronizeMethod([] { throw EIdException("raised in the owner"); });
        } catch (const EIdException& e) {
            error = e.Message();
        }
        ++calls;
        Terminate();
    }
};

TEST(IdThread, SynchronisedCallsRunInTheCreatingThread) {
    SyncingThread t;
    t.Start();
    while (!t.Finished()) rtl::CheckSynchronize(50);
    EXPECT_EQ(t.ranIn, std::this_thread::get_id());
    EXPECT_EQ(t.error, "raised in the owner");
    EXPECT_EQ(t.calls, 1);
}

TEST(IdThread, WaitingForTheThreadServesItsCalls) {
    // The creator never calls CheckSynchronize: waiting for the thread is enough.
    SyncingThread t;
    t.Start();
    t.WaitFor();
    EXPECT_EQ(t.ranIn, std::this_thread::get_id());
    EXPECT_EQ(t.calls, 1);
}

TEST(IdThreadSafe, IntegerReturnsTheOldValue) {
    TIdThreadSafeInteger i;
    EXPECT_EQ(i.Increment(), 0);
    EXPECT_EQ(i.Increment(), 1);
    EXPECT_EQ(i.Decrement(), 2);
    EXPECT_EQ(i.Value(), 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int k = 0; k < 1000; ++k) i.Increment();
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(i.Value(), 4001);
}

}  // namespace
