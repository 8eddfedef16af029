// The built-in cipher engine and its classes: buffering and the size protocol, PKCS#5
// padding and its checks, the modes' edge cases (CTR wrap, CFB and CTR split anywhere), the
// states (no update after a finalisation), the class table and the factory, RC2's effective
// key bits (RFC 2268), RC4's skip count and Rabbit (RFC 4503) through the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "crypto/NistVectorFile.h"
#include "crypto/OpenSSLPeer.h"
#include "crypto/ProviderTestSupport.h"
#include "crypto/base/SBConstants.h"
#include "crypto/builtin/SBCryptoProvBuiltInSym.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "crypto/prov/SBCryptoProvUtils.h"
#include "crypto/sym/SBAES.h"
#include "support/TestSupport.h"

namespace {

using provtest::Bytes;
using SBCryptoProvBuiltInSym::EElSymmetricCryptoError;

const Bytes kKey16 = kwtest::Hex("000102030405060708090a0b0c0d0e0f");
const Bytes kIV16 = kwtest::Hex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");

class Engine : public ::testing::Test {
protected:
    std::unique_ptr<TElBuiltInSymmetricCrypto> Make(int32_t code, uint8_t mode, const Bytes& key, const Bytes& iv,
                                                    uint8_t padding = SB_SYMENC_PADDING_PKCS5) {
        auto engine = factory.CreateInstance(code, mode);
        EXPECT_TRUE(engine) << "no class takes " << code;
        engine->SetKey(provtest::SymmetricKey(provider, code, key, iv));
        engine->SetPadding(padding);
        return engine;
    }

    TElBuiltInCryptoProvider provider;
    TElBuiltInSymmetricCryptoFactory factory;
};

Bytes Update(TElBuiltInSymmetricCrypto& e, bool encrypt, const Bytes& in, size_t room) {
    Bytes out(room + 1);
    size_t size = room;
    if (encrypt)
        e.EncryptUpdate(in.data(), in.size(), out.data(), size);
    else
        e.DecryptUpdate(in.data(), in.size(), out.data(), size);
    out.resize(size);
    return out;
}

Bytes Final(TElBuiltInSymmetricCrypto& e, bool encrypt) {
    Bytes out(32);
    size_t size = out.size();
    if (encrypt)
        e.FinalizeEncryption(out.data(), size);
    else
        e.FinalizeDecryption(out.data(), size);
    out.resize(size);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Buffering, padding and the size protocol

TEST_F(Engine, CbcKeepsPartialBlocksAndPadsTheLastOne) {
    auto e = Make(SB_ALG_AES128, SYMMETRIC_MODE_CBC, kKey16, kIV16);
    e->InitializeEncryption();
    const Bytes message(20, 0x41);
    size_t size = 0;
    e->EncryptUpdate(message.data(), message.size(), nullptr, size);
    EXPECT_EQ(size, 16u);
    const Bytes first = Update(*e, true, message, 16);
    EXPECT_EQ(first.size(), 16u);
    size = 0;
    e->FinalizeEncryption(nullptr, size);
    EXPECT_EQ(size, 16u);  // the query leaves the 4 pending bytes where they are
    const Bytes last = Final(*e, true);
    ASSERT_EQ(last.size(), 16u);

    // The last block, opened without padding, is the 4 bytes and twelve 12s.
    auto d = Make(SB_ALG_AES128, SYMMETRIC_MODE_CBC, kKey16, kIV16, SB_SYMENC_PADDING_NONE);
    Bytes all = first;
    all.insert(all.end(), last.begin(), last.end());
    d->InitializeDecryption();
    const Bytes plain = Update(*d, false, all, 32);
    ASSERT_EQ(plain.size(), 32u);
    EXPECT_EQ(Bytes(plain.begin() + 16, plain.begin() + 20), Bytes(4, 0x41));
    EXPECT_EQ(Bytes(plain.begin() + 20, plain.end()), Bytes(12, 12));
}

TEST_F(Engine, AWholeBlockGetsAWholePaddingBlockAndDecryptsBack) {
    auto e = Make(SB_ALG_AES128, SYMMETRIC_MODE_CBC, kKey16, kIV16);
    const Bytes message(16, 7);
    const Bytes cipher = provtest::RunEngine(*e, true, message, {16});
    ASSERT_EQ(cipher.size(), 32u);

    auto raw = Make(SB_ALG_AES128, SYMMETRIC_MODE_CBC, kKey16, kIV16, SB_SYMENC_PADDING_NONE);
    const Bytes opened = provtest::RunEngine(*raw, false, cipher, {32});
    EXPECT_EQ(Bytes(opened.begin() + 16, opened.end()), Bytes(16, 16));

    // Decrypting with padding: one update of 32 writes 16 (the last block is held back), the
    // final call the rest less the padding.
    auto d = Make(SB_ALG_AES128, SYMMETRIC_MODE_CBC, kKey16, kIV16);
    d->InitializeDecryption();
    size_t size = 0;
    d->DecryptUpdate(cipher.data(), cipher.size(), nullptr, size);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(Update(*d, false, cipher, 32), message);
    size = 0;
    d->FinalizeDecryption(nullptr, size);
    EXPECT_EQ(size, 0u);
    EXPECT_TRUE(Final(*d, false).empty());
}

TEST_F(Engine, PaddingIsCheckedWhole) {
    // Each case: the last decrypted block (15 bytes of filler and the rest as given) and the
    // plaintext length it must give, or -1 for "Invalid symmetric cipher padding".
    struct Case {
        const char* name;
        Bytes tail;
        int expected;
    };
    const Case cases[] = {
        {"one pad byte", {0x01}, 15},
        {"sixteen pad bytes", Bytes(16, 16), 0},
        {"three equal pad bytes", {3, 3, 3}, 13},
        {"pad byte 0", {0x00}, -1},
        {"pad byte 17", {0x11}, -1},
        {"pad byte 255", {0xFF}, -1},
        {"one pad byte differs", {2, 3, 3}, -1},
        {"first of sixteen differs", [] {
             Bytes b(16, 16);
             b[0] = 15;
             return b;
         }(),
         -1},
        {"pad length beyond a differing byte", {0x41, 0x05, 0x05, 0x05, 0x05}, -1},
    };
    for (const Case& c : cases) {
        Bytes block(16, 0x41);
        std::copy(c.tail.begin(), c.tail.end(), block.end() - c.tail.size());
        auto enc = Make(SB_ALG_AES128, SYMMETRIC_MODE_CBC, kKey16, kIV16, SB_SYMENC_PADDING_NONE);
        const Bytes cipher = provtest::RunEngine(*enc, true, block, {16});
        auto d = Make(SB_ALG_AES128, SYMMETRIC_MODE_CBC, kKey16, kIV16);
        d->InitializeDecryption();
        EXPECT_TRUE(Update(*d, false, cipher, 16).empty()) << c.name;
        if (c.expected < 0) {
            KW_EXPECT_RAISES(Final(*d, false), EElSymmetricCryptoError, SInvalidPadding);
        } else {
            EXPECT_EQ(Final(*d, false), Bytes(block.begin(), block.begin() + c.expected)) << c.name;
        }
    }
}

TEST_F(Engine, LeftoverBytesAndEmptyPaddedMessagesAreRefused) {
    const Bytes three(3, 1);
    for (bool encrypt : {true, false}) {
        auto e = Make(SB_ALG_AES128, SYMMETRIC_MODE_CBC, kKey16, kIV16, SB_SYMENC_PADDING_NONE);
        if (encrypt)
            e->InitializeEncryption();
        else
            e->InitializeDecryption();
        EXPECT_TRUE(Update(*e, encrypt, three, 16).empty());
        KW_EXPECT_RAISES(Final(*e, encrypt), EElSymmetricCryptoError, SInvalidPadding);
    }
    // A padded message is at least one block; an empty ciphertext has no padding to remove.
    auto d = Make(SB_ALG_AES128, SYMMETRIC_MODE_CBC, kKey16, kIV16);
    d->InitializeDecryption();
    KW_EXPECT_RAISES(Final(*d, false), EElSymmetricCryptoError, SInvalidPadding);
    // With padding on, 3 leftover bytes of ciphertext are no message either.
    d->InitializeDecryption();
    Update(*d, false, three, 16);
    KW_EXPECT_RAISES(Final(*d, false), EElSymmetricCryptoError, SInvalidPadding);
}

TEST_F(Engine, SizesAreCheckedBeforeAnythingIsWritten) {
    auto e = Make(SB_ALG_AES128, SYMMETRIC_MODE_CBC, kKey16, kIV16);
    e->InitializeEncryption();
    const Bytes message(40, 3);
    Bytes out(40, 0xEE);
    size_t size = 31;
    KW_EXPECT_RAISES(e->EncryptUpdate(message.data(), message.size(), out.data(), size), EElSymmetricCryptoError,
                     SBufferTooSmall);
    EXPECT_EQ(out, Bytes(40, 0xEE));
    EXPECT_EQ(Update(*e, true, message, 32).size(), 32u);  // the failed call took nothing
    size = 15;
    KW_EXPECT_RAISES(e->FinalizeEncryption(out.data(), size), EElSymmetricCryptoError, SBufferTooSmall);
    EXPECT_EQ(Final(*e, true).size(), 16u);

    rtl::SecureBytes padded;
    KW_EXPECT_RAISES(e->AddPadding(message.data(), 16, padded), EElSymmetricCryptoError, SInternalError);
}

TEST_F(Engine, ARealBufferWithoutRoomIsNoSizeRequest) {
    // An update that completes no block writes nothing: with a real buffer and no room it
    // still takes its bytes (a size request would have dropped them).
    auto e = Make(SB_ALG_AES128, SYMMETRIC_MODE_CBC, kKey16, kIV16);
    auto reference = Make(SB_ALG_AES128, SYMMETRIC_MODE_CBC, kKey16, kIV16);
    const Bytes message(20, 0x61);
    e->InitializeEncryption();
    uint8_t out[32];
    size_t size = 0;
    e->EncryptUpdate(message.data(), 10, out, size);
    EXPECT_EQ(size, 0u);
    size = 0;
    // The next 10 bytes complete a block: no room is too little room.
    KW_EXPECT_RAISES(e->EncryptUpdate(message.data() + 10, 10, out, size), EElSymmetricCryptoError, SBufferTooSmall);
    size = sizeof out;
    e->EncryptUpdate(message.data() + 10, 10, out, size);
    Bytes got(out, out + size);
    size = 0;
    KW_EXPECT_RAISES(e->FinalizeEncryption(out, size), EElSymmetricCryptoError, SBufferTooSmall);
    const Bytes tail = Final(*e, true);
    got.insert(got.end(), tail.begin(), tail.end());
    EXPECT_EQ(got, provtest::RunEngine(*reference, true, message, {20}));
}

TEST_F(Engine, ACounterOfAllOnesWrapsToZero) {
    const Bytes ones(16, 0xFF);
    auto e = Make(SB_ALG_AES128, SYMMETRIC_MODE_CTR, kKey16, ones);
    const Bytes keystream = provtest::RunEngine(*e, true, Bytes(48, 0), {48});
    TAESExpandedKey128 k;
    AESExpandKey128(kKey16.data(), k);
    Bytes expected(48);
    Bytes counters = ones;
    counters.resize(48, 0);  // FF..FF, then 00..00, then 00..01
    counters[47] = 1;
    AESEncryptBlocks128(counters.data(), k, expected.data(), 3);
    EXPECT_EQ(keystream, expected);
}

TEST_F(Engine, CtrAndCfbGiveTheSameBytesWhereverTheMessageIsSplit) {
    std::mt19937 rng(11);
    const Bytes message = provtest::Random(rng, 32);
    for (uint8_t mode : {SYMMETRIC_MODE_CTR, SYMMETRIC_MODE_CFB}) {
        for (bool encrypt : {true, false}) {
            auto whole = Make(SB_ALG_AES128, mode, kKey16, kIV16);
            auto split = Make(SB_ALG_AES128, mode, kKey16, kIV16);
            const Bytes a = provtest::RunEngine(*whole, encrypt, message, {32});
            const Bytes b = provtest::RunEngine(*split, encrypt, message, {5, 20, 7});
            EXPECT_EQ(a, b) << int(mode);
            EXPECT_EQ(a.size(), 32u);
        }
        auto e = Make(SB_ALG_AES128, mode, kKey16, kIV16);
        e->InitializeEncryption();
        Update(*e, true, message, 32);
        EXPECT_TRUE(Final(*e, true).empty());
    }
}

TEST_F(Engine, UpdatesNeedAMessageStartedInTheirDirection) {
    auto e = Make(SB_ALG_AES128, SYMMETRIC_MODE_CTR, kKey16, kIV16);
    const Bytes five(5, 0);
    // Not initialised yet.
    KW_EXPECT_RAISES(Update(*e, true, five, 5), EElSymmetricCryptoError, SCipherNotInitialized);
    e->InitializeEncryption();
    Update(*e, true, five, 5);  // 11 keystream bytes wait in the engine
    KW_EXPECT_RAISES(Update(*e, false, five, 5), EElSymmetricCryptoError, SCipherNotInitialized);
    Final(*e, true);
    // The finalisation dropped those 11 bytes: reading on would use a discarded keystream.
    KW_EXPECT_RAISES(Update(*e, true, five, 5), EElSymmetricCryptoError, SCipherNotInitialized);
    KW_EXPECT_RAISES(Final(*e, true), EElSymmetricCryptoError, SCipherNotInitialized);
    e->InitializeEncryption();
    EXPECT_EQ(Update(*e, true, five, 5).size(), 5u);
}

TEST_F(Engine, InPlaceUpdatesMatchSeparateBuffers) {
    // Pieces that leave bytes pending, so the output runs ahead of the input.
    std::mt19937 rng(3);
    const Bytes message = provtest::Random(rng, 96);
    for (uint8_t mode : {SYMMETRIC_MODE_ECB, SYMMETRIC_MODE_CBC, SYMMETRIC_MODE_CTR, SYMMETRIC_MODE_CFB}) {
        for (bool encrypt : {true, false}) {
            auto reference = Make(SB_ALG_AES128, mode, kKey16, kIV16, SB_SYMENC_PADDING_NONE);
            const Bytes expected = provtest::RunEngine(*reference, encrypt, message, {7, 41, 48});
            auto e = Make(SB_ALG_AES128, mode, kKey16, kIV16, SB_SYMENC_PADDING_NONE);
            if (encrypt)
                e->InitializeEncryption();
            else
                e->InitializeDecryption();
            Bytes got;
            size_t at = 0;
            for (size_t piece : {7, 41, 48}) {
                // Each call reads its input from the buffer it writes to.
                Bytes buffer(message.begin() + at, message.begin() + at + piece);
                buffer.resize(piece + 16);
                size_t size = buffer.size();
                if (encrypt)
                    e->EncryptUpdate(buffer.data(), piece, buffer.data(), size);
                else
                    e->DecryptUpdate(buffer.data(), piece, buffer.data(), size);
                got.insert(got.end(), buffer.begin(), buffer.begin() + size);
                at += piece;
            }
            const Bytes tail = Final(*e, encrypt);
            got.insert(got.end(), tail.begin(), tail.end());
            EXPECT_EQ(got, expected) << "mode " << int(mode) << (encrypt ? " encrypt" : " decrypt");
        }
    }
}

TEST_F(Engine, ChainingModesNeedAnIVOfTheBlockSize) {
    auto cbc = factory.CreateInstance(SB_ALG_AES128, SYMMETRIC_MODE_CBC);
    KW_EXPECT_RAISES(cbc->SetKey(provtest::SymmetricKey(provider, SB_ALG_AES128, kKey16, {})),
                     EElSymmetricCryptoError, SInvalidKeyMaterial);
    KW_EXPECT_RAISES(cbc->SetKey(provtest::SymmetricKey(provider, SB_ALG_AES128, kKey16, Bytes(8, 1))),
                     EElSymmetricCryptoError, SInvalidKeyMaterial);
    auto ecb = factory.CreateInstance(SB_ALG_AES128, SYMMETRIC_MODE_ECB);
    ecb->SetKey(provtest::SymmetricKey(provider, SB_ALG_AES128, kKey16, {}));
    ecb->SetPadding(SB_SYMENC_PADDING_NONE);
    EXPECT_EQ(provtest::RunEngine(*ecb, true, Bytes(32, 0), {32}).size(), 32u);
    KW_EXPECT_RAISES(ecb->SetKey(nullptr), EElSymmetricCryptoError, SInvalidKeyMaterial);
}

TEST_F(Engine, StreamCiphersWriteExactlyTheirInput) {
    auto rc4 = Make(SB_ALG_RC4, 0, kKey16, {});
    EXPECT_TRUE(rc4->IsStreamCipher());
    EXPECT_EQ(rc4->GetBlockSize(), 1);
    rc4->InitializeEncryption();
    for (size_t n : {0u, 1u, 17u}) {
        size_t size = 0;
        const Bytes in(n, 9);
        rc4->EncryptUpdate(in.data(), n, nullptr, size);
        EXPECT_EQ(size, n);
        EXPECT_EQ(Update(*rc4, true, in, n).size(), n);
    }
    EXPECT_TRUE(Final(*rc4, true).empty());
}

// ---------------------------------------------------------------------------------------------
// Classes and factory

TEST_F(Engine, FactoryAnswersByCode) {
    struct Row {
        int32_t code;
        const char* cls;
        int32_t key, block;
    };
    const Row rows[] = {
        {SB_ALG_AES128, "TElBuiltInAESSymmetricCrypto", 16, 16},
        {SB_ALG_AES192, "TElBuiltInAESSymmetricCrypto", 24, 16},
        {SB_ALG_AES256, "TElBuiltInAESSymmetricCrypto", 32, 16},
        {SB_ALG_IDENTITY, "TElBuiltInIdentitySymmetricCrypto", 0, 0},
        {SB_ALG_BLOWFISH, "TElBuiltInBlowfishSymmetricCrypto", 16, 8},
        {SB_ALG_TWOFISH, "TElBuiltInTwofishSymmetricCrypto", 0, 16},
        {SB_ALG_TWOFISH192, "TElBuiltInTwofishSymmetricCrypto", 24, 16},
        {SB_ALG_CAST128, "TElBuiltInCAST128SymmetricCrypto", 16, 8},
        {SB_ALG_RC2, "TElBuiltInRC2SymmetricCrypto", 16, 8},
        {SB_ALG_RC4, "TElBuiltInRC4SymmetricCrypto", 16, 0},
        {SB_ALG_SEED, "TElBuiltInSEEDSymmetricCrypto", 16, 16},
        {SB_ALG_RABBIT, "TElBuiltInRabbitSymmetricCrypto", 16, 16},
        {SB_ALG_DES, "TElBuiltInDESSymmetricCrypto", 8, 8},
        {SB_ALG_3DES, "TElBuiltIn3DESSymmetricCrypto", 24, 8},
        {SB_ALG_CAMELLIA, "TElBuiltInCamelliaSymmetricCrypto", 0, 16},
        {SB_ALG_CAMELLIA256, "TElBuiltInCamelliaSymmetricCrypto", 32, 16},
        {SB_ALG_SERPENT, "TElBuiltInSerpentSymmetricCrypto", 0, 16},
        {SB_ALG_SERPENT128, "TElBuiltInSerpentSymmetricCrypto", 16, 16},
    };
    for (const Row& r : rows) {
        int32_t key = -1, block = -1;
        EXPECT_TRUE(factory.IsAlgorithmSupported(r.code)) << r.code;
        EXPECT_TRUE(factory.GetDefaultKeyAndBlockLength(r.code, key, block)) << r.code;
        EXPECT_EQ(key, r.key) << r.code;
        EXPECT_EQ(block, r.block) << r.code;
        const uint8_t mode = r.code == SB_ALG_RC4 ? 0 : SYMMETRIC_MODE_ECB;
        EXPECT_STREQ(factory.CreateInstance(r.code, mode)->GetClass().Name, r.cls);
    }
    for (int32_t code : {SB_ALG_IDEA, SB_ALG_GENERIC_SYMMETRIC, SB_ALG_SHA1, 0x70FF}) {
        int32_t key = -1, block = -1;
        EXPECT_FALSE(factory.IsAlgorithmSupported(code)) << code;
        EXPECT_FALSE(factory.CreateInstance(code, SYMMETRIC_MODE_CBC)) << code;
        EXPECT_FALSE(factory.GetDefaultKeyAndBlockLength(code, key, block));
        EXPECT_EQ(key, -1);
    }
}

TEST_F(Engine, ACodeFixesTheKeySizeAndTheClassChecksItsLengths) {
    auto aes192 = factory.CreateInstance(SB_ALG_AES192, SYMMETRIC_MODE_CBC);
    EXPECT_EQ(aes192->GetKeySize(), 24);
    EXPECT_EQ(aes192->GetBlockSize(), 16);
    EXPECT_EQ(aes192->GetMode(), SYMMETRIC_MODE_CBC);
    KW_EXPECT_RAISES(aes192->SetKey(provtest::SymmetricKey(provider, SB_ALG_AES192, kKey16, kIV16)),
                     EElSymmetricCryptoError, SInvalidKeyMaterial);
    for (size_t n : {16u, 24u, 32u}) {
        auto twofish = factory.CreateInstance(SB_ALG_TWOFISH, SYMMETRIC_MODE_ECB);
        twofish->SetKey(provtest::SymmetricKey(provider, SB_ALG_TWOFISH, Bytes(n, 1), {}));
        EXPECT_EQ(twofish->GetKeySize(), int32_t(n));
    }
    // Each class's own limits, one past each end.
    struct Bad {
        int32_t code;
        size_t key, iv;
    };
    const Bad bad[] = {{SB_ALG_BLOWFISH, 3, 8},  {SB_ALG_BLOWFISH, 57, 8}, {SB_ALG_BLOWFISH, 16, 16},
                       {SB_ALG_RC2, 0, 8},       {SB_ALG_RC2, 17, 8},      {SB_ALG_RC4, 0, 0},
                       {SB_ALG_RC4, 33, 0},      {SB_ALG_CAST128, 15, 8},  {SB_ALG_DES, 7, 8},
                       {SB_ALG_3DES, 16, 8},     {SB_ALG_SEED, 15, 16},    {SB_ALG_RABBIT, 16, 8},
                       {SB_ALG_CAMELLIA, 20, 16}, {SB_ALG_SERPENT, 8, 16}, {SB_ALG_TWOFISH, 16, 8}};
    for (const Bad& b : bad) {
        auto e = factory.CreateInstance(b.code, b.code == SB_ALG_RC4 ? 0 : SYMMETRIC_MODE_CBC);
        KW_EXPECT_RAISES(e->SetKey(provtest::SymmetricKey(provider, b.code, Bytes(b.key, 1), Bytes(b.iv, 2))),
                         EElSymmetricCryptoError, SInvalidKeyMaterial);
    }
}

TEST_F(Engine, ClassOperationsAndConstructorsRefuseWhatTheClassDoesNotTake) {
    const TElBuiltInSymmetricCryptoClass& aes = ClassOf<TElBuiltInAESSymmetricCrypto>();
    KW_EXPECT_RAISES(aes.CreateByAlgorithm(SB_ALG_IDEA, 2), EElSymmetricCryptoError, "Unsupported algorithm (28692)");
    KW_EXPECT_RAISES(factory.CreateInstance(SB_ALG_RC4, SYMMETRIC_MODE_CBC), EElSymmetricCryptoError,
                     SInvalidCipherMode);
    EXPECT_TRUE(factory.CreateInstance(SB_ALG_RC4, 0)->IsStreamCipher());

    auto byOID = aes.CreateByOID(SB_OID_AES256_CBC, 0);
    EXPECT_EQ(byOID->GetMode(), SYMMETRIC_MODE_CBC);
    EXPECT_EQ(byOID->GetKeySize(), 32);
    EXPECT_EQ(byOID->GetOID(), ByteString(SB_OID_AES256_CBC));
    KW_EXPECT_RAISES(aes.CreateByOID(SB_OID_AES256_CBC, SYMMETRIC_MODE_ECB), EElSymmetricCryptoError,
                     SInvalidCipherMode);
    KW_EXPECT_RAISES(aes.CreateByOID(SB_OID_DES_CBC, 0), EElSymmetricCryptoError,
                     "Unsupported algorithm (1.3.14.3.2.7)");
    KW_EXPECT_RAISES(ClassOf<TElBuiltInTwofishSymmetricCrypto>().CreateByOID(SB_OID_AES128_CBC, 0),
                     EElSymmetricCryptoError, "Unsupported algorithm (2.16.840.1.101.3.4.1.2)");
    int32_t key = 0, block = 0;
    ClassOf<TElBuiltInTwofishSymmetricCrypto>().GetDefaultKeyAndBlockLengthByOID("x", key, block);
    EXPECT_EQ(key, 16);
    EXPECT_EQ(block, 16);
    ClassOf<TElBuiltInCamelliaSymmetricCrypto>().GetDefaultKeyAndBlockLengthByOID(SB_OID_CAMELLIA192_CBC, key, block);
    EXPECT_EQ(key, 24);
    EXPECT_TRUE(ClassOf<TElBuiltInRC4SymmetricCrypto>().IsAlgorithmSupportedByOID(SB_OID_RC4));
    EXPECT_FALSE(ClassOf<TElBuiltInRC4SymmetricCrypto>().IsAlgorithmSupportedByOID(SB_OID_RC2_CBC));
    EXPECT_EQ(ClassOf<TElBuiltInSerpentSymmetricCrypto>().CreateDefault(0)->GetKeySize(), 16);
}

TEST_F(Engine, IdentityCopiesAnyInputWithAnyKey) {
    const TElBuiltInSymmetricCryptoClass& identity = ClassOf<TElBuiltInIdentitySymmetricCrypto>();
    for (int32_t code : {SB_ALG_IDENTITY, SB_ALG_IDEA, 0x1234}) {
        for (uint8_t mode : {SYMMETRIC_MODE_ECB, SYMMETRIC_MODE_CBC, SYMMETRIC_MODE_CFB}) {
            auto e = identity.CreateByAlgorithm(code, mode);
            e->SetKey(provtest::SymmetricKey(provider, SB_ALG_IDENTITY, {}, Bytes(3, 1)));
            const Bytes message = {1, 2, 3, 4, 5};
            EXPECT_EQ(provtest::RunEngine(*e, true, message, {2, 3}), message);
            EXPECT_EQ(provtest::RunEngine(*e, false, message, {5}), message);
        }
    }
}

TEST_F(Engine, CamelliaAndSerpentRunEcbWithoutAnIV) {
    for (int32_t code : {SB_ALG_CAMELLIA, SB_ALG_SERPENT}) {
        auto e = Make(code, SYMMETRIC_MODE_ECB, kKey16, {}, SB_SYMENC_PADDING_NONE);
        const Bytes message(32, 0x5A);
        const Bytes cipher = provtest::RunEngine(*e, true, message, {32});
        ASSERT_EQ(cipher.size(), 32u);
        EXPECT_EQ(Bytes(cipher.begin(), cipher.begin() + 16), Bytes(cipher.begin() + 16, cipher.end()));
        EXPECT_EQ(provtest::RunEngine(*e, false, cipher, {32}), message);
    }
}

TEST_F(Engine, Rc4SkipsItsCountOfKeystreamBytesAtEveryMessage) {
    KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL's legacy provider");
    auto e = Make(SB_ALG_RC4, 0, kKey16, {});
    auto* rc4 = dynamic_cast<TElBuiltInRC4SymmetricCrypto*>(e.get());
    ASSERT_NE(rc4, nullptr);
    rc4->SetSkipKeystreamBytes(1024);
    // OpenSSL's RC4 keystream from byte 1024 on.
    const Bytes keystream = kwtest::OpenSSLCrypt("RC4", kKey16, {}, Bytes(1024 + 64, 0), true);
    const Bytes expected(keystream.begin() + 1024, keystream.end());
    EXPECT_EQ(provtest::RunEngine(*e, true, Bytes(64, 0), {10, 54}), expected);
    EXPECT_EQ(provtest::RunEngine(*e, true, Bytes(64, 0), {64}), expected);  // the same start again
}

TEST_F(Engine, RabbitFollowsRfc4503AndContinuesAcrossMessages) {
    // RFC 4503 Appendix A.1 (no IV), the second key: its three keystream blocks, printed most
    // significant byte first; the engine runs Rabbit as a 16-byte step, so ECB without padding
    // over zeros is the keystream.
    auto rfc = [](const char* text) {
        Bytes b = kwtest::Hex(text);
        std::reverse(b.begin(), b.end());
        return b;
    };
    const Bytes key = rfc("91 28 13 29 2E 3D 36 FE 3B FC 62 F1 DC 51 C3 AC");
    Bytes expected = rfc("3D 2D F3 C8 3E F6 27 A1 E9 7F C3 84 87 E2 51 9C");
    for (const char* block : {"F5 76 CD 61 F4 40 5B 88 96 BF 53 AA 85 54 FC 19",
                              "E5 54 74 73 FB DB 43 50 8A E5 3B 20 20 4D 4C 5E"}) {
        const Bytes b = rfc(block);
        expected.insert(expected.end(), b.begin(), b.end());
    }
    auto e = Make(SB_ALG_RABBIT, SYMMETRIC_MODE_ECB, key, {}, SB_SYMENC_PADDING_NONE);
    // Two messages without a new key: the second picks up where the first stopped.
    const Bytes first = provtest::RunEngine(*e, true, Bytes(16, 0), {16});
    const Bytes rest = provtest::RunEngine(*e, true, Bytes(32, 0), {16, 16});
    EXPECT_EQ(first, Bytes(expected.begin(), expected.begin() + 16));
    EXPECT_EQ(rest, Bytes(expected.begin() + 16, expected.end()));
}

// ---------------------------------------------------------------------------------------------
// RC2's effective key bits (RFC 2268 section 5): vectors whose effective bits differ from 8
// times the key length, with the bits from RC2-CBC parameters or the key property.

TEST_F(Engine, Rc2UsesTheEffectiveKeyBitsThatComeWithTheKey) {
    struct Vector {
        const char* key;
        int32_t bits;
        const char* plain;
        const char* cipher;
    };
    const Vector vectors[] = {
        {"0000000000000000", 63, "0000000000000000", "ebb773f993278eff"},
        {"88", 64, "0000000000000000", "61a8a244adacccf0"},
        {"88bca90e90875a", 64, "0000000000000000", "6ccf4308974c267f"},
        {"88bca90e90875a7f0f79c384627bafb2", 64, "0000000000000000", "1a807d272bbe5db1"},
        {"88bca90e90875a7f0f79c384627bafb2", 128, "0000000000000000", "2269552ab0f85ca6"},
    };
    for (const Vector& v : vectors) {
        const Bytes key = kwtest::Hex(v.key);
        // Through the key property, in ECB.
        TElCustomCryptoKey* k = provtest::SymmetricKey(provider, SB_ALG_RC2, key, {});
        k->SetKeyProp(SB_KEYPROP_EFFECTIVE_KEY_LENGTH, IntegerToPropertyValue(v.bits));
        auto e = factory.CreateInstance(SB_ALG_RC2, SYMMETRIC_MODE_ECB);
        e->SetKey(k);
        e->SetPadding(SB_SYMENC_PADDING_NONE);
        EXPECT_EQ(kwtest::ToHex(provtest::RunEngine(*e, true, kwtest::Hex(v.plain), {8})), v.cipher)
            << v.key << " at " << v.bits << " bits";
        if (v.bits != 64) continue;
        // Through a key made from RC2-CBC parameters (version 120 stands for 64 bits, RFC 2268
        // section 6) with a zero IV, so the first CBC block is the ECB block.
        const ByteString params("\x30\x0D\x02\x01\x78\x04\x08\0\0\0\0\0\0\0\0", 15);
        TElCustomCryptoKey* byOID = provider.CreateKeyByOID(SB_OID_RC2_CBC, params);
        EXPECT_EQ(byOID->GetIV().size(), 8u);
        EXPECT_EQ(PropertyValueToInteger(byOID->GetKeyProp(SB_KEYPROP_EFFECTIVE_KEY_LENGTH), 0), 64);
        byOID->SetValue(key);
        auto cbc = factory.CreateInstance(SB_ALG_RC2, SYMMETRIC_MODE_CBC);
        cbc->SetKey(byOID);
        cbc->SetPadding(SB_SYMENC_PADDING_NONE);
        EXPECT_EQ(kwtest::ToHex(provtest::RunEngine(*cbc, true, kwtest::Hex(v.plain), {8})), v.cipher) << v.key;
    }
}

}  // namespace
