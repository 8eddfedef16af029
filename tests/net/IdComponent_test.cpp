// Tests of the components' stack lifetime, status texts, work events and the anti-freeze.
#include "net/IdComponent.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "net/IdAntiFreezeBase.h"
#include "net/IdIOHandlerStack.h"
#include "net/IdTCPClient.h"
#include "tests/net/NetTestSupport.h"

namespace {

TEST(IdComponent, TheFirstComponentMakesTheStackAndTheLastFreesIt) {
    kwtest::ScopedCountingStack counting;
    ASSERT_EQ(TIdComponent::ComponentCount(), 0);
    EXPECT_EQ(GStack(), nullptr);
    auto first = std::make_unique<TIdComponent>();
    auto second = TIdBaseComponent::Create<TIdComponent>();
    TIdStack* stack = GStack();
    ASSERT_NE(stack, nullptr);
    first.reset();
    EXPECT_EQ(GStack(), stack);
    second.reset();
    EXPECT_EQ(GStack(), nullptr);
    EXPECT_EQ(kwtest::CountingStack::alive, 0);
    auto third = std::make_unique<TIdComponent>();
    EXPECT_NE(GStack(), nullptr);
    EXPECT_EQ(kwtest::CountingStack::made, 2);
    EXPECT_EQ(TIdComponent::ComponentCount(), 1);
}

TEST(IdComponent, AFailedStackLeavesTheCountAtZero) {
    ASSERT_EQ(TIdComponent::ComponentCount(), 0);
    TIdStack::SetStackClass(nullptr);
    try {
        TIdComponent c;
        ADD_FAILURE() << "made without a stack class";
    } catch (const EIdException& e) {
        EXPECT_EQ(e.Message(), "Stack Class is undefined.");
    }
    TIdStack::SetStackClass(&TIdStackLinux::MakeStack);
    EXPECT_EQ(TIdComponent::ComponentCount(), 0);
    TIdComponent c;
    EXPECT_NE(GStack(), nullptr);
    EXPECT_THROW(TIdStack::CreateStackInstance(), EIdException);  // "Stack already created."
}

TEST(IdComponent, ThreadsMakingAndFreeingComponentsShareOneStack) {
    kwtest::ScopedCountingStack counting;
    std::atomic<int> withoutStack{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                TIdComponent c;
                // While a component lives, the stack is there and is the only one.
                TIdStack* stack = GStack();
                if (stack == nullptr || kwtest::CountingStack::alive != 1) ++withoutStack;
                else (void)stack->HostName();
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(withoutStack, 0);
    EXPECT_EQ(kwtest::CountingStack::maxAlive, 1);
    EXPECT_EQ(kwtest::CountingStack::alive, 0);
    EXPECT_EQ(TIdComponent::ComponentCount(), 0);
    EXPECT_EQ(GStack(), nullptr);
}

TEST(IdComponent, StatusTexts) {
    TIdComponent c;
    std::vector<std::string> seen;
    c.OnStatus = [&](TIdComponent* sender, TIdStatus, const std::string& text) {
        EXPECT_EQ(sender, &c);
        seen.push_back(text);
    };
    c.DoStatusPlain(hsConnected);
    c.DoStatusPlain(hsStatusText);
    c.DoStatus(hsConnecting, "10.0.0.1");
    c.DoStatus(hsResolving, "host");
    c.DoStatusPlain(hsConnecting);
    EXPECT_EQ(seen, (std::vector<std::string>{"Connected.", "", "Connecting to 10.0.0.1.", "Resolving hostname host.",
                                              "Connecting to ."}));
}

struct WorkLog {
    std::vector<std::string> events;
    void Attach(TIdComponent& c, const std::string& who) {
        c.OnWorkBegin = [this, who](TIdComponent*, TWorkMode m, int64_t max) {
            events.push_back(who + " begin " + std::to_string(m) + " " + std::to_string(max));
        };
        c.OnWork = [this, who](TIdComponent*, TWorkMode m, int64_t n) {
            events.push_back(who + " work " + std::to_string(m) + " " + std::to_string(n));
        };
        c.OnWorkEnd = [this, who](TIdComponent*, TWorkMode m) {
            events.push_back(who + " end " + std::to_string(m));
        };
    }
};

TEST(IdComponent, NestedWorkEventsReportRunningTotals) {
    TIdComponent c;
    WorkLog log;
    log.Attach(c, "c");
    c.WorkProgress(wmRead, 7);  // no begin: nothing
    c.WorkBegin(wmRead, 100);
    c.WorkBegin(wmRead, 5);
    c.WorkProgress(wmRead, 10);
    c.WorkProgress(wmRead, 5);
    c.WorkBegin(wmWrite, 3);
    c.WorkEnd(wmRead);
    c.WorkEnd(wmRead);
    c.WorkEnd(wmWrite);
    c.WorkEnd(wmWrite);  // unmatched: nothing, and the next begin still reports
    c.WorkBegin(wmWrite, 1);
    EXPECT_EQ(log.events, (std::vector<std::string>{"c begin 0 100", "c work 0 10", "c work 0 15", "c begin 1 3",
                                                    "c end 0", "c end 1", "c begin 1 1"}));
}

TEST(IdComponent, AWorkRelayReportsInsteadOfTheComponent) {
    WorkLog log;
    auto target = std::make_unique<TIdComponent>();
    TIdComponent source;
    log.Attach(source, "source");
    log.Attach(*target, "target");
    source.SetWorkRelay(target.get());
    source.WorkBegin(wmWrite, 9);
    source.WorkProgress(wmWrite, 4);
    source.WorkEnd(wmWrite);
    EXPECT_EQ(log.events, (std::vector<std::string>{"target begin 1 9", "target work 1 4", "target end 1"}));
    // The relay going away is noticed; work is reported here again.
    target.reset();
    EXPECT_EQ(source.WorkRelay(), nullptr);
    log.events.clear();
    source.WorkBegin(wmRead, 1);
    EXPECT_EQ(log.events, (std::vector<std::string>{"source begin 0 1"}));
}

class TestAntiFreeze : public TIdAntiFreezeBase {
public:
    using TIdAntiFreezeBase::TIdAntiFreezeBase;
    int processed = 0;
    bool applies = true;
    void ProcessUserInterface() override { ++processed; }
    bool AppliesToCaller() const override { return applies; }
};

TEST(IdAntiFreeze, OnePerProcessAndProcessingRules) {
    auto first = std::make_unique<TestAntiFreeze>();
    EXPECT_EQ(first->IdleTimeOut, 250);
    EXPECT_TRUE(first->Active && first->OnlyWhenIdle && first->ApplicationHasPriority);
    try {
        TestAntiFreeze second;
        ADD_FAILURE();
    } catch (const EIdException& e) {
        EXPECT_EQ(e.Message(), "Only one TIdAntiFreeze can exist per application.");
    }
    EXPECT_EQ(TIdAntiFreezeBase::Current(), first.get());
    TIdAntiFreezeBase::ProcessIfActive(true);
    TIdAntiFreezeBase::ProcessIfActive(false);         // not idle, only when idle: nothing
    TIdAntiFreezeBase::ProcessIfActive(false, true);  // forced
    EXPECT_EQ(first->processed, 2);
    first->Active = false;
    TIdAntiFreezeBase::ProcessIfActive(true);
    first->Active = true;
    first->applies = false;
    TIdAntiFreezeBase::ProcessIfActive(true);
    EXPECT_EQ(first->processed, 2);
    first.reset();
    EXPECT_EQ(TIdAntiFreezeBase::Current(), nullptr);
    TIdAntiFreezeBase::ProcessIfActive(true);
    TestAntiFreeze again;
    EXPECT_EQ(TIdAntiFreezeBase::Current(), &again);
}

}  // namespace

// One free-notification link serves the pointers of both sides: a connection's IO handler and
// the handler's work relay back to the connection. Letting go of one pointer keeps the link
// the other still needs.
TEST(IdComponent, ALinkStaysWhileEitherSideStillHoldsAPointer) {
    TIdTCPClient client;
    auto handler = std::make_unique<TIdIOHandlerStack>();
    auto elsewhere = std::make_unique<TIdComponent>();
    client.SetIOHandler(handler.get());
    EXPECT_EQ(handler->WorkRelay(), &client);
    handler->SetWorkRelay(elsewhere.get());  // the handler drops its pointer to the client
    handler.reset();                         // the client still hears of the handler going
    EXPECT_EQ(client.IOHandler(), nullptr);

    auto second = std::make_unique<TIdIOHandlerStack>();
    client.SetIOHandler(second.get());
    client.SetIOHandler(nullptr);  // both pointers dropped: the link goes
    second->SetWorkRelay(elsewhere.get());
    elsewhere.reset();
    EXPECT_EQ(second->WorkRelay(), nullptr);
}
