// crypto/base/SBUtils_oid.cpp: translations between algorithm codes and object identifiers, the
// classification of codes, digest sizes, and the dotted text of an OID.
//
// The lookups are ordered tables: the first matching row wins, and an OID or code that no row
// names gives SB_ALG_UNKNOWN (or an empty OID). OIDs compare byte for byte.
#include <algorithm>
#include <vector>

#include "crypto/base/SBConstants.h"
#include "crypto/base/SBUtils.h"

namespace {

struct OidCode {
    std::string_view oid;
    int32_t code;
};

// OID -> code, tested in this order.
constexpr OidCode kAlgorithmByOid[] = {
    {SB_OID_RSA_ENCRYPTION, SB_CERT_ALG_RSA_ENCRYPTION},
    {SB_OID_MD5_RSA, SB_CERT_ALG_MD5_RSA},
    {SB_OID_SHA1_RSA, SB_CERT_ALG_SHA1_RSA},
    {SB_OID_SHA1_RSA_OIW, SB_CERT_ALG_SHA1_RSA},
    {SB_OID_SHA224_RSA, SB_CERT_ALG_SHA224_RSA},
    {SB_OID_SHA256_RSA, SB_CERT_ALG_SHA256_RSA},
    {SB_OID_SHA384_RSA, SB_CERT_ALG_SHA384_RSA},
    {SB_OID_SHA512_RSA, SB_CERT_ALG_SHA512_RSA},
    {SB_OID_RIPEMD160_RSA, SB_CERT_ALG_RIPEMD160_RSA},
    {SB_OID_DSA, SB_CERT_ALG_DSA},
    {SB_OID_DSA_SHA1, SB_CERT_ALG_DSA_SHA1},
    {SB_OID_RSASSA_PSS, SB_CERT_ALG_RSASSA_PSS},
    {SB_OID_DH, SB_CERT_ALG_DH},
    {SB_OID_MGF1, SB_ALG_MGF1},
    {SB_OID_RC4, SB_ALG_RC4},
    {SB_OID_DES_EDE3_CBC, SB_ALG_3DES},
    {SB_OID_RC2_CBC, SB_ALG_RC2},
    {SB_OID_DES_CBC, SB_ALG_DES},
    {SB_OID_AES128_CBC, SB_ALG_AES128},
    {SB_OID_AES192_CBC, SB_ALG_AES192},
    {SB_OID_AES256_CBC, SB_ALG_AES256},
    {SB_OID_SERPENT128_CBC, SB_ALG_SERPENT128},
    {SB_OID_SERPENT192_CBC, SB_ALG_SERPENT192},
    {SB_OID_SERPENT256_CBC, SB_ALG_SERPENT256},
    {SB_OID_CAMELLIA128_CBC, SB_ALG_CAMELLIA128},
    {SB_OID_CAMELLIA192_CBC, SB_ALG_CAMELLIA192},
    {SB_OID_CAMELLIA256_CBC, SB_ALG_CAMELLIA256},
    {SB_OID_CAST128_CBC, SB_ALG_CAST128},
    {SB_OID_BLOWFISH_CBC, SB_ALG_BLOWFISH},
    {SB_OID_RABBIT, SB_ALG_RABBIT},
    {SB_OID_SEED, SB_ALG_SEED},
    {SB_OID_SHA1, SB_ALG_SHA1},
    {SB_OID_MD2, SB_ALG_MD2},
    {SB_OID_MD4, SB_ALG_MD4},
    {SB_OID_MD5, SB_ALG_MD5},
    {SB_OID_SHA224, SB_ALG_SHA224},
    {SB_OID_SHA256, SB_ALG_SHA256},
    {SB_OID_SHA384, SB_ALG_SHA384},
    {SB_OID_SHA512, SB_ALG_SHA512},
    {SB_OID_RIPEMD160, SB_ALG_RIPEMD160},
    {SB_OID_HMACSHA1, SB_ALG_HMAC_SHA1},
    {SB_OID_HMACSHA1_PKCS, SB_ALG_HMAC_SHA1},
    {SB_OID_HMACSHA224, SB_ALG_HMAC_SHA224},
    {SB_OID_HMACSHA256, SB_ALG_HMAC_SHA256},
    {SB_OID_HMACSHA384, SB_ALG_HMAC_SHA384},
    {SB_OID_HMACSHA512, SB_ALG_HMAC_SHA512},
    {SB_OID_SSL_HASH, SB_ALG_SSL_HASH},
};

// Code -> OID; codes not listed here go to GetOIDBySigAlgorithm.
constexpr OidCode kOidByAlgorithm[] = {
    {SB_OID_RSA_ENCRYPTION, SB_CERT_ALG_RSA_ENCRYPTION},
    {SB_OID_RSA_ENCRYPTION, SB_ALG_PK_RSA},
    {SB_OID_DSA, SB_CERT_ALG_DSA},
    {SB_OID_DSA, SB_ALG_PK_DSA},
    {SB_OID_DH, SB_CERT_ALG_DH},
    {SB_OID_DH, SB_ALG_PK_DH},
    {SB_OID_RIPEMD160_RSA, SB_CERT_ALG_RIPEMD160_RSA},
    {SB_OID_MGF1, SB_ALG_MGF1},
    {SB_OID_RC4, SB_ALG_RC4},
    {SB_OID_DES_EDE3_CBC, SB_ALG_3DES},
    {SB_OID_RC2_CBC, SB_ALG_RC2},
    {SB_OID_DES_CBC, SB_ALG_DES},
    {SB_OID_AES128_CBC, SB_ALG_AES128},
    {SB_OID_AES192_CBC, SB_ALG_AES192},
    {SB_OID_AES256_CBC, SB_ALG_AES256},
    {SB_OID_SERPENT128_CBC, SB_ALG_SERPENT128},
    {SB_OID_SERPENT192_CBC, SB_ALG_SERPENT192},
    {SB_OID_SERPENT256_CBC, SB_ALG_SERPENT256},
    {SB_OID_CAMELLIA128_CBC, SB_ALG_CAMELLIA128},
    {SB_OID_CAMELLIA192_CBC, SB_ALG_CAMELLIA192},
    {SB_OID_CAMELLIA256_CBC, SB_ALG_CAMELLIA256},
    {SB_OID_CAST128_CBC, SB_ALG_CAST128},
    {SB_OID_BLOWFISH_CBC, SB_ALG_BLOWFISH},
    {SB_OID_SHA1, SB_ALG_SHA1},
    {SB_OID_MD2, SB_ALG_MD2},
    {SB_OID_MD4, SB_ALG_MD4},
    {SB_OID_MD5, SB_ALG_MD5},
    {SB_OID_SHA224, SB_ALG_SHA224},
    {SB_OID_SHA256, SB_ALG_SHA256},
    {SB_OID_SHA384, SB_ALG_SHA384},
    {SB_OID_SHA512, SB_ALG_SHA512},
    {SB_OID_RIPEMD160, SB_ALG_RIPEMD160},
    {SB_OID_SSL_HASH, SB_ALG_SSL_HASH},
    {SB_OID_HMACSHA1, SB_ALG_HMAC_SHA1},
    {SB_OID_HMACSHA224, SB_ALG_HMAC_SHA224},
    {SB_OID_HMACSHA256, SB_ALG_HMAC_SHA256},
    {SB_OID_HMACSHA384, SB_ALG_HMAC_SHA384},
    {SB_OID_HMACSHA512, SB_ALG_HMAC_SHA512},
};

constexpr OidCode kPKAlgorithmByOid[] = {
    {SB_OID_RSA_ENCRYPTION, SB_CERT_ALG_RSA_ENCRYPTION},
    {SB_OID_EA_RSA, SB_CERT_ALG_RSA_ENCRYPTION},
    {SB_OID_DSA, SB_CERT_ALG_DSA},
    {SB_OID_DSA_ALT, SB_CERT_ALG_DSA},
    {SB_OID_DH, SB_CERT_ALG_DH},
    {SB_OID_RSASSA_PSS, SB_CERT_ALG_RSASSA_PSS},
    {SB_OID_RSAES_OAEP, SB_CERT_ALG_RSAES_OAEP},
};

constexpr OidCode kOidByPKAlgorithm[] = {
    {SB_OID_RSA_ENCRYPTION, SB_CERT_ALG_RSA_ENCRYPTION},
    {SB_OID_RSA_ENCRYPTION, SB_ALG_PK_RSA},
    {SB_OID_DSA, SB_CERT_ALG_DSA},
    {SB_OID_DSA, SB_ALG_PK_DSA},
    {SB_OID_DH, SB_CERT_ALG_DH},
    {SB_OID_DH, SB_ALG_PK_DH},
    {SB_OID_RSASSA_PSS, SB_CERT_ALG_RSASSA_PSS},
    {SB_OID_RSAES_OAEP, SB_CERT_ALG_RSAES_OAEP},
};

constexpr OidCode kSigAlgorithmByOid[] = {
    {SB_OID_RSA_ENCRYPTION, SB_CERT_ALG_RSA_ENCRYPTION},
    {SB_OID_MD2_RSA, SB_CERT_ALG_MD2_RSA},
    {SB_OID_MD5_RSA, SB_CERT_ALG_MD5_RSA},
    {SB_OID_SHA1_RSA, SB_CERT_ALG_SHA1_RSA},
    {SB_OID_SHA1_RSA_OIW, SB_CERT_ALG_SHA1_RSA},
    {SB_OID_RSASSA_PSS, SB_CERT_ALG_RSASSA_PSS},
    {SB_OID_DSA_SHA1, SB_CERT_ALG_DSA_SHA1},
    {SB_OID_DSA_SHA1_ALT, SB_CERT_ALG_DSA_SHA1},
    {SB_OID_DSA, SB_CERT_ALG_DSA},
    {SB_OID_SHA224_RSA, SB_CERT_ALG_SHA224_RSA},
    {SB_OID_SHA256_RSA, SB_CERT_ALG_SHA256_RSA},
    {SB_OID_SHA384_RSA, SB_CERT_ALG_SHA384_RSA},
    {SB_OID_SHA512_RSA, SB_CERT_ALG_SHA512_RSA},
    {SB_OID_RIPEMD160_RSA, SB_CERT_ALG_RIPEMD160_RSA},
};

constexpr OidCode kOidBySigAlgorithm[] = {
    {SB_OID_MD2_RSA, SB_CERT_ALG_MD2_RSA},
    {SB_OID_MD5_RSA, SB_CERT_ALG_MD5_RSA},
    {SB_OID_SHA1_RSA, SB_CERT_ALG_SHA1_RSA},
    {SB_OID_DSA_SHA1, SB_CERT_ALG_DSA_SHA1},
    {SB_OID_SHA224_RSA, SB_CERT_ALG_SHA224_RSA},
    {SB_OID_SHA256_RSA, SB_CERT_ALG_SHA256_RSA},
    {SB_OID_SHA384_RSA, SB_CERT_ALG_SHA384_RSA},
    {SB_OID_SHA512_RSA, SB_CERT_ALG_SHA512_RSA},
    {SB_OID_RSASSA_PSS, SB_CERT_ALG_RSASSA_PSS},
    {SB_OID_RSAES_OAEP, SB_CERT_ALG_RSAES_OAEP},
    {SB_OID_RIPEMD160_RSA, SB_CERT_ALG_RIPEMD160_RSA},
};

constexpr OidCode kHashByOid[] = {
    {SB_OID_SHA1, SB_ALG_SHA1},     {SB_OID_MD2, SB_ALG_MD2},       {SB_OID_MD4, SB_ALG_MD4},
    {SB_OID_MD5, SB_ALG_MD5},       {SB_OID_SHA224, SB_ALG_SHA224}, {SB_OID_SHA256, SB_ALG_SHA256},
    {SB_OID_SHA384, SB_ALG_SHA384}, {SB_OID_SHA512, SB_ALG_SHA512}, {SB_OID_RIPEMD160, SB_ALG_RIPEMD160},
};

constexpr OidCode kPBE[] = {
    {SB_OID_PKCS12_PBE_SHA1_RC4_128, SB_ALG_PKCS12_SHA1_RC4_128},
    {SB_OID_PKCS12_PBE_SHA1_RC4_40, SB_ALG_PKCS12_SHA1_RC4_40},
    {SB_OID_PKCS12_PBE_SHA1_3DES, SB_ALG_PKCS12_SHA1_3DES},
    {SB_OID_PKCS12_PBE_SHA1_RC2_128, SB_ALG_PKCS12_SHA1_RC2_128},
    {SB_OID_PKCS12_PBE_SHA1_RC2_40, SB_ALG_PKCS12_SHA1_RC2_40},
    {SB_OID_PBE_MD2_DES, SB_ALG_PBE_MD2_DES},
    {SB_OID_PBE_MD2_RC2, SB_ALG_PBE_MD2_RC2},
    {SB_OID_PBE_MD5_DES, SB_ALG_PBE_MD5_DES},
    {SB_OID_PBE_MD5_RC2, SB_ALG_PBE_MD5_RC2},
    {SB_OID_PBE_SHA1_DES, SB_ALG_PBE_SHA1_DES},
    {SB_OID_PBE_SHA1_RC2, SB_ALG_PBE_SHA1_RC2},
    {SB_OID_PBES2, SB_ALG_PBES2},
    {SB_OID_PBKDF2, SB_ALG_PBKDF2},
};

template <size_t N>
int32_t CodeOf(const OidCode (&table)[N], std::string_view oid) {
    for (const auto& row : table)
        if (AreByteStringsEqual(row.oid, oid)) return row.code;
    return SB_ALG_UNKNOWN;
}

template <size_t N>
bool OidOf(const OidCode (&table)[N], int32_t code, ByteString& oid) {
    for (const auto& row : table)
        if (row.code == code) {
            oid = ByteString(row.oid);
            return true;
        }
    return false;
}

// A decimal number of any size, held as base-10^9 limbs, least significant first.
class Decimal {
public:
    void MulAdd(uint32_t mul, uint32_t add) {
        uint64_t carry = add;
        for (auto& limb : limbs_) {
            const uint64_t v = uint64_t(limb) * mul + carry;
            limb = uint32_t(v % kBase);
            carry = v / kBase;
        }
        while (carry) {
            limbs_.push_back(uint32_t(carry % kBase));
            carry /= kBase;
        }
    }
    // Compares with a small number.
    bool Below(uint32_t v) const {
        Trim();
        return limbs_.empty() || (limbs_.size() == 1 && limbs_[0] < v);
    }
    uint32_t Small() const { return limbs_.empty() ? 0 : limbs_[0]; }
    // Subtracts a small number no larger than the value.
    void Sub(uint32_t v) {
        int64_t borrow = v;
        for (auto& limb : limbs_) {
            int64_t x = int64_t(limb) - borrow;
            borrow = 0;
            if (x < 0) {
                x += kBase;
                borrow = 1;
            }
            limb = uint32_t(x);
            if (!borrow) break;
        }
    }
    std::string Text() const {
        Trim();
        if (limbs_.empty()) return "0";
        std::string r = std::to_string(limbs_.back());
        for (size_t i = limbs_.size() - 1; i-- > 0;) {
            const std::string part = std::to_string(limbs_[i]);
            r.append(9 - part.size(), '0');
            r += part;
        }
        return r;
    }

private:
    static constexpr uint64_t kBase = 1'000'000'000;
    void Trim() const {
        while (!limbs_.empty() && limbs_.back() == 0)
            limbs_.pop_back();
    }
    mutable std::vector<uint32_t> limbs_;
};

// Reads one sub-identifier: bytes up to and including the first with a clear top bit, or to the
// end. False (nothing converted) when it is longer than OIDMaxSubIdentifierOctets.
bool ReadSubIdentifier(std::string_view oid, size_t& pos, Decimal& v) {
    size_t end = pos;
    while (end < oid.size() && (uint8_t(oid[end]) & 0x80))
        ++end;
    if (end < oid.size()) ++end;  // the closing octet
    if (end - pos > OIDMaxSubIdentifierOctets) return false;
    v = Decimal();
    while (pos < end)
        v.MulAdd(128, uint8_t(oid[pos++]) & 0x7F);
    return true;
}

}  // namespace

std::string OIDToText(std::string_view oid) {
    if (oid.empty()) return {};
    size_t pos = 0;
    Decimal first;
    if (!ReadSubIdentifier(oid, pos, first)) return {};
    std::string text;
    if (first.Below(40)) {
        text = "0." + first.Text();
    } else if (first.Below(80)) {
        text = "1." + std::to_string(first.Small() - 40);
    } else {
        first.Sub(80);
        text = "2." + first.Text();
    }
    // The first sub-identifier already holds the first two arcs: an OID of two arcs ends here.
    Decimal next;
    while (pos < oid.size()) {
        if (!ReadSubIdentifier(oid, pos, next)) return {};
        text += "." + next.Text();
    }
    return text;
}

int32_t GetAlgorithmByOID(std::string_view oid, bool foldToPublicKey) {
    const int32_t code = CodeOf(kAlgorithmByOid, oid);
    return foldToPublicKey ? GetPKAlgorithmBySigAlgorithm(code) : code;
}

ByteString GetOIDByAlgorithm(int32_t algorithm) {
    ByteString oid;
    if (OidOf(kOidByAlgorithm, algorithm, oid)) return oid;
    return GetOIDBySigAlgorithm(algorithm);
}

int32_t GetPKAlgorithmByOID(std::string_view oid) {
    return CodeOf(kPKAlgorithmByOid, oid);
}

ByteString GetOIDByPKAlgorithm(int32_t algorithm) {
    ByteString oid;
    OidOf(kOidByPKAlgorithm, algorithm, oid);
    return oid;
}

int32_t GetSigAlgorithmByOID(std::string_view oid) {
    return CodeOf(kSigAlgorithmByOid, oid);
}

ByteString GetOIDBySigAlgorithm(int32_t algorithm) {
    ByteString oid;
    OidOf(kOidBySigAlgorithm, algorithm, oid);
    return oid;
}

int32_t GetHashAlgorithmBySigAlgorithm(int32_t algorithm) {
    switch (algorithm) {
        case SB_CERT_ALG_MD2_RSA:
            return SB_ALG_MD2;
        case SB_CERT_ALG_MD5_RSA:
            return SB_ALG_MD5;
        case SB_CERT_ALG_SHA1_RSA:
        case SB_CERT_ALG_DSA_SHA1:
            return SB_ALG_SHA1;
        case SB_CERT_ALG_SHA224_RSA:
            return SB_ALG_SHA224;
        case SB_CERT_ALG_SHA256_RSA:
            return SB_ALG_SHA256;
        case SB_CERT_ALG_SHA384_RSA:
            return SB_ALG_SHA384;
        case SB_CERT_ALG_SHA512_RSA:
            return SB_ALG_SHA512;
        case SB_CERT_ALG_RIPEMD160_RSA:
            return SB_ALG_RIPEMD160;
        default:
            return SB_ALG_UNKNOWN;
    }
}

int32_t GetHMACAlgorithmByHashAlgorithm(int32_t algorithm) {
    switch (algorithm) {
        case SB_ALG_SHA1:
            return SB_ALG_HMAC_SHA1;
        case SB_ALG_SHA224:
            return SB_ALG_HMAC_SHA224;
        case SB_ALG_SHA256:
            return SB_ALG_HMAC_SHA256;
        case SB_ALG_SHA384:
            return SB_ALG_HMAC_SHA384;
        case SB_ALG_SHA512:
            return SB_ALG_HMAC_SHA512;
        case SB_ALG_MD5:
            return SB_ALG_HMAC_MD5;
        case SB_ALG_RIPEMD160:
            return SB_ALG_HMAC_RIPEMD160;
        default:
            return SB_ALG_UNKNOWN;
    }
}

int32_t GetPKAlgorithmBySigAlgorithm(int32_t algorithm) {
    switch (algorithm) {
        case SB_CERT_ALG_RSA_ENCRYPTION:
        case SB_CERT_ALG_MD5_RSA:
        case SB_CERT_ALG_SHA1_RSA:
        case SB_CERT_ALG_SHA224_RSA:
        case SB_CERT_ALG_SHA256_RSA:
        case SB_CERT_ALG_SHA384_RSA:
        case SB_CERT_ALG_SHA512_RSA:
        case SB_CERT_ALG_RSASSA_PSS:
        case SB_CERT_ALG_RIPEMD160_RSA:
            return SB_ALG_PK_RSA;
        case SB_CERT_ALG_DSA:
        case SB_CERT_ALG_DSA_SHA1:
            return SB_ALG_PK_DSA;
        case SB_CERT_ALG_NONE:
            return SB_ALG_UNKNOWN;
        default:
            return algorithm;
    }
}

int32_t GetHashAlgorithmByOID(std::string_view oid) {
    return CodeOf(kHashByOid, oid);
}

ByteString GetOIDByHashAlgorithm(int32_t algorithm) {
    ByteString oid;
    if (algorithm >= SB_ALG_SHA1 && algorithm <= SB_ALG_RIPEMD160) OidOf(kHashByOid, algorithm, oid);
    return oid;
}

int32_t GetPBEAlgorithmByOID(std::string_view oid) {
    return CodeOf(kPBE, oid);
}

ByteString GetOIDByPBEAlgorithm(int32_t algorithm) {
    ByteString oid;
    OidOf(kPBE, algorithm, oid);
    return oid;
}

bool IsSymmetricAlgorithm(int64_t algorithm) {
    return (algorithm & 0x7FFFFF00) == 0x7000;
}
bool IsHashAlgorithm(int64_t algorithm) {
    return (algorithm & 0x7FFFFF00) == 0x7100;
}
bool IsMACAlgorithm(int64_t algorithm) {
    return (algorithm & 0x7FFFFF00) == 0x7300;
}
bool IsPublicKeyAlgorithm(int64_t algorithm) {
    return (algorithm & 0x7FFFFF00) == 0x7400;
}

int32_t GetDigestSizeBits(int32_t algorithm) {
    switch (algorithm) {
        case SB_ALG_SHA1:
        case SB_ALG_RIPEMD160:
        case SB_ALG_HMAC_SHA1:
        case SB_ALG_HMAC_RIPEMD160:
            return 160;
        case SB_ALG_MD5:
        case SB_ALG_MD2:
        case SB_ALG_HMAC_MD5:
            return 128;
        case SB_ALG_SHA224:
        case SB_ALG_HMAC_SHA224:
            return 224;
        case SB_ALG_SHA256:
        case SB_ALG_HMAC_SHA256:
            return 256;
        case SB_ALG_SHA384:
        case SB_ALG_HMAC_SHA384:
            return 384;
        case SB_ALG_SHA512:
        case SB_ALG_HMAC_SHA512:
            return 512;
        case SB_ALG_CRC32:
            return 32;
        default:
            return -1;
    }
}
