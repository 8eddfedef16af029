// The built-in provider and its context: queries and algorithm properties, keys and their
// registration, contexts (kinds, failed starts, properties, size estimates, clones), release
// rules, the events at Done, unwrapping a key, and random numbers.
#include "crypto/builtin/SBCryptoProvBuiltIn.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "crypto/HashTestSupport.h"
#include "crypto/ProviderTestSupport.h"
#include "crypto/builtin/SBCryptoProvBuiltInHash.h"
#include "crypto/builtin/SBCryptoProvBuiltInSym.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "crypto/prov/SBCryptoProvUtils.h"
#include "rtl/Format.h"

namespace {

using provtest::Bytes;

class BuiltInProvider : public ::testing::Test {
protected:
    BuiltInProvider() : events(provider) {}
    TElCustomCryptoKey* Aes(int32_t mode = 0) {
        return provtest::SymmetricKey(provider, SB_ALG_AES128, Bytes(16, 1), Bytes(16, 2), mode);
    }
    TElCustomCryptoKey* Mac(const Bytes& value) {
        TElCustomCryptoKey* k = provider.CreateKey(SB_ALG_HMAC_SHA256, 0);
        k->SetValue(value);
        return k;
    }

    TElBuiltInCryptoProvider provider;
    provtest::EventLog events;
};

TEST_F(BuiltInProvider, AnswersWhatItSupports) {
    for (int32_t code : {SB_ALG_AES128, SB_ALG_RC4, SB_ALG_IDENTITY, SB_ALG_SERPENT256, SB_ALG_SHA1, SB_ALG_MD2,
                         SB_ALG_RIPEMD160, SB_ALG_CRC32})
        EXPECT_TRUE(provider.IsAlgorithmSupported(code, 0)) << code;
    for (int32_t code : {SB_ALG_IDEA, SB_ALG_GENERIC_SYMMETRIC, SB_ALG_HMAC_SHA1, SB_ALG_MD4, SB_ALG_PBES2})
        EXPECT_FALSE(provider.IsAlgorithmSupported(code, 0)) << code;
    EXPECT_TRUE(provider.IsAlgorithmSupportedByOID(SB_OID_DES_EDE3_CBC, "", 0));
    EXPECT_FALSE(provider.IsAlgorithmSupportedByOID("\x2A\x03", "", 0));

    const std::pair<int32_t, int32_t> classes[] = {
        {SB_ALG_RC4, SB_ALGCLASS_STREAM},    {SB_ALG_IDENTITY, SB_ALGCLASS_STREAM},   {SB_ALG_AES128, SB_ALGCLASS_BLOCK},
        {SB_ALG_RABBIT, SB_ALGCLASS_BLOCK},  {SB_ALG_SHA256, SB_ALGCLASS_HASH},       {SB_ALG_HMAC_SHA1, SB_ALGCLASS_NONE},
        {SB_ALG_PK_RSA, SB_ALGCLASS_PUBLICKEY}, {SB_ALG_PK_SRP, SB_ALGCLASS_PUBLICKEY}, {SB_ALG_IDEA, SB_ALGCLASS_NONE},
        {SB_ALG_PBKDF2, SB_ALGCLASS_NONE},
    };
    for (const auto& [code, cls] : classes)
        EXPECT_EQ(provider.GetAlgorithmClass(code), cls) << code;
    EXPECT_EQ(provider.GetAlgorithmClassByOID(SB_OID_RC4, ""), SB_ALGCLASS_STREAM);
    EXPECT_EQ(provider.GetAlgorithmClassByOID(SB_OID_SHA256_RSA, ""), SB_ALGCLASS_PUBLICKEY);
}

TEST_F(BuiltInProvider, AlgorithmProperties) {
    EXPECT_EQ(provider.GetAlgorithmProperty(SB_ALG_SHA1, 0, SB_ALGPROP_DIGEST_SIZE), ByteString("\0\0\0\xA0", 4));
    EXPECT_EQ(provider.GetAlgorithmPropertyByOID(SB_OID_SHA512, "", 0, SB_ALGPROP_DIGEST_SIZE),
              IntegerToPropertyValue(512));
    KW_EXPECT_RAISES(provider.GetAlgorithmProperty(SB_ALG_SHA1, 0, SB_ALGPROP_BLOCK_SIZE), EElCryptoProviderError,
                     rtl::Format(SUnknownAlgorithmPropertyStr, std::string(SB_ALGPROP_BLOCK_SIZE)));
    EXPECT_EQ(provider.GetAlgorithmProperty(SB_ALG_3DES, 0, SB_ALGPROP_DEFAULT_KEY_SIZE), IntegerToPropertyValue(24));
    EXPECT_EQ(provider.GetAlgorithmProperty(SB_ALG_3DES, 0, SB_ALGPROP_BLOCK_SIZE), IntegerToPropertyValue(8));
    EXPECT_EQ(provider.GetAlgorithmProperty(SB_ALG_3DES, 0, SB_ALGPROP_DIGEST_SIZE), "");
    EXPECT_EQ(provider.GetAlgorithmProperty(SB_ALG_IDEA, 0, SB_ALGPROP_BLOCK_SIZE), IntegerToPropertyValue(0));
    KW_EXPECT_RAISES(provider.GetAlgorithmProperty(SB_ALG_HMAC_SHA1, 0, SB_ALGPROP_DIGEST_SIZE),
                     EElCryptoProviderError, "Unsupported algorithm (29441)");
}

TEST_F(BuiltInProvider, KeysAreMadeRegisteredAndReleased) {
    KW_EXPECT_RAISES(provider.CreateKey(SB_ALG_SHA1, 0), EElBuiltInCryptoProviderError, "Unsupported algorithm (28929)");
    EXPECT_EQ(events.created, 0);

    // The parameter list goes to the key entry by entry.
    TElRelativeDistinguishedName params;
    params.Add(SB_KEYPROP_EFFECTIVE_KEY_LENGTH, IntegerToPropertyValue(40));
    TElCustomCryptoKey* rc2 = provider.CreateKey(SB_ALG_RC2, SB_SYMENC_MODE_CFB, &params);
    EXPECT_EQ(rc2->GetMode(), SB_SYMENC_MODE_CFB);
    EXPECT_EQ(PropertyValueToInteger(rc2->GetKeyProp(SB_KEYPROP_EFFECTIVE_KEY_LENGTH), 0), 40);
    EXPECT_NE(dynamic_cast<TElBuiltInMACKey*>(provider.CreateKey(SB_ALG_HMAC_SHA1, 0)), nullptr);
    EXPECT_EQ(provider.KeyCount(), 2u);
    EXPECT_EQ(events.created, 2);

    TElCustomCryptoKey* copy = rc2;
    provider.ReleaseKey(copy);
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(events.destroyed, 1);
    // A key that is not (or no longer) in the list is left alone.
    TElBuiltInCryptoProvider other;
    TElCustomCryptoKey* stranger = other.CreateKey(SB_ALG_DES, 0);
    TElCustomCryptoKey* held = stranger;
    provider.DeleteKey(held);
    EXPECT_EQ(held, stranger);
    EXPECT_EQ(other.KeyCount(), 1u);
    EXPECT_EQ(events.destroyed, 1);
}

TEST_F(BuiltInProvider, AContextThatCannotStartIsFreedAndNeverAnnounced) {
    TElCustomCryptoKey* wrong = provtest::SymmetricKey(provider, SB_ALG_AES128, Bytes(15, 1), Bytes(16, 2));
    const int before = events.created;
    KW_EXPECT_RAISES(provider.EncryptInit(SB_ALG_AES128, SB_SYMENC_MODE_CBC, wrong),
                     SBCryptoProvBuiltInSym::EElSymmetricCryptoError, SInvalidKeyMaterial);
    KW_EXPECT_RAISES(provider.HashInit(SB_ALG_HMAC_SHA1, Aes()), EElBuiltInCryptoProviderError, SInvalidKeyMaterial);
    KW_EXPECT_RAISES(provider.EncryptInit(SB_ALG_IDEA, 0, Aes()), EElBuiltInCryptoProviderError,
                     "Unsupported algorithm (28692)");
    KW_EXPECT_RAISES(provider.EncryptInitByOID("\x2A\x03", "", 0, Aes()), EElBuiltInCryptoProviderError,
                     "Unsupported algorithm (1.2.3)");
    KW_EXPECT_RAISES(provider.SignInit(SB_ALG_AES128, Aes(), true), EElBuiltInCryptoProviderError, SInvalidAlgorithm);
    KW_EXPECT_RAISES(provider.EncryptInit(SB_ALG_SHA1, 0, nullptr), EElBuiltInCryptoProviderError, SInvalidAlgorithm);
    // A bad property in the parameter list stops the start as well.
    TElRelativeDistinguishedName params;
    params.Add(SB_CTXPROP_SKIP_KEYSTREAM_BYTES, IntegerToPropertyValue(1));
    KW_EXPECT_RAISES(provider.EncryptInit(SB_ALG_AES128, SB_SYMENC_MODE_CBC, Aes(), &params),
                     EElBuiltInCryptoProviderError, SNotARC4Context);
    EXPECT_EQ(provider.ContextCount(), 0u);
    EXPECT_EQ(events.created - before, 5) << "only the five keys were announced";
    // A digest context takes any key argument, none included.
    TElCustomCryptoContext* c = provider.HashInit(SB_ALG_SHA256, Aes());
    provider.ReleaseCryptoContext(c);
    c = provider.HashInit(SB_ALG_SHA256, nullptr);
    provider.ReleaseCryptoContext(c);
}

TEST_F(BuiltInProvider, OperationsCheckTheContextKind) {
    TElCustomCryptoContext* hash = provider.HashInit(SB_ALG_SHA1, nullptr);
    TElCustomCryptoContext* cipher = provider.EncryptInit(SB_ALG_AES128, SB_SYMENC_MODE_ECB, Aes());
    Bytes out(32);
    size_t size = out.size();
    KW_EXPECT_RAISES(provider.EncryptUpdate(hash, "x", 1, out.data(), size), EElBuiltInCryptoProviderError,
                     SInvalidContext);
    KW_EXPECT_RAISES(provider.DecryptFinal(hash, out.data(), size), EElBuiltInCryptoProviderError, SInvalidContext);
    KW_EXPECT_RAISES(provider.HashUpdate(cipher, "x", 1), EElBuiltInCryptoProviderError, SInvalidContext);
    KW_EXPECT_RAISES(provider.SignUpdate(cipher, "x", 1, out.data(), size), EElBuiltInCryptoProviderError,
                     SInvalidContext);
    KW_EXPECT_RAISES(provider.VerifyFinal(hash, out.data(), size), EElBuiltInCryptoProviderError, SInvalidContext);
    KW_EXPECT_RAISES(provider.HashFinal(nullptr), EElBuiltInCryptoProviderError, SInvalidContext);

    // Another provider's context stays where it is; an object of another class is refused.
    TElBuiltInCryptoProvider other;
    TElCustomCryptoContext* foreign = other.HashInit(SB_ALG_MD5, nullptr);
    TElCustomCryptoContext* held = foreign;
    provider.ReleaseCryptoContext(held);
    EXPECT_EQ(held, foreign);
    EXPECT_EQ(other.ContextCount(), 1u);
    provtest::ForeignProvider alien;
    provtest::PlainContext alienContext(&alien);
    TElCustomCryptoContext* alienPointer = &alienContext;
    KW_EXPECT_RAISES(provider.ReleaseCryptoContext(alienPointer), EElBuiltInCryptoProviderError, SInvalidContext);
    provider.ReleaseCryptoContext(hash);
    EXPECT_EQ(hash, nullptr);
}

TEST_F(BuiltInProvider, ContextAnswersFollowTheirKind) {
    TElCustomCryptoContext* ctr = provider.EncryptInit(SB_ALG_AES128, SB_SYMENC_MODE_CTR, Aes());
    EXPECT_EQ(ctr->GetMode(), SB_SYMENC_MODE_CTR);
    auto* builtIn = dynamic_cast<TElBuiltInCryptoContext*>(ctr);
    EXPECT_EQ(builtIn->GetSymmetricCrypto()->GetMode(), SYMMETRIC_MODE_CTR);
    EXPECT_EQ(ctr->GetKeySize(), 16);
    EXPECT_EQ(ctr->GetAlgorithmClass(), SB_ALGCLASS_BLOCK);
    EXPECT_EQ(ctr->EstimateOutputSize(17), 17);
    KW_EXPECT_RAISES(ctr->GetDigestSize(), EElBuiltInCryptoProviderError, SNotAHashContext);
    KW_EXPECT_RAISES(ctr->SetMode(1), EElBuiltInCryptoProviderError, SCannotChangeROProperty);
    KW_EXPECT_RAISES(ctr->SetBlockSize(8), EElBuiltInCryptoProviderError, SCannotChangeROProperty);
    KW_EXPECT_RAISES(ctr->Clone(), EElBuiltInCryptoProviderError, SCannotCloneContext);

    // A padded encryption estimates the padding block too; a decryption rounds up.
    TElCustomCryptoContext* enc = provider.EncryptInit(SB_ALG_AES128, SB_SYMENC_MODE_CBC, Aes());
    EXPECT_EQ(enc->GetPadding(), SB_SYMENC_PADDING_PKCS5);
    EXPECT_EQ(enc->EstimateOutputSize(0), 16);
    EXPECT_EQ(enc->EstimateOutputSize(16), 32);
    EXPECT_EQ(enc->EstimateOutputSize(17), 32);
    TElCustomCryptoContext* dec = provider.DecryptInit(SB_ALG_AES128, SB_SYMENC_MODE_CBC, Aes());
    EXPECT_EQ(dec->GetPadding(), SB_SYMENC_PADDING_PKCS5);
    EXPECT_EQ(dec->EstimateOutputSize(0), 16);
    EXPECT_EQ(dec->EstimateOutputSize(16), 16);
    EXPECT_EQ(dec->EstimateOutputSize(17), 32);

    TElCustomCryptoContext* sha = provider.HashInit(SB_ALG_SHA384, nullptr);
    EXPECT_EQ(sha->GetDigestSize(), 384);
    EXPECT_EQ(sha->EstimateOutputSize(1000), 48);
    EXPECT_EQ(sha->GetKeySize(), 0);
    KW_EXPECT_RAISES(sha->GetBlockSize(), EElBuiltInCryptoProviderError, SNotASymmetricCipherContext);
    KW_EXPECT_RAISES(sha->SetPadding(1), EElBuiltInCryptoProviderError, SNotASymmetricCipherContext);
    KW_EXPECT_RAISES(sha->GetMode(), EElBuiltInCryptoProviderError, SNotASymmetricCipherContext);
}

TEST_F(BuiltInProvider, ContextProperties) {
    TElRelativeDistinguishedName params;
    params.Add(SB_CTXPROP_SKIP_KEYSTREAM_BYTES, IntegerToPropertyValue(256));
    TElCustomCryptoContext* rc4 =
        provider.EncryptInit(SB_ALG_RC4, 0, provtest::SymmetricKey(provider, SB_ALG_RC4, Bytes(16, 3), {}), &params);
    EXPECT_EQ(PropertyValueToInteger(rc4->GetContextProp(SB_CTXPROP_SKIP_KEYSTREAM_BYTES), 0), 256);
    TElCustomCryptoContext* sha = provider.HashInit(SB_ALG_SHA1, nullptr);
    for (TElCustomCryptoContext* c : {rc4, sha}) {
        // Outside the table: the default comes back and setting does nothing; an identifier
        // that differs only in its suffix is such an identifier.
        EXPECT_EQ(c->GetContextProp("unknown", "fallback"), "fallback");
        EXPECT_EQ(c->GetContextProp("hash-algorithm@elsewhere", "fallback"), "fallback");
        c->SetContextProp("unknown", "x");
        EXPECT_EQ(c->GetContextProp(SB_CTXPROP_HASH_ALGORITHM, "fallback"), "");
        c->SetContextProp(SB_CTXPROP_HASH_ALGORITHM, SB_OID_SHA1);
        KW_EXPECT_RAISES(c->GetContextProp(SB_CTXPROP_USE_ALGORITHM_PREFIX), EElBuiltInCryptoProviderError,
                         SNotARSAContext);
        KW_EXPECT_RAISES(c->SetContextProp(SB_CTXPROP_INPUT_IS_HASH, "\x01"), EElBuiltInCryptoProviderError,
                         SNotAPublicKeyContext);
        KW_EXPECT_RAISES(c->SetContextProp(SB_CTXPROP_ALGORITHM_SCHEME, "pss"), EElBuiltInCryptoProviderError,
                         SInvalidContext);
    }
    KW_EXPECT_RAISES(sha->GetContextProp(SB_CTXPROP_SKIP_KEYSTREAM_BYTES), EElBuiltInCryptoProviderError,
                     SNotARC4Context);
}

TEST_F(BuiltInProvider, ADigestContextClonesItsState) {
    for (int32_t code : {SB_ALG_SHA1, SB_ALG_HMAC_SHA256}) {
        TElCustomCryptoContext* source = provider.HashInit(code, Mac(Bytes(70, 4)));
        provider.HashUpdate(source, "head", 4);
        TElCustomCryptoContext* copy = source->Clone();
        EXPECT_EQ(provider.ContextCount(), 2u);
        provider.HashUpdate(source, "tail", 4);
        provider.HashUpdate(copy, "tail", 4);
        EXPECT_EQ(provider.HashFinal(source), provider.HashFinal(copy)) << code;
        provider.ReleaseCryptoContext(source);
        provider.ReleaseCryptoContext(copy);
    }
}

TEST_F(BuiltInProvider, DoneAnnouncesEveryObjectKeysFirst) {
    auto p = std::make_unique<TElBuiltInCryptoProvider>();
    std::vector<size_t> order;  // 0 a key, 1 a context
    p->OnDestroyObject = [&](TElCustomCryptoProvider*, TElCustomCryptoProvider::TElCryptoObject o) {
        order.push_back(o.index());
    };
    TElCustomCryptoKey* key = provtest::SymmetricKey(*p, SB_ALG_DES, Bytes(8, 1), Bytes(8, 1));
    p->EncryptInit(SB_ALG_DES, SB_SYMENC_MODE_CBC, key);
    p->HashInit(SB_ALG_MD5, nullptr);
    p->CreateKey(SB_ALG_HMAC_MD5, 0);
    p.reset();
    EXPECT_EQ(order, (std::vector<size_t>{0, 0, 1, 1}));
}

TEST_F(BuiltInProvider, DecryptKeyUnwrapsAKeyValue) {
    // Wrap a triple-DES key value with AES-128-CBC and PKCS#5 padding, then unwrap it into a
    // new key: the padding goes, the value stays.
    const Bytes wrapped(24, 0x3C);
    TElCustomCryptoKey* kek = Aes();
    Bytes encrypted(32);
    size_t size = encrypted.size();
    provider.Encrypt(SB_ALG_AES128, SB_SYMENC_MODE_CBC, kek, wrapped.data(), wrapped.size(), encrypted.data(), size);
    ASSERT_EQ(size, 32u);
    const ByteString ivParams = ByteString("\x04\x10", 2) + std::string(16, '\x02');
    TElCustomCryptoKey* unwrapped = provider.DecryptKey(encrypted.data(), size, SB_OID_DES_EDE3_CBC, "", kek,
                                                        SB_OID_AES128_CBC, ivParams);
    EXPECT_EQ(unwrapped->GetAlgorithm(), SB_ALG_3DES);
    EXPECT_EQ(Bytes(unwrapped->GetValue().begin(), unwrapped->GetValue().end()), wrapped);
    EXPECT_EQ(provider.ContextCount(), 0u);
}

// A key that keeps every default of the key base (the public-key keys do so for these).
class BaseKey final : public TElBuiltInCryptoKey {
public:
    explicit BaseKey(TElCustomCryptoProvider* provider) : TElBuiltInCryptoKey(provider) {}
    bool GetIsPublic() const override { return false; }
    bool GetIsSecret() const override { return false; }
    bool GetIsExportable() const override { return false; }
    bool GetIsValid() const override { return false; }
    int32_t GetBits() const override { return 0; }
    int32_t GetAlgorithm() const override { return 0; }
    void Generate(int32_t, const TElRelativeDistinguishedName*, const TSBProgressFunc&, void*) override {}
    void ImportPublic(const void*, size_t, const TElRelativeDistinguishedName*) override {}
    void ImportSecret(const void*, size_t, const TElRelativeDistinguishedName*) override {}
    void ExportPublic(void*, size_t&, const TElRelativeDistinguishedName*) const override {}
    void ExportSecret(void*, size_t&, const TElRelativeDistinguishedName*) const override {}
    std::unique_ptr<TElCustomCryptoKey> Clone(const TElRelativeDistinguishedName*) const override { return nullptr; }
    std::unique_ptr<TElCustomCryptoKey> ClonePublic(const TElRelativeDistinguishedName*) const override {
        return nullptr;
    }
    void ClearPublic() override {}
    void ClearSecret() override {}
    ByteString GetKeyProp(std::string_view, std::string_view) const override { return {}; }
    void SetKeyProp(std::string_view, std::string_view) override {}
};

TEST_F(BuiltInProvider, TheKeyBaseDefaults) {
    BaseKey key(&provider);
    KW_EXPECT_RAISES(key.ChangeAlgorithm(SB_ALG_DES), EElCryptoProviderError, SCannotChangeAlgorithm);
    KW_EXPECT_RAISES(key.PrepareForEncryption(), EElBuiltInCryptoProviderError, SUnsupportedOperation);
    KW_EXPECT_RAISES(key.PrepareForSigning(true), EElBuiltInCryptoProviderError, SUnsupportedOperation);
    key.CancelPreparation();
    EXPECT_FALSE(key.GetAsyncOperationFinished());
    key.SetMode(SB_SYMENC_MODE_CTR);
    EXPECT_EQ(key.GetMode(), SB_SYMENC_MODE_CTR);
    Bytes iv = {1, 2, 3};
    key.SetIV(iv);
    iv[0] = 9;
    EXPECT_EQ(key.GetIV()[0], 1) << "SetIV copies";
    EXPECT_EQ(key.GetIV().data(), key.GetIV().data()) << "GetIV shows the stored array";
    key.Reset();
    EXPECT_EQ(key.GetIV().size(), 3u) << "the base's Reset does nothing";
}

TEST_F(BuiltInProvider, RandomNumbersStayInRangeAndCoverIt) {
    std::map<int32_t, int> seen;
    for (int i = 0; i < 2000; ++i) {
        const int32_t v = provider.RandomNum(10);
        ASSERT_GE(v, 0);
        ASSERT_LT(v, 10);
        ++seen[v];
    }
    EXPECT_EQ(seen.size(), 10u);
    // With a bound of 3/8 of the 32-bit range a plain remainder puts 56% of the results in the
    // lower half of the range (4500 of 8000, give or take 45); an even draw puts 50% there
    // (4000). The limits lie more than five deviations from both.
    int low = 0;
    const int32_t bound = 0x60000000;
    for (int i = 0; i < 8000; ++i) {
        const int32_t v = provider.RandomNum(bound);
        ASSERT_GE(v, 0);
        ASSERT_LT(v, bound);
        low += v < bound / 2;
    }
    EXPECT_GT(low, 3750);
    EXPECT_LT(low, 4250);
    Bytes a(32), b(32);
    provider.RandomGenerate(a.data(), a.size());
    provider.RandomInit("seed", 4);
    provider.RandomSeed("more", 4);
    provider.RandomGenerate(b.data(), b.size());
    EXPECT_NE(a, b);
    EXPECT_NE(a, Bytes(32, 0));
}

}  // namespace
