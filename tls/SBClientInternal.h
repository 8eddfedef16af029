// tls/SBClientInternal.h: what the engine's source files share and nobody else needs: the
// handshake and content type numbers, the refusal helpers and the reader every message of the
// peer is parsed with.
//
// A refusal is an EElSSLError carrying the alert index to send and the error code to report;
// the record layer turns it into the alert, OnError and the close. RecordCompression is one
// direction's deflate stream. MessageReader is
// rtl::ByteReader whose short reads are refusals with decode_error (RFC 5246 7.2.2), so a
// field that does not fit its message, extension or record can never be read past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "rtl/ByteReader.h"
#include "rtl/SecureBytes.h"
#include "tls/SBSSLCommon.h"
#include "tls/SBZlib.h"

class TElCustomCertStorage;
class TElX509Certificate;

namespace sbtls {

// Content types (RFC 5246 6.2.1).
inline constexpr uint8_t ContentChangeCipherSpec = 20;
inline constexpr uint8_t ContentAlert = 21;
inline constexpr uint8_t ContentHandshake = 22;
inline constexpr uint8_t ContentApplicationData = 23;

// Handshake types (RFC 5246 7.4, RFC 6066 8, RFC 5077 3.3, RFC 6347 4.2.1).
inline constexpr uint8_t HelloRequest = 0;
inline constexpr uint8_t ClientHello = 1;
inline constexpr uint8_t ServerHello = 2;
inline constexpr uint8_t HelloVerifyRequest = 3;
inline constexpr uint8_t NewSessionTicket = 4;
inline constexpr uint8_t Certificate = 11;
inline constexpr uint8_t ServerKeyExchange = 12;
inline constexpr uint8_t CertificateRequest = 13;
inline constexpr uint8_t ServerHelloDone = 14;
inline constexpr uint8_t CertificateVerify = 15;
inline constexpr uint8_t ClientKeyExchange = 16;
inline constexpr uint8_t Finished = 20;
inline constexpr uint8_t CertificateURL = 21;
inline constexpr uint8_t CertificateStatus = 22;

// A set of expected handshake types; a type past the set's width is in no set.
inline constexpr uint32_t Bit(uint8_t type) { return type < 32 ? uint32_t(1) << type : 0; }

// Extension types the engine handles itself.
inline constexpr uint16_t ExtSignatureAlgorithms = 13;  // RFC 5246 7.4.1.4.1
inline constexpr uint16_t ExtExtendedMasterSecret = 23;  // RFC 7627
inline constexpr uint16_t ExtSessionTicket = 35;         // RFC 5077
inline constexpr uint16_t ExtRenegotiationInfo = 0xFF01;  // RFC 5746
inline constexpr uint16_t SCSVRenegotiation = 0x00FF;     // RFC 5746 3.3

// Record sizes (RFC 5246 6.2).
inline constexpr size_t MaxPlaintext = 16384;
inline constexpr size_t MaxCompressed = 16384 + 1024;
inline constexpr size_t MaxCiphertext = 16384 + 2048;

[[noreturn]] inline void Refuse(uint8_t alertIndex, const char* what) {
    throw EElSSLError(what, alertIndex, SSLAlertIndexToErrorCode(alertIndex));
}

[[noreturn]] inline void RefuseWithCode(int32_t alertIndex, int32_t errorCode, const char* what) {
    throw EElSSLError(what, alertIndex, errorCode);
}

// One direction of record compression (RFC 3749: deflate in the zlib format; RFC 5246 6.2.2):
// a deflate stream at level 9 for what we send, an inflate stream for what we read, made with
// that direction's keys and kept while they are in force, so the history runs on from record
// to record. The owner's output buffers hold the session's plaintext: they are wiped buffers
// reserved at their ceiling once, so no record makes the engine allocate.
class RecordCompression {
public:
    explicit RecordCompression(bool compress);
    ~RecordCompression();
    RecordCompression(const RecordCompression&) = delete;
    RecordCompression& operator=(const RecordCompression&) = delete;

    // A fragment deflated with a partial flush into out; false when zlib fails or the result
    // grows by more than the 1024 bytes a compressed record may add (the stream is then of no
    // further use).
    bool Compress(const uint8_t* data, size_t length, rtl::SecureBytes& out);
    // A compressed fragment inflated into out. decompression_failure when the data does not
    // inflate, or would inflate past MaxPlaintext: inflation stops there, before anything
    // past the ceiling is kept.
    void Decompress(const uint8_t* data, size_t length, rtl::SecureBytes& out);

private:
    TZStreamRec stream_{};
    bool compress_;
};

class MessageReader {
public:
    MessageReader(const uint8_t* data, size_t size) : r_(data, size) {}
    explicit MessageReader(std::span<const uint8_t> data) : r_(data) {}

    size_t remaining() const { return r_.remaining(); }
    bool eof() const { return r_.eof(); }
    uint8_t u8() { return Guard([&] { return r_.u8(); }); }
    uint16_t u16() { return Guard([&] { return r_.u16be(); }); }
    uint32_t u24() {
        return Guard([&] {
            const uint32_t hi = r_.u8();
            return (hi << 16) | r_.u16be();
        });
    }
    uint32_t u32() { return Guard([&] { return r_.u32be(); }); }
    std::span<const uint8_t> bytes(size_t n) { return Guard([&] { return r_.bytes(n); }); }
    // A field with a length prefix of 1, 2 or 3 bytes.
    std::span<const uint8_t> vector8() { return bytes(u8()); }
    std::span<const uint8_t> vector16() { return bytes(u16()); }
    std::span<const uint8_t> vector24() { return bytes(u24()); }
    // A message ends where its last field ends.
    void end() const {
        if (!r_.eof()) Refuse(SSLAlertDecodeError, "Trailing bytes in a handshake message");
    }

private:
    template <class F>
    static auto Guard(F f) -> decltype(f()) {
        try {
            return f();
        } catch (const rtl::EReadError&) {
            Refuse(SSLAlertDecodeError, "A field does not fit its message");
        }
    }
    rtl::ByteReader r_;
};

// Writers of the big-endian fields handshake messages are made of. PutU16 takes any byte
// container (a message body or a secret premaster).
template <class Bytes>
inline void PutU16(Bytes& out, size_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

inline void PutU24(std::vector<uint8_t>& out, size_t v) {
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

inline void PutBytes(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// A 2-byte length and the bytes.
inline void PutVector16(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) {
    PutU16(out, bytes.size());
    PutBytes(out, bytes);
}

// The check of the server's certificate (SBClient_verify.cpp).
// The system's bundle of trusted certificates: SSL_CERT_FILE, else the Debian bundle.
std::string SystemBundlePath();
// The bundle's certificates, read once per program and path.
TElCustomCertStorage& SystemTrust();
// Whether the certificate names the host by RFC 6125 6.4: its DNS names (a left-most "*"
// label standing for one label), its addresses for an address literal, its common name only
// when it lists no DNS name.
bool CertificateNamesHost(const TElX509Certificate& certificate, const std::string& hostName);

}  // namespace sbtls
