// Fuzz target: the assembly of DTLS handshake messages from received fragments (RFC 6347
// 4.2.3). The input is a list of fragments, each a 12-byte handshake header (type, message
// length, message sequence, fragment offset, fragment length) and its bytes. A fragment
// outside its message is refused; an assembled message is exactly its header and its length.
#include <cstdint>
#include <cstdlib>
#include <set>

#include "rtl/Exception.h"
#include "tls/SBSSLCommon.h"

namespace {

uint32_t U24(const uint8_t* p) { return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TElSSLClass engine;
    std::set<int32_t> types;
    size_t at = 0;
    for (int n = 0; n < 64 && at + 12 <= size; ++n) {
        const uint8_t* h = data + at;
        const uint8_t type = h[0];
        const uint32_t messageLength = U24(h + 1);
        const uint32_t seq = (uint32_t(h[4]) << 8) | h[5];
        const uint32_t offset = U24(h + 6);
        const uint32_t length = std::min<uint32_t>(U24(h + 9), uint32_t(size - at - 12));
        at += 12;
        const std::span<const uint8_t> body(data + at, length);
        at += length;
        try {
            if (engine.AddReceivedFragment(TElDTLSFlightItem::CreateFragment(type, body, offset, seq, messageLength)))
                types.insert(type);
        } catch (const EElSSLError&) {
            if (offset + uint64_t(length) <= messageLength && messageLength <= TElDTLSFlightItem::MaxMessageLength)
                std::abort();  // a fragment inside its message must be taken
        }
        if ((n & 7) == 7 && (h[5] & 1)) engine.DiscardReceivedFlight();
    }
    for (int32_t type : types) {
        const bool complete = engine.IsMessageComplete(type);
        ByteArray message;
        engine.AssembleHandshakeMessage(type, message);
        if (message.empty()) continue;
        if (message.size() < 12 || message.size() != 12 + U24(message.data() + 1)) std::abort();
        (void)complete;
    }
    (void)engine.AreMessagesComplete(0, 8, (size & 1) != 0);
    return 0;
}
