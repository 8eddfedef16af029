// Algorithm codes and object identifiers: the lookups in both directions, their order and
// their misses, the code families, digest sizes, and the dotted text of OIDs.
#include <gtest/gtest.h>

#include <string>

#include "crypto/ASN1TestSupport.h"
#include "crypto/base/SBConstants.h"
#include "crypto/base/SBUtils.h"

using asn1test::H;

TEST(SBUtilsOID, DottedText) {
    struct Case {
        const char* oid;
        const char* text;
    } cases[] = {
        {"2B 06 01 05 05 07 03 01", "1.3.6.1.5.5.7.3.1"},
        {"55 1D 0F", "2.5.29.15"},
        {"2A 86 48 86 F7 0D", "1.2.840.113549"},
        {"2A 86 48 86 F7 0D 01 01 0B", "1.2.840.113549.1.1.11"},
        // Two arcs live in the first sub-identifier alone.
        {"2A", "1.2"},
        {"00", "0.0"},
        {"27", "0.39"},
        {"4F", "1.39"},
        {"50", "2.0"},
        // Arcs of any size, the first one included.
        {"88 37 01", "2.999.1"},
        {"2A 90 80 80 80 00 05", "1.2.4294967296.5"},
        {"2A 8F FF FF FF 7F", "1.2.4294967295"},
        {"2A 82 80 80 80 80 80 80 80 80 00", "1.2.18446744073709551616"},
        {"82 80 80 80 80 80 80 80 80 50", "2.18446744073709551616"},
        // A truncated last sub-identifier ends at the last byte.
        {"2A 86", "1.2.6"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.oid);
        EXPECT_EQ(OIDToText(H(c.oid)), c.text);
    }
    EXPECT_EQ(OIDToText(""), "");
}

// A sub-identifier of thousands of octets (a hostile certificate) would take seconds to minutes
// to turn into decimal: such an OID has no text. Every real arc is far below the bound.
TEST(SBUtilsOID, OversizedSubIdentifiersHaveNoText) {
    const auto arc = [](size_t octets) { return std::string(octets - 1, '\xFF') + '\x7F'; };
    const std::string longest = OIDToText("\x2A" + arc(OIDMaxSubIdentifierOctets));
    EXPECT_EQ(longest.substr(0, 4), "1.2.");
    EXPECT_GT(longest.size(), 250u);
    EXPECT_EQ(OIDToText("\x2A" + arc(OIDMaxSubIdentifierOctets + 1)), "");
    EXPECT_EQ(OIDToText(arc(OIDMaxSubIdentifierOctets + 1) + "\x01"), "");
    // However long, after arcs that were fine.
    EXPECT_EQ(OIDToText("\x2A\x03" + arc(20000) + "\x05"), "");
    // An unterminated run at the end counts the same way.
    EXPECT_EQ(OIDToText("\x2A" + std::string(OIDMaxSubIdentifierOctets + 1, '\x81')), "");
    EXPECT_EQ(OIDToText("\x2A" + std::string(3, '\x81')), "1.2.16513");
}

TEST(SBUtilsOID, AlgorithmByOIDWithAndWithoutFolding) {
    EXPECT_EQ(GetAlgorithmByOID(SB_OID_SHA1_RSA, true), SB_ALG_PK_RSA);
    EXPECT_EQ(GetAlgorithmByOID(SB_OID_SHA1_RSA, false), SB_CERT_ALG_SHA1_RSA);
    EXPECT_EQ(GetAlgorithmByOID(SB_OID_SHA1, true), SB_ALG_SHA1);
    EXPECT_EQ(GetAlgorithmByOID(SB_OID_SHA1, false), SB_ALG_SHA1);
    EXPECT_EQ(GetAlgorithmByOID(SB_OID_DSA_SHA1, true), SB_ALG_PK_DSA);
    EXPECT_EQ(GetAlgorithmByOID(SB_OID_DH, true), SB_CERT_ALG_DH);  // 6 is not folded
    // Only the ten-byte SEED constant maps; the registered eight-byte OID does not.
    EXPECT_EQ(GetAlgorithmByOID(H("2A 83 1A 8C 9A 44 01 04")), SB_ALG_UNKNOWN);
    EXPECT_EQ(GetAlgorithmByOID(SB_OID_SEED), SB_ALG_SEED);
    EXPECT_EQ(GetAlgorithmByOID(SB_OID_RABBIT), SB_ALG_RABBIT);
    EXPECT_EQ(GetAlgorithmByOID(SB_OID_SSL_HASH), SB_ALG_SSL_HASH);
    EXPECT_EQ(GetAlgorithmByOID(SB_OID_HMACSHA1_PKCS), SB_ALG_HMAC_SHA1);
    EXPECT_EQ(GetAlgorithmByOID(SB_OID_MGF1), SB_ALG_MGF1);
    for (auto oid : {SB_OID_MD2_RSA, SB_OID_RSAES_OAEP, SB_OID_EA_RSA, SB_OID_DSA_ALT, SB_OID_DSA_SHA1_ALT,
                     std::string_view(), SB_OID_X520_COMMON_NAME})
        EXPECT_EQ(GetAlgorithmByOID(oid), SB_ALG_UNKNOWN);
}

TEST(SBUtilsOID, CodesRoundTripThroughTheirOIDs) {
    const int32_t codes[] = {SB_ALG_RC4,
                             SB_ALG_DES,
                             SB_ALG_3DES,
                             SB_ALG_RC2,
                             SB_ALG_AES128,
                             SB_ALG_AES192,
                             SB_ALG_AES256,
                             SB_ALG_BLOWFISH,
                             SB_ALG_CAST128,
                             SB_ALG_SERPENT128,
                             SB_ALG_SERPENT192,
                             SB_ALG_SERPENT256,
                             SB_ALG_CAMELLIA128,
                             SB_ALG_CAMELLIA192,
                             SB_ALG_CAMELLIA256,
                             SB_ALG_SHA1,
                             SB_ALG_MD5,
                             SB_ALG_MD2,
                             SB_ALG_MD4,
                             SB_ALG_SHA224,
                             SB_ALG_SHA256,
                             SB_ALG_SHA384,
                             SB_ALG_SHA512,
                             SB_ALG_RIPEMD160,
                             SB_ALG_SSL_HASH,
                             SB_ALG_HMAC_SHA1,
                             SB_ALG_HMAC_SHA224,
                             SB_ALG_HMAC_SHA256,
                             SB_ALG_HMAC_SHA384,
                             SB_ALG_HMAC_SHA512,
                             SB_ALG_MGF1,
                             SB_CERT_ALG_MD5_RSA,
                             SB_CERT_ALG_SHA1_RSA,
                             SB_CERT_ALG_SHA256_RSA,
                             SB_CERT_ALG_RIPEMD160_RSA,
                             SB_CERT_ALG_RSASSA_PSS,
                             SB_CERT_ALG_DSA_SHA1};
    for (const int32_t code : codes) {
        SCOPED_TRACE(code);
        const ByteString oid = GetOIDByAlgorithm(code);
        ASSERT_FALSE(oid.empty());
        EXPECT_EQ(GetAlgorithmByOID(oid), code);
    }
    EXPECT_EQ(GetOIDByAlgorithm(SB_ALG_PK_RSA), SB_OID_RSA_ENCRYPTION);
    EXPECT_EQ(GetOIDByAlgorithm(SB_ALG_PK_DSA), SB_OID_DSA);
    EXPECT_EQ(GetOIDByAlgorithm(SB_ALG_PK_DH), SB_OID_DH);
    EXPECT_EQ(GetOIDByAlgorithm(SB_CERT_ALG_RSAES_OAEP), SB_OID_RSAES_OAEP);
    EXPECT_EQ(GetOIDByAlgorithm(SB_ALG_HMAC_SHA1), SB_OID_HMACSHA1);
    for (const int32_t none :
         {SB_ALG_SEED, SB_ALG_RABBIT, SB_ALG_IDEA, SB_ALG_UNKNOWN, SB_ALG_HMAC_MD5, 0x1234})
        EXPECT_EQ(GetOIDByAlgorithm(none), "");
}

TEST(SBUtilsOID, PublicKeyAndSignatureTables) {
    struct Case {
        std::string_view oid;
        int32_t pk, sig;
    } cases[] = {
        {SB_OID_RSA_ENCRYPTION, 0, 0},
        {SB_OID_EA_RSA, 0, SB_CERT_ALG_UNKNOWN},
        {SB_OID_DSA, 4, 4},
        {SB_OID_DSA_ALT, 4, SB_CERT_ALG_UNKNOWN},
        {SB_OID_DH, 6, SB_CERT_ALG_UNKNOWN},
        {SB_OID_RSASSA_PSS, 11, 11},
        {SB_OID_RSAES_OAEP, 12, SB_CERT_ALG_UNKNOWN},
        {SB_OID_MD2_RSA, SB_CERT_ALG_UNKNOWN, 1},
        {SB_OID_MD5_RSA, SB_CERT_ALG_UNKNOWN, 2},
        {SB_OID_SHA1_RSA, SB_CERT_ALG_UNKNOWN, 3},
        {SB_OID_SHA1_RSA_OIW, SB_CERT_ALG_UNKNOWN, 3},
        {SB_OID_DSA_SHA1, SB_CERT_ALG_UNKNOWN, 5},
        {SB_OID_DSA_SHA1_ALT, SB_CERT_ALG_UNKNOWN, 5},
        {SB_OID_SHA224_RSA, SB_CERT_ALG_UNKNOWN, 7},
        {SB_OID_SHA256_RSA, SB_CERT_ALG_UNKNOWN, 8},
        {SB_OID_SHA384_RSA, SB_CERT_ALG_UNKNOWN, 9},
        {SB_OID_SHA512_RSA, SB_CERT_ALG_UNKNOWN, 10},
        {SB_OID_RIPEMD160_RSA, SB_CERT_ALG_UNKNOWN, 13},
        {SB_OID_SHA256, SB_CERT_ALG_UNKNOWN, SB_CERT_ALG_UNKNOWN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(OIDToText(c.oid));
        EXPECT_EQ(GetPKAlgorithmByOID(c.oid), c.pk);
        EXPECT_EQ(GetSigAlgorithmByOID(c.oid), c.sig);
    }
    struct PK {
        int32_t code;
        std::string_view oid;
    } pks[] = {{0, SB_OID_RSA_ENCRYPTION},
               {SB_ALG_PK_RSA, SB_OID_RSA_ENCRYPTION},
               {4, SB_OID_DSA},
               {SB_ALG_PK_DSA, SB_OID_DSA},
               {6, SB_OID_DH},
               {SB_ALG_PK_DH, SB_OID_DH},
               {11, SB_OID_RSASSA_PSS},
               {12, SB_OID_RSAES_OAEP},
               {3, ""},
               {SB_ALG_PK_ELGAMAL, ""}};
    for (const auto& p : pks)
        EXPECT_EQ(GetOIDByPKAlgorithm(p.code), p.oid);
    struct Sig {
        int32_t code;
        std::string_view oid;
    } sigs[] = {{1, SB_OID_MD2_RSA},
                {2, SB_OID_MD5_RSA},
                {3, SB_OID_SHA1_RSA},
                {5, SB_OID_DSA_SHA1},
                {7, SB_OID_SHA224_RSA},
                {8, SB_OID_SHA256_RSA},
                {9, SB_OID_SHA384_RSA},
                {10, SB_OID_SHA512_RSA},
                {11, SB_OID_RSASSA_PSS},
                {12, SB_OID_RSAES_OAEP},
                {13, SB_OID_RIPEMD160_RSA},
                {0, ""},
                {4, ""},
                {6, ""},
                {14, ""}};
    for (const auto& s : sigs)
        EXPECT_EQ(GetOIDBySigAlgorithm(s.code), s.oid);
}

TEST(SBUtilsOID, CodeToCodeMaps) {
    struct Case {
        int32_t sig, hash, pk;
    } cases[] = {{0, SB_ALG_UNKNOWN, SB_ALG_PK_RSA},
                 {1, SB_ALG_MD2, 1},
                 {2, SB_ALG_MD5, SB_ALG_PK_RSA},
                 {3, SB_ALG_SHA1, SB_ALG_PK_RSA},
                 {4, SB_ALG_UNKNOWN, SB_ALG_PK_DSA},
                 {5, SB_ALG_SHA1, SB_ALG_PK_DSA},
                 {6, SB_ALG_UNKNOWN, 6},
                 {7, SB_ALG_SHA224, SB_ALG_PK_RSA},
                 {8, SB_ALG_SHA256, SB_ALG_PK_RSA},
                 {9, SB_ALG_SHA384, SB_ALG_PK_RSA},
                 {10, SB_ALG_SHA512, SB_ALG_PK_RSA},
                 {11, SB_ALG_UNKNOWN, SB_ALG_PK_RSA},
                 {12, SB_ALG_UNKNOWN, 12},
                 {13, SB_ALG_RIPEMD160, SB_ALG_PK_RSA},
                 {0xFFFF, SB_ALG_UNKNOWN, SB_ALG_UNKNOWN},
                 {0x7101, SB_ALG_UNKNOWN, 0x7101}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sig);
        EXPECT_EQ(GetHashAlgorithmBySigAlgorithm(c.sig), c.hash);
        EXPECT_EQ(GetPKAlgorithmBySigAlgorithm(c.sig), c.pk);
    }
    struct Hmac {
        int32_t hash, hmac, bits;
    } hmacs[] = {{SB_ALG_SHA1, SB_ALG_HMAC_SHA1, 160},
                 {SB_ALG_SHA224, SB_ALG_HMAC_SHA224, 224},
                 {SB_ALG_SHA256, SB_ALG_HMAC_SHA256, 256},
                 {SB_ALG_SHA384, SB_ALG_HMAC_SHA384, 384},
                 {SB_ALG_SHA512, SB_ALG_HMAC_SHA512, 512},
                 {SB_ALG_MD5, SB_ALG_HMAC_MD5, 128},
                 {SB_ALG_RIPEMD160, SB_ALG_HMAC_RIPEMD160, 160},
                 {SB_ALG_MD2, SB_ALG_UNKNOWN, 128},
                 {SB_ALG_MD4, SB_ALG_UNKNOWN, -1},
                 {SB_ALG_SSL_HASH, SB_ALG_UNKNOWN, -1}};
    for (const auto& h : hmacs) {
        SCOPED_TRACE(h.hash);
        EXPECT_EQ(GetHMACAlgorithmByHashAlgorithm(h.hash), h.hmac);
        EXPECT_EQ(GetDigestSizeBits(h.hash), h.bits);
        if (h.hmac != SB_ALG_UNKNOWN) {
            EXPECT_EQ(GetDigestSizeBits(h.hmac), h.bits);
        }
    }
    EXPECT_EQ(GetDigestSizeBits(SB_ALG_CRC32), 32);
    EXPECT_EQ(GetDigestSizeBits(SB_ALG_AES128), -1);
}

TEST(SBUtilsOID, HashAndPasswordBasedTables) {
    const int32_t digests[] = {SB_ALG_SHA1,   SB_ALG_MD5,    SB_ALG_MD2, SB_ALG_SHA256,   SB_ALG_SHA384,
                               SB_ALG_SHA512, SB_ALG_SHA224, SB_ALG_MD4, SB_ALG_RIPEMD160};
    for (const int32_t d : digests) {
        SCOPED_TRACE(d);
        EXPECT_EQ(GetHashAlgorithmByOID(GetOIDByHashAlgorithm(d)), d);
        EXPECT_EQ(GetOIDByHashAlgorithm(d), GetOIDByAlgorithm(d));
    }
    EXPECT_EQ(GetOIDByHashAlgorithm(SB_ALG_SSL_HASH), "");
    EXPECT_EQ(GetHashAlgorithmByOID(SB_OID_SHA1_RSA), SB_ALG_UNKNOWN);

    struct Case {
        int32_t code;
        const char* dotted;
    } cases[] = {{0x7201, "1.2.840.113549.1.12.1.1"}, {0x7202, "1.2.840.113549.1.12.1.2"},
                 {0x7203, "1.2.840.113549.1.12.1.3"}, {0x7204, "1.2.840.113549.1.12.1.5"},
                 {0x7205, "1.2.840.113549.1.12.1.6"}, {0x7221, "1.2.840.113549.1.5.1"},
                 {0x7222, "1.2.840.113549.1.5.4"},    {0x7223, "1.2.840.113549.1.5.3"},
                 {0x7224, "1.2.840.113549.1.5.6"},    {0x7225, "1.2.840.113549.1.5.10"},
                 {0x7226, "1.2.840.113549.1.5.11"},   {0x7242, "1.2.840.113549.1.5.13"},
                 {0x7252, "1.2.840.113549.1.5.12"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dotted);
        const ByteString oid = GetOIDByPBEAlgorithm(c.code);
        EXPECT_EQ(OIDToText(oid), c.dotted);
        EXPECT_EQ(GetPBEAlgorithmByOID(oid), c.code);
    }
    EXPECT_EQ(GetOIDByPBEAlgorithm(SB_ALG_PBES1), "");
    EXPECT_EQ(GetPBEAlgorithmByOID(SB_OID_PBMAC1), SB_ALG_UNKNOWN);
}

TEST(SBUtilsOID, Families) {
    EXPECT_TRUE(IsSymmetricAlgorithm(0x80007001));  // the top bit is ignored
    EXPECT_TRUE(IsSymmetricAlgorithm(SB_ALG_GENERIC_SYMMETRIC));
    EXPECT_FALSE(IsSymmetricAlgorithm(SB_ALG_SHA1));
    EXPECT_TRUE(IsHashAlgorithm(SB_ALG_SSL_HASH));
    EXPECT_FALSE(IsHashAlgorithm(SB_ALG_HMAC_SHA1));
    EXPECT_TRUE(IsMACAlgorithm(SB_ALG_GENERIC_MAC));
    EXPECT_TRUE(IsPublicKeyAlgorithm(SB_ALG_PK_SRP));
    EXPECT_FALSE(IsPublicKeyAlgorithm(SB_ALG_PBKDF2));
    EXPECT_FALSE(IsSymmetricAlgorithm(SB_ALG_UNKNOWN));
    EXPECT_FALSE(IsSymmetricAlgorithm(0x17001));
}

TEST(SBUtilsOID, PseudoOIDsShareOneSuffix) {
    EXPECT_EQ(SB_OID_IDENTITY, std::string("identity") + std::string(SBPseudoOIDSuffix));
    EXPECT_EQ(SB_OID_SSL_HASH, std::string("ssl-hash") + std::string(SBPseudoOIDSuffix));
    EXPECT_EQ(GetOIDByAlgorithm(SB_ALG_SSL_HASH), SB_OID_SSL_HASH);
}
