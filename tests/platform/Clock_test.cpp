// The injectable clock: manual time for tests, the real clock otherwise.
#include "platform/Clock.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono;

TEST(ManualClock, MovesOnlyWhenToldTo) {
    const auto start = system_clock::time_point(seconds(1'700'000'000));
    plat::ManualClock clock(start, 5000);
    EXPECT_EQ(clock.Now(), start);
    EXPECT_EQ(clock.Ticks(), 5000u);
    clock.Sleep(300);
    clock.Advance(700);
    EXPECT_EQ(clock.Now(), start + milliseconds(1000));
    EXPECT_EQ(clock.Ticks(), 6000u);
    EXPECT_EQ(clock.Elapsed(), 1000u);
    // A two-minute wait of 400 looks of 300 ms passes at once in real time.
    const auto realStart = steady_clock::now();
    for (int i = 0; i < 400; ++i)
        clock.Sleep(300);
    EXPECT_EQ(clock.Elapsed(), 1000u + 120'000u);
    EXPECT_LT(steady_clock::now() - realStart, seconds(30));
}

TEST(ManualClock, TickCountWrapsLikeThe32BitCounter) {
    plat::ManualClock clock(system_clock::time_point{}, 0xFFFF'FF00ull);
    EXPECT_EQ(clock.TickCount(), 0xFFFF'FF00u);
    clock.Advance(0x100);
    EXPECT_EQ(clock.TickCount(), 0u);
    EXPECT_EQ(clock.Ticks(), 0x1'0000'0000ull);
    clock.Advance(5);
    // A difference taken in 32 bits across the wrap is still right.
    EXPECT_EQ(uint32_t(clock.TickCount() - 0xFFFF'FF00u), 0x105u);
}

TEST(ManualClock, SleepsFromSeveralThreadsAllCount) {
    plat::ManualClock clock;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i)
                clock.Sleep(3);
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(clock.Elapsed(), 8u * 1000u * 3u);
}

TEST(Clock, ScopedClockInstallsAndRestores) {
    plat::Clock* real = &plat::GetClock();
    EXPECT_NE(dynamic_cast<plat::SystemClock*>(real), nullptr);
    {
        plat::ManualClock manual;
        plat::ScopedClock scope(manual);
        EXPECT_EQ(&plat::GetClock(), &manual);
        plat::GetClock().Sleep(60'000);
        EXPECT_EQ(manual.Elapsed(), 60'000u);
    }
    EXPECT_EQ(&plat::GetClock(), real);
}

TEST(Clock, SystemClockFollowsTheRealClocks) {
    plat::SystemClock clock;
    const auto before = system_clock::now();
    const auto now = clock.Now();
    EXPECT_LE(before, now);
    EXPECT_LE(now, system_clock::now());
    const auto t0 = clock.Ticks();
    clock.Sleep(20);
    const auto t1 = clock.Ticks();
    EXPECT_GE(t1 - t0, 20u);  // a sleep never returns early; no upper bound is asserted
}

TEST(Clock, TheCheapReadingTrailsTheExactOneByATickAtMost) {
    plat::SystemClock clock;
    for (int i = 0; i < 1000; ++i) {
        const auto before = clock.Now();
        const auto coarse = clock.CoarseNow();
        const auto after = clock.Now();
        EXPECT_LE(coarse, after);
        // A timer tick is at most 10 ms (HZ 100); the margin covers a preempted reader.
        EXPECT_GE(coarse, before - milliseconds(100));
    }
    // A manual clock has nothing cheaper: both readings are its own time.
    plat::ManualClock manual;
    manual.Advance(1234);
    EXPECT_EQ(manual.CoarseNow(), manual.Now());
}

}  // namespace
