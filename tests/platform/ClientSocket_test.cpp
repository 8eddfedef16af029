// The client socket against listeners of the test's own on loopback: the bytes both ways,
// the Windows codes of failures, waits, and cancellation from another thread.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "platform/ClientSocket.h"

namespace {

// A listening socket on 127.0.0.1 at an ephemeral port.
class Listener {
public:
    explicit Listener(int backlog = 8) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(fd_, backlog), 0);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Listener() {
        if (fd_ >= 0) ::close(fd_);
    }
    uint16_t port() const { return port_; }
    int Accept() { return ::accept(fd_, nullptr, nullptr); }
    void Close() {
        ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

TEST(ClientSocket, SendsAndReceives) {
    Listener l;
    plat::ClientSocket s;
    s.Connect("127.0.0.1", l.port(), true);
    EXPECT_TRUE(s.Connected());
    const int peer = l.Accept();
    ASSERT_GE(peer, 0);
    EXPECT_EQ(s.WaitReadable(0), plat::ClientSocket::WaitResult::TimedOut);
    s.SendAll("ping", 4);
    char buf[8] = {};
    ASSERT_EQ(::recv(peer, buf, 4, MSG_WAITALL), 4);
    EXPECT_EQ(std::string(buf, 4), "ping");
    ASSERT_EQ(::send(peer, "pong!", 5, 0), 5);
    EXPECT_EQ(s.WaitReadable(-1), plat::ClientSocket::WaitResult::Readable);
    size_t got = 0;
    while (got < 5)
        got += s.Receive(buf + got, 5 - got);
    EXPECT_EQ(std::string(buf, 5), "pong!");
    ::close(peer);
    EXPECT_EQ(s.Receive(buf, 1), 0u);  // the server closed
    s.Close();
    EXPECT_FALSE(s.Connected());
}

TEST(ClientSocket, ResolvesNames) {
    Listener l;
    plat::ClientSocket s;
    s.Connect("localhost", l.port(), false);
    EXPECT_TRUE(s.Connected());
}

TEST(ClientSocket, ARefusedPortCarriesTheWindowsCode) {
    Listener l;
    const uint16_t port = l.port();
    l.Close();
    plat::ClientSocket s;
    try {
        s.Connect("127.0.0.1", port, true);
        FAIL() << "connected";
    } catch (const plat::ESocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 10061);
        EXPECT_EQ(e.Message(), "Windows socket error: Connection refused (10061), on API 'connect'");
    }
    EXPECT_FALSE(s.Connected());
    EXPECT_THROW(s.SendAll("x", 1), plat::ESocketError);
}

TEST(ClientSocket, WakeEndsOneWaitOnly) {
    Listener l;
    plat::ClientSocket s;
    s.Connect("127.0.0.1", l.port(), true);
    s.Wake();
    EXPECT_EQ(s.WaitReadable(-1), plat::ClientSocket::WaitResult::Woken);
    EXPECT_EQ(s.WaitReadable(0), plat::ClientSocket::WaitResult::TimedOut);
}

TEST(ClientSocket, CancelEndsABlockedReceiveFromAnotherThread) {
    Listener l;
    plat::ClientSocket s;
    s.Connect("127.0.0.1", l.port(), true);
    const int peer = l.Accept();  // accepts and never sends
    int code = 0;
    std::thread reader([&] {
        char b;
        try {
            s.Receive(&b, 1);
        } catch (const plat::ESocketError& e) {
            code = e.ErrorCode();
        }
    });
    s.Cancel();
    reader.join();
    EXPECT_EQ(code, plat::kSocketCancelled);
    EXPECT_THROW(s.WaitReadable(0), plat::ESocketError);  // and every later call
    ::close(peer);
}

TEST(ClientSocket, CancelEndsABlockedConnect) {
    // A listener with backlog 0 that never accepts: once its queue is full, a connect waits
    // for the system's time-out.
    Listener l(0);
    plat::ClientSocket fill1, fill2;
    fill1.Connect("127.0.0.1", l.port(), true);
    int code = 0;
    plat::ClientSocket s;
    std::thread connector([&] {
        try {
            fill2.Connect("127.0.0.1", l.port(), true);
            s.Connect("127.0.0.1", l.port(), true);
        } catch (const plat::ESocketError& e) {
            code = e.ErrorCode();
        }
    });
    s.Cancel();
    fill2.Cancel();
    connector.join();
    EXPECT_EQ(code, plat::kSocketCancelled);
    EXPECT_FALSE(s.Connected());
}

}  // namespace
