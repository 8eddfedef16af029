// Tests of the socket stack on real loopback sockets, its texts, lists and name services.
#include "net/IdStack.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "net/IdStackLinux.h"
#include "tests/net/NetTestSupport.h"

namespace {

using kwtest::Listener;
using kwtest::SocketPair;
using kwtest::StackHolder;

class IdStackLoopback : public ::testing::TestWithParam<TIdIPVersion> {};

TEST_P(IdStackLoopback, BindListenAcceptConnectSendReceiveAndAddresses) {
    StackHolder holder;
    TIdStackLinux& stack = holder.stack();
    const TIdIPVersion v = GetParam();
    Listener listener(stack, v);
    ASSERT_NE(listener.port, 0);
    const std::string loopback = v == Id_IPv4 ? "127.0.0.1" : "0:0:0:0:0:0:0:1";

    const TIdStackSocketHandle client = stack.CreateSocket(Id_SOCK_STREAM, 0, v);
    stack.ConnectSocket(client, listener.Address(), listener.port, v);
    std::string peerAddress;
    uint16_t peerPort = 0;
    const TIdStackSocketHandle server = stack.AcceptConnection(listener.fd, peerAddress, peerPort);
    ASSERT_GE(server, 0);
    EXPECT_EQ(peerAddress, loopback);

    std::string local, peer;
    uint16_t localPort = 0, remotePort = 0;
    stack.ReadLocalAddress(client, local, localPort);
    stack.ReadPeerAddress(client, peer, remotePort);
    EXPECT_EQ(local, loopback);
    EXPECT_EQ(localPort, peerPort);
    EXPECT_EQ(peer, loopback);
    EXPECT_EQ(remotePort, listener.port);

    EXPECT_EQ(stack.SocketSend(client, TextToBytes("xhello"), 1, -1), 5);
    TBytes in(64);
    const int32_t n = stack.SocketReceive(server, in);
    in.resize(size_t(n));
    EXPECT_EQ(BytesToText(in), "hello");

    // An orderly close reads as 0.
    stack.DisconnectSocket(client);
    TBytes more(8);
    EXPECT_EQ(stack.SocketReceive(server, more), 0);
    stack.CloseSocketHandle(server);
}

INSTANTIATE_TEST_SUITE_P(IPv4AndIPv6, IdStackLoopback, ::testing::Values(Id_IPv4, Id_IPv6));

TEST(IdStack, RefusedConnectRaisesTheWindowsCodeAndText) {
    StackHolder holder;
    TIdStackLinux& stack = holder.stack();
    // A bound socket that does not listen: connects to its port are refused.
    const TIdStackSocketHandle bound = stack.CreateSocket(Id_SOCK_STREAM, 0, Id_IPv4);
    stack.BindSocket(bound, "127.0.0.1", 0, Id_IPv4);
    std::string address;
    uint16_t port = 0;
    stack.ReadLocalAddress(bound, address, port);

    const TIdStackSocketHandle client = stack.CreateSocket(Id_SOCK_STREAM, 0, Id_IPv4);
    try {
        stack.ConnectSocket(client, "127.0.0.1", port, Id_IPv4);
        ADD_FAILURE() << "connected";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.SocketErrorCode, 10061);
        EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
        EXPECT_STREQ(e.ClassName(), "EIdSocketError");
    }
    stack.CloseSocketHandle(client);
    stack.CloseSocketHandle(bound);
}

TEST(IdStack, AClosedDescriptorIsNotASocket) {
    StackHolder holder;
    TIdStackLinux& stack = holder.stack();
    const TIdStackSocketHandle fd = stack.CreateSocket(Id_SOCK_STREAM, 0, Id_IPv4);
    const int notSocket = ::dup(STDIN_FILENO);
    try {
        stack.ListenSocket(notSocket, 1);
        ADD_FAILURE() << "listened";
    } catch (const EIdNotASocket& e) {
        EXPECT_EQ(e.SocketErrorCode, 10038);
    }
    ::close(notSocket);
    stack.CloseSocketHandle(fd);
}

TEST(IdStack, HostResolution) {
    kwtest::ScopedCountingStack counting;
    {
        StackHolder holder;
        TIdStack& stack = *GStack();
        EXPECT_EQ(stack.ResolveHostText("LocalHost", Id_IPv4), "127.0.0.1");
        EXPECT_EQ(stack.ResolveHostText("10.1.2.3", Id_IPv4), "10.1.2.3");
        EXPECT_EQ(stack.ResolveHostText("::1", Id_IPv6), "0:0:0:0:0:0:0:1");
        EXPECT_EQ(kwtest::CountingStack::lookups, 0);

        // Not IPv4 text: looked up by name (and not found).
        EXPECT_THROW(stack.ResolveHostText("10.0.0.256", Id_IPv4), EIdSocketError);
        EXPECT_EQ(kwtest::CountingStack::lookups, 1);

        for (const TIdIPVersion v : {Id_IPv4, Id_IPv6}) {
            try {
                stack.ResolveHostText("kwloader-test.invalid", v);
                ADD_FAILURE() << "resolved";
            } catch (const EIdSocketError& e) {
                EXPECT_EQ(e.SocketErrorCode, 11001);
                EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
            }
        }
        // "localhost" through the resolver itself.
        EXPECT_EQ(stack.LookUpHostAddress("localhost", Id_IPv4), "127.0.0.1");
    }
}

TEST(IdStack, ServiceNamesFromTheServicesDatabase) {
    StackHolder holder;
    TIdStack& stack = *GStack();
    EXPECT_EQ(stack.ServiceNameToPort("http"), 80);
    EXPECT_EQ(stack.ServiceNameToPort("telnet"), 23);
    EXPECT_EQ(stack.ServiceNameToPort("8080"), 8080);
    for (const char* bad : {"no-such-service-kw", "70000", "-1", ""}) {
        try {
            stack.ServiceNameToPort(bad);
            ADD_FAILURE() << bad;
        } catch (const EIdInvalidServiceName& e) {
            EXPECT_EQ(e.Message(), std::string(bad) + " is not a valid service.");
        }
    }
    const std::unique_ptr<rtl::StringList> names = stack.PortToServiceNames(80);
    ASSERT_GE(names->Count(), 1);
    EXPECT_EQ((*names)[0], "http");
    EXPECT_EQ(stack.PortToServiceNames(65001)->Count(), 0);
}

TEST(IdStack, SocketErrorTexts) {
    EXPECT_EQ(SocketErrorText(10065), "Socket Error # 10065\r\nNo route to host.");
    EXPECT_EQ(SocketErrorText(12345), "Socket Error # 12345\r\n");
    EXPECT_EQ(SocketErrorText(11001), "Socket Error # 11001\r\nHost not found.");
    EXPECT_EQ(SocketErrorText(10066), "Socket Error # 10066\r\nDirectory not empty");
}

TEST(IdStack, IPv4TextAndAddressRecords) {
    struct Row {
        const char* text;
        bool ipv4;
    };
    const Row rows[] = {{"1.2.3.4", true},  {"0.0.0.0", true},   {"255.255.255.255", true}, {"1.2.3", false},
                        {"1.2.3.4.5", false}, {"1.2.3.x", false}, {"1.2.3.256", false},      {"+1.2.3.4", false},
                        {"1..3.4", false},   {"", false},        {" 1.2.3.4", false}};
    for (const Row& r : rows) EXPECT_EQ(TIdStack::IsIPv4Text(r.text), r.ipv4) << r.text;

    sockaddr_storage record;
    unsigned length;
    TextToAddress("FE80:0:0:0:0:0:0:1", 443, Id_IPv6, record, length);
    const auto& a6 = reinterpret_cast<const sockaddr_in6&>(record);
    const uint8_t want[16] = {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(std::memcmp(&a6.sin6_addr, want, 16), 0);
    EXPECT_EQ(ntohs(a6.sin6_port), 443);
    uint16_t port = 0;
    EXPECT_EQ(AddressToText(record, port), "FE80:0:0:0:0:0:0:1");
    EXPECT_EQ(port, 443);

    TextToAddress("10.0.0.1", 80, Id_IPv4, record, length);
    EXPECT_EQ(length, sizeof(sockaddr_in));
    EXPECT_EQ(AddressToText(record, port), "10.0.0.1");
    EXPECT_THROW(TextToAddress("10.0.0.300", 80, Id_IPv4, record, length), EIdSocketError);
    EXPECT_THROW(TextToAddress("1::2::3", 80, Id_IPv6, record, length), EIdSocketError);
    EXPECT_THROW(TextToAddress("x", 80, TIdIPVersion(7), record, length), EIdIPVersionUnsupported);

    EXPECT_EQ(TIdStack::HostToNet16(0x0102), 0x0201);
    EXPECT_EQ(TIdStack::NetToHost32(0x01020304u), 0x04030201u);
    EXPECT_EQ(TIdStack::HostToNet64(0x0102030405060708ull), 0x0807060504030201ull);
}

TEST(IdSocketList, HoldsAtMostSixtyFourSockets) {
    std::unique_ptr<TIdSocketList> list = TIdSocketList::CreateSocketList();
    for (int i = 0; i < 64; ++i) list->AddSocket(1000 + i);
    try {
        list->AddSocket(2000);
        ADD_FAILURE() << "65th socket added";
    } catch (const EIdStackSetSizeExceeded& e) {
        EXPECT_EQ(e.Message(), "Set Size Exceeded.");
    }
    EXPECT_EQ(list->SocketCount(), 64);
    EXPECT_THROW(list->ItemAt(64), EIdStackSetSizeExceeded);
    EXPECT_THROW(list->ItemAt(-1), EIdStackSetSizeExceeded);

    // Removing moves the last entry into the hole.
    list->RemoveSocket(1005);
    EXPECT_EQ(list->SocketCount(), 63);
    EXPECT_EQ(list->ItemAt(5), 1063);
    EXPECT_FALSE(list->HasSocket(1005));
    list->RemoveSocket(4242);
    EXPECT_EQ(list->SocketCount(), 63);
    const std::unique_ptr<TIdSocketList> clone = list->CloneList();
    EXPECT_EQ(clone->SocketCount(), 63);
    list->ClearSockets();
    EXPECT_EQ(list->SocketCount(), 0);
    EXPECT_EQ(clone->SocketCount(), 63);
}

TEST(IdSocketList, WaitsWithOneReadyAndOneIdleSocket) {
    StackHolder holder;
    TIdStackLinux& stack = holder.stack();
    Listener listener(stack, Id_IPv4);
    SocketPair busy(stack, listener);
    SocketPair idle(stack, listener);
    stack.SocketSend(busy.client, TextToBytes("x"));

    std::unique_ptr<TIdSocketList> list = TIdSocketList::CreateSocketList();
    list->AddSocket(idle.server);
    list->AddSocket(busy.server);
    // Generous bounds: the waits return as soon as the ready socket is seen.
    EXPECT_TRUE(list->WaitReadable(30000));
    EXPECT_EQ(list->SocketCount(), 2);  // WaitReadable leaves the list alone

    std::unique_ptr<TIdSocketList> ready;
    ASSERT_TRUE(list->WaitReadableList(ready, 30000));
    ASSERT_EQ(ready->SocketCount(), 1);
    EXPECT_EQ(ready->ItemAt(0), busy.server);

    std::unique_ptr<TIdSocketList> reads = list->CloneList();
    std::unique_ptr<TIdSocketList> writes = TIdSocketList::CreateSocketList();
    writes->AddSocket(idle.client);
    EXPECT_TRUE(TIdSocketList::SelectLists(reads.get(), writes.get(), nullptr, 30000));
    ASSERT_EQ(reads->SocketCount(), 1);
    EXPECT_EQ(reads->ItemAt(0), busy.server);
    EXPECT_EQ(writes->SocketCount(), 1);

    // Only the idle socket: a poll answers false at once and empties the list.
    std::unique_ptr<TIdSocketList> idleOnly = TIdSocketList::CreateSocketList();
    idleOnly->AddSocket(idle.server);
    EXPECT_FALSE(idleOnly->WaitReadable(0));
    EXPECT_FALSE(TIdSocketList::SelectLists(idleOnly.get(), nullptr, nullptr, 0));
    EXPECT_EQ(idleOnly->SocketCount(), 0);
    EXPECT_FALSE(TIdSocketList::SelectLists(nullptr, nullptr, nullptr, 0));
}

TEST(IdSocketList, WaitsOnADescriptorAboveTheOldSelectLimit) {
    rlimit lim{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &lim), 0);
    if (lim.rlim_cur <= 1500) GTEST_SKIP() << "descriptor limit " << lim.rlim_cur;
    StackHolder holder;
    TIdStackLinux& stack = holder.stack();
    Listener listener(stack, Id_IPv4);
    SocketPair pair(stack, listener);
    const int high = ::dup2(pair.server, 1500);
    ASSERT_EQ(high, 1500);
    stack.SocketSend(pair.client, TextToBytes("y"));
    std::unique_ptr<TIdSocketList> list = TIdSocketList::CreateSocketList();
    list->AddSocket(high);
    EXPECT_TRUE(list->WaitReadable(30000));
    ::close(high);
}

TEST(IdStack, LocalAddressesAndHostName) {
    StackHolder holder;
    TIdStack& stack = *GStack();
    EXPECT_FALSE(stack.HostName().empty());
    EXPECT_EQ(stack.HostName(), stack.QueryHostName());
    rtl::StringList& list = stack.LocalAddressList();
    bool loopback = false;
    for (int i = 0; i < list.Count(); ++i) loopback = loopback || list[i] == "127.0.0.1";
    EXPECT_TRUE(loopback);
    EXPECT_TRUE(stack.HasIPv6Protocol());
}

}  // namespace
