// tests/pki/PKCS7TestSupport.h: DER built by hand for the PKCS#7 and PKCS#12 tests (elements
// with their lengths computed, so a table of hostile structures stays readable), and the
// messages' size protocols in one call.
#pragma once

#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/x509.h>

#include <initializer_list>
#include <string>

#include "crypto/base/SBASN1.h"
#include "tests/crypto/ASN1TestSupport.h"

namespace p7test {

using asn1test::H;

// A primitive element: tag byte, DER length, content.
inline std::string P(uint8_t tag, const std::string& content = {}) {
    return std::string(1, char(tag)) + EncodeDERLength(content.size()) + content;
}

// A constructed element holding the given encodings, definite length.
inline std::string C(uint8_t tag, std::initializer_list<std::string> children) {
    std::string body;
    for (const auto& c : children)
        body += c;
    return std::string(1, char(tag)) + EncodeDERLength(body.size()) + body;
}

// The same in indefinite-length form.
inline std::string CI(uint8_t tag, std::initializer_list<std::string> children) {
    std::string body;
    for (const auto& c : children)
        body += c;
    return std::string(1, char(tag)) + "\x80" + body + std::string(2, '\0');
}

inline std::string Seq(std::initializer_list<std::string> children) {
    return C(0x30, children);
}

inline std::string Oid(const std::string& hex) {
    return P(0x06, H(hex));
}

inline std::string Int(const std::string& hex) {
    return P(0x02, H(hex));
}

inline std::string Octets(const std::string& bytes) {
    return P(0x04, bytes);
}

inline const std::string kData = "2A864886F70D010701";
inline const std::string kSignedData = "2A864886F70D010702";
inline const std::string kEnvelopedData = "2A864886F70D010703";
inline const std::string kSignedAndEnvelopedData = "2A864886F70D010704";
inline const std::string kDigestedData = "2A864886F70D010705";
inline const std::string kEncryptedData = "2A864886F70D010706";
inline const std::string kAuthData = "2A864886F70D0109100102";
inline const std::string kSHA1 = "2B0E03021A";
inline const std::string kSHA256 = "608648016503040201";
inline const std::string kRSA = "2A864886F70D010101";

// ContentInfo { OID, [0] { content } }.
inline std::string Info(const std::string& oidHex, const std::string& content) {
    return Seq({Oid(oidHex), C(0xA0, {content})});
}

inline std::string AlgId(const std::string& oidHex, const std::string& params = P(0x05)) {
    return Seq({Oid(oidHex), params});
}

// A one-entry Name (CN) and an IssuerAndSerialNumber.
inline std::string IssuerSerial(const std::string& cn = "Issuer", const std::string& serialHex = "0A") {
    return Seq({Seq({C(0x31, {Seq({Oid("550403"), P(0x13, cn)})})}), Int(serialHex)});
}

// libcrypto's DER of a certificate.
inline std::string CertDER(X509* x) {
    unsigned char* der = nullptr;
    const int len = i2d_X509(x, &der);
    std::string s(reinterpret_cast<char*>(der), size_t(len));
    OPENSSL_free(der);
    return s;
}

// Saves through the size protocol: a size question, then the bytes.
template <class M>
std::string SaveMessage(M& m) {
    size_t size = 0;
    if (m.SaveToBuffer(nullptr, size)) return "<saved without room>";
    std::string out(size, '\0');
    if (!m.SaveToBuffer(out.data(), size)) return "<save failed>";
    out.resize(size);
    return out;
}

// The same for a PFX, whose save answers codes: 0x1F14 with the size, then 0.
template <class M>
std::string SavePFX(M& m) {
    size_t size = 0;
    EXPECT_EQ(m.SaveToBuffer(nullptr, size), 0x1F14);
    std::string out(size, '\0');
    EXPECT_EQ(m.SaveToBuffer(out.data(), size), 0);
    out.resize(size);
    return out;
}

}  // namespace p7test
