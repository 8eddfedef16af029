// The engine with its server played from memory: what the owner can get wrong (versions, data
// before a session, the pass-through mode), and the server's first flight when it does not
// fit: records at and past their size limits, fields that overrun their message, extension or
// record, messages out of turn, SSL 2.0 messages out of state. Each refusal is one fatal alert
// (or SSL 2.0 ERROR), one OnError and a close with crError, whether the bytes come at once or
// one at a time, and nothing is read or sent after it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "tls/SBClient.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes U16(size_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
Bytes U24(size_t v) { return {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
Bytes Fill(size_t n, uint8_t value = 0x41) { return Bytes(n, value); }

Bytes Record(uint8_t type, const Bytes& body, uint16_t version = 0x0303) {
    return Bytes{type, uint8_t(version >> 8), uint8_t(version)} + U16(body.size()) + body;
}

Bytes Handshake(uint8_t type, const Bytes& body) { return Bytes{type} + U24(body.size()) + body; }

// A ServerHello for TLS 1.2 with AES128-SHA, which the defaults offer; extensions as given.
Bytes ServerHello(const Bytes& tail = {}, const Bytes& sessionId = {}) {
    return Bytes{3, 3} + Fill(32, 7) + Bytes{uint8_t(sessionId.size())} + sessionId + Bytes{0x00, 0x2F, 0x00} + tail;
}

Bytes SSL2Record(const Bytes& body) { return Bytes{uint8_t(0x80 | (body.size() >> 8)), uint8_t(body.size())} + body; }

// An engine whose transport is a string of server bytes handed over `piece` bytes per call.
struct MemoryDriver {
    explicit MemoryDriver(TSBVersions versions = {sbTLS1, sbTLS11, sbTLS12}) {
        client.Versions = versions;
        client.OnSend = [this](rtl::Component*, const void* buffer, int32_t size) {
            sent.insert(sent.end(), static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + size);
        };
        client.OnReceive = [this](rtl::Component*, void* buffer, int32_t maxSize, int32_t& written) {
            const size_t n = std::min({piece, incoming.size() - offset, size_t(maxSize)});
            std::copy_n(incoming.begin() + ptrdiff_t(offset), n, static_cast<uint8_t*>(buffer));
            offset += n;
            written = int32_t(n);
        };
        client.OnData = [this](rtl::Component*, const void* buffer, int32_t size) {
            data.insert(data.end(), static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + size);
        };
        client.OnOpenConnection = [this](rtl::Component*) { opened++; };
        client.OnCloseConnection = [this](rtl::Component*, TSBCloseReason reason) {
            closed++;
            closeReason = reason;
        };
        client.OnError = [this](rtl::Component*, int32_t code, bool fatal, bool remote) {
            errors.push_back({code, fatal, remote, offset});
        };
    }
    // Delivers the bytes while the engine takes them.
    void Feed(const Bytes& bytes) {
        incoming.insert(incoming.end(), bytes.begin(), bytes.end());
        for (size_t before = SIZE_MAX; offset < incoming.size() && offset != before;) {
            before = offset;
            client.ProcessIncomingData();
        }
    }

    struct Error {
        int32_t code;
        bool fatal, remote;
        size_t at;  // server bytes delivered when it was reported
    };
    TElSecureClient client;
    Bytes incoming, sent, data;
    size_t offset = 0, piece = 65536;
    int opened = 0, closed = 0;
    TSBCloseReason closeReason = crClose;
    std::vector<Error> errors;
};

// ---------------------------------------------------------------------------------------------
// The owner's side

TEST(SBClientOwner, VersionSetsThatCannotBeOffered) {
    struct Row {
        TSBVersions versions;
        const char* message;
    } rows[] = {
        {{}, "Invalid SSL version"},
        {{sbSSL2, sbTLS1}, "Cannot support SSL 2.0 and TLS 1.0 and not support SSL 3.0"},
        {{sbSSL2, sbTLS12}, "Cannot support SSL 2.0 and TLS 1.0 and not support SSL 3.0"},
        {{sbSSL3, sbTLS11}, "Cannot support SSL 3.0 and TLS 1.1 and not support TLS 1.0"},
    };
    for (const Row& r : rows) {
        MemoryDriver d(r.versions);
        try {
            d.client.OpenSession();
            ADD_FAILURE() << r.message << ": no exception";
        } catch (const EElSecureClientError& e) {
            EXPECT_EQ(e.Message(), r.message);
        }
        EXPECT_TRUE(d.sent.empty()) << r.message;
        EXPECT_FALSE(d.client.GetActive());
    }
}

TEST(SBClientOwner, ApplicationDataBeforeTheSessionIsOpenRaises) {
    MemoryDriver d;
    EXPECT_THROW(d.client.SendApplicationData("early", 5), EElSecureClientError);
    EXPECT_TRUE(d.sent.empty());
    d.client.OpenSession();
    const size_t hello = d.sent.size();
    ASSERT_GT(hello, 0u);
    // The hello is out, no keys yet: nothing may leave in clear.
    EXPECT_THROW(d.client.SendApplicationData("early", 5), EElSecureClientError);
    EXPECT_EQ(d.sent.size(), hello);
}

TEST(SBClientOwner, PassThroughWhenDisabled) {
    MemoryDriver d;
    d.client.Enabled = false;
    d.client.OpenSession();
    EXPECT_EQ(d.opened, 1);
    EXPECT_TRUE(d.sent.empty());
    const Bytes plain{'a', 'b', 'c', 0x16, 0x03};
    d.Feed(plain);
    EXPECT_EQ(d.data, plain);
    d.client.SendApplicationData("xyz", 3);
    EXPECT_EQ(d.sent, (Bytes{'x', 'y', 'z'}));
    d.client.CloseSession(false);
    EXPECT_EQ(d.closed, 1);
    EXPECT_EQ(d.closeReason, crClose);
    EXPECT_EQ(d.sent.size(), 3u);
}

// ---------------------------------------------------------------------------------------------
// The server's first flight, refused

struct Refusal {
    const char* name;
    Bytes server;   // what the server sends after our hello
    int alert;      // the description sent (SSL 2.0: the ERROR code); -1 none
    int32_t code;   // what OnError reports
    bool remote = false;
    TSBVersions versions = {sbTLS1, sbTLS11, sbTLS12};
    size_t at = 0;  // server bytes read when the fault shows (0: all of them)
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class SBClientFirstFlight : public ::testing::TestWithParam<Refusal> {};

TEST_P(SBClientFirstFlight, RefusedOnceWithItsAlert) {
    const Refusal& c = GetParam();
    for (size_t piece : {size_t(65536), size_t(1)}) {
        SCOPED_TRACE(piece);
        MemoryDriver d(c.versions);
        d.piece = piece;
        d.client.OpenSession();
        const size_t hello = d.sent.size();
        d.Feed(c.server);
        ASSERT_EQ(d.errors.size(), 1u);
        EXPECT_EQ(d.errors[0].code, c.code);
        EXPECT_TRUE(d.errors[0].fatal);
        EXPECT_EQ(d.errors[0].remote, c.remote);
        // Reported once the unit that holds the fault is complete, not before.
        EXPECT_EQ(d.errors[0].at, c.at != 0 ? c.at : c.server.size());
        EXPECT_EQ(d.closed, 1);
        EXPECT_EQ(d.closeReason, crError);
        EXPECT_FALSE(d.client.GetActive());
        EXPECT_EQ(d.opened, 0);
        const Bytes reply(d.sent.begin() + ptrdiff_t(hello), d.sent.end());
        if (c.alert < 0) {
            EXPECT_TRUE(reply.empty());
        } else if (c.versions.Contains(sbSSL2) && !c.versions.Contains(sbTLS1)) {
            EXPECT_EQ(reply, SSL2Record({0, uint8_t(c.alert >> 8), uint8_t(c.alert)}));
        } else {
            ASSERT_EQ(reply.size(), 7u);
            EXPECT_EQ(reply[0], 21);
            EXPECT_EQ(Bytes(reply.begin() + 3, reply.end()), (Bytes{0, 2, 2, uint8_t(c.alert)}));
        }
        // Nothing more is read or sent.
        const size_t sent = d.sent.size(), read = d.offset;
        d.Feed(Record(21, {1, 0}));
        EXPECT_EQ(d.sent.size(), sent);
        EXPECT_EQ(d.offset, read);
        EXPECT_EQ(d.errors.size(), 1u);
    }
}

constexpr int DecodeError = 50, IllegalParameter = 47, UnexpectedMessage = 10, RecordOverflow = 22,
              HandshakeFailure = 40, UnsupportedExtension = 110;
constexpr TSBVersions OnlySSL2 = {sbSSL2};

// An SSL 2.0 SERVER-HELLO: no session hit, X.509, version 2, the certificate, specs and
// connection id with the lengths given.
Bytes SSL2ServerHello(size_t certificateLength, const Bytes& certificate, const Bytes& specs, const Bytes& id) {
    return Bytes{4, 0, 1, 0, 2} + U16(certificateLength) + U16(specs.size()) + U16(id.size()) + certificate + specs + id;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SBClientFirstFlight,
    ::testing::Values(
        // Records at and past RFC 5246 6.2.1's plaintext limit: the one at the limit is read
        // (its message is then out of turn), the one past it is not.
        Refusal{"PlainRecordAtTheLimit", Record(22, Handshake(11, Fill(16380))), UnexpectedMessage, 0x12801},
        Refusal{"PlainRecordOnePast", Record(22, Handshake(11, Fill(16381))), RecordOverflow, 0x12804, false,
                {sbTLS1, sbTLS11, sbTLS12}, 5},
        Refusal{"EmptyHandshakeRecord", Record(22, {}), UnexpectedMessage, 0x12801},
        Refusal{"EmptyAlertRecord", Record(21, {}), UnexpectedMessage, 0x12801},
        Refusal{"UnknownContentType", Record(24, {1}), UnexpectedMessage, 0x12801, false, {sbTLS1, sbTLS11, sbTLS12},
                5},
        Refusal{"ApplicationDataInClear", Record(23, {'h', 'i'}), UnexpectedMessage, 0x12801},
        // Messages the exchange does not expect now.
        Refusal{"CertificateBeforeServerHello", Record(22, Handshake(11, U24(0))), UnexpectedMessage, 0x12801},
        Refusal{"HandshakeTypePastTheExpectedSet", Record(22, Handshake(34, {})), UnexpectedMessage, 0x12801},
        Refusal{"HelloVerifyRequestOnAStream", Record(22, Handshake(3, {3, 3, 0})), UnexpectedMessage, 0x12801},
        Refusal{"ChangeCipherSpecBeforeKeys", Record(20, {1}), UnexpectedMessage, 0x12801},
        Refusal{"MessageLongerThanAnyTaken", Record(22, Bytes{2} + U24(0x40001)), DecodeError, 0x12810},
        // Fields that overrun their message, their extension or the extension block.
        Refusal{"RandomCut", Record(22, Handshake(2, Bytes{3, 3} + Fill(20))), DecodeError, 0x12810},
        Refusal{"SessionIdPastTheMessage", Record(22, Handshake(2, Bytes{3, 3} + Fill(32) + Bytes{20} + Fill(5))),
                DecodeError, 0x12810},
        Refusal{"SessionIdOf33Bytes", Record(22, Handshake(2, ServerHello({}, Fill(33)))), IllegalParameter, 0x1280D},
        Refusal{"ExtensionBlockPastTheMessage", Record(22, Handshake(2, ServerHello(U16(16) + Fill(4)))), DecodeError,
                0x12810},
        Refusal{"ExtensionPastTheBlock", Record(22, Handshake(2, ServerHello(U16(4) + Bytes{0xFF, 0x01, 0x00, 0x05}))),
                DecodeError, 0x12810},
        Refusal{"TrailingBytes", Record(22, Handshake(2, ServerHello(U16(0) + Bytes{0}))), DecodeError, 0x12810},
        Refusal{"RenegotiationInfoPastItsExtension",
                Record(22, Handshake(2, ServerHello(U16(5) + Bytes{0xFF, 0x01, 0x00, 0x01, 0x05}))), DecodeError,
                0x12810},
        Refusal{"RenegotiationInfoNotEmptyInTheFirstHandshake",
                Record(22, Handshake(2, ServerHello(U16(6) + Bytes{0xFF, 0x01, 0x00, 0x02, 0x01, 0x00}))),
                HandshakeFailure, 0x12806},
        Refusal{"ExtensionNotOffered", Record(22, Handshake(2, ServerHello(U16(4) + Bytes{0x12, 0x34, 0x00, 0x00}))),
                UnsupportedExtension, 0x12819},
        Refusal{"SignatureAlgorithmsFromTheServer",
                Record(22, Handshake(2, ServerHello(U16(8) + Bytes{0x00, 0x0D, 0x00, 0x04, 0x00, 0x02, 0x04, 0x01}))),
                UnsupportedExtension, 0x12819},
        Refusal{"ExtendedMasterSecretWithData",
                Record(22, Handshake(2, ServerHello(U16(5) + Bytes{0x00, 0x17, 0x00, 0x01, 0x00}))), DecodeError,
                0x12810},
        // SSL 2.0: lengths past the message, empty records, messages out of state, the
        // server's ERROR.
        Refusal{"SSL2CertificatePastTheMessage", SSL2Record(SSL2ServerHello(200, Fill(10), {1, 0, 0x80}, Fill(16))), 0,
                0x12810, false, OnlySSL2},
        Refusal{"SSL2EmptyRecord", SSL2Record({}), 0, 0x12810, false, OnlySSL2},
        Refusal{"SSL2ServerVerifyBeforeServerHello", SSL2Record(Bytes{5} + Fill(16)), 1, 0x12801, false, OnlySSL2},
        Refusal{"SSL2ServerFinishedBeforeServerHello", SSL2Record(Bytes{6} + Fill(16)), 1, 0x12801, false, OnlySSL2},
        Refusal{"SSL2ErrorFromTheServer", SSL2Record({0, 0, 1}), -1, 0x12806, true, OnlySSL2}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
