// The built-in symmetric key: its blob (round trips for every algorithm the provider makes
// keys for, tampered and hostile blobs, the size protocol), generation, keys made from an
// AlgorithmIdentifier, clones, and the key base's value and IV accessors.
#include <gtest/gtest.h>

#include <random>

#include "crypto/NistVectorFile.h"
#include "crypto/ProviderTestSupport.h"
#include "crypto/base/SBConstants.h"
#include "crypto/builtin/SBCryptoProvBuiltInSym.h"
#include "crypto/hash/SBSHA2.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "crypto/prov/SBCryptoProvUtils.h"
#include "rtl/Bytes.h"

namespace {

using provtest::Bytes;
using SBCryptoProvBuiltInSym::EElSymmetricCryptoError;

class SymmetricKey : public ::testing::Test {
protected:
    Bytes Export(const TElCustomCryptoKey& key) {
        size_t size = 0;
        key.ExportSecret(nullptr, size);
        Bytes blob(size);
        key.ExportSecret(blob.data(), size);
        EXPECT_EQ(size, blob.size());
        return blob;
    }

    // A blob written by the test from the layout, for codes and lengths the key would not
    // export itself.
    static Bytes Blob(uint16_t code, const Bytes& value, const Bytes& iv) {
        Bytes b(6 + value.size() + iv.size());
        rtl::store_be16(b.data(), code);
        rtl::store_be16(b.data() + 2, uint16_t(value.size()));
        std::copy(value.begin(), value.end(), b.begin() + 4);
        rtl::store_be16(b.data() + 4 + value.size(), uint16_t(iv.size()));
        std::copy(iv.begin(), iv.end(), b.begin() + 6 + long(value.size()));
        SHA256Digest d;
        HashSHA256(b.data(), b.size(), d);
        b.insert(b.end(), d.begin(), d.end());
        return b;
    }

    TElBuiltInCryptoProvider provider;
};

TEST_F(SymmetricKey, AnAesKeyExportsToSeventyBytesAndComesBack) {
    TElCustomCryptoKey* key = provtest::SymmetricKey(provider, SB_ALG_AES128, Bytes(16, 0xA5), Bytes(16, 0x5A));
    const Bytes blob = Export(*key);
    EXPECT_EQ(blob.size(), 70u);
    EXPECT_EQ(blob, Blob(SB_ALG_AES128, Bytes(16, 0xA5), Bytes(16, 0x5A)));
    TElCustomCryptoKey* fresh = provider.CreateKey(SB_ALG_GENERIC_SYMMETRIC, 0);
    fresh->ImportSecret(blob.data(), blob.size());
    EXPECT_EQ(fresh->GetAlgorithm(), SB_ALG_AES128);
    EXPECT_EQ(Bytes(fresh->GetValue().begin(), fresh->GetValue().end()), Bytes(16, 0xA5));
    EXPECT_EQ(Bytes(fresh->GetIV().begin(), fresh->GetIV().end()), Bytes(16, 0x5A));
}

TEST_F(SymmetricKey, EveryAlgorithmOfTheProviderRoundTrips) {
    struct Row {
        int32_t code;
        size_t key;
        std::vector<size_t> ivs;
    };
    const Row rows[] = {
        {SB_ALG_RC4, 16, {0}},           {SB_ALG_DES, 8, {0, 8}},          {SB_ALG_3DES, 24, {0, 8}},
        {SB_ALG_RC2, 5, {0, 8}},         {SB_ALG_AES128, 16, {0, 16}},     {SB_ALG_AES192, 24, {16}},
        {SB_ALG_AES256, 32, {16}},       {SB_ALG_BLOWFISH, 56, {0, 8}},    {SB_ALG_TWOFISH, 24, {16}},
        {SB_ALG_TWOFISH128, 16, {16}},   {SB_ALG_TWOFISH256, 32, {16}},    {SB_ALG_CAMELLIA, 32, {16}},
        {SB_ALG_CAMELLIA192, 24, {0, 16}}, {SB_ALG_CAST128, 16, {8}},      {SB_ALG_SERPENT, 16, {16}},
        {SB_ALG_SERPENT256, 32, {16}},   {SB_ALG_SEED, 16, {0, 16}},       {SB_ALG_RABBIT, 16, {0, 16}},
        {SB_ALG_IDENTITY, 0, {0, 8}},    {SB_ALG_GENERIC_SYMMETRIC, 32, {0, 8, 16}},
    };
    std::mt19937 rng(5);
    for (const Row& r : rows) {
        for (size_t ivLength : r.ivs) {
            const Bytes value = provtest::Random(rng, r.key), iv = provtest::Random(rng, ivLength);
            TElCustomCryptoKey* key = provtest::SymmetricKey(provider, r.code, value, iv);
            EXPECT_EQ(key->GetAlgorithm(), r.code) << "a key made by code keeps its code";
            const Bytes blob = Export(*key);
            TElCustomCryptoKey* back = provider.CreateKey(SB_ALG_GENERIC_SYMMETRIC, 0);
            back->ImportSecret(blob.data(), blob.size());
            EXPECT_EQ(back->GetAlgorithm(), r.code) << r.code;
            EXPECT_EQ(Bytes(back->GetValue().begin(), back->GetValue().end()), value) << r.code;
            EXPECT_EQ(Bytes(back->GetIV().begin(), back->GetIV().end()), iv) << r.code << " iv " << ivLength;
        }
    }
}

TEST_F(SymmetricKey, TamperedAndHostileBlobsChangeNothing) {
    TElCustomCryptoKey* key = provtest::SymmetricKey(provider, SB_ALG_AES128, Bytes(16, 1), Bytes(16, 2));
    const Bytes good = Export(*key);
    std::vector<std::pair<std::string, Bytes>> bad;
    for (size_t i = 0; i < good.size(); ++i) {
        Bytes b = good;
        b[i] ^= 0x01;
        bad.emplace_back("byte " + std::to_string(i) + " changed", b);
    }
    bad.emplace_back("empty", Bytes());
    bad.emplace_back("37 bytes", Bytes(good.begin(), good.begin() + 37));
    bad.emplace_back("digest cut short", Bytes(good.begin(), good.end() - 1));
    bad.emplace_back("key length past the end", [&] {
        Bytes b = good;
        b[2] = 0xFF;
        b[3] = 0xFF;
        return b;
    }());
    bad.emplace_back("RC4 with an IV", Blob(SB_ALG_RC4, Bytes(16, 1), Bytes(8, 1)));
    bad.emplace_back("RC4 with 33 key bytes", Blob(SB_ALG_RC4, Bytes(33, 1), {}));
    bad.emplace_back("DES with a 7-byte key", Blob(SB_ALG_DES, Bytes(7, 1), {}));
    bad.emplace_back("DES with a 16-byte IV", Blob(SB_ALG_DES, Bytes(8, 1), Bytes(16, 1)));
    bad.emplace_back("AES-128 with an 8-byte IV", Blob(SB_ALG_AES128, Bytes(16, 1), Bytes(8, 1)));
    bad.emplace_back("Blowfish with 3 key bytes", Blob(SB_ALG_BLOWFISH, Bytes(3, 1), {}));
    bad.emplace_back("an unlisted code with 57 key bytes", Blob(0x7099, Bytes(57, 1), {}));
    bad.emplace_back("an unlisted code with no key", Blob(0x7099, {}, {}));
    bad.emplace_back("an unlisted code with a 12-byte IV", Blob(0x7099, Bytes(16, 1), Bytes(12, 1)));
    for (const auto& [name, blob] : bad) {
        TElCustomCryptoKey* target = provtest::SymmetricKey(provider, SB_ALG_DES, Bytes(8, 9), Bytes(8, 8));
        KW_EXPECT_RAISES(target->ImportSecret(blob.data(), blob.size()), EElSymmetricCryptoError, SInvalidKeyMaterial);
        EXPECT_EQ(target->GetAlgorithm(), SB_ALG_DES) << name;
        EXPECT_EQ(Bytes(target->GetValue().begin(), target->GetValue().end()), Bytes(8, 9)) << name;
        EXPECT_EQ(Bytes(target->GetIV().begin(), target->GetIV().end()), Bytes(8, 8)) << name;
    }
    // Bytes after the digest are not read; an unlisted code takes 1 to 56 key bytes.
    Bytes longer = good;
    longer.insert(longer.end(), {1, 2, 3});
    key->ImportPublic(longer.data(), longer.size());
    const Bytes unlisted = Blob(0x7099, Bytes(56, 3), Bytes(8, 4));
    key->ImportPublic(unlisted.data(), unlisted.size());
    EXPECT_EQ(key->GetAlgorithm(), 0x7099);
}

TEST_F(SymmetricKey, ExportAnswersTheSizeOrRefusesTooLittleRoom) {
    TElCustomCryptoKey* key = provtest::SymmetricKey(provider, SB_ALG_3DES, Bytes(24, 1), Bytes(8, 2));
    Bytes out(100, 0xEE);
    size_t size = 0;
    key->ExportSecret(out.data(), size);
    EXPECT_EQ(size, 70u);
    EXPECT_EQ(out, Bytes(100, 0xEE));
    size = 1;
    KW_EXPECT_RAISES(key->ExportPublic(out.data(), size), EElSymmetricCryptoError, SBufferTooSmall);
    size = 69;
    KW_EXPECT_RAISES(key->ExportSecret(out.data(), size), EElSymmetricCryptoError, SBufferTooSmall);
    size = 100;
    key->ExportSecret(out.data(), size);
    EXPECT_EQ(size, 70u);
    EXPECT_EQ(out[70], 0xEE);
}

TEST_F(SymmetricKey, GenerationTakesWholeBytes) {
    auto* key = dynamic_cast<TElBuiltInSymmetricCryptoKey*>(provider.CreateKey(SB_ALG_AES128, 0));
    ASSERT_NE(key, nullptr);
    key->Generate(128);
    EXPECT_EQ(key->GetValue().size(), 16u);
    EXPECT_EQ(key->GetBits(), 128);
    const Bytes first(key->GetValue().begin(), key->GetValue().end());
    key->Generate(128);
    EXPECT_NE(Bytes(key->GetValue().begin(), key->GetValue().end()), first);
    KW_EXPECT_RAISES(key->Generate(100), EElSymmetricCryptoError, SInvalidInputSize);
    EXPECT_EQ(key->GetValue().size(), 16u);
    key->GenerateIV(64);
    EXPECT_EQ(key->GetIV().size(), 8u);
    KW_EXPECT_RAISES(key->GenerateIV(60), EElSymmetricCryptoError, SInvalidInputSize);
    key->Reset();
    EXPECT_TRUE(key->GetValue().empty());
    EXPECT_TRUE(key->GetIV().empty());
    EXPECT_EQ(key->GetAlgorithm(), SB_ALG_AES128);
}

TEST_F(SymmetricKey, KeysFromAnAlgorithmIdentifier) {
    // AES-128-CBC with an 8-byte OCTET STRING: the IV is kept as it is; its length is an
    // engine's business when the key is used.
    TElCustomCryptoKey* aes = provider.CreateKeyByOID(SB_OID_AES128_CBC, ByteString("\x04\x08" "abcdefgh", 10));
    EXPECT_EQ(aes->GetAlgorithm(), SB_ALG_AES128);
    EXPECT_EQ(aes->GetIV().size(), 8u);
    EXPECT_EQ(TElBuiltInSymmetricCryptoKey::CreateByOID(&provider, "", "")->GetAlgorithm(), SB_ALG_UNKNOWN);
    // The provider makes keys only for algorithms it knows.
    KW_EXPECT_RAISES(provider.CreateKeyByOID("", ""), EElBuiltInCryptoProviderError, "Unsupported algorithm (32767)");
    TElCustomCryptoKey* rc4 = provider.CreateKeyByOID(SB_OID_RC4, ByteString("\x04\x08" "abcdefgh", 10));
    EXPECT_TRUE(rc4->GetIV().empty());
    TElCustomCryptoKey* garbage = provider.CreateKeyByOID(SB_OID_DES_CBC, ByteString("\x30\x80", 2));
    EXPECT_TRUE(garbage->GetIV().empty());
    EXPECT_TRUE(garbage->GetKeyProp(SB_KEYPROP_EFFECTIVE_KEY_LENGTH).empty());
}

TEST_F(SymmetricKey, ClonesKeepEverythingTheKeyCarries) {
    TElCustomCryptoKey* key = provtest::SymmetricKey(provider, SB_ALG_RC2, Bytes(16, 1), Bytes(8, 2), 2);
    key->SetKeyProp(SB_KEYPROP_EFFECTIVE_KEY_LENGTH, IntegerToPropertyValue(40));
    const size_t before = provider.KeyCount();
    TElCustomCryptoKey* copy = provider.CloneKey(key);
    EXPECT_EQ(provider.KeyCount(), before + 1);
    EXPECT_EQ(copy->GetAlgorithm(), SB_ALG_RC2);
    EXPECT_EQ(copy->GetMode(), 2);
    EXPECT_EQ(Bytes(copy->GetValue().begin(), copy->GetValue().end()), Bytes(16, 1));
    EXPECT_EQ(Bytes(copy->GetIV().begin(), copy->GetIV().end()), Bytes(8, 2));
    EXPECT_EQ(PropertyValueToInteger(copy->GetKeyProp(SB_KEYPROP_EFFECTIVE_KEY_LENGTH), 0), 40);
    // Other identifiers answer nothing, whatever default is given.
    EXPECT_EQ(copy->GetKeyProp(SB_KEYPROP_HASH_ALGORITHM, "x"), "");

    provtest::ForeignProvider foreign;
    TElBuiltInSymmetricCryptoKey stray(&foreign);
    KW_EXPECT_RAISES(stray.Clone(), EElBuiltInCryptoProviderError, SUnsupportedCryptoProvider);
}

TEST_F(SymmetricKey, ValueAndIVAreTheKeysOwnCopies) {
    Bytes value(16, 7);
    TElCustomCryptoKey* key = provtest::SymmetricKey(provider, SB_ALG_AES128, value, {});
    value[0] = 0;
    EXPECT_EQ(key->GetValue()[0], 7);
    EXPECT_EQ(key->GetValue().data(), key->GetValue().data()) << "the stored array, not a copy";
}

}  // namespace
