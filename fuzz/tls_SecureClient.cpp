// Fuzz target: the TLS engine reading what a server sends, from its first ClientHello on: the
// record machine (TLS and SSL 3.0 records, SSL 2.0 records, the answer to a version-compatible
// hello), every handshake parser behind it and the alerts, fed in pieces of a size the input
// chooses. The first byte picks the versions offered, the suites enabled (certificate, PSK,
// anonymous, NULL and export kinds), so the messages of each key exchange get read, and whether
// deflate is offered. After any input the engine is either still open or closed, and a closed
// one stays closed and sends nothing more. The engine reports what the peer got wrong through
// its events and raises only for misuse of its interface, so nothing may escape
// ProcessIncomingData.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "tls/SBClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t config = data[0];
    const size_t piece = size_t(data[1] % 64) + 1;
    data += 2;
    size -= 2;

    TElSecureClient client;
    switch (config & 3) {
        case 0: client.Versions = {sbTLS1, sbTLS11, sbTLS12}; break;
        case 1: client.Versions = {sbSSL3}; break;
        case 2: client.Versions = {sbSSL2}; break;
        default: client.Versions = {sbSSL2, sbSSL3, sbTLS1}; break;
    }
    // Bits 2-3: which kinds beyond the defaults are enabled.
    if (config & 4)
        for (uint8_t i = 56; i <= 67; ++i) client.SetSuiteEnabled(i, true);  // PSK kinds
    if (config & 8)
        for (uint8_t i : {1, 2, 3, 30, 31, 32, 33, 34, 35, 36, 37, 38, 41, 42}) client.SetSuiteEnabled(i, true);
    client.VerifyPeerDisabled = (config & 16) == 0;
    client.Extensions().SessionTicket = (config & 32) != 0;
    client.SetCompressionOff((config & 64) == 0);  // a hello that offers deflate
    client.PeerHostName = "fuzz.example";
    client.OnKeyNeeded = [](rtl::Component*, const std::string&, std::string& identity, ByteArray& key) {
        identity = "fuzz";
        key.assign(16, 0x5A);
    };

    size_t offset = 0;
    bool closed = false;
    size_t sentAfterClose = 0;
    client.OnSend = [&](rtl::Component*, const void*, int32_t length) {
        if (closed) sentAfterClose += size_t(length);
    };
    client.OnReceive = [&](rtl::Component*, void* buffer, int32_t maxSize, int32_t& written) {
        const size_t n = std::min({piece, size - offset, size_t(maxSize)});
        std::memcpy(buffer, data + offset, n);
        offset += n;
        written = int32_t(n);
    };
    client.OnCloseConnection = [&](rtl::Component*, TSBCloseReason) { closed = true; };
    try {
        client.OpenSession();
        // Each call reads at most one piece; an input of n bytes needs at most n calls, and a
        // few more let an engine finish what its last piece started.
        for (size_t calls = 0; calls < size + 4 && !closed; ++calls) client.ProcessIncomingData();
        if (closed) {
            if (client.GetActive()) std::abort();
            client.ProcessIncomingData();
        }
    } catch (const std::exception&) {
        std::abort();  // the peer's input reached the owner as an exception
    }
    if (sentAfterClose > 0) std::abort();
    return 0;
}
