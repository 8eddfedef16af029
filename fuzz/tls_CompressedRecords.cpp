// Fuzz target: the TLS engine's compressed record path. A server played here completes a
// TLS 1.2 handshake that agrees deflate (RFC 3749) over TLS_NULL_WITH_NULL_NULL, so the
// records after it reach the inflate stream unchanged; its own Finished runs through the
// server's deflate stream first, as a real server's would. Then the input picks one of three
// modes (first byte, with the size of the pieces the engine reads):
//   0  the rest as raw server bytes: record headers, lengths and compressed fragments as given;
//   1  records framed here (content type, a 16-bit length that may pass every limit, then the
//      fragment as given), so the fragments reach the inflater;
//   2  round trip: chunks of plaintext (a 16-bit length, then the bytes) deflated by the
//      server's stream, one record each. A chunk of at most 2^14 bytes must come out of OnData
//      exactly; the first longer one must end the session with decompression_failure before
//      any of it comes out.
// In every mode nothing escapes ProcessIncomingData, no OnData hands over more than 2^14
// bytes, and a closed session sends nothing more.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "crypto/base/SBConstants.h"
#include "crypto/facade/SBHashFunction.h"
#include "tls/SBClient.h"
#include "tls/SBZlib.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t MaxPlaintext = 16384;
constexpr int32_t DecompressionFailure = 0x12805;

void Append(Bytes& out, const void* data, size_t size) {
    out.insert(out.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
}

Bytes Record(uint8_t type, const Bytes& body) {
    Bytes r{type, 3, 3, uint8_t(body.size() >> 8), uint8_t(body.size())};
    Append(r, body.data(), body.size());
    return r;
}

Bytes Sha256(const Bytes& data) {
    TElHashFunction h(SB_ALG_SHA256);
    h.Update(data.data(), data.size());
    const ByteString d = h.Finish();
    return Bytes(d.begin(), d.end());
}

// The TLS 1.2 PRF (RFC 5246 5), P_SHA256.
Bytes PRF(std::span<const uint8_t> secret, const std::string& label, const Bytes& seed, size_t length) {
    TElHMACKeyMaterial key;
    key.SetKey(secret);
    auto hmac = TElHashFunction::CreateWithKey(SB_ALG_HMAC_SHA256, &key);
    Bytes labelSeed(label.begin(), label.end());
    Append(labelSeed, seed.data(), seed.size());
    Bytes out, a = labelSeed;
    while (out.size() < length) {
        hmac->Reset();
        hmac->Update(a.data(), a.size());
        const ByteString next = hmac->Finish();
        a.assign(next.begin(), next.end());
        hmac->Reset();
        hmac->Update(a.data(), a.size());
        hmac->Update(labelSeed.data(), labelSeed.size());
        const ByteString block = hmac->Finish();
        Append(out, block.data(), block.size());
    }
    out.resize(length);
    return out;
}

struct Harness {
    TElSecureClient client;
    Bytes incoming, sent, data;
    size_t offset = 0, piece = 1;
    bool opened = false, closed = false;
    size_t sentAfterClose = 0;
    std::vector<int32_t> errors;

    Harness() {
        client.Versions = {sbTLS12};
        client.SetSuiteEnabled(0, true);  // TLS_NULL_WITH_NULL_NULL: records as they are
        client.SetCompressionOff(false);
        client.VerifyPeerDisabled = true;
        client.OnSend = [this](rtl::Component*, const void* buffer, int32_t size) {
            if (closed) sentAfterClose += size_t(size);
            Append(sent, buffer, size_t(size));
        };
        client.OnReceive = [this](rtl::Component*, void* buffer, int32_t maxSize, int32_t& written) {
            const size_t n = std::min({piece, incoming.size() - offset, size_t(maxSize)});
            std::memcpy(buffer, incoming.data() + offset, n);
            offset += n;
            written = int32_t(n);
        };
        client.OnData = [this](rtl::Component*, const void* buffer, int32_t size) {
            if (size_t(size) > MaxPlaintext) std::abort();  // more than one record carries
            Append(data, buffer, size_t(size));
        };
        client.OnOpenConnection = [this](rtl::Component*) { opened = true; };
        client.OnCloseConnection = [this](rtl::Component*, TSBCloseReason) { closed = true; };
        client.OnError = [this](rtl::Component*, int32_t code, bool, bool) { errors.push_back(code); };
    }

    // Hands the engine everything queued, as long as it takes bytes.
    void Feed(const Bytes& bytes) {
        Append(incoming, bytes.data(), bytes.size());
        for (size_t before = SIZE_MAX; offset < incoming.size() && offset != before && !closed;) {
            before = offset;
            for (size_t i = 0; i < 4 && !closed; ++i)
                client.ProcessIncomingData();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = input[0] % 3;
    Harness h;
    TZStreamRec deflater{};
    if (InitCompression(deflater, 6) != Z_OK) std::abort();
    try {
        // The handshake, played whole in one piece per record.
        h.piece = 1 << 16;
        h.client.OpenSession();
        if (h.sent.size() < 9 || h.sent[0] != 22 || h.sent[5] != 1) std::abort();
        const Bytes clientHello(h.sent.begin() + 5, h.sent.begin() + 5 + ((h.sent[3] << 8) | h.sent[4]));
        const Bytes clientRandom(clientHello.begin() + 6, clientHello.begin() + 38);
        const Bytes serverRandom(32, 0x42);
        Bytes serverHello{2, 0, 0, 38, 3, 3};
        Append(serverHello, serverRandom.data(), 32);
        serverHello.insert(serverHello.end(), {0, 0x00, 0x00, 1});  // no session id, suite 0, deflate
        const Bytes done{14, 0, 0, 0};
        Bytes flight = serverHello;
        Append(flight, done.data(), done.size());
        Bytes transcript = clientHello;
        Append(transcript, flight.data(), flight.size());
        h.Feed(Record(22, flight));
        if (h.closed || !h.client.GetCompressionActive()) std::abort();
        const rtl::SecureBytes master = h.client.GetMasterSecret();
        Bytes clientFinished{20, 0, 0, 12};
        const Bytes cv = PRF(master, "client finished", Sha256(transcript), 12);
        Append(clientFinished, cv.data(), cv.size());
        Append(transcript, clientFinished.data(), clientFinished.size());
        Bytes serverFinished{20, 0, 0, 12};
        const Bytes sv = PRF(master, "server finished", Sha256(transcript), 12);
        Append(serverFinished, sv.data(), sv.size());
        std::vector<uint8_t> packed;
        CompressData(deflater, serverFinished.data(), serverFinished.size(), packed);
        Bytes after = Record(20, {1});
        const Bytes finishedRecord = Record(22, packed);
        Append(after, finishedRecord.data(), finishedRecord.size());
        h.Feed(after);
        if (!h.opened || h.closed || !h.errors.empty()) std::abort();

        // The input.
        h.piece = size > 1 ? size_t(input[1] % 64) * 300 + 1 : 1;
        const uint8_t* p = input + std::min<size_t>(size, 2);
        const uint8_t* end = input + size;
        if (mode == 0) {
            h.Feed(Bytes(p, end));
        } else if (mode == 1) {
            static constexpr uint8_t types[] = {21, 22, 23};
            while (end - p >= 3 && !h.closed) {
                const uint8_t type = types[p[0] % 3];
                const size_t n = std::min<size_t>(size_t((p[1] << 8) | p[2]) % 17600, size_t(end - p - 3));
                h.Feed(Record(type, Bytes(p + 3, p + 3 + n)));
                p += 3 + n;
            }
        } else {
            Bytes expected;
            while (end - p >= 2 && !h.closed) {
                const size_t n = std::min<size_t>(size_t((p[0] << 8) | p[1]) % 20000, size_t(end - p - 2));
                CompressData(deflater, p + 2, n, packed);
                h.Feed(Record(23, Bytes(packed.begin(), packed.end())));
                if (n > MaxPlaintext) {
                    // Refused as it inflated past the limit, none of it handed over.
                    if (!h.closed || h.errors.empty() || h.errors.back() != DecompressionFailure)
                        std::abort();
                    if (h.data != expected) std::abort();
                    break;
                }
                expected.insert(expected.end(), p + 2, p + 2 + n);
                if (h.closed || h.data != expected) std::abort();
                p += 2 + n;
            }
        }
        if (h.closed) {
            if (h.client.GetActive()) std::abort();
            h.client.ProcessIncomingData();
        }
    } catch (const std::exception&) {
        std::abort();  // the peer's input reached the owner as an exception
    }
    EndCompression(deflater);
    if (h.sentAfterClose > 0) std::abort();
    return 0;
}
