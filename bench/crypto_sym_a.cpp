// bench/crypto_sym_a.cpp: throughput of our AES and triple DES against OpenSSL's EVP ciphers,
// measured in the same run, one line per case: "case ours peer ratio" (MB/s, MB/s, ours/peer).
//
// AES: ECB encryption and decryption of independent blocks, counter mode and CBC decryption,
// for 128- and 256-bit keys, through the multi-block routines a cipher engine uses for whole
// runs of blocks. Triple DES: ECB both ways and CBC both ways through the CBC contexts,
// against OpenSSL's legacy provider. Each case alternates ours and the peer over a 16 KiB
// buffer for several rounds and keeps the best round of each, so a busy moment on a shared
// machine costs both sides alike.
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "crypto/SB3DES.h"
#include "crypto/SBAES.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kBuffer = 16 * 1024;
constexpr int kRounds = 7;
constexpr double kRoundSeconds = 0.06;

// Bytes per second of fn over kBuffer bytes, run for about kRoundSeconds.
double Throughput(const std::function<void()>& fn) {
    fn();  // warm the caches and the branch predictors
    size_t calls = 0;
    const auto start = Clock::now();
    double elapsed = 0;
    do {
        for (int i = 0; i < 16; ++i)
            fn();
        calls += 16;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < kRoundSeconds);
    return double(calls * kBuffer) / elapsed;
}

void Report(const char* name, const std::function<void()>& ours, const std::function<void()>& peer) {
    double bestOurs = 0, bestPeer = 0;
    for (int r = 0; r < kRounds; ++r) {
        bestOurs = std::max(bestOurs, Throughput(ours));
        bestPeer = std::max(bestPeer, Throughput(peer));
    }
    std::printf("%s %.1f %.1f %.2f\n", name, bestOurs / 1e6, bestPeer / 1e6, bestOurs / bestPeer);
    std::fflush(stdout);
}

struct EvpCipher {
    std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)> cipher{nullptr, &EVP_CIPHER_free};
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx{EVP_CIPHER_CTX_new(),
                                                                        &EVP_CIPHER_CTX_free};

    EvpCipher(const char* name, const uint8_t* key, const uint8_t* iv, bool encrypt) {
        cipher.reset(EVP_CIPHER_fetch(nullptr, name, nullptr));
        if (!cipher || EVP_CipherInit_ex2(ctx.get(), cipher.get(), key, iv, encrypt ? 1 : 0, nullptr) != 1) {
            std::fprintf(stderr, "OpenSSL cannot run %s\n", name);
            std::exit(1);
        }
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    }
    void Run(const uint8_t* in, uint8_t* out) {
        int n = 0;
        EVP_CipherUpdate(ctx.get(), out, &n, in, int(kBuffer));
    }
};

template <typename Key>
void AesCases(const char* bits, const std::vector<uint8_t>& keyBytes, const std::vector<uint8_t>& data,
              std::vector<uint8_t>& out, void (*expand)(const uint8_t*, Key&), void (*toDecrypt)(Key&),
              void (*encryptBlocks)(const uint8_t*, const Key&, uint8_t*, size_t),
              void (*decryptBlocks)(const uint8_t*, const Key&, uint8_t*, size_t),
              void (*decryptCbc)(const uint8_t*, const Key&, uint8_t*, uint8_t*, size_t),
              void (*ctrBlocks)(const uint8_t*, const Key&, uint8_t*, uint8_t*, size_t)) {
    Key enc, dec;
    expand(keyBytes.data(), enc);
    expand(keyBytes.data(), dec);
    toDecrypt(dec);
    uint8_t iv[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const size_t blocks = kBuffer / 16;
    const std::string prefix = std::string("aes-") + bits;

    EvpCipher ecbEnc((prefix + "-ecb").c_str(), keyBytes.data(), nullptr, true);
    Report((prefix + "-ecb-encrypt").c_str(), [&] { encryptBlocks(data.data(), enc, out.data(), blocks); },
           [&] { ecbEnc.Run(data.data(), out.data()); });
    EvpCipher ecbDec((prefix + "-ecb").c_str(), keyBytes.data(), nullptr, false);
    Report((prefix + "-ecb-decrypt").c_str(), [&] { decryptBlocks(data.data(), dec, out.data(), blocks); },
           [&] { ecbDec.Run(data.data(), out.data()); });
    uint8_t counter[16];
    std::memcpy(counter, iv, 16);
    EvpCipher ctr((prefix + "-ctr").c_str(), keyBytes.data(), iv, true);
    Report((prefix + "-ctr").c_str(), [&] { ctrBlocks(data.data(), enc, counter, out.data(), blocks); },
           [&] { ctr.Run(data.data(), out.data()); });
    uint8_t chain[16];
    std::memcpy(chain, iv, 16);
    EvpCipher cbcDec((prefix + "-cbc").c_str(), keyBytes.data(), iv, false);
    Report((prefix + "-cbc-decrypt").c_str(),
           [&] { decryptCbc(data.data(), dec, chain, out.data(), blocks); },
           [&] { cbcDec.Run(data.data(), out.data()); });
}

}  // namespace

int main() {
    if (OSSL_PROVIDER_load(nullptr, "legacy") == nullptr ||
        OSSL_PROVIDER_load(nullptr, "default") == nullptr) {
        std::fprintf(stderr, "OpenSSL's legacy provider is not available\n");
        return 1;
    }
    std::mt19937 rng(1);
    std::vector<uint8_t> data(kBuffer), out(kBuffer), key(32);
    for (auto& b : data)
        b = uint8_t(rng());
    for (auto& b : key)
        b = uint8_t(rng());

    std::vector<uint8_t> key128(key.begin(), key.begin() + 16);
    AesCases<TAESExpandedKey128>("128", key128, data, out, AESExpandKey128, AESDecryptKeySchedule128,
                                 AESEncryptBlocks128, AESDecryptBlocks128, AESDecryptBlocksCBC128,
                                 AESEncryptBlocksCTR128);
    AesCases<TAESExpandedKey256>("256", key, data, out, AESExpandKey256, AESDecryptKeySchedule256,
                                 AESEncryptBlocks256, AESDecryptBlocks256, AESDecryptBlocksCBC256,
                                 AESEncryptBlocksCTR256);

    // Triple DES, 24-byte key.
    const uint8_t iv[8] = {8, 7, 6, 5, 4, 3, 2, 1};
    std::vector<uint8_t> key3(key.begin(), key.begin() + 24);
    TTripleDESExpandedKey te, td;
    TripleDESKeySchedule(key3.data(), te);
    TripleDESDecryptKeySchedule(key3.data(), td);
    EvpCipher ecbEnc("DES-EDE3", key3.data(), nullptr, true);
    Report(
        "des-ede3-ecb-encrypt",
        [&] {
            for (size_t i = 0; i < kBuffer; i += 8)
                TripleDESEncryptBlock(&data[i], te, &out[i]);
        },
        [&] { ecbEnc.Run(data.data(), out.data()); });
    EvpCipher ecbDec("DES-EDE3", key3.data(), nullptr, false);
    Report(
        "des-ede3-ecb-decrypt",
        [&] {
            for (size_t i = 0; i < kBuffer; i += 8)
                TripleDESDecryptBlock(&data[i], td, &out[i]);
        },
        [&] { ecbDec.Run(data.data(), out.data()); });
    TripleDESContext cbcEncCtx, cbcDecCtx;
    InitTripleDESEncryptionContext(cbcEncCtx, key3.data(), iv);
    InitTripleDESDecryptionContext(cbcDecCtx, key3.data(), iv);
    EvpCipher cbcEnc("DES-EDE3-CBC", key3.data(), iv, true);
    Report(
        "des-ede3-cbc-encrypt",
        [&] {
            size_t n = kBuffer;
            EncryptTripleDESCBC(cbcEncCtx, data.data(), kBuffer, out.data(), n);
        },
        [&] { cbcEnc.Run(data.data(), out.data()); });
    EvpCipher cbcDec("DES-EDE3-CBC", key3.data(), iv, false);
    Report(
        "des-ede3-cbc-decrypt",
        [&] {
            size_t n = kBuffer;
            DecryptTripleDESCBC(cbcDecCtx, data.data(), kBuffer, out.data(), n);
        },
        [&] { cbcDec.Run(data.data(), out.data()); });
    return 0;
}
