// The engine against the scripted peer: the exact bytes of the client's hello, what only an
// old or odd server does (truncated HMAC, handshake messages cut across records, HelloRequest
// without renegotiation_info), and every way a server can break the protocol, each ending in
// the right fatal alert, OnError and a session closed with crError.
#include <gtest/gtest.h>

#include "rtl/Bytes.h"
#include "tests/tls/TlsTestSupport.h"

using namespace kwtest;

namespace {

constexpr const char* PSKKey = "00112233445566778899aabbccddeeff";

std::string PSKParams(const std::string& version, const std::string& extra) {
    return std::string("{\"version\": \"") + version + "\", \"suite\": 140, \"psk\": \"" + PSKKey +
           "\", \"psk_hint\": \"hint\"" + (extra.empty() ? "" : ", " + extra) + "}";
}

void UsePSK(EngineDriver& d) {
    for (uint8_t i = 56; i <= 59; ++i) d.client.SetSuiteEnabled(i, true);
    d.client.OnKeyNeeded = [](rtl::Component*, const std::string&, std::string& identity, ByteArray& key) {
        identity = "client";
        key = FromHex(PSKKey);
    };
}

struct Refusal {
    const char* name;
    const char* version;
    const char* params;  // scenario parameters added to the PSK ones
    int alert;           // the description the client must send (-1: none)
    int32_t code;        // the error OnError reports
    bool afterHandshake; // the handshake completes first
    TSBVersions versions = {sbTLS1, sbTLS11, sbTLS12};
};

class SBClientRefusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(SBClientRefusals, FatalAlertAndClosedSession) {
    const Refusal& c = GetParam();
    ScriptedTlsPeer peer(PSKParams(c.version, c.params));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver d;
    UsePSK(d);
    d.client.SetSuiteEnabled(62, false);  // DHE-PSK-AES128: never offered here
    d.client.Versions = c.versions;
    d.Connect(peer.Port());
    const bool opened = d.Handshake();
    EXPECT_EQ(opened, c.afterHandshake) << d.ErrorCodes();
    if (opened) {
        const std::string line = "ping\n";
        d.client.SendApplicationData(line.data(), int32_t(line.size()));
        d.PumpUntil([&] { return d.closed > 0; });
    }
    EXPECT_EQ(d.closed, 1);
    EXPECT_EQ(d.closeReason, crError);
    ASSERT_FALSE(d.errors.empty());
    EXPECT_EQ(d.errors.back().code, c.code) << d.ErrorCodes();
    EXPECT_TRUE(d.errors.back().fatal);
    EXPECT_FALSE(d.errors.back().remote);
    EXPECT_FALSE(d.client.GetActive());
    const Json r = peer.Result();
    if (c.alert >= 0) {
        EXPECT_EQ(Alerts(r), std::vector<std::string>{"2/" + std::to_string(c.alert)}) << peer.Log();
    } else {
        EXPECT_TRUE(Alerts(r).empty());
    }
    // Nothing more is read or sent once the session failed.
    const size_t sent = d.sent.size();
    d.client.ProcessIncomingData();
    EXPECT_EQ(d.sent.size(), sent);
    EXPECT_THROW(d.client.SendApplicationData("x", 1), EElSecureClientError);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SBClientRefusals,
    ::testing::Values(
        Refusal{"BadPadding12", "tls12", "\"tamper_data\": \"bad_padding\"", 20, 0x12802, true},
        Refusal{"BadPadding10", "tls1", "\"tamper_data\": \"bad_padding\"", 20, 0x12802, true},
        Refusal{"WrongMac", "tls12", "\"tamper_data\": \"bad_mac\"", 20, 0x12802, true},
        Refusal{"WrongMacInFinished", "tls11", "\"tamper_finished\": \"bad_mac\"", 20, 0x12802, false},
        Refusal{"ShortRecord", "tls12", "\"tamper_data\": \"short_record\"", 20, 0x12802, true},
        Refusal{"BadFinished", "tls12", "\"bad_finished\": true", 51, 0x12811, false},
        Refusal{"OversizedPlainRecord", "tls12", "\"preface\": [\"1603034001\" ]", 22, 0x12804, false},
        Refusal{"OversizedProtectedRecord", "tls12", "\"after_handshake\": [[\"raw\", \"1703034801\"]]", 22, 0x12804,
                true},
        Refusal{"EmptyHandshakeRecord", "tls12", "\"preface\": [\"1603030000\"]", 10, 0x12801, false},
        Refusal{"EmptyProtectedHandshakeRecord", "tls12", "\"after_handshake\": [[\"record\", 22, \"\"]]", 10, 0x12801,
                true},
        Refusal{"UnknownContentType", "tls12", "\"preface\": [\"1803030001ff\"]", 10, 0x12801, false},
        Refusal{"EarlyFinished", "tls12", "\"early\": \"finished\"", 10, 0x12801, false},
        Refusal{"UnofferedSuite", "tls12", "\"suite\": 144, \"force_suite\": true", 47, 0x1280D, false},
        Refusal{"UnofferedVersion", "tls12", "\"server_version\": 770", 70, 0x12813, false, {sbTLS12}},
        Refusal{"SSL3NotOffered", "tls12", "\"server_version\": 768", 71, 0x12814, false},
        Refusal{"FutureVersion", "tls12", "\"server_version\": 772", 47, 0x1280D, false},
        Refusal{"UnofferedExtension", "tls12", "\"extensions\": {\"extra\": [[4660, \"\"]]}", 110, 0x12819, false},
        Refusal{"UnofferedCompression", "tls12", "\"compression\": 1", 47, 0x1280D, false},
        Refusal{"LongSessionId", "tls12", "\"session_id_length\": 33", 47, 0x1280D, false},
        Refusal{"UnexpectedChangeCipherSpec", "tls12", "\"preface\": [\"140303000101\"]", 10, 0x12801, false},
        Refusal{"ApplicationDataBeforeFinished", "tls12", "\"preface\": [\"1703030001ff\"]", 10, 0x12801, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SBClientScripted, PaddingOfMoreThanOneBlockIsAccepted) {
    // RFC 5246 6.2.3.2: up to 255 bytes of padding, each of the padding length's value.
    ScriptedTlsPeer peer(PSKParams("tls12", "\"tamper_data\": \"long_padding\""));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver d;
    UsePSK(d);
    d.Connect(peer.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes();
    EXPECT_EQ(d.Exchange("padded"), "deddap\n");
    EXPECT_TRUE(d.errors.empty()) << d.ErrorCodes();
    d.client.CloseSession(false);
}

TEST(SBClientScripted, TruncatedHMACBothWays) {
    ScriptedTlsPeer peer(PSKParams("tls12", "\"extensions\": {\"truncated_hmac\": true}"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver d;
    UsePSK(d);
    d.client.Extensions().TruncatedHMAC.Enabled = true;
    d.Connect(peer.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes() << peer.Log();
    EXPECT_TRUE(d.client.PeerExtensions().TruncatedHMAC.Enabled);
    EXPECT_EQ(d.Exchange("short macs"), "scam trohs\n");
    d.client.CloseSession(false);
    EXPECT_EQ(peer.Result()["app_data"].str(), "short macs\n");
}

TEST(SBClientScripted, HandshakeMessagesCutAcrossRecords) {
    for (int split : {1, 3, 7}) {
        ScriptedTlsPeer peer(PSKParams("tls12", "\"split_handshake\": " + std::to_string(split)));
        KW_REQUIRE_PEER(peer.Available(), peer.Reason());
        EngineDriver d;
        UsePSK(d);
        d.Connect(peer.Port());
        ASSERT_TRUE(d.Handshake()) << split << " " << d.ErrorCodes() << peer.Log();
        EXPECT_EQ(d.Exchange("abc"), "cba\n");
        d.client.CloseSession(false);
    }
}

TEST(SBClientScripted, HelloRequestWithoutRenegotiationInfo) {
    // RFC 5746 4.2: a server that never sent renegotiation_info gets a warning no_renegotiation,
    // and the session goes on.
    ScriptedTlsPeer peer(PSKParams("tls12", "\"extensions\": {\"renegotiation_info\": false}, "
                                            "\"after_handshake\": [[\"hello_request\"], [\"expect_alert\"]]"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver d;
    UsePSK(d);
    d.Connect(peer.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes();
    EXPECT_FALSE(d.client.GetSecureRenegotiation());
    EXPECT_EQ(d.Exchange("still here"), "ereh llits\n");
    EXPECT_TRUE(d.errors.empty()) << d.ErrorCodes();
    EXPECT_EQ(d.renegotiated, 0);
    d.client.CloseSession(false);
    EXPECT_EQ(d.closeReason, crClose);
    const Json r = peer.Result();
    EXPECT_EQ(Alerts(r), (std::vector<std::string>{"1/100", "1/0"})) << peer.Log();
}

TEST(SBClientScripted, HelloRequestDuringTheHandshakeIsIgnored) {
    ScriptedTlsPeer peer(PSKParams("tls12", "\"preface\": [\"160303000400000000\"]"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver d;
    UsePSK(d);
    d.Connect(peer.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes();
    EXPECT_EQ(d.Exchange("x"), "x\n");
    d.client.CloseSession(false);
    EXPECT_EQ(Alerts(peer.Result()), std::vector<std::string>{"1/0"});
    EXPECT_TRUE(d.errors.empty()) << d.ErrorCodes();
}

TEST(SBClientScripted, WarningAlertsAreReportedAndTheSessionGoesOn) {
    ScriptedTlsPeer peer(PSKParams("tls12", "\"after_handshake\": [[\"record\", 21, \"0164\"]]"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver d;
    UsePSK(d);
    d.Connect(peer.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes();
    EXPECT_EQ(d.Exchange("on"), "no\n");
    d.client.CloseSession(false);
    ASSERT_EQ(d.errors.size(), 1u);
    EXPECT_EQ(d.errors[0].code, 0x12817);
    EXPECT_FALSE(d.errors[0].fatal);
    EXPECT_TRUE(d.errors[0].remote);
}

TEST(SBClientScripted, FatalAlertFromTheServer) {
    ScriptedTlsPeer peer(PSKParams("tls12", "\"after_handshake\": [[\"record\", 21, \"0228\"]]"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver d;
    UsePSK(d);
    d.Connect(peer.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes();
    d.PumpUntil([&] { return d.closed > 0; });
    ASSERT_EQ(d.errors.size(), 1u);
    EXPECT_EQ(d.errors[0].code, 0x12806);
    EXPECT_TRUE(d.errors[0].fatal);
    EXPECT_TRUE(d.errors[0].remote);
    EXPECT_EQ(d.closeReason, crError);
}

}  // namespace
