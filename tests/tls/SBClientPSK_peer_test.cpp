// The PSK key exchange (RFC 4279) against openssl s_server, in every TLS version: the
// handshake, the records both ways and the master secret the server logged.
#include <gtest/gtest.h>

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
    ServerProcess server("openssl",
                         SServerArgs({"-nocert", "-psk", "0102030405060708090a0b0c0d0e0f10", "-psk_identity", "client1",
                                      "-psk_hint", "hint1", "-cipher", std::string(c.cipher) + ":@SECLEVEL=0", c.versionFlag}));
    KW_REQUIRE_PEER(server.Available(), server.Reason());
    EngineDriver d;
    for (uint8_t i = 56; i <= 59; ++i) d.client.SetSuiteEnabled(i, true);
    std::string hint;
    d.client.OnKeyNeeded = [&](rtl::Component*, const std::string& h, std::string& identity, ByteArray& key) {
        hint = h;
        identity = "client1";
        key = FromHex("0102030405060708090a0b0c0d0e0f10");
    };
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
