// platform/Clock.cpp
#include "platform/Clock.h"

#include <time.h>

#include <thread>

namespace plat {

namespace {
SystemClock gSystemClock;
std::atomic<Clock*> gClock{&gSystemClock};
}  // namespace

std::chrono::system_clock::time_point SystemClock::Now() {
    return std::chrono::system_clock::now();
}

std::chrono::system_clock::time_point SystemClock::CoarseNow() {
    // The kernel's time of its last tick: read without touching the hardware counter.
    timespec ts{};
    if (::clock_gettime(CLOCK_REALTIME_COARSE, &ts) != 0) return Now();
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec)));
}

uint64_t SystemClock::Ticks() {
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemClock::Sleep(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

ManualClock::ManualClock(std::chrono::system_clock::time_point start, uint64_t startTicks)
    : start_(start), startTicks_(startTicks) {}

std::chrono::system_clock::time_point ManualClock::Now() {
    return start_ + std::chrono::milliseconds(elapsed_.load());
}

uint64_t ManualClock::Ticks() {
    return startTicks_ + elapsed_.load();
}

void ManualClock::Sleep(uint32_t ms) {
    elapsed_ += ms;
    std::this_thread::yield();
}

Clock& GetClock() {
    return *gClock.load();
}

void SetClock(Clock* clock) {
    gClock.store(clock ? clock : &gSystemClock);
}

}  // namespace plat
