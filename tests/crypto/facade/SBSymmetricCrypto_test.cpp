// The symmetric facade: Wycheproof's AES-CBC and Camellia-CBC files with PKCS#5 padding, the
// one-shot size protocol, progress and cancel, re-initialising, the fixed-algorithm classes,
// the factory, and the key material with its blob and stream forms.
#include "crypto/facade/SBSymmetricCrypto.h"

#include <gtest/gtest.h>

#include <random>

#include "crypto/NistVectorFile.h"
#include "crypto/OpenSSLPeer.h"
#include "crypto/ProviderTestSupport.h"
#include "crypto/WycheproofFile.h"
#include "crypto/base/SBConstants.h"
#include "crypto/builtin/SBCryptoProvDefault.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "rtl/Stream.h"
#include "support/TestSupport.h"

namespace {

using provtest::Bytes;
using SBSymmetricCrypto::EElSymmetricCryptoError;

// The one-shot form in one direction: the size first, then the message.
Bytes Run(TElSymmetricCrypto& c, const Bytes& data, bool encrypt) {
    auto call = [&](void* out, size_t& size) {
        if (encrypt)
            c.Encrypt(data.data(), data.size(), out, size);
        else
            c.Decrypt(data.data(), data.size(), out, size);
    };
    size_t size = 0;
    call(nullptr, size);
    Bytes out(size);
    call(out.data(), size);
    out.resize(size);
    return out;
}
Bytes Encrypt(TElSymmetricCrypto& c, const Bytes& data) {
    return Run(c, data, true);
}
Bytes Decrypt(TElSymmetricCrypto& c, const Bytes& data) {
    return Run(c, data, false);
}

class SymmetricFacade : public ::testing::Test {
protected:
    SymmetricFacade() : events(provider), material(&provider) {
        material.SetKey(Bytes(16, 0x11));
        material.SetIV(Bytes(16, 0x22));
    }
    std::unique_ptr<TElSymmetricCrypto> Aes(uint8_t mode = SYMMETRIC_MODE_CBC) {
        auto c = TElSymmetricCrypto::CreateByAlgorithm(SB_ALG_AES128, mode, &provider);
        c->SetKeyMaterial(&material);
        return c;
    }

    TElBuiltInCryptoProvider provider;
    provtest::EventLog events;
    TElSymmetricKeyMaterial material;
};

void RunWycheproofCbc(const char* name, int32_t aes128, int32_t aes192, int32_t aes256) {
    const auto path = kwtest::WycheproofFile::PathOf(name);
    KW_REQUIRE_PEER(!path.empty(), std::string("../shared/vectors/wycheproof/") + name);
    const kwtest::WycheproofFile file(path);
    int64_t ran = 0;
    for (const auto& t : file.Tests()) {
        const Bytes key = t.Bytes("key");
        const int32_t code = key.size() == 16 ? aes128 : key.size() == 24 ? aes192 : aes256;
        TElSymmetricKeyMaterial material;
        material.SetKey(key);
        material.SetIV(t.Bytes("iv"));
        auto c = TElSymmetricCrypto::CreateByAlgorithm(code, SYMMETRIC_MODE_CBC);
        c->SetKeyMaterial(&material);
        const Bytes ct = t.Bytes("ct");
        if (t.Valid()) {
            EXPECT_EQ(Decrypt(*c, ct), t.Bytes("msg")) << name << " " << t.Describe();
            EXPECT_EQ(Encrypt(*c, t.Bytes("msg")), ct) << name << " " << t.Describe();
        } else {
            // Every bad padding (and the empty ciphertext) is refused, by the one error.
            KW_EXPECT_RAISES(Decrypt(*c, ct), SBCryptoProvBuiltInSym::EElSymmetricCryptoError, SInvalidPadding);
        }
        ++ran;
    }
    EXPECT_EQ(ran, file.AnnouncedCount());
}

TEST(SymmetricWycheproof, AesCbcPkcs5) {
    RunWycheproofCbc("aes_cbc_pkcs5_test.json", SB_ALG_AES128, SB_ALG_AES192, SB_ALG_AES256);
}

TEST(SymmetricWycheproof, CamelliaCbcPkcs5) {
    RunWycheproofCbc("camellia_cbc_pkcs5_test.json", SB_ALG_CAMELLIA128, SB_ALG_CAMELLIA192, SB_ALG_CAMELLIA256);
}

TEST_F(SymmetricFacade, OneShotSizeProtocol) {
    auto c = Aes();
    const Bytes sixteen(16, 5);
    size_t size = 0;
    c->Encrypt(sixteen.data(), 16, nullptr, size);
    EXPECT_EQ(size, 32u);
    Bytes out(32, 0xEE);
    size = 31;
    KW_EXPECT_RAISES(c->Encrypt(sixteen.data(), 16, out.data(), size), EElSymmetricCryptoError, SOutputBufferTooSmall);
    size = 32;
    c->Encrypt(sixteen.data(), 16, out.data(), size);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(kwtest::ToHex(out), kwtest::ToHex(kwtest::OpenSSLCrypt("AES-128-CBC", Bytes(16, 0x11), Bytes(16, 0x22),
                                                                     provtest::Pad(sixteen, 16), true)));
    size = 0;
    c->Decrypt(out.data(), 32, nullptr, size);
    EXPECT_EQ(size, 32u);
    size = 31;
    KW_EXPECT_RAISES(c->Decrypt(out.data(), 32, out.data(), size), EElSymmetricCryptoError, SOutputBufferTooSmall);
    EXPECT_EQ(Decrypt(*c, out), sixteen);
    EXPECT_EQ(Encrypt(*c, {}).size(), 16u);
}

TEST_F(SymmetricFacade, ProgressIsReportedAfterEachChunkAndCanCancel) {
    auto c = Aes();
    std::vector<std::pair<int64_t, int64_t>> seen;
    c->OnProgress = [&](TElSymmetricCrypto* sender, int64_t total, int64_t processed, bool& cancel) {
        EXPECT_EQ(sender, c.get());
        EXPECT_FALSE(cancel);
        seen.emplace_back(total, processed);
    };
    Encrypt(*c, {});
    EXPECT_TRUE(seen.empty());
    const size_t n = 3 * 65536 + 5;
    const Bytes big(n, 1);
    const Bytes cipher = Encrypt(*c, big);
    ASSERT_EQ(seen.size(), 4u);
    const int64_t expected[] = {65536, 131072, 196608, int64_t(n)};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(seen[i].first, int64_t(n));
        EXPECT_EQ(seen[i].second, expected[i]);
    }
    EXPECT_EQ(Decrypt(*c, cipher), big);
    EXPECT_EQ(seen.size(), 4u) << "Decrypt reports no progress";

    c->OnProgress = [](TElSymmetricCrypto*, int64_t, int64_t, bool& cancel) { cancel = true; };
    Bytes out(n + 16);
    size_t size = out.size();
    KW_EXPECT_RAISES(c->Encrypt(big.data(), n, out.data(), size), EElSymmetricCryptoError, SInterruptedByUser);
    EXPECT_EQ(provider.ContextCount(), 1u) << "the interrupted message's context, released at the next start";
}

TEST_F(SymmetricFacade, InitialisingAgainReleasesTheEarlierContext) {
    {
        auto c = Aes();
        for (int i = 0; i < 5; ++i) {
            c->InitializeEncryption();
            c->InitializeDecryption();
            Encrypt(*c, Bytes(40, 1));
        }
        EXPECT_EQ(provider.ContextCount(), 1u);
        // A start that fails (a key of the wrong length for AES-256) leaves no context behind.
        auto wrong = TElSymmetricCrypto::CreateByAlgorithm(SB_ALG_AES256, SYMMETRIC_MODE_CBC, &provider);
        wrong->SetKeyMaterial(&material);
        Bytes out(64);
        size_t size = out.size();
        KW_EXPECT_RAISES(wrong->Encrypt(out.data(), 16, out.data(), size), SBCryptoProvBuiltInSym::EElSymmetricCryptoError,
                         SInvalidKeyMaterial);
        EXPECT_EQ(provider.ContextCount(), 1u);
    }
    EXPECT_EQ(provider.ContextCount(), 0u);
    EXPECT_EQ(events.created, events.destroyed + 1);  // only the material's key is alive
}

TEST_F(SymmetricFacade, PaddingAndBlockSizeComeFromTheContextOnceThereIsOne) {
    auto c = Aes();
    EXPECT_EQ(c->GetPadding(), SB_SYMENC_PADDING_PKCS5);
    EXPECT_EQ(c->GetBlockSize(), 16);
    EXPECT_FALSE(c->GetIsStreamCipher());
    c->InitializeEncryption();
    c->SetPadding(SB_SYMENC_PADDING_NONE);
    EXPECT_EQ(c->GetPadding(), SB_SYMENC_PADDING_NONE);
    // Record-style use: whole blocks in, the same number out, nothing at the end.
    const Bytes record(48, 9);
    Bytes out(48);
    size_t size = out.size();
    c->EncryptUpdate(record.data(), record.size(), out.data(), size);
    EXPECT_EQ(size, 48u);
    size_t tail = 16;
    c->FinalizeEncryption(out.data(), tail);
    EXPECT_EQ(tail, 0u);
    EXPECT_EQ(out, kwtest::OpenSSLCrypt("AES-128-CBC", Bytes(16, 0x11), Bytes(16, 0x22), record, true));
    EXPECT_EQ(c->GetBlockSize(), 16);
    KW_EXPECT_RAISES(TElSymmetricCrypto::CreateByAlgorithm(SB_ALG_AES128)->EncryptUpdate(out.data(), 1, out.data(), size),
                     EElSymmetricCryptoError, SCipherNotInitialized);
}

TEST_F(SymmetricFacade, AModeOfZeroRunsCbc) {
    auto byDefault = TElSymmetricCrypto::CreateByAlgorithm(SB_ALG_3DES, 0, &provider);
    EXPECT_EQ(byDefault->GetMode(), 0);
    TElSymmetricKeyMaterial k(&provider);
    k.SetKey(Bytes(24, 0x33));
    k.SetIV(Bytes(8, 0x44));
    byDefault->SetKeyMaterial(&k);
    auto cbc = TEl3DESSymmetricCrypto::Create(SYMMETRIC_MODE_CBC, &provider);
    cbc->SetKeyMaterial(&k);
    EXPECT_EQ(Encrypt(*byDefault, Bytes(20, 1)), Encrypt(*cbc, Bytes(20, 1)));
}

TEST_F(SymmetricFacade, FixedAlgorithmClassesAndTheFactory) {
    KW_EXPECT_RAISES(TElIDEASymmetricCrypto::Create(0, nullptr), EElSymmetricCryptoError, "Unsupported algorithm 28692");
    KW_EXPECT_RAISES(TElSymmetricCrypto::CreateDefault(), EElSymmetricCryptoError, SPureVirtualConstructor);
    KW_EXPECT_RAISES(TElSymmetricCrypto::CreateByAlgorithm(SB_ALG_IDEA), EElSymmetricCryptoError,
                     "Unsupported algorithm 28692");
    KW_EXPECT_RAISES(TElSymmetricCrypto::CreateByOID("\x2A\x03"), EElSymmetricCryptoError, "Unsupported algorithm (1.2.3)");
    TElSymmetricCryptoFactory factory;
    EXPECT_FALSE(factory.CreateInstance(SB_ALG_IDEA, 0));
    auto viaFactory = factory.CreateInstance(SB_ALG_CAMELLIA256, SYMMETRIC_MODE_CTR);
    ASSERT_TRUE(viaFactory);
    EXPECT_EQ(viaFactory->GetProvider(), DefaultCryptoProvider());

    auto rc4 = TElRC4SymmetricCrypto::Create(SYMMETRIC_MODE_CBC, &provider);
    EXPECT_EQ(rc4->GetMode(), 0);
    EXPECT_TRUE(rc4->GetIsStreamCipher());
    EXPECT_EQ(rc4->EstimateOutputSize(13, true), 13u);
    EXPECT_EQ(TElDESSymmetricCrypto::Create()->GetMode(), SYMMETRIC_MODE_CBC);
    EXPECT_EQ(TElRC2SymmetricCrypto::CreateDefault()->GetAlgorithm(), SB_ALG_RC2);
    auto byOID = TElSymmetricCrypto::CreateByOID(SB_OID_AES192_CBC, 0, &provider);
    EXPECT_EQ(byOID->GetAlgorithm(), SB_ALG_UNKNOWN);
    EXPECT_EQ(byOID->GetBlockSize(), 16);
    int32_t key = 0, block = 0;
    TElSymmetricCrypto::GetDefaultKeyAndBlockLength(SB_ALG_BLOWFISH, key, block);
    EXPECT_EQ(key, 16);
    EXPECT_EQ(block, 8);
    TElSymmetricCrypto::GetDefaultKeyAndBlockLengthByOID(SB_OID_AES256_CBC, key, block);
    EXPECT_EQ(key, 32);
    EXPECT_TRUE(TElSymmetricCrypto::IsAlgorithmSupportedByOID(SB_OID_CAST128_CBC));
}

TEST_F(SymmetricFacade, Rc4SkipsItsCountAtEveryMessage) {
    KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL's legacy provider");
    TElSymmetricKeyMaterial k(&provider);
    k.SetKey(Bytes(16, 0x55));
    auto rc4 = TElRC4SymmetricCrypto::Create(0, &provider);
    rc4->SetKeyMaterial(&k);
    rc4->SetSkipKeystreamBytes(768);
    const Bytes stream = kwtest::OpenSSLCrypt("RC4", Bytes(16, 0x55), {}, Bytes(768 + 32, 0), true);
    const Bytes expected(stream.begin() + 768, stream.end());
    EXPECT_EQ(Encrypt(*rc4, Bytes(32, 0)), expected);
    EXPECT_EQ(Encrypt(*rc4, Bytes(32, 0)), expected);
}

TEST_F(SymmetricFacade, KeyMaterialBlobsAndStreams) {
    size_t size = 0;
    material.Save(nullptr, size);
    EXPECT_EQ(size, 70u);
    rtl::MemoryStream stream;
    material.SaveToStream(stream);
    EXPECT_EQ(stream.Size(), 70);
    stream.SetPosition(0);
    TElSymmetricKeyMaterial loaded(&provider);
    loaded.LoadFromStream(stream);
    EXPECT_EQ(loaded.GetBits(), 128);
    EXPECT_EQ(Bytes(loaded.GetKey()->GetIV().begin(), loaded.GetKey()->GetIV().end()), Bytes(16, 0x22));
    // Streams shorter than the blob they start: each length is checked before it is used.
    const std::string whole = stream.Data();
    for (size_t cut : {0u, 37u, 38u, 53u, 69u}) {
        rtl::MemoryStream shorter;
        shorter.WriteBuffer(whole.substr(0, cut));
        shorter.SetPosition(0);
        TElSymmetricKeyMaterial target(&provider);
        KW_EXPECT_RAISES(target.LoadFromStream(shorter), EElSymmetricCryptoError, SInvalidKeyFormat);
    }
    // A count bounds the blob inside a longer stream.
    rtl::MemoryStream padded;
    padded.WriteBuffer(whole + "tail");
    padded.SetPosition(0);
    loaded.LoadFromStream(padded, 70);
    EXPECT_EQ(padded.Position(), 70);

    material.GenerateIV(64);
    EXPECT_EQ(material.GetKey()->GetIV().size(), 8u);
    KW_EXPECT_RAISES(material.GenerateIV(60), EElSymmetricCryptoError, SInvalidInputSize);
    material.Generate(256);
    EXPECT_EQ(material.GetBits(), 256);
    KW_EXPECT_RAISES(material.Clone(), ECryptoLibraryError, SNotImplemented);
}

TEST_F(SymmetricFacade, AMaterialAdoptsAKeyAndReleasesItThroughItsProvider) {
    TElCustomCryptoKey* key = provtest::SymmetricKey(provider, SB_ALG_AES128, Bytes(16, 1), Bytes(16, 2));
    const size_t before = provider.KeyCount();
    {
        auto adopted = TElSymmetricKeyMaterial::CreateWithKey(key);
        EXPECT_EQ(adopted->GetProvider(), &provider);
        auto c = TElSymmetricCrypto::CreateByAlgorithm(SB_ALG_AES128);
        c->SetKeyMaterial(adopted.get());
        EXPECT_EQ(c->GetProvider(), &provider) << "the key material's provider";
        EXPECT_EQ(Decrypt(*c, Encrypt(*c, Bytes(5, 5))), Bytes(5, 5));
    }
    EXPECT_EQ(provider.KeyCount(), before - 1);
}

}  // namespace
