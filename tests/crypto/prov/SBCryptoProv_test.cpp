// The provider framework: the mode mapping, the property identifiers, the base provider's
// answers, and the one-shot operations built from init, update and final (size requests,
// contexts released on every path, and the detached verification handing its data over).
#include "crypto/prov/SBCryptoProv.h"

#include <gtest/gtest.h>

#include <set>

#include "crypto/HashTestSupport.h"
#include "crypto/ProviderTestSupport.h"
#include "crypto/prov/SBCryptoProvRS.h"

namespace {

using provtest::Bytes;

TEST(CryptoProv, ModeNumbersMapBothWaysWithOneTable) {
    const int32_t provider[] = {0, 1, 2, 3, 4, 5, -1};
    const int32_t engine[] = {0, 1, 2, 4, 3, 0, 0};
    for (size_t i = 0; i < std::size(provider); ++i) {
        EXPECT_EQ(ConvertCipherMode(provider[i]), engine[i]) << provider[i];
        if (engine[i] != 0) {
            EXPECT_EQ(ConvertCipherMode(engine[i]), provider[i]);
        }
    }
    EXPECT_EQ(ConvertCipherMode(SB_SYMENC_MODE_CTR), SYMMETRIC_MODE_CTR);
    EXPECT_EQ(ConvertCipherMode(SYMMETRIC_MODE_CFB), SB_SYMENC_MODE_CFB);
}

TEST(CryptoProv, PropertyIdentifiersShareOneSuffixAndDifferByName) {
    const std::string_view ids[] = {
        SB_PROVPROP_DLL_PATH,          SB_KEYPROP_KEYFORMAT,           SB_KEYPROP_HASH_ALGORITHM,
        SB_KEYPROP_MGF_ALGORITHM,      SB_KEYPROP_TRAILER_FIELD,       SB_KEYPROP_SALT_SIZE,
        SB_KEYPROP_STRLABEL,           SB_KEYPROP_RSA_RAWKEY,          SB_KEYPROP_RSA_M,
        SB_KEYPROP_RSA_E,              SB_KEYPROP_RSA_D,               SB_KEYPROP_DSA_STRICT_VALIDATION,
        SB_KEYPROP_DSA_P,              SB_KEYPROP_DSA_Q,               SB_KEYPROP_DSA_G,
        SB_KEYPROP_DSA_X,              SB_KEYPROP_DSA_Y,               SB_KEYPROP_DSA_QBITS,
        SB_KEYPROP_ELGAMAL_P,          SB_KEYPROP_ELGAMAL_G,           SB_KEYPROP_ELGAMAL_X,
        SB_KEYPROP_ELGAMAL_Y,          SB_KEYPROP_DH_P,                SB_KEYPROP_DH_G,
        SB_KEYPROP_DH_X,               SB_KEYPROP_DH_Y,                SB_KEYPROP_DH_PEER_Y,
        SB_KEYPROP_WIN32_CERTCONTEXT,  SB_KEYPROP_EFFECTIVE_KEY_LENGTH, SB_KEYPROP_PKCS11_KEY_HANDLE,
        SB_KEYPROP_PKCS11_SESSION_HANDLE, SB_ALGPROP_DIGEST_SIZE,      SB_ALGPROP_BLOCK_SIZE,
        SB_ALGPROP_DEFAULT_KEY_SIZE,   SB_CTXPROP_SKIP_KEYSTREAM_BYTES, SB_CTXPROP_USE_ALGORITHM_PREFIX,
        SB_CTXPROP_INPUT_IS_HASH,      SB_CTXPROP_HASH_FUNC_OID,       SB_CTXPROP_ALGORITHM_SCHEME,
    };
    std::set<std::string_view> distinct;
    for (std::string_view id : ids) {
        EXPECT_TRUE(id.size() > SBPseudoOIDSuffix.size() && id.substr(id.size() - SBPseudoOIDSuffix.size()) == SBPseudoOIDSuffix)
            << id;
        distinct.insert(id);
    }
    EXPECT_EQ(distinct.size(), std::size(ids));
    // The names that are both key and context properties are the same text.
    EXPECT_EQ(SB_KEYPROP_HASH_ALGORITHM, SB_CTXPROP_HASH_ALGORITHM);
    EXPECT_EQ(SB_KEYPROP_SALT_SIZE, SB_CTXPROP_SALT_SIZE);
    EXPECT_EQ(SB_KEYPROP_TRAILER_FIELD, SB_CTXPROP_TRAILER_FIELD);
    EXPECT_EQ(SB_KEYPROP_MGF_ALGORITHM, SB_CTXPROP_MGF_ALGORITHM);
    EXPECT_EQ(std::string(SB_CTXPROP_HASH_ALGORITHM), std::string("hash-algorithm") + std::string(SBPseudoOIDSuffix));
}

TEST(CryptoProv, TheBaseProviderKnowsNoAlgorithmAndNoProperty) {
    provtest::ForeignProvider base;
    EXPECT_FALSE(base.IsAlgorithmSupported(SB_ALG_AES128, 0));
    EXPECT_FALSE(base.IsAlgorithmSupportedByOID(SB_OID_SHA1, "", 0));
    KW_EXPECT_RAISES(base.GetAlgorithmProperty(SB_ALG_AES256, 0, SB_ALGPROP_BLOCK_SIZE), EElCryptoProviderError,
                     "Unsupported algorithm (28679)");
    KW_EXPECT_RAISES(base.GetAlgorithmPropertyByOID(SB_OID_SHA1, "", 0, SB_ALGPROP_BLOCK_SIZE), EElCryptoProviderError,
                     "Unsupported algorithm (1.3.14.3.2.26)");
    const std::string message = "Unsupported property (" + std::string(SB_PROVPROP_DLL_PATH) + ")";
    KW_EXPECT_RAISES(base.GetProviderProp(SB_PROVPROP_DLL_PATH), EElCryptoProviderError, message);
    KW_EXPECT_RAISES(base.SetProviderProp(SB_PROVPROP_DLL_PATH, "x"), EElCryptoProviderError, message);
    TElBuiltInCryptoProvider builtIn;
    KW_EXPECT_RAISES(builtIn.GetProviderProp(SB_PROVPROP_DLL_PATH), EElCryptoProviderError, message);
}

class OneShot : public ::testing::Test {
protected:
    OneShot() : events(provider) {
        key = provtest::SymmetricKey(provider, SB_ALG_AES128, Bytes(16, 1), Bytes(16, 2));
    }
    TElBuiltInCryptoProvider provider;
    provtest::EventLog events;
    TElCustomCryptoKey* key;
};

TEST_F(OneShot, ANullOutputAnswersTheEstimateAndProcessesNothing) {
    const Bytes data(20, 3);
    size_t size = 0;
    provider.Encrypt(SB_ALG_AES128, SB_SYMENC_MODE_CBC, key, data.data(), data.size(), nullptr, size);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(provider.ContextCount(), 0u);
    size = 0;
    provider.EncryptByOID(SB_OID_AES128_CBC, "", 0, key, data.data(), data.size(), nullptr, size);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(provider.ContextCount(), 0u);
}

TEST_F(OneShot, APaddedMessageGetsRoomForItsPaddingBlock) {
    // The provider's contexts pad; the estimate a null output answers covers the padding
    // block, so a buffer of that size takes the whole message.
    const Bytes data(32, 5);
    size_t size = 0;
    provider.Encrypt(SB_ALG_AES128, SB_SYMENC_MODE_CBC, key, data.data(), data.size(), nullptr, size);
    EXPECT_EQ(size, 48u);
    Bytes cipher(size);
    provider.Encrypt(SB_ALG_AES128, SB_SYMENC_MODE_CBC, key, data.data(), data.size(), cipher.data(), size);
    EXPECT_EQ(size, 48u);
    Bytes back(48);
    size = back.size();
    provider.Decrypt(SB_ALG_AES128, SB_SYMENC_MODE_CBC, key, cipher.data(), cipher.size(), back.data(), size);
    back.resize(size);
    EXPECT_EQ(back, data);
}

TEST_F(OneShot, EncryptAndDecryptRunTheWholeMessage) {
    const Bytes data(48, 5);
    Bytes cipher(48);
    size_t size = cipher.size();
    provider.Encrypt(SB_ALG_AES128, SB_SYMENC_MODE_CTR, key, data.data(), data.size(), cipher.data(), size);
    EXPECT_EQ(size, 48u);
    Bytes back(48);
    size = back.size();
    provider.DecryptByOID(SB_OID_AES128_CBC, "", SB_SYMENC_MODE_CTR, key, cipher.data(), cipher.size(), back.data(), size);
    EXPECT_EQ(back, data);
    EXPECT_EQ(provider.Hash(SB_ALG_SHA1, nullptr, "abc", 3),
              provtest::ToString(hashtest::FromHex("a9993e364706816aba3e25717850c26c9cd0d89d")));
    EXPECT_EQ(provider.HashByOID(SB_OID_SHA1, "", nullptr, "abc", 3).size(), 20u);
    EXPECT_EQ(provider.ContextCount(), 0u);
    EXPECT_EQ(events.created, events.destroyed + 1);  // the key lives on
}

TEST_F(OneShot, AFailingStepStillReleasesTheContext) {
    const Bytes data(32, 5);
    Bytes small(16);
    size_t size = small.size();
    KW_EXPECT_RAISES(provider.Encrypt(SB_ALG_AES128, SB_SYMENC_MODE_CBC, key, data.data(), data.size(), small.data(), size),
                     SBCryptoProvBuiltInSym::EElSymmetricCryptoError, SBufferTooSmall);
    EXPECT_EQ(provider.ContextCount(), 0u);
    // Room for the message but not for its padding block: refused, not reported as written.
    Bytes exact(32);
    size = exact.size();
    KW_EXPECT_RAISES(provider.Encrypt(SB_ALG_AES128, SB_SYMENC_MODE_CBC, key, data.data(), data.size(), exact.data(), size),
                     SBCryptoProvBuiltInSym::EElSymmetricCryptoError, SBufferTooSmall);
    EXPECT_EQ(provider.ContextCount(), 0u);
    // A decryption whose last block carries no valid padding fails at the end.
    Bytes out(64);
    size = out.size();
    KW_EXPECT_RAISES(provider.Decrypt(SB_ALG_AES128, SB_SYMENC_MODE_ECB, key, data.data(), 32, out.data(), size),
                     SBCryptoProvBuiltInSym::EElSymmetricCryptoError, SInvalidPadding);
    EXPECT_EQ(provider.ContextCount(), 0u);
    provider.ReleaseKey(key);
    EXPECT_TRUE(events.Balanced());
}

// A provider that verifies "signatures" by comparing the data it was handed with the
// signature, reading a null output as a size request the way the built-in provider does.
class WatchingProvider final : public provtest::ForeignProvider {
public:
    TElCustomCryptoContext* VerifyInit(int32_t, TElCustomCryptoKey*, const void* signature, size_t size,
                                       const TElRelativeDistinguishedName*, const TSBProgressFunc&, void*) override {
        expected.assign(static_cast<const char*>(signature), size);
        context = std::make_unique<provtest::PlainContext>(this, 7);
        return context.get();
    }
    TElCustomCryptoContext* VerifyInitByOID(std::string_view, std::string_view, TElCustomCryptoKey* key,
                                            const void* signature, size_t size,
                                            const TElRelativeDistinguishedName* params, const TSBProgressFunc& f,
                                            void* d) override {
        return VerifyInit(0, key, signature, size, params, f, d);
    }
    void VerifyUpdate(TElCustomCryptoContext*, const void* input, size_t inputSize, void* output, size_t& size,
                      const TElRelativeDistinguishedName*, const TSBProgressFunc&, void*) override {
        if (output == nullptr) {
            size = 1;
            return;
        }
        received.append(static_cast<const char*>(input), inputSize);
        size = 0;
    }
    int32_t VerifyFinal(TElCustomCryptoContext*, void* output, size_t& size, const TElRelativeDistinguishedName*,
                        const TSBProgressFunc&, void*) override {
        size = 0;
        if (output == nullptr) return SB_VR_SIZE_ONLY;
        return received == expected ? SB_VR_SUCCESS : SB_VR_INVALID_SIGNATURE;
    }
    void ReleaseCryptoContext(TElCustomCryptoContext*& c) override {
        if (c == context.get()) {
            context.reset();
            c = nullptr;
            ++released;
        }
    }

    std::string expected, received;
    std::unique_ptr<provtest::PlainContext> context;
    int released = 0;
};

TEST(CryptoProv, DetachedVerificationHandsItsDataToTheProvider) {
    WatchingProvider p;
    EXPECT_EQ(p.VerifyDetached(0x7401, nullptr, "payload", 7, "payload", 7), SB_VR_SUCCESS);
    EXPECT_EQ(p.received, "payload");
    EXPECT_EQ(p.released, 1);
    p.received.clear();
    EXPECT_EQ(p.VerifyDetachedByOID("x", "", nullptr, "payload", 7, "other", 5), SB_VR_INVALID_SIGNATURE);
    EXPECT_EQ(p.released, 2);
    // Verify with message recovery and no output only asks for the size.
    size_t size = 0;
    EXPECT_EQ(p.Verify(0x7401, nullptr, "abc", 3, nullptr, size), SB_VR_SIZE_ONLY);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(p.released, 3);
}

}  // namespace
