// The PSK key exchange (RFC 4279) against openssl s_server, in every TLS version: the
// handshake, the records both ways and the master secret the server logged.
#include <gtest/gtest.h>

#include <algorithm>

#include "rtl/Bytes.h"
#include "tests/tls/TlsTestSupport.h"

using namespace kwtest;

namespace {

struct PSKCase {
    const char* name;
    const char* cipher;
    const char* versionFlag;
    TSBVersion version;
};

class SBClientPSK : public ::testing::TestWithParam<PSKCase> {};

TEST_P(SBClientPSK, HandshakeRecordsAndMasterSecret) {
    const PSKCase& c = GetParam();
    std::vector<std::string> args = PSKServerArgs(c.cipher, c.versionFlag, "hint1");
    args.push_back("-nocert");
    ServerProcess server("openssl", SServerArgs(args));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    EngineDriver d;
    for (uint8_t i = 56; i <= 59; ++i) d.client.SetSuiteEnabled(i, true);
    std::string hint;
    AnswerWithTestPSK(d.client, &hint);
    d.Connect(server.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes() << server.Log();
    EXPECT_EQ(d.client.GetCurrentVersion(), c.version);
    EXPECT_EQ(hint, "hint1");
    EXPECT_EQ(d.Exchange("hello"), "olleh\n");
    // More than one record each way.
    const std::string big(12000, 'x');
    EXPECT_EQ(d.Exchange(big).size(), big.size() + 1);
    const auto ms = d.client.GetMasterSecret();
    EXPECT_EQ(LoggedMasterSecret(server, d.client.GetClientRandom()), Hex(ms.data(), ms.size()));
    EXPECT_TRUE(d.client.GetExtendedMasterSecret());
    EXPECT_TRUE(d.client.GetSecureRenegotiation());
}

INSTANTIATE_TEST_SUITE_P(Versions, SBClientPSK,
                         ::testing::Values(PSKCase{"TLS12_AES128", "PSK-AES128-CBC-SHA", "-tls1_2", sbTLS12},
                                           PSKCase{"TLS12_AES256", "PSK-AES256-CBC-SHA", "-tls1_2", sbTLS12},
                                           PSKCase{"TLS11_AES128", "PSK-AES128-CBC-SHA", "-tls1_1", sbTLS11},
                                           PSKCase{"TLS10_AES256", "PSK-AES256-CBC-SHA", "-tls1", sbTLS1}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

std::vector<std::string> PSKServer(std::vector<std::string> extra = {}, bool reverse = true) {
    std::vector<std::string> a = PSKServerArgs("PSK-AES128-CBC-SHA", "-tls1_2");
    a.push_back("-nocert");
    a.insert(a.end(), extra.begin(), extra.end());
    a = SServerArgs(a);
    if (!reverse) a.erase(std::find(a.begin(), a.end(), "-rev"));
    return a;
}

void UsePSK(EngineDriver& d) {
    d.client.SetSuiteEnabled(58, true);
    AnswerWithTestPSK(d.client);
}

TEST(SBClientSServer, SessionIdResumption) {
    ServerProcess server("openssl", PSKServer());
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    EngineDriver first;
    UsePSK(first);
    first.Connect(server.Port());
    ASSERT_TRUE(first.Handshake()) << first.ErrorCodes() << server.Log();
    EXPECT_FALSE(first.client.GetSessionResumed());
    first.client.CloseSession(false);
    EXPECT_EQ(first.closeReason, crClose);
    // A second connection resumes the first's session, as a data connection resumes the
    // control connection's.
    EngineDriver second;
    UsePSK(second);
    second.client.OpenResumingSession(first.client);
    second.Connect(server.Port());
    second.client.RenegotiateSession();
    ASSERT_TRUE(second.PumpUntil([&] { return second.opened > 0; })) << second.ErrorCodes() << server.Log();
    EXPECT_TRUE(second.client.GetSessionResumed());
    EXPECT_EQ(second.client.GetMasterSecret(), first.client.GetMasterSecret());
    EXPECT_EQ(second.Exchange("resumed"), "demuser\n");
    second.client.CloseSession(false);
    second.socket.Close();
    // And the first object resumes its own session on a new connection.
    first.socket.Close();
    first.opened = first.closed = 0;
    first.eof = false;
    first.Connect(server.Port());
    first.client.RenegotiateSession();
    ASSERT_TRUE(first.PumpUntil([&] { return first.opened > 0; })) << first.ErrorCodes();
    EXPECT_TRUE(first.client.GetSessionResumed());
    EXPECT_EQ(first.Exchange("again"), "niaga\n");
}

TEST(SBClientSServer, TicketResumption) {
    ServerProcess server("openssl", PSKServer({"-no_cache"}));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    EngineDriver first;
    UsePSK(first);
    first.client.Extensions().SessionTicket = true;
    first.Connect(server.Port());
    ASSERT_TRUE(first.Handshake()) << first.ErrorCodes() << server.Log();
    EXPECT_TRUE(first.client.PeerExtensions().SessionTicket);
    first.client.CloseSession(false);
    EngineDriver second;
    UsePSK(second);
    second.client.Extensions().SessionTicket = true;
    second.client.OpenResumingSession(first.client);
    second.Connect(server.Port());
    second.client.RenegotiateSession();
    ASSERT_TRUE(second.PumpUntil([&] { return second.opened > 0; })) << second.ErrorCodes() << server.Log();
    EXPECT_TRUE(second.client.GetSessionResumed());
    EXPECT_EQ(second.Exchange("ticket"), "tekcit\n");
}

// The versions offered: with SSL 3.0 among them the first hello has no extensions (RFC 5746
// signalled by the SCSV), yet the renegotiating hello must carry renegotiation_info.
struct RenegotiationCase {
    const char* name;
    TSBVersions versions;
};

class SBClientRenegotiation : public ::testing::TestWithParam<RenegotiationCase> {};

TEST_P(SBClientRenegotiation, AskedByTheServer) {
    // s_server in its plain mode: what arrives goes to its output, its input goes to the client,
    // and a line "r" renegotiates.
    ServerProcess server("openssl", PSKServer({}, false));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    EngineDriver d;
    UsePSK(d);
    d.client.Versions = GetParam().versions;
    d.Connect(server.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes();
    EXPECT_TRUE(d.client.GetSecureRenegotiation());
    const auto before = d.client.GetMasterSecret();
    server.Input("r\n");  // s_server: renegotiate
    ASSERT_TRUE(d.PumpUntil([&] { return d.renegotiated > 0; })) << d.ErrorCodes() << server.Log();
    EXPECT_NE(d.client.GetMasterSecret(), before);
    const std::string line = "after renegotiation\n";
    d.client.SendApplicationData(line.data(), int32_t(line.size()));
    EXPECT_TRUE(Eventually([&] { return server.Log().find("after renegotiation") != std::string::npos; }));
    server.Input("from the server\n");
    EXPECT_TRUE(d.PumpUntil([&] { return d.data.find("from the server") != std::string::npos; }));
    EXPECT_TRUE(d.errors.empty()) << d.ErrorCodes();
}

INSTANTIATE_TEST_SUITE_P(
    Versions, SBClientRenegotiation,
    ::testing::Values(RenegotiationCase{"TLS", {sbTLS1, sbTLS11, sbTLS12}},
                      RenegotiationCase{"WithSSL3", {sbSSL3, sbTLS1, sbTLS11, sbTLS12}},
                      RenegotiationCase{"CompatibleHello", {sbSSL2, sbSSL3, sbTLS1, sbTLS11, sbTLS12}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SBClientSServer, MaximumFragmentLength) {
    ServerProcess server("openssl", PSKServer());
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    EngineDriver d;
    UsePSK(d);
    d.client.Extensions().MaxFragmentLength.Enabled = true;
    d.client.Extensions().MaxFragmentLength.MaxLength = 1;  // 1024 bytes
    d.Connect(server.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes() << server.Log();
    ASSERT_TRUE(d.client.PeerExtensions().MaxFragmentLength.Enabled);
    d.sent.clear();
    const std::string line(3000, 'm');
    EXPECT_EQ(d.Exchange(line), line + "\n");
    // Records of at most 1024 bytes of plaintext: 3001 bytes go out in three records.
    size_t records = 0;
    for (size_t p = 0; p + 5 <= d.sent.size(); p += 5 + rtl::load_be16(reinterpret_cast<const uint8_t*>(&d.sent[p + 3])))
        records++;
    EXPECT_EQ(records, 3u);
}

}  // namespace
