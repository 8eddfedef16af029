// The datagram support of the common layer: fragments and their assembly, flight completeness,
// replay windows, the retransmission queue and timer, and the timer component on a manual
// clock.
#include <gtest/gtest.h>

#include <atomic>
#include <set>

#include "platform/Clock.h"
#include "support/TestSupport.h"
#include "tests/tls/TlsTestSupport.h"
#include "tls/SBSSLCommon.h"
#include "tls/SBTimer.h"

using kwtest::Hex;

namespace {

// A datagram object that records what it would send.
class DatagramObject final : public TElSSLClass {
public:
    DatagramObject() { EnterDatagramMode(); }
    ~DatagramObject() override { StopRetransmission(); }
    bool IsDatagram() const override { return true; }
    void SendRecord(uint8_t contentKind, const void* data, int32_t length, int32_t epoch, bool isProtected) override {
        std::lock_guard<std::mutex> lock(m);
        sent.push_back({contentKind, std::string(static_cast<const char*>(data), size_t(length)), epoch, isProtected});
    }
    struct Sent {
        uint8_t kind;
        std::string data;
        int32_t epoch;
        bool isProtected;
    };
    std::mutex m;
    std::vector<Sent> sent;
    size_t SentCount() {
        std::lock_guard<std::mutex> lock(m);
        return sent.size();
    }
};

std::unique_ptr<TElDTLSFlightItem> Fragment(uint8_t type, uint32_t offset, uint32_t length, uint32_t seq,
                                            uint32_t messageLength, uint8_t fill = 0x11) {
    const ByteArray data(length, fill);
    return TElDTLSFlightItem::CreateFragment(type, data, offset, seq, messageLength);
}

TEST(SBSSLDatagram, FragmentCompleteness) {
    struct Case {
        uint32_t o1, l1, o2, l2;
        bool complete;
    };
    for (const Case& c : {Case{0, 100, 100, 50, true}, Case{0, 100, 101, 49, false}, Case{0, 100, 50, 100, true},
                          Case{50, 100, 0, 100, true}, Case{10, 90, 100, 50, false}, Case{0, 100, 0, 100, false}}) {
        TElSSLClass s;
        ASSERT_TRUE(s.AddReceivedFragment(Fragment(2, c.o1, c.l1, 1, 150)));
        ASSERT_TRUE(s.AddReceivedFragment(Fragment(2, c.o2, c.l2, 1, 150)));
        EXPECT_EQ(s.IsMessageComplete(2), c.complete) << c.o1 << "+" << c.l1 << ", " << c.o2 << "+" << c.l2;
    }
    TElSSLClass empty;
    EXPECT_FALSE(empty.IsMessageComplete(2));
}

TEST(SBSSLDatagram, AssembleHandshakeMessage) {
    TElSSLClass s;
    s.AddReceivedFragment(Fragment(2, 100, 50, 1, 150, 0xBB));
    s.AddReceivedFragment(Fragment(2, 0, 100, 1, 150, 0xAA));
    ByteArray bytes;
    s.AssembleHandshakeMessage(2, bytes);
    ASSERT_EQ(bytes.size(), 162u);
    EXPECT_EQ(Hex(bytes.data(), 12), "020000960001000000000096");
    EXPECT_EQ(bytes[12], 0xAA);
    EXPECT_EQ(bytes[111], 0xAA);
    EXPECT_EQ(bytes[112], 0xBB);
    EXPECT_EQ(bytes[161], 0xBB);
    s.AssembleHandshakeMessage(11, bytes);
    EXPECT_TRUE(bytes.empty());
    EXPECT_TRUE(s.HasHandshakeMessage(2));
    EXPECT_EQ(s.GetMessageSeqByType(2), 1);
    EXPECT_EQ(s.GetTypeByMessageSeq(1), 2);
    EXPECT_EQ(s.GetTypeByMessageSeq(5), -1);
}

TEST(SBSSLDatagram, FragmentsOutsideTheirMessageAreRefused) {
    const ByteArray ten(10, 1);
    EXPECT_THROW(TElDTLSFlightItem::CreateFragment(2, ten, 95, 0, 100), EElSSLError);
    EXPECT_THROW(TElDTLSFlightItem::CreateFragment(2, ten, 0xFFFFFFFF, 0, 100), EElSSLError);
    EXPECT_THROW(TElDTLSFlightItem::CreateFragment(2, ten, 0, 0, TElDTLSFlightItem::MaxMessageLength + 1), EElSSLError);
    EXPECT_NO_THROW(TElDTLSFlightItem::CreateFragment(2, ten, 90, 0, 100));
    // A second fragment that claims another length for the same message is not taken.
    TElSSLClass s;
    EXPECT_TRUE(s.AddReceivedFragment(Fragment(2, 0, 10, 3, 100)));
    EXPECT_FALSE(s.AddReceivedFragment(Fragment(2, 10, 10, 3, 20)));
    EXPECT_FALSE(s.AddReceivedFragment(Fragment(11, 10, 10, 3, 100)));
    EXPECT_EQ(s.GetReceivedFragmentCount(), 1);
}

TEST(SBSSLDatagram, DiscardedFlightsAreNotTakenAgain) {
    TElSSLClass s;
    s.AddReceivedFragment(Fragment(2, 0, 10, 4, 10));
    s.AddReceivedFragment(Fragment(11, 0, 10, 2, 10));
    s.DiscardReceivedFlight();
    EXPECT_EQ(s.GetReceivedFragmentCount(), 0);
    EXPECT_EQ(s.GetLastProcessedMessageSeq(), 4);
    EXPECT_FALSE(s.AddReceivedFragment(Fragment(2, 0, 10, 4, 10)));
    EXPECT_TRUE(s.AddReceivedFragment(Fragment(14, 0, 0, 5, 0)));
    s.DiscardReceivedFlight();
    s.AddReceivedFragment(Fragment(2, 0, 10, 9, 10));
    s.ClearReceivedFragments();
    EXPECT_EQ(s.GetLastProcessedMessageSeq(), 5);  // clearing does not count as processing
}

TEST(SBSSLDatagram, AreMessagesComplete) {
    TElSSLClass s;
    s.AddReceivedFragment(Fragment(2, 0, 10, 2, 10));
    s.AddReceivedFragment(Fragment(11, 0, 10, 3, 10));
    s.AddReceivedFragment(Fragment(14, 0, 0, 4, 0));
    EXPECT_TRUE(s.AreMessagesComplete(2, 4, false));
    EXPECT_FALSE(s.AreMessagesComplete(2, 4, true));  // no ChangeCipherSpec held
    EXPECT_FALSE(s.AreMessagesComplete(2, 5, false));
    s.AddReceivedFragment(TElDTLSFlightItem::CreateEmpty());
    EXPECT_TRUE(s.AreMessagesComplete(2, 4, true));
    // The workaround lets one message of the range be missing when a ChangeCipherSpec came.
    s.Options.Include(ssloOpenSSLDTLSWorkaround);
    EXPECT_TRUE(s.AreMessagesComplete(2, 5, false));
    EXPECT_FALSE(s.AreMessagesComplete(2, 6, false));
    s.AddReceivedFragment(Fragment(13, 0, 5, 6, 10));
    EXPECT_FALSE(s.AreMessagesComplete(2, 6, false));  // an incomplete message in the range
}

TEST(SBSSLDatagram, ReplayWindow) {
    TElSSLClass s;
    EXPECT_FALSE(s.CheckReplayWindow(false, 0));
    s.MarkReplayWindow(false, 0);
    EXPECT_TRUE(s.CheckReplayWindow(false, 0));
    s.ClearReplayWindow();
    s.MarkReplayWindow(false, 70);
    EXPECT_EQ(s.GetReplayWindow(false).Base, 7);
    for (int i = 0; i < 63; ++i) EXPECT_EQ(s.GetReplayWindow(false).Seen[i], 0) << i;
    EXPECT_EQ(s.GetReplayWindow(false).Seen[63], 1);
    EXPECT_TRUE(s.CheckReplayWindow(false, 6));
    EXPECT_FALSE(s.CheckReplayWindow(false, 8));
    EXPECT_TRUE(s.CheckReplayWindow(false, 70));
    EXPECT_FALSE(s.CheckReplayWindow(false, 71));
    // A slide within the window keeps the flags that stay inside it.
    s.MarkReplayWindow(false, 40);
    s.MarkReplayWindow(false, 80);
    EXPECT_EQ(s.GetReplayWindow(false).Base, 17);
    EXPECT_TRUE(s.CheckReplayWindow(false, 40));
    EXPECT_TRUE(s.CheckReplayWindow(false, 70));
    EXPECT_FALSE(s.CheckReplayWindow(false, 41));
    s.MarkReplayWindow(false, 5);  // below the window: nothing
    EXPECT_EQ(s.GetReplayWindow(false).Base, 17);
    // The saved window is apart from the current one.
    s.SaveReplayWindow();
    s.ClearReplayWindow();
    EXPECT_TRUE(s.CheckReplayWindow(true, 80));
    EXPECT_FALSE(s.CheckReplayWindow(false, 80));
    s.MarkReplayWindow(true, 1000);
    EXPECT_EQ(s.GetReplayWindow(true).Base, 937);
    s.ClearSavedReplayWindow();
    EXPECT_EQ(s.GetReplayWindow(true).Base, 0);
}

TEST(SBSSLDatagram, DatagramModeFreezesStreamSuites) {
    DatagramObject d;
    EXPECT_TRUE(d.GetDatagramMode());
    d.SetSuiteEnabled(3, true);  // RC4: not for datagrams
    EXPECT_FALSE(d.GetSuiteEnabled(3));
    d.SetSuiteEnabled(11, false);
    EXPECT_FALSE(d.GetSuiteEnabled(11));
    // Exactly the NULL and RC4 suites stay as they were; every other one follows the setter.
    const std::set<uint8_t> frozen = {0, 1, 2, 3, 4, 30, 36, 42, 56, 60, 64};
    for (uint8_t i = 0; i <= SSLMaxSuiteIndex; ++i) {
        const bool before = d.GetSuiteEnabled(i);
        d.SetSuiteEnabled(i, !before);
        EXPECT_EQ(d.GetSuiteEnabled(i), frozen.count(i) ? before : !before) << "suite " << int(i);
    }
    ASSERT_NE(d.GetRetransmissionTimer(), nullptr);
    EXPECT_EQ(d.RetransmissionInterval, 1000u);
}

TEST(SBSSLDatagram, RetransmissionOnTheTimer) {
    plat::ManualClock clock;
    plat::ScopedClock scoped(clock);
    DatagramObject d;
    const ByteArray header{22, 0xFE, 0xFD}, body{1, 2, 3};
    d.AddToRetransmitQueue(std::make_unique<TElDTLSFlightItem>(2, 0, body, header));
    d.AddToRetransmitQueue(std::make_unique<TElDTLSFlightItem>(0, 1, ByteArray{1}, ByteArray{20}));
    d.RetransmitFlight();  // not active: sends, but no timer runs
    ASSERT_EQ(d.SentCount(), 2u);
    EXPECT_EQ(Hex(d.sent[0].data.data(), d.sent[0].data.size()), "16fefd010203");
    EXPECT_FALSE(d.sent[0].isProtected);
    EXPECT_TRUE(d.sent[1].isProtected);
    EXPECT_FALSE(d.GetRetransmissionTimer()->IsRunning());
    d.RetransmissionActive = true;
    d.RestartRetransmissionTimer();
    EXPECT_TRUE(d.GetRetransmissionTimer()->IsRunning());
    clock.Advance(999);
    clock.Advance(1);
    // The timer's thread sees the clock move and resends the queue, then starts again.
    EXPECT_TRUE(kwtest::Eventually([&] { return d.SentCount() == 4; }));
    d.StopRetransmission();
    EXPECT_FALSE(d.GetRetransmissionTimer()->IsRunning());
    d.ClearRetransmitQueue();
    EXPECT_EQ(d.GetRetransmitQueueCount(), 0);
}

TEST(SBTimer, TicksEveryIntervalWhileEnabled) {
    plat::ManualClock clock;
    plat::ScopedClock scoped(clock);
    std::atomic<int> ticks{0};
    {
        TElTimer timer;
        EXPECT_EQ(timer.GetInterval(), 1000u);
        EXPECT_FALSE(timer.GetEnabled());
        timer.OnTimer = [&](rtl::Component*) { ticks++; };
        timer.SetInterval(500);
        timer.SetEnabled(true);
        clock.Advance(500);
        ASSERT_TRUE(kwtest::Eventually([&] { return ticks.load() == 1; }));
        clock.Advance(500);
        ASSERT_TRUE(kwtest::Eventually([&] { return ticks.load() == 2; }));
        timer.SetEnabled(false);
        clock.Advance(5000);
        // Disabled: no tick however far the clock moves (the thread is asked and answers).
        timer.SetInterval(100);
        EXPECT_FALSE(timer.GetEnabled());
    }
    EXPECT_EQ(ticks.load(), 2);
}

TEST(SBTimer, DestroyedFromItsOwnTick) {
    plat::ManualClock clock;
    plat::ScopedClock scoped(clock);
    std::atomic<bool> done{false};
    auto timer = std::make_unique<TElTimer>();
    TElTimer* raw = timer.get();
    std::mutex m;
    raw->OnTimer = [&](rtl::Component*) {
        std::lock_guard<std::mutex> lock(m);
        if (timer) timer.reset();
        done = true;
    };
    raw->SetInterval(10);
    raw->SetEnabled(true);
    clock.Advance(10);
    EXPECT_TRUE(kwtest::Eventually([&] { return done.load(); }));
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(timer, nullptr);
}

}  // namespace
