// tls/SBSSLCommon.cpp: the suite catalogue and candidate tables, the alert maps and the
// settings of TElSSLClass. The hello extensions are in SBSSLCommon_ext.cpp, the datagram
// support in SBSSLCommon_dtls.cpp.
#include "tls/SBSSLCommon.h"

#include "crypto/base/SBConstants.h"
#include "rtl/Format.h"

namespace {

using K = SSLKeyExchange;
using C = SSLCipher;
using M = SSLMac;
using S = SSLSignature;
constexpr uint8_t T = SSLFamilyTLS, S3 = SSLFamilySSL3, S2 = SSLFamilySSL2;
constexpr uint8_t TS = T | S3;

}  // namespace

// Off until a caller enables them: index 0, the NULL, export, anonymous, RC4, single-DES, RC2,
// IDEA, PSK and SRP suites (weak, unauthenticated, or needing settings of the caller's own).
// The DHE SEED suites and the SRP suites with a certificate are signed by the server (RFC 4162,
// RFC 5054 2.7): their signature kinds say so, and the fixed-DH SEED suites name the key that
// signed the server's DH certificate.
const TSSLCipherSuiteInfo SSLCipherSuites[SSLSuiteCount] = {
    {0x0000, {}, "TLS_NULL_WITH_NULL_NULL", false, 0, K::None, C::None, M::None, true, S::None, TS},
    {0x0001, {}, "TLS_RSA_WITH_NULL_MD5", false, 0, K::RSA, C::None, M::MD5, true, S::None, TS},
    {0x0002, {}, "TLS_RSA_WITH_NULL_SHA", false, 0, K::RSA, C::None, M::SHA1, true, S::None, TS},
    {0x0004, {0x01, 0x00, 0x80}, "TLS_RSA_WITH_RC4_128_MD5", false, 2, K::RSA, C::RC4, M::MD5, false, S::None, TS | S2},
    {0x0005, {}, "TLS_RSA_WITH_RC4_128_SHA", false, 4, K::RSA, C::RC4, M::SHA1, false, S::None, TS},
    {0x0000, {0x03, 0x00, 0x80}, "SSL_CK_RC2_128_CBC_WITH_MD5", false, 2, K::RSA, C::RC2, M::MD5, false, S::None, S2},
    {0x0000, {0x05, 0x00, 0x80}, "SSL_CK_IDEA_128_CBC_WITH_MD5", false, 2, K::RSA, C::IDEA, M::MD5, false, S::None, S2},
    {0x0007, {}, "TLS_RSA_WITH_IDEA_CBC_SHA", false, 2, K::RSA, C::IDEA, M::SHA1, false, S::None, TS},
    {0x0000, {0x06, 0x00, 0x40}, "SSL_CK_DES_64_CBC_WITH_MD5", false, 2, K::RSA, C::DES, M::MD5, false, S::None, S2},
    {0x0009, {}, "TLS_RSA_WITH_DES_CBC_SHA", false, 2, K::RSA, C::DES, M::SHA1, false, S::None, TS},
    {0x0000, {0x07, 0x00, 0xC0}, "SSL_CK_DES_192_EDE3_CBC_WITH_MD5", true, 2, K::RSA, C::TripleDES, M::MD5, false, S::None, S2},
    {0x000A, {}, "TLS_RSA_WITH_3DES_EDE_CBC_SHA", true, 2, K::RSA, C::TripleDES, M::SHA1, false, S::None, TS},
    {0x002F, {}, "TLS_RSA_WITH_AES_128_CBC_SHA", true, 4, K::RSA, C::AES128, M::SHA1, false, S::None, TS},
    {0x0035, {}, "TLS_RSA_WITH_AES_256_CBC_SHA", true, 4, K::RSA, C::AES256, M::SHA1, false, S::None, TS},
    {0x000C, {}, "TLS_DH_DSS_WITH_DES_CBC_SHA", false, 2, K::DH, C::DES, M::SHA1, false, S::DSS, TS},
    {0x000D, {}, "TLS_DH_DSS_WITH_3DES_EDE_CBC_SHA", true, 2, K::DH, C::TripleDES, M::SHA1, false, S::DSS, TS},
    {0x0030, {}, "TLS_DH_DSS_WITH_AES_128_CBC_SHA", true, 3, K::DH, C::AES128, M::SHA1, false, S::DSS, TS},
    {0x0036, {}, "TLS_DH_DSS_WITH_AES_256_CBC_SHA", true, 3, K::DH, C::AES256, M::SHA1, false, S::DSS, TS},
    {0x000F, {}, "TLS_DH_RSA_WITH_DES_CBC_SHA", false, 2, K::DH, C::DES, M::SHA1, false, S::RSA, TS},
    {0x0010, {}, "TLS_DH_RSA_WITH_3DES_EDE_CBC_SHA", true, 2, K::DH, C::TripleDES, M::SHA1, false, S::RSA, TS},
    {0x0031, {}, "TLS_DH_RSA_WITH_AES_128_CBC_SHA", true, 3, K::DH, C::AES128, M::SHA1, false, S::RSA, TS},
    {0x0037, {}, "TLS_DH_RSA_WITH_AES_256_CBC_SHA", true, 3, K::DH, C::AES256, M::SHA1, false, S::RSA, TS},
    {0x0012, {}, "TLS_DHE_DSS_WITH_DES_CBC_SHA", false, 2, K::DHE, C::DES, M::SHA1, false, S::DSS, TS},
    {0x0013, {}, "TLS_DHE_DSS_WITH_3DES_EDE_CBC_SHA", true, 2, K::DHE, C::TripleDES, M::SHA1, false, S::DSS, TS},
    {0x0032, {}, "TLS_DHE_DSS_WITH_AES_128_CBC_SHA", true, 4, K::DHE, C::AES128, M::SHA1, false, S::DSS, TS},
    {0x0038, {}, "TLS_DHE_DSS_WITH_AES_256_CBC_SHA", true, 4, K::DHE, C::AES256, M::SHA1, false, S::DSS, TS},
    {0x0015, {}, "TLS_DHE_RSA_WITH_DES_CBC_SHA", false, 2, K::DHE, C::DES, M::SHA1, false, S::RSA, TS},
    {0x0016, {}, "TLS_DHE_RSA_WITH_3DES_EDE_CBC_SHA", true, 2, K::DHE, C::TripleDES, M::SHA1, false, S::RSA, TS},
    {0x0033, {}, "TLS_DHE_RSA_WITH_AES_128_CBC_SHA", true, 4, K::DHE, C::AES128, M::SHA1, false, S::RSA, TS},
    {0x0039, {}, "TLS_DHE_RSA_WITH_AES_256_CBC_SHA", true, 4, K::DHE, C::AES256, M::SHA1, false, S::RSA, TS},
    {0x0018, {}, "TLS_DH_anon_WITH_RC4_128_MD5", false, 1, K::DHAnon, C::RC4, M::MD5, false, S::None, TS},
    {0x001A, {}, "TLS_DH_anon_WITH_DES_CBC_SHA", false, 1, K::DHAnon, C::DES, M::SHA1, false, S::None, TS},
    {0x001B, {}, "TLS_DH_anon_WITH_3DES_EDE_CBC_SHA", false, 1, K::DHAnon, C::TripleDES, M::SHA1, false, S::None, TS},
    {0x0034, {}, "TLS_DH_anon_WITH_AES_128_CBC_SHA", false, 1, K::DHAnon, C::AES128, M::SHA1, false, S::None, TS},
    {0x003A, {}, "TLS_DH_anon_WITH_AES_256_CBC_SHA", false, 1, K::DHAnon, C::AES256, M::SHA1, false, S::None, TS},
    {0x0006, {0x04, 0x00, 0x80}, "TLS_RSA_EXPORT_WITH_RC2_CBC_40_MD5", false, 1, K::RSA, C::RC2, M::MD5, true, S::None, TS | S2},
    {0x0003, {0x02, 0x00, 0x80}, "TLS_RSA_EXPORT_WITH_RC4_40_MD5", false, 1, K::RSA, C::RC4, M::MD5, true, S::None, TS | S2},
    {0x0008, {}, "TLS_RSA_EXPORT_WITH_DES40_CBC_SHA", false, 1, K::RSA, C::DES, M::SHA1, true, S::None, TS},
    {0x000B, {}, "TLS_DH_DSS_EXPORT_WITH_DES40_CBC_SHA", false, 1, K::DH, C::DES, M::SHA1, true, S::DSS, TS},
    {0x000E, {}, "TLS_DH_RSA_EXPORT_WITH_DES40_CBC_SHA", false, 1, K::DH, C::DES, M::SHA1, true, S::RSA, TS},
    {0x0011, {}, "TLS_DHE_DSS_EXPORT_WITH_DES40_CBC_SHA", false, 1, K::DHE, C::DES, M::SHA1, true, S::DSS, TS},
    {0x0014, {}, "TLS_DHE_RSA_EXPORT_WITH_DES40_CBC_SHA", false, 1, K::DHE, C::DES, M::SHA1, true, S::RSA, TS},
    {0x0017, {}, "TLS_DH_anon_EXPORT_WITH_RC4_40_MD5", false, 1, K::DHAnon, C::RC4, M::MD5, true, S::None, TS},
    {0x0019, {}, "TLS_DH_anon_EXPORT_WITH_DES40_CBC_SHA", false, 1, K::DHAnon, C::DES, M::SHA1, true, S::None, TS},
    {0x0041, {}, "TLS_RSA_WITH_CAMELLIA_128_CBC_SHA", true, 3, K::RSA, C::Camellia128, M::SHA1, false, S::None, T},
    {0x0042, {}, "TLS_DH_DSS_WITH_CAMELLIA_128_CBC_SHA", true, 3, K::DH, C::Camellia128, M::SHA1, false, S::DSS, T},
    {0x0043, {}, "TLS_DH_RSA_WITH_CAMELLIA_128_CBC_SHA", true, 3, K::DH, C::Camellia128, M::SHA1, false, S::RSA, T},
    {0x0044, {}, "TLS_DHE_DSS_WITH_CAMELLIA_128_CBC_SHA", true, 3, K::DHE, C::Camellia128, M::SHA1, false, S::DSS, T},
    {0x0045, {}, "TLS_DHE_RSA_WITH_CAMELLIA_128_CBC_SHA", true, 3, K::DHE, C::Camellia128, M::SHA1, false, S::RSA, T},
    {0x0046, {}, "TLS_DH_anon_WITH_CAMELLIA_128_CBC_SHA", false, 1, K::DHAnon, C::Camellia128, M::SHA1, false, S::None, T},
    {0x0084, {}, "TLS_RSA_WITH_CAMELLIA_256_CBC_SHA", true, 3, K::RSA, C::Camellia256, M::SHA1, false, S::None, T},
    {0x0085, {}, "TLS_DH_DSS_WITH_CAMELLIA_256_CBC_SHA", true, 3, K::DH, C::Camellia256, M::SHA1, false, S::DSS, T},
    {0x0086, {}, "TLS_DH_RSA_WITH_CAMELLIA_256_CBC_SHA", true, 3, K::DH, C::Camellia256, M::SHA1, false, S::RSA, T},
    {0x0087, {}, "TLS_DHE_DSS_WITH_CAMELLIA_256_CBC_SHA", true, 3, K::DHE, C::Camellia256, M::SHA1, false, S::DSS, T},
    {0x0088, {}, "TLS_DHE_RSA_WITH_CAMELLIA_256_CBC_SHA", true, 3, K::DHE, C::Camellia256, M::SHA1, false, S::RSA, T},
    {0x0089, {}, "TLS_DH_anon_WITH_CAMELLIA_256_CBC_SHA", false, 3, K::DHAnon, C::Camellia256, M::SHA1, false, S::None, T},
    {0x008A, {}, "TLS_PSK_WITH_RC4_128_SHA", false, 3, K::PSK, C::RC4, M::SHA1, false, S::None, T},
    {0x008B, {}, "TLS_PSK_WITH_3DES_EDE_CBC_SHA", false, 2, K::PSK, C::TripleDES, M::SHA1, false, S::None, T},
    {0x008C, {}, "TLS_PSK_WITH_AES_128_CBC_SHA", false, 3, K::PSK, C::AES128, M::SHA1, false, S::None, T},
    {0x008D, {}, "TLS_PSK_WITH_AES_256_CBC_SHA", false, 3, K::PSK, C::AES256, M::SHA1, false, S::None, T},
    {0x008E, {}, "TLS_DHE_PSK_WITH_RC4_128_SHA", false, 3, K::DHEPSK, C::RC4, M::SHA1, false, S::None, T},
    {0x008F, {}, "TLS_DHE_PSK_WITH_3DES_EDE_CBC_SHA", false, 2, K::DHEPSK, C::TripleDES, M::SHA1, false, S::None, T},
    {0x0090, {}, "TLS_DHE_PSK_WITH_AES_128_CBC_SHA", false, 3, K::DHEPSK, C::AES128, M::SHA1, false, S::None, T},
    {0x0091, {}, "TLS_DHE_PSK_WITH_AES_256_CBC_SHA", false, 3, K::DHEPSK, C::AES256, M::SHA1, false, S::None, T},
    {0x0092, {}, "TLS_RSA_PSK_WITH_RC4_128_SHA", false, 3, K::RSAPSK, C::RC4, M::SHA1, false, S::None, T},
    {0x0093, {}, "TLS_RSA_PSK_WITH_3DES_EDE_CBC_SHA", false, 2, K::RSAPSK, C::TripleDES, M::SHA1, false, S::None, T},
    {0x0094, {}, "TLS_RSA_PSK_WITH_AES_128_CBC_SHA", false, 3, K::RSAPSK, C::AES128, M::SHA1, false, S::None, T},
    {0x0095, {}, "TLS_RSA_PSK_WITH_AES_256_CBC_SHA", false, 3, K::RSAPSK, C::AES256, M::SHA1, false, S::None, T},
    {0x0096, {}, "TLS_RSA_WITH_SEED_CBC_SHA", true, 3, K::RSA, C::SEED, M::SHA1, false, S::None, TS},
    {0x0097, {}, "TLS_DH_DSS_WITH_SEED_CBC_SHA", true, 3, K::DH, C::SEED, M::SHA1, false, S::DSS, TS},
    {0x0098, {}, "TLS_DH_RSA_WITH_SEED_CBC_SHA", true, 3, K::DH, C::SEED, M::SHA1, false, S::RSA, TS},
    {0x0099, {}, "TLS_DHE_DSS_WITH_SEED_CBC_SHA", true, 3, K::DHE, C::SEED, M::SHA1, false, S::DSS, TS},
    {0x009A, {}, "TLS_DHE_RSA_WITH_SEED_CBC_SHA", true, 3, K::DHE, C::SEED, M::SHA1, false, S::RSA, TS},
    {0x009B, {}, "TLS_DH_anon_WITH_SEED_CBC_SHA", false, 1, K::DHAnon, C::SEED, M::SHA1, false, S::None, TS},
    {0x0050, {}, "TLS_SRP_SHA_WITH_3DES_EDE_CBC_SHA", false, 2, K::SRP, C::TripleDES, M::SHA1, false, S::None, T},
    {0x0051, {}, "TLS_SRP_SHA_RSA_WITH_3DES_EDE_CBC_SHA", false, 2, K::SRP, C::TripleDES, M::SHA1, false, S::RSA, T},
    {0x0052, {}, "TLS_SRP_SHA_DSS_WITH_3DES_EDE_CBC_SHA", false, 2, K::SRP, C::TripleDES, M::SHA1, false, S::DSS, T},
    {0x0053, {}, "TLS_SRP_SHA_WITH_AES_128_CBC_SHA", false, 3, K::SRP, C::AES128, M::SHA1, false, S::None, T},
    {0x0054, {}, "TLS_SRP_SHA_RSA_WITH_AES_128_CBC_SHA", false, 3, K::SRP, C::AES128, M::SHA1, false, S::RSA, T},
    {0x0055, {}, "TLS_SRP_SHA_DSS_WITH_AES_128_CBC_SHA", false, 3, K::SRP, C::AES128, M::SHA1, false, S::DSS, T},
    {0x0056, {}, "TLS_SRP_SHA_WITH_AES_256_CBC_SHA", false, 3, K::SRP, C::AES256, M::SHA1, false, S::None, T},
    {0x0057, {}, "TLS_SRP_SHA_RSA_WITH_AES_256_CBC_SHA", false, 3, K::SRP, C::AES256, M::SHA1, false, S::RSA, T},
    {0x0058, {}, "TLS_SRP_SHA_DSS_WITH_AES_256_CBC_SHA", false, 3, K::SRP, C::AES256, M::SHA1, false, S::DSS, T},
};

namespace {

constexpr uint8_t TLSRows[] = {3,  36, 4,  35, 7,  37, 9,  11, 26, 27, 41, 22, 23, 12, 13, 28, 24, 16, 20, 17,
                               21, 25, 29, 38, 14, 15, 39, 18, 19, 40, 42, 30, 43, 31, 32, 33, 34, 1,  2,  44,
                               45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64,
                               65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 0};
constexpr uint8_t SSL3Rows[] = {3,  36, 4,  35, 7,  37, 9,  11, 26, 27, 41, 22, 23, 30, 42, 43,
                                31, 32, 18, 39, 19, 40, 38, 14, 15, 1,  2,  12, 13, 16, 17, 20,
                                21, 24, 25, 28, 29, 33, 34, 68, 69, 70, 71, 72, 73, 0};
constexpr uint8_t SSL2Rows[] = {3, 36, 5, 35, 6, 8, 10};
static_assert(sizeof(TLSRows) == 79 && sizeof(SSL3Rows) == 46);

bool SuiteBit(const uint8_t* set, uint8_t index) { return (set[index >> 3] >> (index & 7)) & 1; }

uint8_t CheckedIndex(uint8_t index) {
    if (index > SSLMaxSuiteIndex) throw EElSSLError(rtl::Format(SInvalidCipherSuiteIndex, int32_t(index)));
    return index;
}

}  // namespace

const std::span<const uint8_t> TLSCipherRows(TLSRows);
const std::span<const uint8_t> SSL3CipherRows(SSL3Rows);
const std::span<const uint8_t> SSL2CipherRows(SSL2Rows);

int32_t FindSuiteByCode(std::span<const uint8_t> rows, uint16_t code) {
    for (uint8_t index : rows)
        if (SSLCipherSuites[index].Code == code) return index;
    return -1;
}

int32_t FindSSL2SuiteBySpec(const uint8_t spec[3]) {
    for (uint8_t index : SSL2CipherRows) {
        const uint8_t* c = SSLCipherSuites[index].SSL2Code;
        if (c[0] == spec[0] && c[1] == spec[1] && c[2] == spec[2]) return index;
    }
    return -1;
}

int32_t SSLCipherKeySize(SSLCipher cipher, bool isExport) {
    switch (cipher) {
        case SSLCipher::None: return 0;
        case SSLCipher::RC4: return isExport ? 5 : 16;
        case SSLCipher::RC2: return isExport ? 5 : 16;
        case SSLCipher::DES: return isExport ? 5 : 8;
        case SSLCipher::TripleDES: return 24;
        case SSLCipher::IDEA: return 16;
        case SSLCipher::AES128: return 16;
        case SSLCipher::AES256: return 32;
        case SSLCipher::Camellia128: return 16;
        case SSLCipher::Camellia256: return 32;
        case SSLCipher::SEED: return 16;
    }
    return 0;
}

int32_t SSLCipherIVSize(SSLCipher cipher) {
    switch (cipher) {
        case SSLCipher::None:
        case SSLCipher::RC4: return 0;
        case SSLCipher::RC2:
        case SSLCipher::DES:
        case SSLCipher::TripleDES:
        case SSLCipher::IDEA: return 8;
        default: return 16;
    }
}

int32_t SSLMacSize(SSLMac mac) {
    switch (mac) {
        case SSLMac::None: return 0;
        case SSLMac::MD5: return 16;
        case SSLMac::SHA1: return 20;
        case SSLMac::SHA256: return 32;
        case SSLMac::SHA384: return 48;
        case SSLMac::SHA512: return 64;
    }
    return 0;
}

bool SSLCipherIsStream(SSLCipher cipher) { return cipher == SSLCipher::None || cipher == SSLCipher::RC4; }

int32_t SSLCipherAlgorithm(SSLCipher cipher) {
    switch (cipher) {
        case SSLCipher::RC4: return SB_ALG_RC4;
        case SSLCipher::RC2: return SB_ALG_RC2;
        case SSLCipher::DES: return SB_ALG_DES;
        case SSLCipher::TripleDES: return SB_ALG_3DES;
        case SSLCipher::IDEA: return SB_ALG_IDEA;
        case SSLCipher::AES128: return SB_ALG_AES128;
        case SSLCipher::AES256: return SB_ALG_AES256;
        case SSLCipher::Camellia128:
        case SSLCipher::Camellia256: return SB_ALG_CAMELLIA;
        case SSLCipher::SEED: return SB_ALG_SEED;
        case SSLCipher::None: break;
    }
    return SB_ALG_IDENTITY;
}

int32_t SSLMacHMACAlgorithm(SSLMac mac) {
    switch (mac) {
        case SSLMac::MD5: return SB_ALG_HMAC_MD5;
        case SSLMac::SHA1: return SB_ALG_HMAC_SHA1;
        case SSLMac::SHA256: return SB_ALG_HMAC_SHA256;
        case SSLMac::SHA384: return SB_ALG_HMAC_SHA384;
        case SSLMac::SHA512: return SB_ALG_HMAC_SHA512;
        case SSLMac::None: break;
    }
    return 0;
}

int32_t SSLMacHashAlgorithm(SSLMac mac) {
    switch (mac) {
        case SSLMac::MD5: return SB_ALG_MD5;
        case SSLMac::SHA1: return SB_ALG_SHA1;
        case SSLMac::SHA256: return SB_ALG_SHA256;
        case SSLMac::SHA384: return SB_ALG_SHA384;
        case SSLMac::SHA512: return SB_ALG_SHA512;
        case SSLMac::None: break;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Alerts

namespace {

// Description sent for each alert index 0..23 (RFC 5246 7.2).
constexpr uint8_t AlertDescriptions[24] = {0,  10, 20, 21, 22, 30, 40, 41, 42, 43, 44, 45,
                                           46, 47, 48, 49, 50, 51, 60, 70, 71, 80, 90, 100};

}  // namespace

uint8_t SSLAlertToIndex(uint8_t description) {
    // no_certificate (41) is an SSL 3.0 alert a TLS client never receives in turn; it and
    // every unknown description count as internal_error.
    for (uint8_t i = 0; i < 24; ++i)
        if (AlertDescriptions[i] == description && description != 41) return i;
    return SSLAlertInternalError;
}

int32_t SSLAlertIndexToErrorCode(uint8_t index) {
    index &= 0x7F;
    if (index == 0) return 0x12818;
    if (index <= 23) return 0x12800 + index;
    if (index == 24) return 0x12817;
    return 0x12819;
}

int32_t SSLAlertIndexToDescription(uint8_t index) {
    if (index < 24) return AlertDescriptions[index];
    if (index == SSLAlertSRPParameters) return 47;  // illegal_parameter (RFC 5054 2.5.4)
    if (index == SSLAlertUnsupportedExtension) return 110;
    return -1;
}

// ---------------------------------------------------------------------------------------------
// TElSSLClass

TElSSLClass::TElSSLClass(rtl::Component* owner) : rtl::Component(owner), lock_(std::make_unique<TElSharedResource>()) {
    for (uint8_t i = 0; i < SSLSuiteCount; ++i) {
        if (SSLCipherSuites[i].Enabled) enabled_[i >> 3] |= uint8_t(1u << (i & 7));
        priorities_[i] = SSLCipherSuites[i].Priority;
    }
    // The lock guards nothing until a datagram engine's timer thread exists.
    lock_->Enabled = false;
}

TElSSLClass::~TElSSLClass() {
    MarkDestroying();
    // The timer goes first, so its thread never meets a half-destroyed object.
    timer_.reset();
    ClearRetransmitQueue();
    ClearReceivedFragments();
}

bool TElSSLClass::GetSuiteEnabled(uint8_t index) const { return SuiteBit(enabled_, CheckedIndex(index)); }

void TElSSLClass::SetSuiteEnabled(uint8_t index, bool value) {
    CheckedIndex(index);
    // RFC 6347 4.1.2.4: stream ciphers (RC4, and the NULL cipher that counts as one) cannot run
    // over datagrams; the catalogue says which suites use one.
    if (datagramMode_ && SSLCipherIsStream(SSLCipherSuites[index].Cipher)) return;
    const uint8_t bit = uint8_t(1u << (index & 7));
    if (value)
        enabled_[index >> 3] |= bit;
    else
        enabled_[index >> 3] &= uint8_t(~bit);
}

int32_t TElSSLClass::GetSuiteValue(uint8_t index) const { return priorities_[CheckedIndex(index)]; }

void TElSSLClass::SetSuiteValue(uint8_t index, int32_t value) { priorities_[CheckedIndex(index)] = value; }

TElSSLCertificateTypeHandler* TElSSLClass::FindByKind(uint8_t kind) const {
    for (const auto& h : certificateHandlers_)
        if (h->GetKind() == kind) return h.get();
    return nullptr;
}

void TElSSLClass::Lock() {
    if (datagramMode_) lock_->AcquireWrite();
}

void TElSSLClass::Unlock() {
    if (datagramMode_) lock_->Release();
}

void TElSSLClass::ResetSequenceNumbers(bool) {}

void TElSSLClass::SendRecord(uint8_t, const void*, int32_t, int32_t, bool) {}

void TElSSLClass::EnterDatagramMode() {
    if (datagramMode_) return;
    datagramMode_ = true;
    lock_->Enabled = true;
    RetransmissionInterval = 1000;
    timer_ = std::make_unique<TElSSLRetransmissionTimer>();
    timer_->Interval = RetransmissionInterval;
    timer_->OnTimeout = [this](TElSSLRetransmissionTimer*) { HandleRetransmissionTimeout(); };
}
