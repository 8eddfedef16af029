// bench/crypto_sym_a.cpp: throughput of our AES and triple DES against OpenSSL's EVP ciphers,
// measured in the same run, one line per case: "case ours peer MB/s speed" (bench/BenchLine.h).
//
// AES: ECB encryption and decryption of independent blocks, counter mode and CBC decryption,
// for 128- and 256-bit keys, through the multi-block routines a cipher engine uses for whole
// runs of blocks. Triple DES: ECB both ways and CBC both ways through the CBC contexts,
// against OpenSSL's legacy provider. Timing and reporting: bench/BenchSupport.h.
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "crypto/sym/SB3DES.h"
#include "crypto/sym/SBAES.h"

namespace {

using bench::EvpCipher;
using bench::kBuffer;
using bench::Report;

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

    EvpCipher ecbEnc(prefix + "-ecb", keyBytes, nullptr, true);
    Report(
        prefix + "-ecb-encrypt", [&] { encryptBlocks(data.data(), enc, out.data(), blocks); },
        [&] { ecbEnc.Run(data.data(), out.data()); });
    EvpCipher ecbDec(prefix + "-ecb", keyBytes, nullptr, false);
    Report(
        prefix + "-ecb-decrypt", [&] { decryptBlocks(data.data(), dec, out.data(), blocks); },
        [&] { ecbDec.Run(data.data(), out.data()); });
    uint8_t counter[16];
    std::memcpy(counter, iv, 16);
    EvpCipher ctr(prefix + "-ctr", keyBytes, iv, true);
    Report(
        prefix + "-ctr", [&] { ctrBlocks(data.data(), enc, counter, out.data(), blocks); },
        [&] { ctr.Run(data.data(), out.data()); });
    uint8_t chain[16];
    std::memcpy(chain, iv, 16);
    EvpCipher cbcDec(prefix + "-cbc", keyBytes, iv, false);
    Report(
        prefix + "-cbc-decrypt", [&] { decryptCbc(data.data(), dec, chain, out.data(), blocks); },
        [&] { cbcDec.Run(data.data(), out.data()); });
}

}  // namespace

int main() {
    if (!bench::LoadOpenSSLProviders()) return 1;
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
    EvpCipher ecbEnc("DES-EDE3", key3, nullptr, true);
    Report(
        "des-ede3-ecb-encrypt",
        [&] {
            for (size_t i = 0; i < kBuffer; i += 8)
                TripleDESEncryptBlock(&data[i], te, &out[i]);
        },
        [&] { ecbEnc.Run(data.data(), out.data()); });
    EvpCipher ecbDec("DES-EDE3", key3, nullptr, false);
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
    EvpCipher cbcEnc("DES-EDE3-CBC", key3, iv, true);
    Report(
        "des-ede3-cbc-encrypt",
        [&] {
            size_t n = kBuffer;
            EncryptTripleDESCBC(cbcEncCtx, data.data(), kBuffer, out.data(), n);
        },
        [&] { cbcEnc.Run(data.data(), out.data()); });
    EvpCipher cbcDec("DES-EDE3-CBC", key3, iv, false);
    Report(
        "des-ede3-cbc-decrypt",
        [&] {
            size_t n = kBuffer;
            DecryptTripleDESCBC(cbcDecCtx, data.data(), kBuffer, out.data(), n);
        },
        [&] { cbcDec.Run(data.data(), out.data()); });
    return 0;
}
