// The built-in digest and HMAC engine and the MAC key: digests against OpenSSL, HMAC's long
// keys (digested for the engine, never written back), clones, the unsupported codes, and the
// MAC key's operations.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <random>

#include "crypto/HashTestSupport.h"
#include "crypto/ProviderTestSupport.h"
#include "crypto/base/SBConstants.h"
#include "crypto/builtin/SBCryptoProvBuiltInHash.h"
#include "crypto/prov/SBCryptoProvRS.h"

namespace {

using provtest::Bytes;
using SBCryptoProvBuiltInHash::EElHashFunctionError;
using SBCryptoProvBuiltInHash::EElHashFunctionUnsupportedError;

struct Digest {
    int32_t code;
    int32_t hmac;  // 0: no HMAC
    const char* evp;
};
const Digest kDigests[] = {
    {SB_ALG_SHA1, SB_ALG_HMAC_SHA1, "SHA1"},       {SB_ALG_MD5, SB_ALG_HMAC_MD5, "MD5"},
    {SB_ALG_SHA256, SB_ALG_HMAC_SHA256, "SHA256"}, {SB_ALG_SHA384, SB_ALG_HMAC_SHA384, "SHA384"},
    {SB_ALG_SHA512, SB_ALG_HMAC_SHA512, "SHA512"}, {SB_ALG_SHA224, SB_ALG_HMAC_SHA224, "SHA224"},
    {SB_ALG_RIPEMD160, SB_ALG_HMAC_RIPEMD160, "RIPEMD160"},
};

Bytes OpenSSLHmac(const char* evp, const Bytes& key, const Bytes& data) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    static const uint8_t none = 0;
    HMAC(EVP_get_digestbyname(evp), key.empty() ? &none : key.data(), int(key.size()),
         data.empty() ? &none : data.data(), data.size(), out, &len);
    return Bytes(out, out + len);
}

Bytes RunHash(TElBuiltInHashFunction& h, const Bytes& data, std::mt19937& rng) {
    size_t at = 0;
    for (size_t piece : provtest::RandomPieces(rng, data.size())) {
        h.Update(data.data() + at, piece);
        at += piece;
    }
    return provtest::ToBytes(h.Finish());
}

class HashEngine : public ::testing::Test {
protected:
    TElCustomCryptoKey* MacKey(const Bytes& value) {
        TElCustomCryptoKey* key = provider.CreateKey(SB_ALG_GENERIC_MAC, 0);
        key->SetValue(value);
        return key;
    }
    TElBuiltInCryptoProvider provider;
};

TEST_F(HashEngine, DigestsAndHmacsMatchOpenSSLAtEveryKeyLength) {
    std::mt19937 rng(21);
    for (const Digest& d : kDigests) {
        for (size_t n : {0u, 1u, 63u, 64u, 65u, 127u, 128u, 129u, 1000u}) {
            const Bytes data = provtest::Random(rng, n);
            auto h = TElBuiltInHashFunction::CreateByAlgorithm(d.code);
            EXPECT_EQ(hashtest::Hex(RunHash(*h, data, rng)), hashtest::Hex(hashtest::OpenSSLDigest(d.evp, data.data(), n)))
                << d.evp << " " << n;
        }
        // Keys shorter than, equal to and longer than the block, both block sizes.
        for (size_t keyLength : {0u, 20u, 64u, 65u, 100u, 128u, 129u, 131u}) {
            const Bytes key = provtest::Random(rng, keyLength), data = provtest::Random(rng, 77);
            TElCustomCryptoKey* k = MacKey(key);
            auto h = TElBuiltInHashFunction::CreateByAlgorithm(d.hmac, k);
            EXPECT_EQ(hashtest::Hex(RunHash(*h, data, rng)), hashtest::Hex(OpenSSLHmac(d.evp, key, data)))
                << "HMAC-" << d.evp << " key " << keyLength;
            // The key object is only read.
            EXPECT_EQ(Bytes(k->GetValue().begin(), k->GetValue().end()), key);
        }
    }
}

TEST_F(HashEngine, OneLongKeyServesTwoDigestsAndRestartsAlike) {
    // A 100-byte key is longer than SHA-256's 64-byte block but not than SHA-512's 128 bytes:
    // the first HMAC must not leave a shortened key behind for the second.
    std::mt19937 rng(4);
    const Bytes key = provtest::Random(rng, 100), data = provtest::Random(rng, 50);
    TElCustomCryptoKey* k = MacKey(key);
    auto h256 = TElBuiltInHashFunction::CreateByAlgorithm(SB_ALG_HMAC_SHA256, k);
    auto h512 = TElBuiltInHashFunction::CreateByAlgorithm(SB_ALG_HMAC_SHA512, k);
    h256->Update(data.data(), data.size());
    h512->Update(data.data(), data.size());
    EXPECT_EQ(provtest::ToBytes(h256->Finish()), OpenSSLHmac("SHA256", key, data));
    EXPECT_EQ(provtest::ToBytes(h512->Finish()), OpenSSLHmac("SHA512", key, data));
    h256->Reset();
    h256->Update(data.data(), data.size());
    EXPECT_EQ(provtest::ToBytes(h256->Finish()), OpenSSLHmac("SHA256", key, data));
}

TEST_F(HashEngine, AClonePicksUpWhereItsSourceStood) {
    std::mt19937 rng(9);
    const Bytes head = provtest::Random(rng, 70), tail = provtest::Random(rng, 90);
    for (const Digest& d : kDigests) {
        for (int32_t code : {d.code, d.hmac}) {
            auto h = TElBuiltInHashFunction::CreateByAlgorithm(code, MacKey(Bytes(33, 7)));
            h->Update(head.data(), head.size());
            auto copy = h->Clone();
            h->Update(tail.data(), tail.size());
            copy->Update(tail.data(), tail.size());
            EXPECT_EQ(h->Finish(), copy->Finish()) << code;
        }
    }
    auto fresh = TElBuiltInHashFunction::CreateByAlgorithm(SB_ALG_SHA1);
    EXPECT_EQ(hashtest::Hex(provtest::ToBytes(fresh->Finish())), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST_F(HashEngine, CodesWithoutADigestAreRefused) {
    KW_EXPECT_RAISES(TElBuiltInHashFunction::IsAlgorithmSupported(SB_ALG_MD4), EElHashFunctionUnsupportedError,
                     "Unsupported algorithm (28936)");
    EXPECT_TRUE(TElBuiltInHashFunction::IsAlgorithmSupported(SB_ALG_CRC32));
    KW_EXPECT_RAISES(TElBuiltInHashFunction::CreateByAlgorithm(SB_ALG_CRC32), EElHashFunctionUnsupportedError,
                     "Unsupported algorithm (28938)");
    KW_EXPECT_RAISES(TElBuiltInHashFunction::CreateByAlgorithm(SB_ALG_AES128), EElHashFunctionUnsupportedError,
                     "Unsupported algorithm (28677)");
    EXPECT_EQ(TElBuiltInHashFunction::GetDigestSize(SB_ALG_SHA384), 384);
    // HMAC needs a MAC key.
    KW_EXPECT_RAISES(TElBuiltInHashFunction::CreateByAlgorithm(SB_ALG_HMAC_SHA1, nullptr), EElHashFunctionError,
                     SInvalidKeyMaterial);
    TElCustomCryptoKey* symmetric = provider.CreateKey(SB_ALG_AES128, 0);
    KW_EXPECT_RAISES(TElBuiltInHashFunction::CreateByAlgorithm(SB_ALG_HMAC_SHA1, symmetric), EElHashFunctionError,
                     SInvalidKeyMaterial);
    EXPECT_EQ(TElBuiltInHashFunction::CreateByOID(SB_OID_SHA256)->GetAlgorithm(), SB_ALG_SHA256);
}

TEST_F(HashEngine, TheMacKeyIsPlainPublicBytes) {
    TElCustomCryptoKey* key = MacKey({});
    const Bytes value = {1, 2, 3, 4, 5};
    key->ImportPublic(value.data(), value.size());
    EXPECT_EQ(key->GetBits(), 40);
    EXPECT_TRUE(key->GetIsPublic());
    EXPECT_FALSE(key->GetIsSecret());
    EXPECT_EQ(key->GetAlgorithm(), 0);
    key->SetIV(value);
    EXPECT_TRUE(key->GetIV().empty());
    key->ImportSecret(Bytes(9, 9).data(), 9);
    size_t size = 0;
    key->ExportPublic(nullptr, size);
    EXPECT_EQ(size, 5u);
    Bytes out(5);
    size = 4;
    KW_EXPECT_RAISES(key->ExportPublic(out.data(), size), EElBuiltInCryptoProviderError, SBufferTooSmall);
    size = 5;
    key->ExportPublic(out.data(), size);
    EXPECT_EQ(out, value);
    size = 99;
    key->ExportSecret(out.data(), size);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(key->GetKeyProp(SB_KEYPROP_HASH_ALGORITHM, "default"), "default");
    key->Generate(130);
    EXPECT_EQ(key->GetValue().size(), 17u);
    TElCustomCryptoKey* copy = provider.CloneKey(key);
    EXPECT_EQ(Bytes(copy->GetValue().begin(), copy->GetValue().end()),
              Bytes(key->GetValue().begin(), key->GetValue().end()));
    key->ClearPublic();
    EXPECT_TRUE(key->GetValue().empty());
    provtest::ForeignProvider foreign;
    TElBuiltInMACKey stray(&foreign);
    KW_EXPECT_RAISES(stray.Clone(), EElBuiltInCryptoProviderError, SUnsupportedCryptoProvider);
}

}  // namespace
