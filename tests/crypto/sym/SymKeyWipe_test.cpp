// The key schedules and contexts of the ciphers hold key material, and each wipes itself when
// it goes away. Each record is built in storage the test owns, keyed, destroyed, and the
// storage is then read back: every byte must be zero.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "crypto/WipedOnDestruction.h"
#include "crypto/sym/SB3DES.h"
#include "crypto/sym/SBAES.h"
#include "crypto/sym/SBDES.h"
#include "crypto/sym/SBRC2.h"
#include "crypto/sym/SBRC4.h"
#include "crypto/sym/SBRabbit.h"

namespace {

const uint8_t kKey[32] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB,
                          0xCC, 0xDD, 0xEE, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8,
                          0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0x01, 0x02, 0x03, 0x04};
const uint8_t kIV[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 2, 3, 4, 5, 6, 7, 8};

// Keys a T in storage the test owns, destroys it, and answers whether the storage is all
// zero again (and that the keyed record held something to wipe).
template <typename T>
::testing::AssertionResult WipedAfterUse(const std::function<void(T&)>& key) {
    return kwtest::WipedOnDestruction<T>(key);
}

TEST(SymKeyWipe, EveryScheduleAndContextIsZeroAfterDestruction) {
    const std::span<const uint8_t> key16(kKey, 16);
    EXPECT_TRUE(WipedAfterUse<TDESExpandedKey>([](auto& k) { DESKeySchedule(kKey, k); })) << "DES schedule";
    EXPECT_TRUE(WipedAfterUse<DESContext>([](auto& c) {
        InitDESDecryptionContext(c, kKey, kIV);
        size_t n = 8;
        uint8_t out[8];
        DecryptDESCBC(c, kKey, 5, out, n);  // leaves bytes pending
    })) << "DES context";
    EXPECT_TRUE(WipedAfterUse<TTripleDESExpandedKey>([](auto& k) { TripleDESKeySchedule(kKey, k); }))
        << "triple-DES schedule";
    EXPECT_TRUE(WipedAfterUse<TripleDESContext>([](auto& c) {
        InitTripleDESEncryptionContext(c, kKey, kIV);
        size_t n = 8;
        uint8_t out[8];
        EncryptTripleDESCBC(c, kKey, 5, out, n);
    })) << "triple-DES context";
    EXPECT_TRUE(WipedAfterUse<TAESExpandedKey128>([](auto& k) { AESExpandKey128(kKey, k); })) << "AES-128";
    EXPECT_TRUE(WipedAfterUse<TAESExpandedKey192>([](auto& k) { AESExpandKey192(kKey, k); })) << "AES-192";
    EXPECT_TRUE(WipedAfterUse<TAESExpandedKey256>([](auto& k) {
        AESExpandKey256(kKey, k);
        AESDecryptKeySchedule256(k);
    })) << "AES-256";
    EXPECT_TRUE(WipedAfterUse<TRC2ExpandedKey>([&](auto& k) { RC2KeySchedule(key16, k); })) << "RC2 schedule";
    EXPECT_TRUE(WipedAfterUse<RC2Context>([&](auto& c) {
        InitRC2EncryptionContext(c, key16, kIV);
        size_t n = 8;
        uint8_t out[8];
        EncryptRC2CBC(c, kKey, 5, out, n);
    })) << "RC2 context";
    EXPECT_TRUE(WipedAfterUse<RC4Context>([&](auto& c) {
        InitRC4Context(c, key16);
        uint8_t b = 0;
        EncryptRC4(c, &b, &b, 1);
    })) << "RC4 context";
    EXPECT_TRUE(WipedAfterUse<RabbitContext>([&](auto& c) {
        RabbitKeySetup(c, key16);
        RabbitIVSetup(c, std::span<const uint8_t>(kIV, 16));
    })) << "Rabbit context";
}

}  // namespace
