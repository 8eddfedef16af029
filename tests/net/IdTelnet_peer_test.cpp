// Tests of the Telnet client against a scripted peer: negotiation answers (also split across
// reads), data with doubled IACs, the reachability probe's pattern and disconnects; and against
// a real telnetd on a busy machine.
#include "net/IdTelnet.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "tests/net/NetTestSupport.h"
#include "tests/net/ScriptBuilder.h"
#include "tests/net/ScriptPeer.h"
#include "tests/net/SocksPeers.h"

namespace {

using kwtest::B;
using kwtest::Script;
using kwtest::ScriptPeer;
using kwtest::StackHolder;

constexpr int IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;

struct NegotiationCase {
    const char* name;
    std::string received;
    std::string answer;
    std::vector<TIdTelnetCommand> commands;
};

std::vector<NegotiationCase> Cases() {
    return {
        {"DO TERMINAL-TYPE", B({IAC, DO, 24}), B({IAC, WILL, 24}), {}},
        {"SB TERMINAL-TYPE SEND", B({IAC, SB, 24, 1, IAC, SE}),
         B({IAC, SB, 24, 0}) + "dumb" + B({IAC, SE}), {}},
        {"WILL ECHO", B({IAC, WILL, 1}), B({IAC, DO, 1}), {tncNoLocalEcho}},
        {"WILL END-OF-RECORD", B({IAC, WILL, 25}), B({IAC, DO, 25}), {}},
        {"WILL other", B({IAC, WILL, 3}), B({IAC, DONT, 3}), {}},
        {"DO ECHO", B({IAC, DO, 1}), B({IAC, WILL, 1}), {tncLocalEcho}},
        {"DO WINDOW-SIZE", B({IAC, DO, 31}), B({IAC, WONT, 31}), {}},
        {"DO AUTHENTICATION", B({IAC, DO, 37}), B({IAC, WONT, 37}), {}},
        {"WONT ECHO", B({IAC, WONT, 1}), B({IAC, DONT, 1}), {tncLocalEcho}},
        {"WONT other", B({IAC, WONT, 5}), B({IAC, DONT, 5}), {}},
        {"DONT ECHO", B({IAC, DONT, 1}), B({IAC, WONT, 1}), {tncEcho}},
        {"DONT other", B({IAC, DONT, 5}), B({IAC, WONT, 5}), {}},
        {"SB other SEND", B({IAC, SB, 99, 1, IAC, SE}), B({IAC, SB, 24, 0}) + "dumb" + B({IAC, SE}), {}},
        {"SB IS", B({IAC, SB, 24, 0, 'x', IAC, SE}), "", {}},
        {"IAC after SB", B({IAC, SB, IAC, 1}), "", {}},
        {"EOR ignored", B({IAC, 239}), "", {}},
        {"GA ignored", B({IAC, 249}), "", {}},
    };
}

// A connected client whose peer only records; the test feeds Negotiate itself.
struct Negotiator {
    ScriptPeer peer{Script().RecvAll().Json()};
    StackHolder holder;
    TIdTelnet telnet;
    std::string data;
    std::vector<TIdTelnetCommand> commands;
    Negotiator() {
        if (!peer.Available()) return;
        telnet.SetHost("127.0.0.1");
        telnet.SetPort(peer.Port());
        telnet.OnDataAvailable = [this](TIdTelnet*, const std::string& d) { data += d; };
        telnet.OnTelnetCommand = [this](TIdTelnet*, TIdTelnetCommand c) { commands.push_back(c); };
        telnet.Connect();
    }
};

TEST(IdTelnetPeer, NegotiationAnswersWholeAndSplitAcrossTwoReads) {
    for (const NegotiationCase& c : Cases()) {
        for (size_t cut = 0; cut < c.received.size(); ++cut) {
            Negotiator n;
            KW_REQUIRE_SCRIPT_PEER(n.peer);
            if (cut == 0) {
                n.telnet.Negotiate(c.received);
            } else {
                n.telnet.Negotiate(c.received.substr(0, cut));
                n.telnet.Negotiate(c.received.substr(cut));
            }
            EXPECT_EQ(n.commands, c.commands) << c.name << " cut " << cut;
            EXPECT_EQ(n.data, "") << c.name << " cut " << cut;
            EXPECT_EQ(n.telnet.State(), 0) << c.name << " cut " << cut;
            n.telnet.Disconnect();
            EXPECT_EQ(n.peer.Transcript(), c.answer) << c.name << " cut " << cut;
        }
    }
}

TEST(IdTelnetPeer, DoubledIACsInData) {
    Negotiator n;
    KW_REQUIRE_SCRIPT_PEER(n.peer);
    n.telnet.Negotiate(B({'A', IAC, IAC, 'B'}));
    EXPECT_EQ(n.data, B({'A', IAC, 'B'}));
    n.data.clear();
    n.telnet.Negotiate(B({'x', IAC}));
    n.telnet.Negotiate(B({IAC, 'y', IAC, DO, 24, 'z'}));
    EXPECT_EQ(n.data, B({'x', IAC, 'y', 'z'}));
    n.telnet.Disconnect();
    EXPECT_EQ(n.peer.Transcript(), B({IAC, WILL, 24}));
}

TEST(IdTelnetPeer, TheReadThreadNegotiatesAndDeliversInTheCreatingThread) {
    ScriptPeer peer(Script()
                        .Send(B({IAC, DO, 24}))
                        .Recv(3)
                        .Send(B({IAC, SB, 24, 1, IAC, SE}))
                        .Recv(10)
                        .Send("hello " + B({IAC, IAC}) + " world")
                        .RecvAll()
                        .Json());
    KW_REQUIRE_SCRIPT_PEER(peer);
    StackHolder holder;
    TIdTelnet telnet;
    EXPECT_EQ(telnet.Port(), 23);
    telnet.SetHost("127.0.0.1");
    telnet.SetPort(peer.Port());
    std::string data;
    std::thread::id deliveredIn;
    telnet.OnDataAvailable = [&](TIdTelnet*, const std::string& d) {
        data += d;
        deliveredIn = std::this_thread::get_id();
    };
    int connects = 0, disconnects = 0;
    telnet.OnConnect = [&](TIdComponent*) { ++connects; };
    telnet.OnDisconnect = [&](TIdComponent*) { ++disconnects; };
    telnet.Connect();
    EXPECT_EQ(connects, 1);
    ASSERT_NE(telnet.ReadThread(), nullptr);
    const std::string want = "hello " + B({IAC}) + " world";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (data != want && std::chrono::steady_clock::now() < end) rtl::CheckSynchronize(100);
    EXPECT_EQ(data, want);
    EXPECT_EQ(deliveredIn, std::this_thread::get_id());
    telnet.Disconnect();
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(telnet.ReadThread(), nullptr);
    EXPECT_EQ(peer.Transcript(), B({IAC, WILL, 24, IAC, SB, 24, 0}) + "dumb" + B({IAC, SE}));
}

TEST(IdTelnetPeer, TheProbePatternWithAGreetingServerLeavesNoThread) {
    ScriptPeer peer(Script().Send("Welcome to the server\r\nlogin: ").RecvAll().Json());
    KW_REQUIRE_SCRIPT_PEER(peer);
    StackHolder holder;
    const int before = ThreadCount();
    {
        auto telnet = TIdBaseComponent::Create<TIdTelnet>();
        telnet->SetHost("127.0.0.1");
        telnet->SetPort(peer.Port());
        telnet->SetConnectTimeout(5000);
        telnet->Connect();
        telnet->Disconnect();
    }
    EXPECT_EQ(ThreadCount(), before);
    EXPECT_TRUE(peer.Finished());
}

TEST(IdTelnetPeer, DataWithoutAHandlerEndsTheReadThreadQuietly) {
    ScriptPeer peer(Script().Send("greeting").RecvAll().Json());
    KW_REQUIRE_SCRIPT_PEER(peer);
    StackHolder holder;
    TIdTelnet telnet;
    telnet.ThreadedEvent = true;
    telnet.SetHost("127.0.0.1");
    telnet.SetPort(peer.Port());
    telnet.Connect();
    ASSERT_TRUE(kwtest::Eventually([&] { return telnet.ReadThread()->Finished(); }));
    EXPECT_EQ(telnet.ReadThread()->TerminatingExceptionClass(), "EIdTelnetServerOnDataAvailableIsNil");
    EXPECT_EQ(telnet.ReadThread()->TerminatingException(), "OnDataAvailable event is nil.");
    telnet.Disconnect();
}

TEST(IdTelnetPeer, DisconnectFromAWorkerThreadReturns) {
    ScriptPeer peer(Script().Send("data the worker never collects").RecvAll().Json());
    KW_REQUIRE_SCRIPT_PEER(peer);
    StackHolder holder;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        TIdTelnet telnet;
        telnet.SetHost("127.0.0.1");
        telnet.SetPort(peer.Port());
        std::string data;
        telnet.OnDataAvailable = [&](TIdTelnet*, const std::string& d) { data += d; };
        telnet.Connect();
        // The read thread now waits for this thread to run its delivery; the worker never
        // calls CheckSynchronize, and Disconnect still returns.
        ASSERT_TRUE(kwtest::Eventually([&] { return telnet.ReadThread()->Steps() >= 1; }));
        telnet.Disconnect();
        returned = true;
    });
    worker.join();
    EXPECT_TRUE(returned);
}

TEST(IdTelnetPeer, ASilentPeerCostsAFewReadSteps) {
    ScriptPeer peer(Script().RecvAll().Json());
    KW_REQUIRE_SCRIPT_PEER(peer);
    StackHolder holder;
    TIdTelnet telnet;
    telnet.ThreadedEvent = true;
    telnet.OnDataAvailable = [](TIdTelnet*, const std::string&) {};
    telnet.SetHost("127.0.0.1");
    telnet.SetPort(peer.Port());
    telnet.Connect();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int steps = telnet.ReadThread()->Steps();
    EXPECT_GE(steps, 1);
    EXPECT_LE(steps, 10);  // it waits for data; a polling loop would take thousands
    telnet.Disconnect();
}

TEST(IdTelnetPeer, AFailedConnectRaisesTheSocketErrorAndStartsNoThread) {
    StackHolder holder;
    const int bound = GStack()->CreateSocket(Id_SOCK_STREAM, 0, Id_IPv4);
    GStack()->BindSocket(bound, "127.0.0.1", 0, Id_IPv4);
    std::string a;
    uint16_t port = 0;
    GStack()->ReadLocalAddress(bound, a, port);
    const int before = ThreadCount();
    TIdTelnet telnet;
    telnet.SetHost("127.0.0.1");
    telnet.SetPort(port);
    telnet.SetConnectTimeout(2000);
    try {
        telnet.Connect();
        ADD_FAILURE();
    } catch (const EIdTelnetClientConnectError&) {
        ADD_FAILURE() << "the connect error instead of the socket error";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.SocketErrorCode, 10061);
    }
    EXPECT_EQ(telnet.ReadThread(), nullptr);
    EXPECT_EQ(ThreadCount(), before);
    GBSDStack()->CloseSocketHandle(bound);
}

TEST(IdTelnetPeer, AnOnConnectThatRaisesClosesAndReportsTheServerNotResponding) {
    ScriptPeer peer(Script().RecvAll().Json());
    KW_REQUIRE_SCRIPT_PEER(peer);
    StackHolder holder;
    TIdTelnet telnet;
    telnet.SetHost("127.0.0.1");
    telnet.SetPort(peer.Port());
    int disconnects = 0;
    telnet.OnConnect = [](TIdComponent*) { throw EIdException("no"); };
    telnet.OnDisconnect = [&](TIdComponent*) { ++disconnects; };
    try {
        telnet.Connect();
        ADD_FAILURE();
    } catch (const EIdTelnetClientConnectError& e) {
        EXPECT_EQ(e.Message(), "server not responding");
    }
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(telnet.IsConnected());
}

// ---------------------------------------------------------------------------------------------
// A real telnetd

// inetutils telnetd behind socat, its login program a shell script that greets with the
// terminal type the client gave, then answers every line it reads. The session stays open until
// the client goes: telnetd drops what its program wrote last when the program ends right after
// writing it (seen on a busy machine: the shell had read the line, the answer never left).
constexpr const char* kTelnetdScript =
    "echo \"greeting for $TERM\"\n"
    "while read line; do echo \"you said: $line\"; done\n";

// Where telnetd is: installed, or unpacked by scripts/install-deps (its package would bring an
// inetd and a syslogd with it).
std::string TelnetdProgram() {
    return ::access("/usr/sbin/telnetd", X_OK) == 0 ? "/usr/sbin/telnetd"
                                                    : "/opt/kwloader-peers/telnetd/usr/sbin/telnetd";
}

class Telnetd : public kwtest::DaemonPeer {
public:
    Telnetd()
        : DaemonPeer("socat",
                     {"TCP-LISTEN:{PORT},bind=127.0.0.1,reuseaddr,fork",
                      "SYSTEM:exec " + TelnetdProgram() + " -h -E \\\"/bin/sh {DIR}/server.conf\\\",nofork"},
                     kTelnetdScript) {}
    bool Ready() const { return Available() && ::access(TelnetdProgram().c_str(), X_OK) == 0; }
    std::string Why() const { return Available() ? "inetutils telnetd is not installed" : Reason(); }
};

// Threads that keep every processor busy while they live.
class BusyProcessors {
public:
    BusyProcessors() {
        const unsigned n = 2 * std::max(2u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < n; ++i)
            threads_.emplace_back([this] {
                while (!stop_.load(std::memory_order_relaxed)) {
                }
            });
    }
    ~BusyProcessors() {
        stop_ = true;
        for (std::thread& t : threads_)
            t.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// The answers ("you said: ...") in the order they came.
std::vector<std::string> Answers(const std::string& data) {
    std::vector<std::string> out;
    const std::string mark = "you said: ";
    for (size_t at = data.find(mark); at != std::string::npos; at = data.find(mark, at + 1)) {
        const size_t end = data.find("\r\n", at);
        if (end == std::string::npos) break;
        out.push_back(data.substr(at + mark.size(), end - at - mark.size()));
    }
    return out;
}

// One session: waits for the greeting, sends a line at once (while the server may still be
// negotiating), waits for its answer, then sends three lines back to back and waits for theirs.
// What the client received.
std::string Session(int port, bool threaded) {
    TIdTelnet telnet;
    telnet.Terminal = "vt100";
    telnet.ThreadedEvent = threaded;
    telnet.SetHost("127.0.0.1");
    telnet.SetPort(port);
    std::mutex lock;
    std::string data;
    telnet.OnDataAvailable = [&](TIdTelnet*, const std::string& d) {
        std::lock_guard guard(lock);
        data += d;
    };
    const auto received = [&] {
        std::lock_guard guard(lock);
        return data;
    };
    // A generous limit: only a lost line takes it whole.
    const auto waitFor = [&](const std::string& text) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (received().find(text) == std::string::npos && std::chrono::steady_clock::now() < end)
            if (threaded)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            else
                rtl::CheckSynchronize(50);
        return received().find(text) != std::string::npos;
    };
    telnet.Connect();
    if (waitFor("greeting for vt100\r\n")) {
        telnet.SendText("hello\r\n");
        if (waitFor("you said: hello\r\n")) {
            for (const char* line : {"one\r\n", "two\r\n", "three\r\n"})
                telnet.SendText(line);
            waitFor("you said: three\r\n");
        }
    }
    telnet.Disconnect();
    return received();
}

TEST(IdTelnetTelnetd, EveryLineSentArrivesInOrderWhileTheProcessorsAreBusy) {
    Telnetd server;
    KW_REQUIRE_PEER(server.Ready(), server.Why());
    StackHolder holder;
    const BusyProcessors busy;
    for (int round = 0; round < 5; ++round) {
        for (const bool threaded : {false, true}) {
            const std::string data = Session(server.Port(), threaded);
            EXPECT_EQ(Answers(data), (std::vector<std::string>{"hello", "one", "two", "three"}))
                << "round " << round << (threaded ? ", threaded" : ", synchronised") << ": " << data;
        }
    }
}

}  // namespace
