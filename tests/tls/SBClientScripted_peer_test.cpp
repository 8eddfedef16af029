// The engine against the scripted peer: the exact bytes of the client's hello, what only an
// old or odd server does (truncated HMAC, handshake messages cut across records, HelloRequest
// without renegotiation_info, deflate record compression with Python's zlib at the other end),
// and every way a server can break the protocol, each ending in the right fatal alert, OnError
// and a session closed with crError.
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
    bool offerDeflate = false;  // the compression-off flag cleared
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
    d.client.SetCompressionOff(!c.offerDeflate);
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
        Refusal{"OversizedProtectedRecord", "tls12", "\"after_handshake\": [[\"raw\", \"1703034801\"]]", 22,
                0x12804, true},
        Refusal{"EmptyHandshakeRecord", "tls12", "\"preface\": [\"1603030000\"]", 10, 0x12801, false},
        Refusal{"EmptyProtectedHandshakeRecord", "tls12", "\"after_handshake\": [[\"record\", 22, \"\"]]", 10,
                0x12801, true},
        Refusal{"UnknownContentType", "tls12", "\"preface\": [\"1803030001ff\"]", 10, 0x12801, false},
        Refusal{"EarlyFinished", "tls12", "\"early\": \"finished\"", 10, 0x12801, false},
        Refusal{"UnofferedSuite", "tls12", "\"suite\": 144, \"force_suite\": true", 47, 0x1280D, false},
        Refusal{"UnofferedVersion", "tls12", "\"server_version\": 770", 70, 0x12813, false, {sbTLS12}},
        Refusal{"SSL3NotOffered", "tls12", "\"server_version\": 768", 71, 0x12814, false},
        Refusal{"FutureVersion", "tls12", "\"server_version\": 772", 47, 0x1280D, false},
        Refusal{"UnofferedExtension", "tls12", "\"extensions\": {\"extra\": [[4660, \"\"]]}", 110, 0x12819,
                false},
        Refusal{"UnofferedCompression", "tls12", "\"compression\": 1", 47, 0x1280D, false},
        Refusal{"UnknownCompression", "tls12", "\"compression\": 2", 47, 0x1280D, false, {sbTLS12}, true},
        // A deflated record may inflate to 2^14 bytes, not one more (RFC 5246 6.2.2).
        Refusal{"InflatesPastTheLimit",
                "tls12",
                "\"compression\": 1, \"after_handshake\": [[\"fill\", 16385, 97]]",
                30,
                0x12805,
                true,
                {sbTLS12},
                true},
        Refusal{"InflatesFarPastTheLimit",
                "tls1",
                "\"compression\": 1, \"after_handshake\": [[\"fill\", 1000000, 0]]",
                30,
                0x12805,
                true,
                {sbTLS1},
                true},
        // And carries at most 2^14 + 1024 compressed bytes, refused before it is inflated.
        Refusal{"CompressedFragmentTooLong",
                "tls12",
                "\"compression\": 1, \"after_handshake\": [[\"compressed\", 23, 17500]]",
                22,
                0x12804,
                true,
                {sbTLS12},
                true},
        Refusal{"CorruptCompressedData",
                "tls11",
                "\"compression\": 1, \"after_handshake\": [[\"compressed\", 23, \"ffffffffffff\"]]",
                30,
                0x12805,
                true,
                {sbTLS11},
                true},
        Refusal{"CompressedFinishedCorrupt",
                "tls12",
                "\"compression\": 1, \"tamper_finished\": \"bad_mac\"",
                20,
                0x12802,
                false,
                {sbTLS12},
                true},
        Refusal{"EmptyCompressedHandshakeRecord",
                "tls12",
                "\"compression\": 1, \"after_handshake\": [[\"compressed\", 22, \"\"]]",
                10,
                0x12801,
                true,
                {sbTLS12},
                true},
        Refusal{"LongSessionId", "tls12", "\"session_id_length\": 33", 47, 0x1280D, false},
        Refusal{"UnexpectedChangeCipherSpec", "tls12", "\"preface\": [\"140303000101\"]", 10, 0x12801, false},
        Refusal{"ApplicationDataBeforeFinished", "tls12", "\"preface\": [\"1703030001ff\"]", 10, 0x12801,
                false}),
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

// ---------------------------------------------------------------------------------------------
// Record compression (RFC 3749) against Python's zlib

// The hello offers deflate before the null method only when the compression-off flag is
// cleared; a server that keeps to the null method gets an uncompressed session either way.
TEST(SBClientCompression, HelloOffersDeflateOnlyWhenAsked) {
    for (const bool off : {true, false}) {
        ScriptedTlsPeer peer(PSKParams("tls12", ""));
        KW_REQUIRE_PEER(peer.Available(), peer.Reason());
        EngineDriver d;
        UsePSK(d);
        EXPECT_TRUE(d.client.GetCompressionOff());  // the default offers nothing new
        d.client.SetCompressionOff(off);
        d.Connect(peer.Port());
        ASSERT_TRUE(d.Handshake()) << d.ErrorCodes();
        EXPECT_FALSE(d.client.GetCompressionActive());
        EXPECT_EQ(d.Exchange("plain"), "nialp\n");
        d.client.CloseSession(false);
        const Json r = peer.Result();
        std::vector<int64_t> methods;
        for (const Json& m : r["hello"]["compressions"].items())
            methods.push_back(m.integer());
        EXPECT_EQ(methods, off ? std::vector<int64_t>{0} : (std::vector<int64_t>{1, 0})) << off;
        EXPECT_TRUE(r["client_compressed"].isNull());
    }
}

// A line of pseudo-random letters: it compresses poorly on its own, to almost nothing when
// the stream has seen it before.
std::string Scrambled(size_t n) {
    std::string s(n, 'a');
    uint32_t x = 12345;
    for (char& c : s)
        c = char('a' + ((x = x * 1103515245u + 12345u) >> 16) % 26);
    return s;
}

struct CompressedCase {
    const char* name;
    const char* version;
    int suite;
    TSBVersions versions;
    bool certificate = false;  // an RSA suite with the set's server certificate, not PSK
};

class SBClientCompressedSessions : public ::testing::TestWithParam<CompressedCase> {};

TEST_P(SBClientCompressedSessions, BothDirectionsKeepTheirStreams) {
    const CompressedCase& c = GetParam();
    ASSERT_TRUE(!c.certificate || !TlsCertificates().empty());
    ScopedEnv trust("SSL_CERT_FILE",
                    c.certificate ? std::optional<std::string>(Cert("ca.pem")) : std::nullopt);
    ScriptedTlsPeer peer(
        c.certificate
            ? CertificateScenario("server-rsa", c.suite, c.version, "\"compression\": 1")
            : PSKParams(c.version, "\"suite\": " + std::to_string(c.suite) + ", \"compression\": 1"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver d;
    UsePSK(d);
    d.client.PeerHostName = "localhost";
    d.client.Versions = c.versions;
    d.client.SetCompressionOff(false);
    d.Connect(peer.Port());
    ASSERT_TRUE(d.Handshake()) << d.ErrorCodes() << peer.Log();
    EXPECT_TRUE(d.client.GetCompressionActive());
    // The same line twice: the second record compresses against the first in each direction,
    // so each side inflates it only with a stream that ran on from the record before.
    const std::string line = Scrambled(3000);
    const std::string reversed(line.rbegin(), line.rend());
    EXPECT_EQ(d.Exchange(line), reversed + "\n");
    EXPECT_EQ(d.Exchange(line), reversed + "\n");
    // The answer to this line is one record of 2^14 bytes, the most one may inflate to.
    const std::string full(16383, 'z');
    EXPECT_TRUE(d.Exchange(full) == full + "\n");
    EXPECT_TRUE(d.errors.empty()) << d.ErrorCodes();
    d.client.CloseSession(false);
    EXPECT_EQ(d.closeReason, crClose);
    const Json r = peer.Result();
    EXPECT_TRUE(r["app_data"].str() == line + "\n" + line + "\n" + full + "\n") << peer.Log();
    // Our stream starts with zlib's header for level 9 (RFC 1950 2.2: FLEVEL 3), in the first
    // record it compresses, the Finished.
    ASSERT_GE(r["client_compressed"].size(), 1u) << peer.Log();
    EXPECT_EQ(r["client_compressed"][size_t(0)].str(), "78da");
    const auto& sizes = r["client_compressed_sizes"];
    ASSERT_GE(sizes.size(), 2u);
    EXPECT_GT(sizes[size_t(0)].integer(), 1500);
    EXPECT_LT(sizes[size_t(1)].integer(), 100);
    EXPECT_EQ(Alerts(r), std::vector<std::string>{"1/0"});
}

INSTANTIATE_TEST_SUITE_P(Cases, SBClientCompressedSessions,
                         ::testing::Values(CompressedCase{"Tls12Cbc", "tls12", 140, {sbTLS12}},
                                           CompressedCase{"Tls11Cbc", "tls11", 141, {sbTLS1, sbTLS11}},
                                           CompressedCase{"Tls10Rc4", "tls1", 138, {sbTLS1}},
                                           CompressedCase{"Ssl3Cbc", "ssl3", 0x002F, {sbSSL3}, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A resumed session keeps its compression method (RFC 5246 7.4.1.3): the streams start afresh
// with the resumed keys; a server that resumes it without compression is refused.
TEST(SBClientCompression, ResumedSessionKeepsItsMethod) {
    ScriptedTlsPeer peer(PSKParams("tls12",
                                   "\"compression\": 1, \"resume\": true, \"connections\": 3, "
                                   "\"each\": [{}, {}, {\"compression\": 0}]"));
    KW_REQUIRE_PEER(peer.Available(), peer.Reason());
    EngineDriver first;
    UsePSK(first);
    first.client.SetCompressionOff(false);
    first.Connect(peer.Port());
    ASSERT_TRUE(first.Handshake()) << first.ErrorCodes();
    EXPECT_EQ(first.Exchange("first"), "tsrif\n");
    first.client.CloseSession(false);
    for (int n = 1; n <= 2; ++n) {
        EngineDriver again;
        UsePSK(again);
        again.client.SetCompressionOff(false);
        again.client.OpenResumingSession(first.client);
        again.Connect(peer.Port());
        again.client.RenegotiateSession();
        const bool opened = again.PumpUntil([&] { return again.opened > 0; });
        if (n == 1) {
            ASSERT_TRUE(opened) << again.ErrorCodes() << peer.Log();
            EXPECT_TRUE(again.client.GetSessionResumed());
            EXPECT_TRUE(again.client.GetCompressionActive());
            EXPECT_EQ(again.Exchange("resumed"), "demuser\n");
            again.client.CloseSession(false);
            EXPECT_TRUE(peer.Result(n)["resumed"].boolean());
        } else {
            EXPECT_FALSE(opened);
            again.PumpUntil([&] { return again.closed > 0; });
            ASSERT_FALSE(again.errors.empty());
            EXPECT_EQ(again.errors.back().code, 0x1280D) << again.ErrorCodes();
            EXPECT_EQ(again.closeReason, crError);
            EXPECT_EQ(Alerts(peer.Result(n)), std::vector<std::string>{"2/47"});
        }
    }
}

}  // namespace
