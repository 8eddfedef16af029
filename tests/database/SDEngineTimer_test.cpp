// Idle and reconnect timers, driven by the injectable clock: the timer thread's rounds, the
// idle time-out closing an idle connection, activity and fetching keeping it open, the
// reconnect path reopening a lost connection, and a database destroyed while its timers run.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "FakeSqlDriver.h"
#include "database/engine/SDEngine.h"
#include "database/engine/SDEngineTimer.h"
#include "platform/Clock.h"
#include "support/TestSupport.h"

namespace {

using fake::FakeDatabase;
using fake::FakeFactories;

// Real-time wait for something the timer thread does; generous, since it only bounds a hang.
bool WaitUntil(const std::function<bool()>& done) {
    return kwtest::Eventually(done, std::chrono::seconds(10), std::chrono::milliseconds(1));
}

class ClockDriven : public ::testing::Test {
protected:
    plat::ManualClock clock;
    plat::ScopedClock scoped{clock};

    // Moves the clock by ms while the timer waits, then waits until the timer has finished
    // what that time made due (its step, and the tick that may follow) or has ended.
    void Advance(TSDThreadTimer& timer, uint64_t ms) {
        ASSERT_TRUE(WaitUntil([&] { return timer.Waits() > 0 || timer.Finished(); }));
        const uint64_t waits = timer.Waits();
        clock.Advance(ms);
        ASSERT_TRUE(WaitUntil([&] { return timer.Waits() > waits || timer.Finished(); }));
    }
};

TEST_F(ClockDriven, TimerRoundsFollowTheInterval) {
    std::atomic<int> ticks{0};
    TSDThreadTimer timer(nullptr, true);
    EXPECT_EQ(timer.Interval(), 1000);
    timer.SetOnTimer([&](TSDThreadTimer& t) {
        EXPECT_TRUE(t.OnTimerThread());
        ++ticks;
    });
    timer.Resume();
    Advance(timer, 500);
    EXPECT_EQ(ticks, 0);
    Advance(timer, 500);
    EXPECT_EQ(ticks, 1);
    // A new interval takes effect at the next round; the round under way keeps its length.
    timer.SetInterval(1500);
    Advance(timer, 500);
    Advance(timer, 500);
    EXPECT_EQ(ticks, 2);
    Advance(timer, 500);
    Advance(timer, 500);
    EXPECT_EQ(ticks, 2);
    Advance(timer, 500);
    EXPECT_EQ(ticks, 3);
    // 0 ends the thread after the round under way.
    timer.SetInterval(0);
    for (int i = 0; i < 3; ++i)
        Advance(timer, 500);
    EXPECT_TRUE(WaitUntil([&] { return timer.Finished(); }));
    EXPECT_EQ(ticks, 4);
    EXPECT_EQ(timer.Rounds(), 4u);
    EXPECT_EQ(timer.Steps(), 10u);
}

TEST_F(ClockDriven, ExceptionInATickEndsTheThread) {
    std::atomic<int> ended{0};
    TSDThreadTimer timer(nullptr, true);
    timer.SetInterval(500);
    timer.SetOnTimer([](TSDThreadTimer&) { throw std::runtime_error("tick failed"); });
    timer.SetOnTerminate([&](TSDThreadTimer&) { ++ended; });
    timer.Resume();
    Advance(timer, 500);
    ASSERT_TRUE(WaitUntil([&] { return timer.Finished(); }));
    EXPECT_EQ(timer.LastError(), "tick failed");
    EXPECT_EQ(ended, 1);
}

TEST(Timer, TerminateWakesAWaitOnTheSystemClock) {
    // A wait of many minutes ends at once when the timer is stopped.
    TSDThreadTimer timer(nullptr, true);
    timer.SetInterval(10 * 60 * 1000);
    timer.Resume();
    ASSERT_TRUE(WaitUntil([&] { return timer.Waits() > 0; }));
    timer.Terminate();
    timer.WaitFor();
    EXPECT_TRUE(timer.Finished());
    EXPECT_EQ(timer.Steps(), 0u);
}

class IdleTimeout : public ClockDriven {
protected:
    FakeFactories drivers;
    TSDSession session;
    std::unique_ptr<TSDDatabase> db;
    std::atomic<uint64_t> closedAt{0};

    void SetUp() override {
        session.SetSessionName("Idle");
        db = std::make_unique<TSDDatabase>(&session);
        db->SetDatabaseName("idle");
        db->SetRemoteDatabase("srv:idle");
        db->SetServerType(stODBC);
        db->SetLoginPrompt(false);
        db->AfterDisconnect = [this](TSDDatabase&) { closedAt = clock.Ticks(); };
        db->Open();
    }
    FakeDatabase& Driver() { return static_cast<FakeDatabase&>(*db->SqlDatabase()); }
    // Steps of 500 ms until the database closes; the clock's reading then.
    uint64_t RunUntilClosed(int maxSteps = 40) {
        for (int i = 0; i < maxSteps && db->Connected(); ++i)
            Advance(*db->IdleTimer(), 500);
        EXPECT_FALSE(db->Connected());
        return closedAt;
    }
};

TEST_F(IdleTimeout, ClosesAnIdleConnection) {
    const uint64_t lastActivity = clock.Ticks();  // the connect
    db->SetIdleTimeout(2000);
    ASSERT_NE(db->IdleTimer(), nullptr);
    const uint64_t closed = RunUntilClosed();
    EXPECT_GE(closed - lastActivity, 2000u);
    EXPECT_LE(closed - lastActivity, 2500u);
    EXPECT_EQ(db->SqlDatabase(), nullptr);
    // A closed database keeps its timer; ticks do nothing until it is connected again.
    ASSERT_NE(db->IdleTimer(), nullptr);
    for (int i = 0; i < 6; ++i)
        Advance(*db->IdleTimer(), 500);
    EXPECT_FALSE(db->Connected());
    db->Open();
    const uint64_t reopened = clock.Ticks();
    const uint64_t again = RunUntilClosed();
    EXPECT_GE(again - reopened, 2000u);
    EXPECT_LE(again - reopened, 3000u);  // the reopen fell inside a round that was under way
}

TEST_F(IdleTimeout, DriverActivityRearmsTheTimeout) {
    db->SetIdleTimeout(2000);
    TSDThreadTimer& timer = *db->IdleTimer();
    Advance(timer, 500);  // the first tick arms the idle flag
    Advance(timer, 500);  // t = 1000
    clock.Advance(200);   // t = 1200, inside a step
    Driver().MarkActivity();
    const uint64_t activity = clock.Ticks();
    EXPECT_FALSE(db->IdleFlag());
    const uint64_t closed = RunUntilClosed();
    EXPECT_GE(closed - activity, 2000u);
    EXPECT_LE(closed - activity, 2500u);
}

TEST_F(IdleTimeout, FetchingKeepsTheConnectionOpen) {
    db->SetIdleTimeout(1000);
    db->SetFetching(true);
    for (int i = 0; i < 20; ++i)
        Advance(*db->IdleTimer(), 500);
    EXPECT_TRUE(db->Connected());
    db->SetFetching(false);
    RunUntilClosed();
}

TEST_F(IdleTimeout, ZeroStopsTheTimerAndKeepsTheConnection) {
    db->SetIdleTimeout(2000);
    Advance(*db->IdleTimer(), 500);
    db->SetIdleTimeout(0);
    EXPECT_EQ(db->IdleTimer(), nullptr);
    clock.Advance(10000);
    EXPECT_TRUE(db->Connected());
}

TEST_F(IdleTimeout, AFailedCloseEndsTheTimerAndANewTimeoutStartsAnother) {
    db->SetIdleTimeout(1000);
    Driver().throwIn = {"DoDisconnect"};
    TSDThreadTimer* first = db->IdleTimer();
    for (int i = 0; i < 4 && !first->Finished(); ++i)
        Advance(*first, 500);
    ASSERT_TRUE(WaitUntil([&] { return first->Finished(); }));
    EXPECT_EQ(first->LastError(), "clean-up failed in DoDisconnect");
    EXPECT_TRUE(db->Connected());
    Driver().throwIn.clear();
    db->SetIdleTimeout(1500);
    ASSERT_NE(db->IdleTimer(), first);
    RunUntilClosed();
}

class Reconnect : public IdleTimeout {
protected:
    std::atomic<int> reconnectErrors{0};
    std::atomic<int> reconnected{0};

    // Loses the connection with lcWaitReconnect; the next `failures` connects fail.
    void LoseConnection(int failures) {
        db->SetReconnectTimeout(1000);
        db->OnLostConnectError = [](TSDDatabase&, const ESDEngineError&, TSDLostConnectAction& a) {
            a = lcWaitReconnect;
        };
        db->OnReconnectError = [this](TSDDatabase&, const ESDEngineError& e, TSDLostConnectAction& a) {
            EXPECT_EQ(a, lcIgnore);
            EXPECT_EQ(e.Message(), "server failed in DoConnect");
            ++reconnectErrors;
        };
        db->AfterReconnect = [this](TSDDatabase&) { ++reconnected; };
        Driver().lostConnection = true;
        EXPECT_THROW(Driver().ServerError("exec"), ESDFakeError);
        Driver().lostConnection = false;
        Driver().failConnects = Driver().connectAttempts + failures;
        EXPECT_FALSE(db->Connected());
        ASSERT_NE(db->ReconnectTimer(), nullptr);
    }
};

TEST_F(Reconnect, ReopensALostConnectionAfterFailedAttempts) {
    FakeDatabase* driver = &Driver();
    LoseConnection(2);
    TSDThreadTimer& timer = *db->ReconnectTimer();
    Advance(timer, 500);
    Advance(timer, 500);  // first attempt
    EXPECT_EQ(reconnectErrors, 1);
    Advance(timer, 500);
    Advance(timer, 500);  // second attempt
    EXPECT_EQ(reconnectErrors, 2);
    EXPECT_FALSE(db->Connected());
    Advance(timer, 500);
    Advance(timer, 500);  // third attempt succeeds and ends the timer
    EXPECT_TRUE(WaitUntil([&] { return timer.Finished(); }));
    EXPECT_TRUE(db->Connected());
    EXPECT_EQ(reconnected, 1);
    EXPECT_EQ(reconnectErrors, 2);
    EXPECT_FALSE(db->ConnectionLost());
    EXPECT_EQ(db->SqlDatabase(), driver);  // the kept driver object, connected again
    EXPECT_EQ(drivers.created.size(), 1u);
}

TEST_F(Reconnect, TerminateAppFromTheReconnectError) {
    ResetSqlTerminateRequest();
    LoseConnection(1);
    db->OnReconnectError = [](TSDDatabase&, const ESDEngineError&, TSDLostConnectAction& a) {
        a = lcTerminateApp;
    };
    TSDThreadTimer& timer = *db->ReconnectTimer();
    Advance(timer, 500);
    Advance(timer, 500);
    EXPECT_TRUE(SqlTerminateRequested());
    ResetSqlTerminateRequest();
}

TEST_F(Reconnect, DestroyingTheDatabaseStopsItsTimersFirst) {
    db->SetIdleTimeout(5000);
    LoseConnection(1000);  // it would retry for ever
    TSDThreadTimer& timer = *db->ReconnectTimer();
    Advance(timer, 500);
    Advance(timer, 500);
    EXPECT_EQ(reconnectErrors, 1);
    db.reset();  // joins both timer threads before the object goes
    clock.Advance(10000);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(reconnectErrors, 1);
}

}  // namespace
