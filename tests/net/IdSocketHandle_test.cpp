// Tests of the socket handle (binding, port ranges, IP version) and of IP address literals.
#include "net/IdSocketHandle.h"

#include <gtest/gtest.h>

#include <random>

#include "net/IdIPAddress.h"
#include "support/TestSupport.h"
#include "tests/net/NetTestSupport.h"

namespace {

using kwtest::StackHolder;

// A socket bound to 127.0.0.1:port, or -1 when the port is taken.
int HoldPort(TIdStack& stack, int port) {
    const int fd = stack.CreateSocket(Id_SOCK_STREAM, 0, Id_IPv4);
    try {
        stack.BindSocket(fd, "127.0.0.1", uint16_t(port), Id_IPv4);
        return fd;
    } catch (const EIdSocketError&) {
        GBSDStack()->CloseSocketHandle(fd);
        return -1;
    }
}

TEST(IdSocketHandle, BindsTheHighestFreePortOfItsRange) {
    StackHolder holder;
    TIdStack& stack = *GStack();
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int base = 20000 + int(random() % 30000);
        // The test holds the top two ports of the range; the bottom one must be free.
        const int top = HoldPort(stack, base + 2);
        const int next = top >= 0 ? HoldPort(stack, base + 1) : -1;
        const int probe = next >= 0 ? HoldPort(stack, base) : -1;
        if (probe >= 0) GBSDStack()->CloseSocketHandle(probe);
        if (probe < 0) {
            if (top >= 0) GBSDStack()->CloseSocketHandle(top);
            if (next >= 0) GBSDStack()->CloseSocketHandle(next);
            continue;
        }
        TIdSocketHandle handle;
        handle.AllocateSocket();
        handle.IP = "127.0.0.1";
        handle.ClientPortMin = base;
        handle.ClientPortMax = base + 2;
        handle.Bind();
        EXPECT_EQ(handle.Port, base);
        // Every port of a range taken: the range's own error.
        TIdSocketHandle second;
        second.AllocateSocket();
        second.IP = "127.0.0.1";
        second.ClientPortMin = base + 1;
        second.ClientPortMax = base + 2;
        try {
            second.Bind();
            ADD_FAILURE() << "bound";
        } catch (const EIdCanNotBindPortInRange& e) {
            EXPECT_EQ(e.Message(), "Can not bind in port range (" + std::to_string(base + 1) + " - " +
                                       std::to_string(base + 2) + ")");
        }
        GBSDStack()->CloseSocketHandle(top);
        GBSDStack()->CloseSocketHandle(next);
        return;
    }
    FAIL() << "no three free consecutive ports found";
}

TEST(IdSocketHandle, EphemeralPortsAndBindErrors) {
    StackHolder holder;
    TIdSocketHandle handle;
    handle.AllocateSocket();
    handle.IP = "127.0.0.1";
    handle.Bind();
    EXPECT_GT(handle.Port, 0);
    EXPECT_EQ(handle.IP, "127.0.0.1");

    TIdSocketHandle clash;
    clash.AllocateSocket();
    clash.SetBinding("127.0.0.1", handle.Port);
    try {
        clash.Bind();
        ADD_FAILURE();
    } catch (const EIdCouldNotBindSocket& e) {
        EXPECT_EQ(e.Message(), "Could not bind socket. Address and port are already in use.");
    }
    TIdSocketHandle inverted;
    inverted.AllocateSocket();
    inverted.ClientPortMin = 12;
    inverted.ClientPortMax = 10;
    try {
        inverted.Bind();
        ADD_FAILURE();
    } catch (const EIdInvalidPortRange& e) {
        EXPECT_EQ(e.Message(), "Invalid Port Range (12 - 10)");
    }
    // A range past 65535 would bind ports cut to 16 bits.
    inverted.ClientPortMin = 65535;
    inverted.ClientPortMax = 65537;
    EXPECT_EQ(kwtest::ThrownMessage([&] { inverted.Bind(); }), "Invalid Port Range (65535 - 65537)");
}

TEST(IdSocketHandle, IPVersionIsFixedWhileASocketIsAllocated) {
    StackHolder holder;
    TIdSocketHandle handle;
    handle.SetIPVersion(Id_IPv6);
    handle.AllocateSocket();
    handle.SetIPVersion(Id_IPv6);  // unchanged: nothing happens
    try {
        handle.SetIPVersion(Id_IPv4);
        ADD_FAILURE();
    } catch (const EIdCannotSetIPVersionWhenConnected& e) {
        EXPECT_EQ(e.Message(), "Cannot change IPVersion when connected");
    }
    handle.CloseSocket();
    handle.CloseSocket();  // closing twice closes once
    EXPECT_FALSE(handle.HandleAllocated());
    handle.SetIPVersion(Id_IPv4);
    EXPECT_EQ(handle.IPVersion(), Id_IPv4);
    EXPECT_THROW(handle.Readable(0), EIdConnClosedGracefully);
}

TEST(IdSocketHandle, ListensAcceptsAndConnectsOverIPv6) {
    StackHolder holder;
    TIdSocketHandle server;
    server.SetIPVersion(Id_IPv6);
    server.AllocateSocket();
    server.IP = "::1";
    server.Bind();
    server.Listen();
    TIdSocketHandle client;
    client.SetIPVersion(Id_IPv6);
    client.AllocateSocket();
    client.SetPeer("::1", server.Port);
    client.Connect();
    EXPECT_EQ(client.PeerIP, "0:0:0:0:0:0:0:1");
    TIdSocketHandle accepted;
    ASSERT_TRUE(accepted.AcceptFrom(server));
    EXPECT_EQ(accepted.PeerPort, client.Port);
    EXPECT_EQ(client.SendBytes(TextToBytes("ping")), 4);
    EXPECT_TRUE(accepted.Readable(30000));
    TBytes in(16);
    in.resize(size_t(accepted.ReceiveBytes(in)));
    EXPECT_EQ(BytesToText(in), "ping");
    TIdSocketHandle copy;
    copy.Assign(client);
    EXPECT_EQ(copy.PeerPort, server.Port);
    EXPECT_EQ(copy.IPVersion(), Id_IPv6);
}

TEST(IdIPAddress, MakeIPAddressTable) {
    struct Row {
        const char* text;
        bool valid;
        bool ipv6;
        const char* bytes;  // hexadecimal, network order
    };
    const Row rows[] = {
        {"::1", true, true, "00000000000000000000000000000001"},
        {"::192.168.1.1", true, true, "000000000000000000000000c0a80101"},
        {"fe80::a:1", true, true, "fe8000000000000000000000000a0001"},
        {"1::2::3", false, false, ""},
        {"host.example", false, false, ""},
        {"127.0.0.1", true, false, "7f000001"},
        {"127.1", true, false, "7f000001"},
        {"0x7f.1", true, false, "7f000001"},
        {"017.0.0.1", true, false, "0f000001"},
        {"3232235777", true, false, "c0a80101"},
        {"256.1.1.1", true, false, "00010101"},
        {"10.1.2.3.4", true, false, "01020304"},
        {"0x", false, false, ""},
        {"08.1.1.1", true, false, "08010101"},  // not octal: decimal
        {"1.x.2.3", false, false, ""},
    };
    for (const Row& r : rows) {
        const std::unique_ptr<TIdIPAddress> a = MakeIPAddress(r.text);
        ASSERT_EQ(a != nullptr, r.valid) << r.text;
        if (!a) continue;
        EXPECT_EQ(a->AddrType == TIdIPAddress::Id_IPv6Type, r.ipv6) << r.text;
        std::string hex;
        for (uint8_t b : a->GetBytes()) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
        EXPECT_EQ(hex, r.bytes) << r.text;
    }
    EXPECT_EQ(MakeIPAddress("::1")->V6Words, (TIdIPv6Address{0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(MakeIPAddress("::192.168.1.1")->V6Words, (TIdIPv6Address{0, 0, 0, 0, 0, 0, 0xC0A8, 0x0101}));
}

}  // namespace
