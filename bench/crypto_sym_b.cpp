// bench/crypto_sym_b.cpp: throughput of our Blowfish, CAST-128, Camellia and SEED routines
// against OpenSSL's EVP ciphers (Blowfish, CAST5 and SEED from its legacy provider), measured
// in the same run, one line per case: "case ours peer MB/s speed" (bench/BenchLine.h).
//
// Each case runs ECB encryption or decryption of independent blocks, or CBC encryption (the
// chained, latency-bound direction) through the multi-block routine the cipher classes use for
// a run of blocks, over a 16 KiB buffer; timing and reporting: bench/BenchSupport.h. Twofish
// and Serpent have no OpenSSL counterpart and are not timed.
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "crypto/sym/SBBlowfish.h"
#include "crypto/sym/SBCAST128.h"
#include "crypto/sym/SBCamellia.h"
#include "crypto/sym/SBSeed.h"
#include "rtl/Bytes.h"

namespace {

using bench::EvpCipher;
using bench::kBuffer;
using bench::Report;

void BlowfishBlock(const BlowfishState& s, const uint8_t* in, uint8_t* out, bool encrypt) {
    uint32_t L = rtl::load_be32(in), R = rtl::load_be32(in + 4);
    if (encrypt)
        BlowfishEncryptWords(s, L, R);
    else
        BlowfishDecryptWords(s, L, R);
    rtl::store_be32(out, L);
    rtl::store_be32(out + 4, R);
}

}  // namespace

int main() {
    if (!bench::LoadOpenSSLProviders()) return 1;
    std::mt19937 rng(2);
    std::vector<uint8_t> data(kBuffer), out(kBuffer), key(32);
    for (auto& b : data)
        b = uint8_t(rng());
    for (auto& b : key)
        b = uint8_t(rng());
    const std::vector<uint8_t> key16(key.begin(), key.begin() + 16);
    const uint8_t iv[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

    // Blowfish, 128-bit key.
    BlowfishState bf;
    BlowfishKeySchedule(bf, key16);
    for (bool encrypt : {true, false}) {
        EvpCipher peer("BF-ECB", key16, nullptr, encrypt);
        Report(
            std::string("bf-ecb-") + (encrypt ? "encrypt" : "decrypt"),
            [&] {
                for (size_t i = 0; i < kBuffer; i += 8)
                    BlowfishBlock(bf, &data[i], &out[i], encrypt);
            },
            [&] { peer.Run(data.data(), out.data()); });
    }
    {
        uint8_t chain[8];
        std::memcpy(chain, iv, 8);
        EvpCipher peer("BF-CBC", key16, iv, true);
        Report(
            "bf-cbc-encrypt",
            [&] { BlowfishEncryptBlocksCBC(data.data(), bf, chain, out.data(), kBuffer / 8); },
            [&] { peer.Run(data.data(), out.data()); });
    }

    // Camellia, 128- and 256-bit keys.
    for (size_t keyBytes : {16, 32}) {
        const std::vector<uint8_t> k(key.begin(), key.begin() + keyBytes);
        const std::string bits = std::to_string(keyBytes * 8);
        const bool longKey = keyBytes > 16;
        CamelliaSubkeys enc, dec;
        CamelliaKeySchedule(k, enc);
        CamelliaDecryptKeySchedule(k, dec);
        for (bool encrypt : {true, false}) {
            EvpCipher peer("CAMELLIA-" + bits + "-ECB", k, nullptr, encrypt);
            const CamelliaSubkeys& sk = encrypt ? enc : dec;
            Report(
                "camellia-" + bits + "-ecb-" + (encrypt ? "encrypt" : "decrypt"),
                [&] {
                    for (size_t i = 0; i < kBuffer; i += 16)
                        CamelliaCryptBlock(&data[i], &out[i], sk, longKey);
                },
                [&] { peer.Run(data.data(), out.data()); });
        }
        uint8_t chain[16];
        std::memcpy(chain, iv, 16);
        EvpCipher peer("CAMELLIA-" + bits + "-CBC", k, iv, true);
        Report(
            "camellia-" + bits + "-cbc-encrypt",
            [&] { CamelliaEncryptBlocksCBC(data.data(), enc, longKey, chain, out.data(), kBuffer / 16); },
            [&] { peer.Run(data.data(), out.data()); });
    }

    // CAST-128 and SEED, 128-bit keys, ECB encryption.
    CAST128Subkeys cast;
    CAST128KeySchedule(key16, cast);
    EvpCipher castPeer("CAST5-ECB", key16, nullptr, true);
    Report(
        "cast5-ecb-encrypt",
        [&] {
            for (size_t i = 0; i < kBuffer; i += 8)
                CAST128EncryptBlock(&out[i], &data[i], cast);
        },
        [&] { castPeer.Run(data.data(), out.data()); });
    // SEED derives its round keys in every block call by design, each pair beside the round that
    // uses it, where a cached schedule would only read them.
    EvpCipher seedPeer("SEED-ECB", key16, nullptr, true);
    Report(
        "seed-ecb-encrypt",
        [&] {
            for (size_t i = 0; i < kBuffer; i += 16)
                SEEDCryptBlock(&data[i], 16, key16, &out[i], 16, false);
        },
        [&] { seedPeer.Run(data.data(), out.data()); });
    return 0;
}
