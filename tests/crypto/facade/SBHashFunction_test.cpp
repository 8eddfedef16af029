// The hash facade: the RFC 2202, 2286 and 4231 HMAC files of python3-cryptography-vectors and
// Wycheproof's HMAC-SHA-1/256/512 files through TElHMACKeyMaterial and TElHashFunction, Reset,
// the class operations, and errors passing through from the provider.
#include "crypto/facade/SBHashFunction.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <filesystem>
#include <fstream>

#include "crypto/HashTestSupport.h"
#include "crypto/NistVectorFile.h"
#include "crypto/ProviderTestSupport.h"
#include "crypto/WycheproofFile.h"
#include "crypto/base/SBConstants.h"
#include "crypto/builtin/SBCryptoProvBuiltInHash.h"
#include "crypto/builtin/SBCryptoProvDefault.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "support/TestSupport.h"

namespace {

using provtest::Bytes;

ByteString Mac(int32_t code, const Bytes& key, const Bytes& data) {
    TElHMACKeyMaterial material;
    material.SetKey(key);
    auto h = TElHashFunction::CreateWithKey(code, &material);
    h->Update(data.data(), data.size());
    return h->Finish();
}

// The RFC test files: "Len = <message bits>", "Key =", "Msg =", "MD =" records.
struct HmacVector {
    Bytes key, msg;
    std::string md;
};

std::vector<HmacVector> ReadHmacFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<HmacVector> out;
    HmacVector v;
    long bits = 0;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("Len = ", 0) == 0) bits = std::stol(line.substr(6));
        if (line.rfind("Key = ", 0) == 0) v.key = kwtest::Hex(line.substr(6));
        if (line.rfind("Msg = ", 0) == 0) {
            v.msg = kwtest::Hex(line.substr(6));
            v.msg.resize(size_t(bits / 8));
        }
        if (line.rfind("MD = ", 0) == 0) {
            v.md = line.substr(5);
            out.push_back(v);
        }
    }
    return out;
}

TEST(HashFunction, RfcHmacVectors) {
    const std::filesystem::path dir = "/usr/lib/python3/dist-packages/cryptography_vectors/HMAC";
    KW_REQUIRE_PEER(std::filesystem::exists(dir), "python3-cryptography-vectors");
    const std::pair<const char*, int32_t> files[] = {
        {"rfc-2202-md5.txt", SB_ALG_HMAC_MD5},       {"rfc-2202-sha1.txt", SB_ALG_HMAC_SHA1},
        {"rfc-2286-ripemd160.txt", SB_ALG_HMAC_RIPEMD160}, {"rfc-4231-sha224.txt", SB_ALG_HMAC_SHA224},
        {"rfc-4231-sha256.txt", SB_ALG_HMAC_SHA256}, {"rfc-4231-sha384.txt", SB_ALG_HMAC_SHA384},
        {"rfc-4231-sha512.txt", SB_ALG_HMAC_SHA512},
    };
    for (const auto& [file, code] : files) {
        const auto vectors = ReadHmacFile(dir / file);
        EXPECT_GE(vectors.size(), 6u) << file;
        for (const HmacVector& v : vectors)
            EXPECT_EQ(kwtest::ToHex(provtest::ToBytes(Mac(code, v.key, v.msg))), v.md) << file;
    }
}

TEST(HashFunction, WycheproofHmac) {
    const std::pair<const char*, int32_t> files[] = {{"hmac_sha1_test.json", SB_ALG_HMAC_SHA1},
                                                     {"hmac_sha256_test.json", SB_ALG_HMAC_SHA256},
                                                     {"hmac_sha512_test.json", SB_ALG_HMAC_SHA512}};
    for (const auto& [name, code] : files) {
        const auto path = kwtest::WycheproofFile::PathOf(name);
        KW_REQUIRE_PEER(!path.empty(), std::string("../shared/vectors/wycheproof/") + name);
        const kwtest::WycheproofFile file(path);
        int64_t ran = 0;
        for (const auto& t : file.Tests()) {
            const size_t tagBytes = size_t((*t.group)["tagSize"].Int() / 8);
            const ByteString mac = Mac(code, t.Bytes("key"), t.Bytes("msg"));
            const Bytes tag = t.Bytes("tag");
            // A truncated tag is the MAC's first bytes (RFC 2104 section 5).
            const bool matches = provtest::ToBytes(mac.substr(0, tagBytes)) == tag;
            if (t.Valid()) {
                EXPECT_TRUE(matches) << name << " " << t.Describe();
            } else if (t.Invalid()) {
                EXPECT_FALSE(matches) << name << " " << t.Describe();
            }
            ++ran;
        }
        EXPECT_EQ(ran, file.AnnouncedCount()) << name;
    }
}

TEST(HashFunction, DigestsRestartAndKeysOutliveTheirHashes) {
    TElHashFunction sha1(SB_ALG_SHA1);
    sha1.Update("abc", 3);
    const ByteString first = sha1.Finish();
    EXPECT_EQ(hashtest::Hex(provtest::ToBytes(first)), "a9993e364706816aba3e25717850c26c9cd0d89d");
    sha1.Reset();
    sha1.Update("abc", 3);
    EXPECT_EQ(sha1.Finish(), first);

    TElHMACKeyMaterial material;
    const Bytes key(80, 0xAA);  // longer than the block: the provider digests it for the HMAC
    material.SetKey(key);
    auto h = TElHashFunction::CreateWithKey(SB_ALG_HMAC_SHA1, &material);
    h->Update("data", 4);
    const ByteString mac = h->Finish();
    h->Reset();
    h->Update("data", 4);
    EXPECT_EQ(h->Finish(), mac);
    EXPECT_EQ(material.GetKey()->GetValue().size(), 80u) << "the key material keeps the key it was given";
}

TEST(HashFunction, OneLongKeyServesTwoDigests) {
    // 100 bytes: longer than SHA-256's block (digested for it), shorter than SHA-512's.
    Bytes key(100);
    for (size_t i = 0; i < key.size(); ++i)
        key[i] = uint8_t(i * 7 + 1);
    const Bytes data = {'m', 'e', 's', 's', 'a', 'g', 'e'};
    TElHMACKeyMaterial material;
    material.SetKey(key);
    for (const auto& [code, evp] : {std::pair{SB_ALG_HMAC_SHA256, "SHA256"}, std::pair{SB_ALG_HMAC_SHA512, "SHA512"}}) {
        auto h = TElHashFunction::CreateWithKey(code, &material);
        h->Update(data.data(), data.size());
        unsigned char expected[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        HMAC(EVP_get_digestbyname(evp), key.data(), int(key.size()), data.data(), data.size(), expected, &length);
        EXPECT_EQ(provtest::ToBytes(h->Finish()), Bytes(expected, expected + length)) << evp;
    }
}

TEST(HashFunction, ClassOperationsAskTheProvider) {
    EXPECT_EQ(TElHashFunction::GetDigestSizeBits(SB_ALG_SHA256), 256);
    EXPECT_EQ(TElHashFunction::GetDigestSizeBits(SB_ALG_MD5), 128);
    EXPECT_TRUE(TElHashFunction::IsAlgorithmSupported(SB_ALG_SHA1));
    // The provider answers support questions for symmetric, digest and public-key codes only.
    EXPECT_FALSE(TElHashFunction::IsAlgorithmSupported(SB_ALG_HMAC_SHA1));
    KW_EXPECT_RAISES(TElHashFunction::GetDigestSizeBits(SB_ALG_HMAC_SHA1), EElCryptoProviderError,
                     "Unsupported algorithm (29441)");
}

TEST(HashFunction, ProviderErrorsPassThrough) {
    KW_EXPECT_RAISES(std::make_unique<TElHashFunction>(SB_ALG_MD4),
                     SBCryptoProvBuiltInHash::EElHashFunctionUnsupportedError, "Unsupported algorithm (28936)");
    KW_EXPECT_RAISES(std::make_unique<TElHashFunction>(SB_ALG_HMAC_SHA1), EElBuiltInCryptoProviderError,
                     SInvalidKeyMaterial);
    KW_EXPECT_RAISES(std::make_unique<TElHashFunction>(SB_ALG_PBKDF2), EElBuiltInCryptoProviderError,
                     "Unsupported algorithm (29266)");
}

TEST(HashFunction, EveryContextAndKeyIsReleased) {
    TElBuiltInCryptoProvider provider;
    {
        TElHMACKeyMaterial material(&provider);
        material.SetKey(Bytes(10, 1));
        auto h = TElHashFunction::CreateWithKey(SB_ALG_HMAC_SHA256, &material);
        TElHashFunction plain(SB_ALG_SHA512, &provider);
        h->Reset();
        plain.Reset();
        EXPECT_EQ(provider.ContextCount(), 2u);
        EXPECT_EQ(provider.KeyCount(), 1u);
    }
    EXPECT_EQ(provider.ContextCount(), 0u);
    EXPECT_EQ(provider.KeyCount(), 0u);
}

}  // namespace
