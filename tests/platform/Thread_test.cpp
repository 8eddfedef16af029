// Thread niceness: one thread's niceness moves alone, lowering needs no privilege and is cut at
// the lowest, a raise succeeds exactly when the process has the privilege and is otherwise
// refused with the thread left as it was, and ids that are no thread of this process are
// refused. Every change is made on a thread of its own, which takes it away when it ends, and
// checked through the kernel's listing (/proc), not through the code under test.
#include "platform/Thread.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <latch>
#include <string>
#include <thread>

#include "support/OtherUser.h"
#include "support/ThreadNice.h"

namespace {

// What a fresh thread saw: the answer of SetThreadNice and its niceness afterwards.
struct Outcome {
    bool set = false;
    int nice = 0;
};

// On a fresh thread (which starts at base): first go to `from` (never a raise), then ask for
// `to`.
Outcome Move(int from, int to) {
    Outcome out;
    std::thread t([&] {
        const uint64_t self = plat::CurrentThreadId();
        if (!plat::SetThreadNice(self, from)) return;
        out.set = plat::SetThreadNice(self, to);
        out.nice = kwtest::StatNice("/proc/self/task/" + std::to_string(self) + "/stat").value_or(-99);
    });
    t.join();
    return out;
}

int Base() {
    return plat::ThreadNice(plat::CurrentThreadId()).value();
}

}  // namespace

TEST(ThreadNice, LoweringNeedsNoPrivilegeAndIsCutAtTheLowest) {
    const int base = Base();
    struct Case {
        const char* name;
        int to;
        int expected;
    };
    const Case cases[] = {
        {"the same", base, base},
        {"a step lower", base + 5, std::min(base + 5, plat::kNiceLowest)},
        {"the lowest", plat::kNiceLowest, plat::kNiceLowest},
        {"past the lowest", plat::kNiceLowest + 30, plat::kNiceLowest},
    };
    for (const Case& c : cases) {
        const Outcome o = Move(base, c.to);
        EXPECT_TRUE(o.set) << c.name;
        EXPECT_EQ(o.nice, c.expected) << c.name;
    }
}

TEST(ThreadNice, ARaiseSucceedsExactlyWithThePrivilege) {
    // From the lowest, one step up and all the way up.
    for (const int to : {plat::kNiceLowest - 1, plat::kNiceHighest - 5}) {
        const int cut = std::max(to, plat::kNiceHighest);
        const bool may = kwtest::MayRaiseTo(cut);
        const Outcome o = Move(plat::kNiceLowest, to);
        EXPECT_EQ(o.set, may) << to;
        EXPECT_EQ(o.nice, may ? cut : plat::kNiceLowest) << to;
    }
}

namespace {

// Run in a child that gave the privilege up for good; the exit code says how it went, and
// stderr what went wrong.
int RaisesWithoutThePrivilege() {
    if (!kwtest::GiveUpRaisingPriority()) {
        std::fputs("could not give the privilege up\n", stderr);
        return 2;
    }
    const int base = Base();
    struct Case {
        const char* name;
        int from, to;
        bool set;
        int expected;
    };
    const Case cases[] = {
        {"back to where it started", base + 4, base, false, base + 4},
        {"to the highest", base + 4, plat::kNiceHighest, false, base + 4},
        {"past the highest", base, plat::kNiceHighest - 1, false, base},
        {"lower still", base + 4, base + 6, true, base + 6},
    };
    int failures = 0;
    for (const Case& c : cases) {
        const Outcome o = Move(c.from, c.to);
        const int expected = std::min(c.expected, plat::kNiceLowest);
        if (o.set != c.set || o.nice != expected) {
            std::fprintf(stderr, "%s: set=%d nice=%d\n", c.name, int(o.set), o.nice);
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

TEST(ThreadNice, WithoutThePrivilegeARaiseIsRefusedAndNothingChanges) {
    EXPECT_EXIT(std::_Exit(RaisesWithoutThePrivilege()), ::testing::ExitedWithCode(0), "");
}

TEST(ThreadNice, AnotherThreadIsChangedByItsIdAndAlone) {
    const int base = Base();
    std::latch ready(1), done(1);
    uint64_t other = 0;
    std::thread t([&] {
        other = plat::CurrentThreadId();
        ready.count_down();
        done.wait();
    });
    ready.wait();
    const int target = std::min(base + 7, plat::kNiceLowest);
    EXPECT_TRUE(plat::SetThreadNice(other, target));
    const auto threads = kwtest::ThreadNiceness();
    EXPECT_EQ(threads.at(other), target);
    EXPECT_EQ(threads.at(plat::CurrentThreadId()), base);
    EXPECT_EQ(plat::ThreadNice(other), target);
    done.count_down();
    t.join();
}

TEST(ThreadNice, IdsThatAreNoThreadOfThisProcessAreRefused) {
    // A child process: its id is a thread id, but of another process.
    const pid_t child = ::fork();
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    const std::string childStat = "/proc/" + std::to_string(child) + "/stat";
    const std::optional<int> before = kwtest::StatNice(childStat);
    struct Case {
        const char* name;
        uint64_t id;
    };
    const Case cases[] = {
        {"zero (the caller, to the system)", 0},
        {"another process", uint64_t(child)},
        {"past any id", uint64_t(1) << 40},
    };
    const int base = Base();
    for (const Case& c : cases) {
        EXPECT_EQ(plat::ThreadNice(c.id), std::nullopt) << c.name;
        EXPECT_FALSE(plat::SetThreadNice(c.id, plat::kNiceLowest)) << c.name;
    }
    EXPECT_EQ(kwtest::StatNice(childStat), before);
    EXPECT_EQ(Base(), base);
    ::kill(child, SIGKILL);
    kwtest::WaitForExit(child);
}
