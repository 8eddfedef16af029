// The built-in public-key keys: their property tables, imports of keys OpenSSL made, exports
// read back by OpenSSL, the export size protocol, clones, generation, and the background
// preparation of DSA and Elgamal keys (one token per signature, a fresh one after each use).
#include "crypto/builtin/SBCryptoProvBuiltInPKI.h"

#include <gtest/gtest.h>

#include "crypto/OpenSSLPkey.h"
#include "crypto/PublicKeyTestSupport.h"
#include "crypto/pk/SBDSA.h"
#include "crypto/pk/SBRSA.h"
#include "crypto/prov/SBCryptoProvRS.h"
#include "crypto/prov/SBCryptoProvUtils.h"
#include "support/TestSupport.h"

namespace {

using pktest::B;
using pktest::Bytes;
using pktest::Str;

Bytes ExportOf(const TElCustomCryptoKey& key, bool secret) {
    size_t size = 0;
    secret ? key.ExportSecret(nullptr, size) : key.ExportPublic(nullptr, size);
    Bytes out(size);
    if (size > 0) secret ? key.ExportSecret(out.data(), size) : key.ExportPublic(out.data(), size);
    out.resize(size);
    return out;
}

Bytes Prop(const TElCustomCryptoKey& key, std::string_view id) {
    return B(key.GetKeyProp(id));
}

const kwtest::Pkey& OpenSSLRsa() {
    static const kwtest::Pkey key = kwtest::OpenSSLGenerateRsa(1028);
    return key;
}

class PKIKeys : public ::testing::Test {
protected:
    TElBuiltInCryptoProvider provider;
};

}  // namespace

TEST_F(PKIKeys, RSAPropertiesOfAFreshKey) {
    TElBuiltInRSACryptoKey key(&provider);
    EXPECT_EQ(key.GetAlgorithm(), SB_ALG_PK_RSA);
    EXPECT_FALSE(key.GetIsPublic());
    EXPECT_FALSE(key.GetIsSecret());
    EXPECT_TRUE(key.GetIsValid());
    EXPECT_EQ(key.GetKeyProp(SB_KEYPROP_KEYFORMAT), "pkcs#1");
    EXPECT_EQ(Prop(key, SB_KEYPROP_SALT_SIZE), (Bytes{0, 0, 0, 0x14}));
    EXPECT_EQ(Prop(key, SB_KEYPROP_TRAILER_FIELD), (Bytes{0, 0, 0, 1}));
    EXPECT_EQ(key.GetKeyProp(SB_KEYPROP_HASH_ALGORITHM), SB_OID_SHA1);
    EXPECT_EQ(key.GetKeyProp(SB_KEYPROP_MGF_ALGORITHM), SB_OID_MGF1);
    EXPECT_EQ(key.GetKeyProp("unknown" SB_PSEUDO_OID_SUFFIX, "default"), "default");
    key.SetKeyProp(SB_KEYPROP_KEYFORMAT, "pss");
    EXPECT_EQ(key.GetKeyProp(SB_KEYPROP_KEYFORMAT), "pss");
    key.SetKeyProp(SB_KEYPROP_KEYFORMAT, "PSS");
    EXPECT_EQ(key.GetKeyProp(SB_KEYPROP_KEYFORMAT), "pkcs#1");
    key.SetKeyProp(SB_KEYPROP_HASH_ALGORITHM, SB_OID_SHA256);
    EXPECT_EQ(key.GetKeyProp(SB_KEYPROP_HASH_ALGORITHM), SB_OID_SHA256);
    key.SetKeyProp(SB_KEYPROP_SALT_SIZE, IntegerToPropertyValue(32));
    EXPECT_EQ(Prop(key, SB_KEYPROP_SALT_SIZE), (Bytes{0, 0, 0, 32}));
    key.SetKeyProp(SB_KEYPROP_STRLABEL, "label");
    EXPECT_EQ(key.GetKeyProp(SB_KEYPROP_STRLABEL), "label");
    EXPECT_THROW(key.ChangeAlgorithm(SB_ALG_PK_DSA), EElCryptoProviderError);
    EXPECT_EQ(kwtest::ThrownMessage([&] { key.PrepareForSigning(); }), SUnsupportedOperation);
    // Reset restores the defaults.
    key.Reset();
    EXPECT_EQ(key.GetKeyProp(SB_KEYPROP_HASH_ALGORITHM), SB_OID_SHA1);
    EXPECT_EQ(Prop(key, SB_KEYPROP_SALT_SIZE), (Bytes{0, 0, 0, 0x14}));
}

TEST_F(PKIKeys, RSAImportsOpenSSLKeysAndExportsWhatOpenSSLReads) {
    EVP_PKEY* peer = OpenSSLRsa().get();
    const std::string der = kwtest::OpenSSLPrivateDer(peer);
    TElBuiltInRSACryptoKey key(&provider);
    key.ImportSecret(der.data(), der.size());
    EXPECT_TRUE(key.GetIsPublic());
    EXPECT_TRUE(key.GetIsSecret());
    EXPECT_TRUE(key.GetIsValid());
    EXPECT_EQ(key.GetBits(), 8 * 129);
    EXPECT_EQ(Prop(key, SB_KEYPROP_RSA_M), kwtest::OpenSSLNumber(peer, OSSL_PKEY_PARAM_RSA_N));
    EXPECT_EQ(Prop(key, SB_KEYPROP_RSA_E), kwtest::OpenSSLNumber(peer, OSSL_PKEY_PARAM_RSA_E));
    EXPECT_EQ(Prop(key, SB_KEYPROP_RSA_D), kwtest::OpenSSLNumber(peer, OSSL_PKEY_PARAM_RSA_D));
    EXPECT_EQ(Str(ExportOf(key, true)), der);

    // The public key as a SubjectPublicKeyInfo (OpenSSL reads it) or, with rsa-raw-key, bare.
    const Bytes spki = ExportOf(key, false);
    const kwtest::Pkey pub = kwtest::OpenSSLReadPublicDer(Str(spki));
    ASSERT_TRUE(pub);
    EXPECT_EQ(kwtest::OpenSSLNumber(pub.get(), OSSL_PKEY_PARAM_RSA_N), Prop(key, SB_KEYPROP_RSA_M));
    key.SetKeyProp(SB_KEYPROP_RSA_RAWKEY, BooleanToPropertyValue(true));
    const Bytes raw = ExportOf(key, false);
    EXPECT_LT(raw.size(), spki.size());
    EXPECT_EQ(raw[0], 0x30);
    EXPECT_NE(Str(spki).find(Str(raw)), std::string::npos);  // the SPKI wraps the bare form

    // Both forms import; the other form is refused.
    TElBuiltInRSACryptoKey fromSpki(&provider), fromRaw(&provider);
    fromSpki.ImportPublic(spki.data(), spki.size());
    EXPECT_TRUE(fromSpki.GetIsPublic());
    EXPECT_FALSE(fromSpki.GetIsSecret());
    EXPECT_EQ(Prop(fromSpki, SB_KEYPROP_RSA_M), Prop(key, SB_KEYPROP_RSA_M));
    fromRaw.SetKeyProp(SB_KEYPROP_RSA_RAWKEY, BooleanToPropertyValue(true));
    fromRaw.ImportPublic(raw.data(), raw.size());
    EXPECT_EQ(Prop(fromRaw, SB_KEYPROP_RSA_E), Prop(key, SB_KEYPROP_RSA_E));
    EXPECT_EQ(kwtest::ThrownMessage([&] { fromRaw.ImportPublic(spki.data(), spki.size()); }), SInvalidPublicKey);
    EXPECT_FALSE(fromRaw.GetIsPublic());  // a failed import leaves the key reset
    EXPECT_THROW(fromRaw.ImportSecret(spki.data(), spki.size()), EElCryptoKeyError);
    EXPECT_EQ(kwtest::ThrownMessage([&] { fromRaw.ImportSecret("", 0); }), SInvalidSecretKey);
}

TEST_F(PKIKeys, ExportSizeProtocol) {
    TElBuiltInRSACryptoKey key(&provider);
    const std::string der = kwtest::OpenSSLPrivateDer(OpenSSLRsa().get());
    key.ImportSecret(der.data(), der.size());
    size_t size = 0;
    key.ExportSecret(nullptr, size);
    EXPECT_EQ(size, der.size());
    Bytes out(der.size());
    size = der.size() - 1;
    EXPECT_THROW(key.ExportSecret(out.data(), size), EElCryptoKeyError);
    size = 0;
    key.ExportSecret(out.data(), size);  // a size of 0 is a question, whatever the buffer
    EXPECT_EQ(size, der.size());
    EXPECT_EQ(out, Bytes(der.size(), 0));
    size = der.size() + 10;
    key.ExportSecret(out.data(), size);
    EXPECT_EQ(size, der.size());

    // DSA's public key: y = 01 02 gives 02 02 01 02; 4 bytes fit, 3 raise the provider's error.
    TElBuiltInDSACryptoKey dsa(&provider);
    dsa.SetKeyProp(SB_KEYPROP_DSA_Y, std::string("\x01\x02", 2));
    Bytes y(4);
    size = 4;
    dsa.ExportPublic(y.data(), size);
    EXPECT_EQ(y, (Bytes{0x02, 0x02, 0x01, 0x02}));
    size = 3;
    EXPECT_THROW(dsa.ExportPublic(y.data(), size), EElBuiltInCryptoProviderError);
    // A y with its top bit set is still a positive INTEGER.
    dsa.SetKeyProp(SB_KEYPROP_DSA_Y, "\x81");
    EXPECT_EQ(ExportOf(dsa, false), (Bytes{0x02, 0x02, 0x00, 0x81}));
    // Elgamal exports nothing and leaves the size alone.
    TElBuiltInElgamalCryptoKey elg(&provider);
    size = 77;
    elg.ExportSecret(y.data(), size);
    EXPECT_EQ(size, 77u);
}

TEST_F(PKIKeys, RSAClonesAndProperties) {
    TElBuiltInRSACryptoKey key(&provider);
    const std::string der = kwtest::OpenSSLPrivateDer(OpenSSLRsa().get());
    key.ImportSecret(der.data(), der.size());
    key.SetKeyProp(SB_KEYPROP_STRLABEL, "label");
    const auto clone = key.Clone();
    EXPECT_TRUE(clone->GetIsSecret());
    EXPECT_EQ(clone->GetKeyProp(SB_KEYPROP_RSA_D), key.GetKeyProp(SB_KEYPROP_RSA_D));
    EXPECT_EQ(clone->GetKeyProp(SB_KEYPROP_STRLABEL), "label");
    EXPECT_EQ(ExportOf(*clone, true), B(der));
    const auto pub = key.ClonePublic();
    EXPECT_TRUE(pub->GetIsPublic());
    EXPECT_FALSE(pub->GetIsSecret());
    EXPECT_TRUE(pub->GetKeyProp(SB_KEYPROP_RSA_D).empty());
    EXPECT_TRUE(ExportOf(*pub, true).empty());
    EXPECT_EQ(ExportOf(*pub, false), ExportOf(key, false));
    // Numbers set as properties: flags follow, and the old private-key blob goes (it would sign
    // with the numbers it holds, not these).
    TElBuiltInRSACryptoKey set(&provider);
    set.ImportSecret(der.data(), der.size());
    set.SetKeyProp(SB_KEYPROP_RSA_M, std::string("\xC3", 1));
    EXPECT_TRUE(set.GetIsPublic());
    EXPECT_TRUE(ExportOf(set, true).empty());
    set.SetKeyProp(SB_KEYPROP_RSA_E, "");
    EXPECT_FALSE(set.GetIsPublic());
    EXPECT_FALSE(set.GetIsSecret());
    set.SetKeyProp(SB_KEYPROP_RSA_E, "\x03");
    set.SetKeyProp(SB_KEYPROP_RSA_D, "\x07");
    EXPECT_TRUE(set.GetIsSecret());
    EXPECT_FALSE(set.GetIsValid());  // a secret part without a blob cannot be checked
    set.ClearSecret();
    EXPECT_FALSE(set.GetIsSecret());
    EXPECT_TRUE(set.GetKeyProp(SB_KEYPROP_RSA_D).empty());
    // A blob whose values disagree imports but is not valid.
    std::string broken = der;
    broken[broken.size() - 1] ^= 1;  // the last byte of qInv
    TElBuiltInRSACryptoKey bad(&provider);
    bad.ImportSecret(broken.data(), broken.size());
    EXPECT_FALSE(bad.GetIsValid());
}

TEST_F(PKIKeys, RSAGenerate) {
    TElBuiltInRSACryptoKey key(&provider);
    key.Generate(1024);
    EXPECT_TRUE(key.GetIsSecret());
    EXPECT_EQ(key.GetBits(), 1024);
    EXPECT_TRUE(key.GetIsValid());
    EXPECT_EQ(Prop(key, SB_KEYPROP_RSA_E), (Bytes{1, 0, 1}));
    const kwtest::Pkey peer = kwtest::OpenSSLReadPrivateDer(EVP_PKEY_RSA, Str(ExportOf(key, true)));
    ASSERT_TRUE(peer);
    EXPECT_TRUE(kwtest::OpenSSLCheckPrivate(peer.get()));
    EXPECT_THROW(key.Generate(32), EElCryptoProviderError);
}

TEST_F(PKIKeys, DSAKey) {
    TElBuiltInDSACryptoKey key(&provider);
    EXPECT_EQ(key.GetAlgorithm(), SB_ALG_PK_DSA);
    key.Generate(1024);
    EXPECT_TRUE(key.GetIsPublic());
    EXPECT_TRUE(key.GetIsSecret());
    EXPECT_EQ(key.GetBits(), 1024);
    EXPECT_EQ(Prop(key, SB_KEYPROP_DSA_QBITS), (Bytes{0, 0, 0, 160}));
    EXPECT_EQ(key.GetKeyProp(SB_KEYPROP_HASH_ALGORITHM), SB_OID_SHA1);  // a 20-byte q
    EXPECT_EQ(kwtest::ThrownMessage([&] { key.SetKeyProp(SB_KEYPROP_DSA_QBITS, IntegerToPropertyValue(256)); }),
              SCannotModifyReadOnlyProperty);
    key.SetKeyProp(SB_KEYPROP_DSA_STRICT_VALIDATION, BooleanToPropertyValue(true));
    EXPECT_TRUE(key.GetIsValid());
    // The blob reads in OpenSSL and holds the same numbers.
    const Bytes blob = ExportOf(key, true);
    const kwtest::Pkey peer = kwtest::OpenSSLReadPrivateDer(EVP_PKEY_DSA, Str(blob));
    ASSERT_TRUE(peer);
    EXPECT_EQ(kwtest::OpenSSLNumber(peer.get(), OSSL_PKEY_PARAM_PRIV_KEY),
              pktest::StripZeros(Prop(key, SB_KEYPROP_DSA_X)));
    // Import of the same blob, and of the public value as an INTEGER.
    TElBuiltInDSACryptoKey copy(&provider);
    copy.ImportSecret(blob.data(), blob.size());
    EXPECT_EQ(pktest::StripZeros(Prop(copy, SB_KEYPROP_DSA_Y)), pktest::StripZeros(Prop(key, SB_KEYPROP_DSA_Y)));
    EXPECT_EQ(kwtest::ThrownMessage([&] { copy.ImportSecret("\x30\x00", 2); }), SInvalidSecretKey);
    EXPECT_EQ(kwtest::ThrownMessage([&] { copy.ImportPublic("\x04\x01\x05", 3); }), SInvalidPublicKey);
    const Bytes y = ExportOf(key, false);
    TElBuiltInDSACryptoKey pubOnly(&provider);
    pubOnly.ImportPublic(y.data(), y.size());
    EXPECT_FALSE(pubOnly.GetIsPublic());  // no domain yet
    for (auto id : {SB_KEYPROP_DSA_P, SB_KEYPROP_DSA_Q, SB_KEYPROP_DSA_G})
        pubOnly.SetKeyProp(id, key.GetKeyProp(id));
    EXPECT_TRUE(pubOnly.GetIsPublic());
    EXPECT_FALSE(pubOnly.GetIsSecret());
    // The public clone keeps no private value, in the blob either.
    const auto pub = key.ClonePublic();
    EXPECT_FALSE(pub->GetIsSecret());
    EXPECT_TRUE(pub->GetKeyProp(SB_KEYPROP_DSA_X).empty());
    EXPECT_TRUE(ExportOf(*pub, true).empty());
    EXPECT_EQ(ExportOf(*key.Clone(), true), blob);
    // q bits from the parameter list.
    TElRelativeDistinguishedName params;
    params.Add(SB_KEYPROP_DSA_QBITS, IntegerToPropertyValue(224));
    TElBuiltInDSACryptoKey n224(&provider);
    n224.Generate(2048, &params);
    EXPECT_EQ(Prop(n224, SB_KEYPROP_DSA_QBITS), (Bytes{0, 0, 0, 224}));
    EXPECT_EQ(n224.GetKeyProp(SB_KEYPROP_HASH_ALGORITHM), SB_OID_SHA224);
}

TEST_F(PKIKeys, DSAPreparationHandsEachTokenOutOnce) {
    TElBuiltInDSACryptoKey key(&provider);
    key.Generate(1024);
    EXPECT_FALSE(key.GetAsyncOperationFinished());
    EXPECT_EQ(kwtest::ThrownMessage([&] { key.PrepareForEncryption(); }), SUnsupportedOperation);
    key.PrepareForSigning(false);
    EXPECT_EQ(kwtest::ThrownMessage([&] { key.PrepareForSigning(); }), SKeyAlreadyPrepared);
    EXPECT_TRUE(key.GetReleaseAfterUse());
    auto token = key.TakePreparedToken();
    ASSERT_TRUE(token);
    EXPECT_FALSE(key.TakePreparedToken());  // one use: nothing left
    token->WaitFor();
    EXPECT_TRUE(token->GetSuccess());

    // Reusable: every token taken is a fresh one with its own nonce.
    key.PrepareForSigning(true);
    EXPECT_FALSE(key.GetReleaseAfterUse());
    auto first = key.TakePreparedToken();
    auto second = key.TakePreparedToken();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());
    first->WaitFor();
    second->WaitFor();
    EXPECT_FALSE(AreBigNumsEqual(first->GetSlot(8), second->GetSlot(8)));
    // Signing with them through the calculator gives two valid, different signatures.
    const BigNumPtr x = pktest::Num(Prop(key, SB_KEYPROP_DSA_X));
    const Bytes digest = pktest::Digest(SB_ALG_SHA1, B("prepared"));
    for (auto* t : {first.get(), second.get()}) {
        BigNumPtr r = MakeBigNum(), s = MakeBigNum();
        GetPublicKeyAsyncCalculator()->EndDSASigning(t, x.get(), digest.data(), 20, r.get(), s.get());
        const Bytes p = Prop(key, SB_KEYPROP_DSA_P), q = Prop(key, SB_KEYPROP_DSA_Q), g = Prop(key, SB_KEYPROP_DSA_G),
                    y = Prop(key, SB_KEYPROP_DSA_Y), rb = pktest::Trimmed(r.get()), sb = pktest::Trimmed(s.get());
        EXPECT_TRUE(VerifyDSA(digest.data(), 20, p.data(), int32_t(p.size()), q.data(), int32_t(q.size()), g.data(),
                              int32_t(g.size()), y.data(), int32_t(y.size()), rb.data(), int32_t(rb.size()), sb.data(),
                              int32_t(sb.size())));
    }
    key.CancelPreparation();
    EXPECT_FALSE(key.GetAsyncOperationFinished());
    EXPECT_FALSE(key.TakePreparedToken());
}

TEST_F(PKIKeys, ElgamalKey) {
    TElBuiltInElgamalCryptoKey key(&provider);
    EXPECT_EQ(key.GetAlgorithm(), SB_ALG_PK_ELGAMAL);
    key.Generate(768);
    EXPECT_TRUE(key.GetIsSecret());
    EXPECT_EQ(key.GetBits(), 768);
    const auto pub = key.ClonePublic();
    EXPECT_TRUE(pub->GetIsPublic());
    EXPECT_FALSE(pub->GetIsSecret());
    EXPECT_TRUE(pub->GetKeyProp(SB_KEYPROP_ELGAMAL_X).empty());
    EXPECT_EQ(pub->GetKeyProp(SB_KEYPROP_ELGAMAL_Y), key.GetKeyProp(SB_KEYPROP_ELGAMAL_Y));
    key.PrepareForEncryption(false);
    EXPECT_EQ(kwtest::ThrownMessage([&] { key.PrepareForSigning(); }), SKeyAlreadyPrepared);
    auto token = key.TakePreparedToken();
    ASSERT_TRUE(token);
    EXPECT_EQ(token->GetKind(), TElPublicKeyComputationToken::ElgamalEncryption);
    key.PrepareForSigning(false);
    EXPECT_EQ(key.TakePreparedToken()->GetKind(), TElPublicKeyComputationToken::ElgamalSigning);
    // Flags follow the properties.
    TElBuiltInElgamalCryptoKey set(&provider);
    set.SetKeyProp(SB_KEYPROP_ELGAMAL_P, key.GetKeyProp(SB_KEYPROP_ELGAMAL_P));
    set.SetKeyProp(SB_KEYPROP_ELGAMAL_G, key.GetKeyProp(SB_KEYPROP_ELGAMAL_G));
    EXPECT_FALSE(set.GetIsPublic());
    set.SetKeyProp(SB_KEYPROP_ELGAMAL_Y, key.GetKeyProp(SB_KEYPROP_ELGAMAL_Y));
    EXPECT_TRUE(set.GetIsPublic());
    set.SetKeyProp(SB_KEYPROP_ELGAMAL_X, key.GetKeyProp(SB_KEYPROP_ELGAMAL_X));
    EXPECT_TRUE(set.GetIsSecret());
}

TEST_F(PKIKeys, DHKey) {
    TElBuiltInDHCryptoKey key(&provider);
    EXPECT_EQ(key.GetAlgorithm(), SB_ALG_PK_DH);
    // p, g and the peer's value alone make both flags true.
    key.SetKeyProp(SB_KEYPROP_DH_P, "\x17");
    key.SetKeyProp(SB_KEYPROP_DH_G, "\x05");
    EXPECT_FALSE(key.GetIsPublic());
    key.SetKeyProp(SB_KEYPROP_DH_PEER_Y, "\x08");
    EXPECT_TRUE(key.GetIsPublic());
    EXPECT_TRUE(key.GetIsSecret());
    key.Generate(512);
    EXPECT_TRUE(key.GetIsSecret());
    EXPECT_EQ(key.GetBits(), 512);
    EXPECT_TRUE(key.GetKeyProp(SB_KEYPROP_DH_PEER_Y).empty());
    const BigNumPtr p = pktest::Num(Prop(key, SB_KEYPROP_DH_P)), g = pktest::Num(Prop(key, SB_KEYPROP_DH_G)),
                    x = pktest::Num(Prop(key, SB_KEYPROP_DH_X)), y = MakeBigNum();
    EXPECT_TRUE(IsBigNumProbablePrime(p.get()));
    EXPECT_EQ(pktest::Trimmed(g.get()), Bytes{2});
    EXPECT_EQ(x->Limbs[0] & 0xFF, 0u);
    ExponentiateBigNumMontgomery(g.get(), x.get(), p.get(), y.get());
    EXPECT_EQ(pktest::Trimmed(y.get()), pktest::StripZeros(Prop(key, SB_KEYPROP_DH_Y)));
    EXPECT_EQ(ExportOf(key, true), Prop(key, SB_KEYPROP_DH_X));
    const auto pub = key.ClonePublic();
    EXPECT_FALSE(pub->GetIsSecret());
    EXPECT_TRUE(pub->GetKeyProp(SB_KEYPROP_DH_X).empty());
    TElBuiltInDHCryptoKey imported(&provider);
    imported.ImportSecret("\x01\x02", 2);
    EXPECT_TRUE(imported.GetIsSecret());
    EXPECT_EQ(Prop(imported, SB_KEYPROP_DH_X), (Bytes{1, 2}));
}
