// Every cipher of the built-in factory in ECB, CBC, CTR and CFB (whole-block segments), with
// padding on and off, random keys, IVs and lengths, fed in random update sizes: the stream of
// updates equals the provider's one-shot run and the independent peer's result, both ways.
// The peer is OpenSSL's EVP (its legacy provider for DES, Blowfish, CAST-128, RC2, SEED and
// RC4), or libgcrypt where OpenSSL lacks the cipher or the mode (Twofish, Serpent, CTR of
// the older ciphers). The peers run without padding; the test pads by RFC 8018 itself.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "crypto/GcryptPeer.h"
#include "crypto/NistVectorFile.h"
#include "crypto/OpenSSLPeer.h"
#include "crypto/ProviderTestSupport.h"
#include "crypto/base/SBConstants.h"
#include "crypto/builtin/SBCryptoProvBuiltInSym.h"
#include "support/TestSupport.h"

namespace {

using provtest::Bytes;

enum class Peer { OpenSSL, Gcrypt };

struct ModePeer {
    Peer peer;
    std::string openssl;  // EVP name for this key length, when the peer is OpenSSL
    int gcrypt = 0;       // libgcrypt algorithm, when the peer is libgcrypt
};

struct Cipher {
    const char* name;
    int32_t code;
    std::vector<size_t> keyLengths;
    size_t block;  // 1 for stream ciphers
    // The peer for (key length, engine mode).
    std::function<ModePeer(size_t, uint8_t)> peer;
};

#if defined(KW_HAVE_GCRYPT)
constexpr int kGcryptDES = GCRY_CIPHER_DES, kGcrypt3DES = GCRY_CIPHER_3DES, kGcryptBlowfish = GCRY_CIPHER_BLOWFISH,
              kGcryptCAST5 = GCRY_CIPHER_CAST5, kGcryptSEED = GCRY_CIPHER_SEED, kGcryptRC2 = GCRY_CIPHER_RFC2268_128,
              kGcryptTwofish = GCRY_CIPHER_TWOFISH, kGcryptTwofish128 = GCRY_CIPHER_TWOFISH128,
              kGcryptSerpent128 = GCRY_CIPHER_SERPENT128, kGcryptSerpent192 = GCRY_CIPHER_SERPENT192,
              kGcryptSerpent256 = GCRY_CIPHER_SERPENT256;
constexpr int kGcryptModes[] = {0, GCRY_CIPHER_MODE_ECB, GCRY_CIPHER_MODE_CBC, GCRY_CIPHER_MODE_CTR,
                                GCRY_CIPHER_MODE_CFB};
#else
constexpr int kGcryptDES = 0, kGcrypt3DES = 0, kGcryptBlowfish = 0, kGcryptCAST5 = 0, kGcryptSEED = 0, kGcryptRC2 = 0,
              kGcryptTwofish = 0, kGcryptTwofish128 = 0, kGcryptSerpent128 = 0, kGcryptSerpent192 = 0,
              kGcryptSerpent256 = 0;
constexpr int kGcryptModes[] = {0, 0, 0, 0, 0};
#endif

const char* ModeSuffix(uint8_t mode) {
    switch (mode) {
        case SYMMETRIC_MODE_ECB:
            return "-ECB";
        case SYMMETRIC_MODE_CBC:
            return "-CBC";
        case SYMMETRIC_MODE_CTR:
            return "-CTR";
        default:
            return "-CFB";
    }
}

// OpenSSL by prefix for every mode but CTR, which goes to libgcrypt.
std::function<ModePeer(size_t, uint8_t)> OpenSSLButCtr(std::string prefix, int gcrypt) {
    return [prefix, gcrypt](size_t, uint8_t mode) {
        if (mode == SYMMETRIC_MODE_CTR) return ModePeer{Peer::Gcrypt, "", gcrypt};
        return ModePeer{Peer::OpenSSL, prefix + ModeSuffix(mode), 0};
    };
}

const std::vector<Cipher>& Ciphers() {
    static const std::vector<Cipher> ciphers = {
        {"AES", SB_ALG_AES128, {16}, 16, [](size_t, uint8_t m) { return ModePeer{Peer::OpenSSL, std::string("AES-128") + ModeSuffix(m)}; }},
        {"AES-192", SB_ALG_AES192, {24}, 16, [](size_t, uint8_t m) { return ModePeer{Peer::OpenSSL, std::string("AES-192") + ModeSuffix(m)}; }},
        {"AES-256", SB_ALG_AES256, {32}, 16, [](size_t, uint8_t m) { return ModePeer{Peer::OpenSSL, std::string("AES-256") + ModeSuffix(m)}; }},
        {"Camellia", SB_ALG_CAMELLIA, {16, 24, 32}, 16,
         [](size_t k, uint8_t m) {
             return ModePeer{Peer::OpenSSL, "CAMELLIA-" + std::to_string(k * 8) + ModeSuffix(m)};
         }},
        {"DES", SB_ALG_DES, {8}, 8, OpenSSLButCtr("DES", kGcryptDES)},
        {"3DES", SB_ALG_3DES, {24}, 8, OpenSSLButCtr("DES-EDE3", kGcrypt3DES)},
        // libgcrypt's RC2 and Blowfish take keys of 5 bytes or more.
        {"RC2", SB_ALG_RC2, {5, 8, 13, 16}, 8, OpenSSLButCtr("RC2", kGcryptRC2)},
        {"Blowfish", SB_ALG_BLOWFISH, {5, 16, 33, 56}, 8, OpenSSLButCtr("BF", kGcryptBlowfish)},
        {"CAST-128", SB_ALG_CAST128, {16}, 8, OpenSSLButCtr("CAST5", kGcryptCAST5)},
        {"SEED", SB_ALG_SEED, {16}, 16, OpenSSLButCtr("SEED", kGcryptSEED)},
        // libgcrypt's Twofish takes 128- and 256-bit keys; the 192-bit schedule has its own
        // known answers in SBTwofish_test.
        {"Twofish", SB_ALG_TWOFISH, {16, 32}, 16,
         [](size_t k, uint8_t) { return ModePeer{Peer::Gcrypt, "", k == 16 ? kGcryptTwofish128 : kGcryptTwofish}; }},
        {"Serpent", SB_ALG_SERPENT, {16, 24, 32}, 16,
         [](size_t k, uint8_t) {
             return ModePeer{Peer::Gcrypt, "",
                             k == 16 ? kGcryptSerpent128 : k == 24 ? kGcryptSerpent192 : kGcryptSerpent256};
         }},
        {"RC4", SB_ALG_RC4, {1, 5, 16, 32}, 1, [](size_t, uint8_t) { return ModePeer{Peer::OpenSSL, "RC4"}; }},
    };
    return ciphers;
}

Bytes RunPeer(const ModePeer& p, uint8_t mode, const Bytes& key, const Bytes& iv, const Bytes& data, bool encrypt) {
    if (p.peer == Peer::OpenSSL) return kwtest::OpenSSLCrypt(p.openssl.c_str(), key, iv, data, encrypt);
    return kwtest::GcryptCrypt(p.gcrypt, kGcryptModes[mode], key, iv, data, encrypt);
}

class CipherPeers : public ::testing::TestWithParam<size_t> {};

TEST_P(CipherPeers, UpdatesOneShotAndPeerAgree) {
    const Cipher& c = Ciphers()[GetParam()];
    KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL's legacy provider");
    KW_REQUIRE_PEER(kwtest::GcryptAvailable(), "libgcrypt (libgcrypt20-dev)");
    std::mt19937 rng(uint32_t(1000 + GetParam()));
    TElBuiltInCryptoProvider provider;
    TElBuiltInSymmetricCryptoFactory factory;
    const bool stream = c.block == 1;
    const std::vector<uint8_t> modes =
        stream ? std::vector<uint8_t>{0}
               : std::vector<uint8_t>{SYMMETRIC_MODE_ECB, SYMMETRIC_MODE_CBC, SYMMETRIC_MODE_CTR, SYMMETRIC_MODE_CFB};
    int compared = 0;
    for (size_t keyLength : c.keyLengths) {
        for (uint8_t mode : modes) {
            const bool blockMode = mode == SYMMETRIC_MODE_ECB || mode == SYMMETRIC_MODE_CBC;
            for (bool padding : {false, true}) {
                if (padding && !blockMode) continue;
                for (int round = 0; round < 4; ++round) {
                    const Bytes key = provtest::Random(rng, keyLength);
                    const Bytes iv = stream || mode == SYMMETRIC_MODE_ECB ? Bytes() : provtest::Random(rng, c.block);
                    // Whole blocks unless padding is on or the mode takes any length.
                    size_t n = rng() % 200;
                    if (blockMode && !padding) n -= n % c.block;
                    const Bytes message = provtest::Random(rng, n);
                    const Bytes padded = padding ? provtest::Pad(message, c.block) : message;
                    const ModePeer peer = c.peer(keyLength, mode);
                    const Bytes expected = RunPeer(peer, mode, key, iv, padded, true);
                    const std::string what = std::string(c.name) + " key " + std::to_string(keyLength) + " mode " +
                                             std::to_string(mode) + (padding ? " padded" : "") + " length " +
                                             std::to_string(n);

                    TElCustomCryptoKey* k = provtest::SymmetricKey(provider, c.code, key, iv);
                    auto engine = factory.CreateInstance(c.code, mode);
                    engine->SetKey(k);
                    engine->SetPadding(padding ? SB_SYMENC_PADDING_PKCS5 : SB_SYMENC_PADDING_NONE);
                    const Bytes cipher = provtest::RunEngine(*engine, true, message, provtest::RandomPieces(rng, n));
                    EXPECT_EQ(kwtest::ToHex(cipher), kwtest::ToHex(expected)) << what;
                    const Bytes back =
                        provtest::RunEngine(*engine, false, cipher, provtest::RandomPieces(rng, cipher.size()));
                    EXPECT_EQ(back, message) << what;
                    if (!padding) {
                        EXPECT_EQ(RunPeer(peer, mode, key, iv, expected, false), message) << what;
                    }

                    // The provider's one-shot run with the same key; its contexts pad in ECB and
                    // CBC.
                    {
                        const int32_t providerMode = stream ? 0 : ConvertCipherMode(mode);
                        size_t size = 0;
                        provider.Encrypt(c.code, providerMode, k, message.data(), n, nullptr, size);
                        Bytes oneShot(size);
                        provider.Encrypt(c.code, providerMode, k, message.data(), n, oneShot.data(), size);
                        oneShot.resize(size);
                        const Bytes reference =
                            padding ? expected : blockMode ? RunPeer(peer, mode, key, iv, provtest::Pad(message, c.block), true)
                                                           : expected;
                        EXPECT_EQ(oneShot, reference) << what << " (one-shot)";
                    }
                    provider.ReleaseKey(k);
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 0);
    EXPECT_EQ(provider.ContextCount(), 0u);
}

std::string CipherName(const ::testing::TestParamInfo<size_t>& info) {
    std::string n = Ciphers()[info.param].name;
    for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(EveryCipher, CipherPeers, ::testing::Range<size_t>(0, Ciphers().size()), CipherName);

}  // namespace
