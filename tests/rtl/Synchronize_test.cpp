// Tests of calls handed from worker threads to the thread that owns a queue.
#include "rtl/Synchronize.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "rtl/Exception.h"

namespace {

TEST(Synchronize, AWorkersCallRunsInTheOwnerAndItsFailureComesBack) {
    auto queue = rtl::SyncQueue::Create();
    std::thread::id ranIn;
    std::string error;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        queue->Call([&] { ranIn = std::this_thread::get_id(); });
        try {
            queue->Call([] { throw rtl::EConvertError("in the owner"); });
        } catch (const rtl::EConvertError& e) {
            error = e.Message();
        }
        done = true;
    });
    while (!done) rtl::CheckSynchronize(50);
    worker.join();
    EXPECT_EQ(ranIn, std::this_thread::get_id());
    EXPECT_EQ(error, "in the owner");
    EXPECT_FALSE(rtl::CheckSynchronize(0));  // nothing left
}

TEST(Synchronize, TheOwnersOwnCallRunsAtOnce) {
    auto queue = rtl::SyncQueue::Create();
    int n = 0;
    queue->Call([&] { ++n; });
    EXPECT_EQ(n, 1);
}

TEST(Synchronize, AnyThreadMayServeAQueueAndWakeEndsAWait) {
    auto queue = rtl::SyncQueue::Create();  // owned by this thread, which never serves it
    std::thread::id ranIn;
    std::thread worker([&] { queue->Call([&] { ranIn = std::this_thread::get_id(); }); });
    std::thread server([&] {
        while (!queue->Serve(std::chrono::milliseconds(50))) {
        }
        EXPECT_EQ(ranIn, std::this_thread::get_id());
    });
    worker.join();
    server.join();
    std::thread waker([&] { queue->Wake(); });
    EXPECT_FALSE(queue->Serve(std::chrono::seconds(30)));  // woken, nothing ran
    waker.join();
}

}  // namespace
