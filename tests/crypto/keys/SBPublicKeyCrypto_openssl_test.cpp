// RSA and DSA through the facade, as the certificate and TLS code call it: Wycheproof's
// PKCS#1 v1.5 and PSS signature files and its DSA file, CAVP DSA SigVer with the digest given,
// and signatures, ciphertexts and a wrapped AES key exchanged with OpenSSL both ways.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <set>

#include "crypto/DsaTestSupport.h"
#include "crypto/FacadeTestSupport.h"
#include "crypto/OpenSSLPkey.h"
#include "crypto/PublicKeyTestSupport.h"
#include "crypto/WycheproofFile.h"
#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBConstants.h"
#include "crypto/facade/SBSymmetricCrypto.h"
#include "crypto/keys/SBPublicKeyCrypto.h"
#include "crypto/pk/SBDSA.h"
#include "crypto/prov/SBCryptoProvUtils.h"
#include "support/TestSupport.h"

namespace {

using pktest::B;
using pktest::Bytes;
using pktest::Str;

// Wycheproof counts a signature as rejected whether the verdict is "invalid" or the signature
// is refused with an error (a block that holds no DigestInfo).
int32_t VerdictOf(TElPublicKeyCrypto& crypto, const Bytes& msg, const Bytes& sig) {
    try {
        return facadetest::Verify(crypto, msg, sig);
    } catch (const ECryptoLibraryError&) {
        return -1;
    }
}

template <class Setup>
void RunWycheproof(const std::string& name, Setup setup) {
    const kwtest::WycheproofFile file(kwtest::WycheproofFile::PathOf(name));
    size_t ran = 0, valid = 0;
    for (const kwtest::WycheproofTest& t : file.Tests()) {
        TElRSAKeyMaterial key;
        const std::string der = Str(kwtest::Hex((*t.group)["publicKeyDer"].Str()));
        key.LoadPublic(der.data(), der.size());
        std::unique_ptr<TElRSAPublicKeyCrypto> rsa = setup();
        rsa->SetKeyMaterial(&key);
        const int32_t verdict = VerdictOf(*rsa, t.Bytes("msg"), t.Bytes("sig"));
        if (t.Valid()) {
            EXPECT_EQ(verdict, 0) << name << " " << t.Describe();
            ++valid;
        } else if (t.Invalid()) {
            EXPECT_NE(verdict, 0) << name << " " << t.Describe();
        }
        ++ran;
    }
    EXPECT_EQ(int64_t(ran), file.AnnouncedCount()) << name;
    EXPECT_GT(valid, 0u) << name;
}

const char* OpenSSLName(int32_t hash) {
    switch (hash) {
        case SB_ALG_MD5: return "MD5";
        case SB_ALG_SHA1: return "SHA1";
        case SB_ALG_SHA224: return "SHA224";
        case SB_ALG_SHA256: return "SHA256";
        case SB_ALG_SHA384: return "SHA384";
        default: return "SHA512";
    }
}

}  // namespace

TEST(RSAFacadeVectors, WycheproofPKCS1Signatures) {
    RunWycheproof("rsa_signature_2048_sha256_test.json",
                  [] { return TElRSAPublicKeyCrypto::CreateByOID(SB_OID_SHA256_RSA); });
}

TEST(RSAFacadeVectors, WycheproofPSSSignatures) {
    RunWycheproof("rsa_pss_2048_sha256_mgf1_32_test.json", [] {
        auto pss = TElRSAPublicKeyCrypto::CreateByOID(SB_OID_RSASSA_PSS);
        pss->SetHashAlgorithm(SB_ALG_SHA256);
        pss->PSSSaltSize = 32;
        return pss;
    });
}

TEST(RSAFacadeOpenSSL, PKCS1SignaturesBothWays) {
    TElRSAKeyMaterial key;
    facadetest::LoadOpenSSLKey(key, kwtest::SharedOpenSSLRsa(2048));
    const Bytes data = B("signed through the facade");
    const std::pair<int32_t, std::string_view> algorithms[] = {
        {SB_ALG_MD5, SB_OID_MD5_RSA},       {SB_ALG_SHA1, SB_OID_SHA1_RSA},     {SB_ALG_SHA224, SB_OID_SHA224_RSA},
        {SB_ALG_SHA256, SB_OID_SHA256_RSA}, {SB_ALG_SHA384, SB_OID_SHA384_RSA}, {SB_ALG_SHA512, SB_OID_SHA512_RSA}};
    for (const auto& [hash, oid] : algorithms) {
        SCOPED_TRACE(OpenSSLName(hash));
        auto rsa = TElRSAPublicKeyCrypto::CreateByOID(oid);
        rsa->SetKeyMaterial(&key);
        const Bytes digest = pktest::Digest(hash, data);
        const Bytes ours = facadetest::Sign(*rsa, data);
        // PKCS#1 v1.5 is deterministic: the same bytes as OpenSSL's.
        EXPECT_EQ(ours, kwtest::OpenSSLSignDigest(kwtest::SharedOpenSSLRsa(2048), digest, {RSA_PKCS1_PADDING, OpenSSLName(hash)}));
        EXPECT_TRUE(kwtest::OpenSSLVerifyDigest(kwtest::SharedOpenSSLRsa(2048), digest, ours, {RSA_PKCS1_PADDING, OpenSSLName(hash)}));
        EXPECT_EQ(facadetest::Verify(*rsa, data, ours), 0);
        EXPECT_EQ(facadetest::Verify(*rsa, B("other data"), ours), 1);
        // The digest handed in, as the TLS code does.
        rsa->SetInputIsHash(true);
        EXPECT_EQ(facadetest::Verify(*rsa, digest, ours), 0);
        EXPECT_EQ(facadetest::Sign(*rsa, digest), ours);
    }
}

TEST(RSAFacadeOpenSSL, PSSBothWays) {
    TElRSAKeyMaterial key;
    facadetest::LoadOpenSSLKey(key, kwtest::SharedOpenSSLRsa(2048));
    const Bytes data = B("probabilistic");
    for (int32_t hash : {SB_ALG_SHA1, SB_ALG_SHA256, SB_ALG_SHA512}) {
        SCOPED_TRACE(OpenSSLName(hash));
        const int salt = int(pktest::Digest(hash, {}).size());
        auto pss = TElRSAPublicKeyCrypto::CreateByOID(SB_OID_RSASSA_PSS);
        pss->SetKeyMaterial(&key);
        pss->SetHashAlgorithm(hash);
        pss->PSSSaltSize = salt;
        const Bytes digest = pktest::Digest(hash, data);
        const Bytes ours = facadetest::Sign(*pss, data);
        EXPECT_TRUE(kwtest::OpenSSLVerifyDigest(kwtest::SharedOpenSSLRsa(2048), digest, ours,
                                                {RSA_PKCS1_PSS_PADDING, OpenSSLName(hash), salt}));
        const Bytes theirs =
            kwtest::OpenSSLSignDigest(kwtest::SharedOpenSSLRsa(2048), digest, {RSA_PKCS1_PSS_PADDING, OpenSSLName(hash), salt});
        EXPECT_EQ(facadetest::Verify(*pss, data, theirs), 0);
        Bytes bent = theirs;
        bent[100] ^= 1;
        EXPECT_EQ(facadetest::Verify(*pss, data, bent), 1);
        pss->SetInputIsHash(true);
        EXPECT_EQ(facadetest::Verify(*pss, digest, theirs), 0);
    }
}

TEST(RSAFacadeOpenSSL, SSLHashSignatures) {
    // The TLS 1.0 form: the 36 bytes of MD5 and SHA-1 under type-1 padding, no DigestInfo.
    TElRSAKeyMaterial key;
    facadetest::LoadOpenSSLKey(key, kwtest::SharedOpenSSLRsa(2048));
    TElRSAPublicKeyCrypto rsa;
    rsa.SetKeyMaterial(&key);
    rsa.SetScheme(3);
    rsa.SetInputIsHash(true);
    const Bytes hashes = pktest::Cat(pktest::Digest(SB_ALG_MD5, B("hello")), pktest::Digest(SB_ALG_SHA1, B("hello")));
    const Bytes ours = facadetest::Sign(rsa, hashes);
    const Bytes theirs = kwtest::OpenSSLSignDigest(kwtest::SharedOpenSSLRsa(2048), hashes, {RSA_PKCS1_PADDING});
    EXPECT_EQ(ours, theirs);
    EXPECT_EQ(facadetest::Verify(rsa, hashes, theirs), 0);
    Bytes other = hashes;
    other[35] ^= 1;
    EXPECT_EQ(facadetest::Verify(rsa, other, theirs), 1);
    // The same 36 bytes inside a DigestInfo-signed block are not an ssl-hash signature.
    auto sha1 = TElRSAPublicKeyCrypto::CreateByOID(SB_OID_SHA1_RSA);
    sha1->SetKeyMaterial(&key);
    EXPECT_NE(facadetest::Verify(rsa, hashes, facadetest::Sign(*sha1, B("hello"))), 0);
}

TEST(RSAFacadeOpenSSL, EncryptionBothWays) {
    TElRSAKeyMaterial key;
    facadetest::LoadOpenSSLKey(key, kwtest::SharedOpenSSLRsa(2048));
    const Bytes secret = B("48 bytes of a premaster secret, more or less..!");
    // PKCS#1 v1.5.
    TElRSAPublicKeyCrypto rsa;
    rsa.SetKeyMaterial(&key);
    EXPECT_EQ(kwtest::OpenSSLDecrypt(kwtest::SharedOpenSSLRsa(2048), facadetest::Encrypt(rsa, secret), {RSA_PKCS1_PADDING}), secret);
    EXPECT_EQ(facadetest::Decrypt(rsa, kwtest::OpenSSLEncrypt(kwtest::SharedOpenSSLRsa(2048), secret, {RSA_PKCS1_PADDING})), secret);
    // OAEP with the defaults (SHA-1, no label), then with SHA-256 and a label set on the key.
    auto oaep = TElRSAPublicKeyCrypto::CreateByOID(SB_OID_RSAES_OAEP);
    oaep->SetKeyMaterial(&key);
    const kwtest::RsaOptions sha1{RSA_PKCS1_OAEP_PADDING, "SHA1"};
    EXPECT_EQ(kwtest::OpenSSLDecrypt(kwtest::SharedOpenSSLRsa(2048), facadetest::Encrypt(*oaep, secret), sha1), secret);
    EXPECT_EQ(facadetest::Decrypt(*oaep, kwtest::OpenSSLEncrypt(kwtest::SharedOpenSSLRsa(2048), secret, sha1)), secret);
    key.SetHashAlgorithm(SB_ALG_SHA256);
    key.SetStrLabel("a label");
    const kwtest::RsaOptions sha256{RSA_PKCS1_OAEP_PADDING, "SHA256", 0, B("a label")};
    EXPECT_EQ(kwtest::OpenSSLDecrypt(kwtest::SharedOpenSSLRsa(2048), facadetest::Encrypt(*oaep, secret), sha256), secret);
    EXPECT_EQ(facadetest::Decrypt(*oaep, kwtest::OpenSSLEncrypt(kwtest::SharedOpenSSLRsa(2048), secret, sha256)), secret);
    // A public-only material encrypts; OpenSSL opens it.
    const std::string pubDer = kwtest::OpenSSLPublicDer(kwtest::SharedOpenSSLRsa(2048));
    TElRSAKeyMaterial pub;
    pub.LoadPublic(pubDer.data(), pubDer.size());
    TElRSAPublicKeyCrypto enc;
    enc.SetKeyMaterial(&pub);
    EXPECT_EQ(kwtest::OpenSSLDecrypt(kwtest::SharedOpenSSLRsa(2048), facadetest::Encrypt(enc, secret), {RSA_PKCS1_PADDING}), secret);
}

TEST(RSAFacadeOpenSSL, DecryptKeyOpensOpenSSLsWrappedAESKey) {
    TElRSAKeyMaterial key;
    facadetest::LoadOpenSSLKey(key, kwtest::SharedOpenSSLRsa(2048));
    const Bytes aesKey = pktest::Digest(SB_ALG_MD5, B("a 128-bit key"));
    const Bytes iv = pktest::Digest(SB_ALG_MD5, B("an IV"));
    const Bytes wrapped = kwtest::OpenSSLEncrypt(kwtest::SharedOpenSSLRsa(2048), aesKey, {RSA_PKCS1_PADDING});
    // OpenSSL's AES-128-CBC ciphertext of a message under that key.
    const Bytes message = B("the message OpenSSL encrypted under the wrapped key");
    Bytes ciphertext(message.size() + 16);
    int n1 = 0, n2 = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ASSERT_EQ(EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, aesKey.data(), iv.data()), 1);
    ASSERT_EQ(EVP_EncryptUpdate(ctx, ciphertext.data(), &n1, message.data(), int(message.size())), 1);
    ASSERT_EQ(EVP_EncryptFinal_ex(ctx, ciphertext.data() + n1, &n2), 1);
    EVP_CIPHER_CTX_free(ctx);
    ciphertext.resize(size_t(n1 + n2));

    TElRSAPublicKeyCrypto rsa;
    rsa.SetKeyMaterial(&key);
    std::unique_ptr<TElSymmetricKeyMaterial> material =
        rsa.DecryptKey(wrapped.data(), wrapped.size(), SB_OID_AES128_CBC, "");
    ASSERT_NE(material, nullptr);
    EXPECT_EQ(material->GetBits(), 128);
    material->SetIV(iv);
    std::unique_ptr<TElSymmetricCrypto> aes = TElSymmetricCryptoFactory().CreateInstance(SB_ALG_AES128, 0);
    ASSERT_NE(aes, nullptr);
    aes->SetKeyMaterial(material.get());
    size_t size = 0;
    aes->Decrypt(ciphertext.data(), ciphertext.size(), nullptr, size);
    Bytes plain(size);
    aes->Decrypt(ciphertext.data(), ciphertext.size(), plain.data(), size);
    plain.resize(size);
    EXPECT_EQ(plain, message);
    // A wrapped key that does not open is the provider's error.
    Bytes bent = wrapped;
    bent[7] ^= 0x40;
    EXPECT_THROW(rsa.DecryptKey(bent.data(), bent.size(), SB_OID_AES128_CBC, ""), ECryptoLibraryError);
}

// ---------------------------------------------------------------------------------------------
// DSA

namespace {

// A DSA material holding the public key.
void ImportPublic(TElDSAKeyMaterial& key, const Bytes& p, const Bytes& q, const Bytes& g, const Bytes& y) {
    key.ImportPublicKey(p.data(), p.size(), q.data(), q.size(), g.data(), g.size(), y.data(), y.size());
}

// The six-INTEGER private-key blob of a CAVP record, which OpenSSL reads too.
std::string PrivateBlob(const dsatest::Record& rec) {
    const dsatest::Domain& d = *rec.domain;
    const Bytes y = rec.At("Y"), x = rec.At("X");
    int32_t size = 0;
    EncodeDSAPrivateKey(d.p.data(), int32_t(d.p.size()), d.q.data(), int32_t(d.q.size()), d.g.data(),
                        int32_t(d.g.size()), y.data(), int32_t(y.size()), x.data(), int32_t(x.size()), nullptr, size);
    std::string blob(size_t(size), '\0');
    EXPECT_TRUE(EncodeDSAPrivateKey(d.p.data(), int32_t(d.p.size()), d.q.data(), int32_t(d.q.size()), d.g.data(),
                                    int32_t(d.g.size()), y.data(), int32_t(y.size()), x.data(), int32_t(x.size()),
                                    blob.data(), size));
    blob.resize(size_t(size));
    return blob;
}

}  // namespace

TEST(DSAFacadeVectors, Wycheproof) {
    const kwtest::WycheproofFile file(kwtest::WycheproofFile::PathOf("dsa_2048_256_sha256_test.json"));
    size_t ran = 0;
    for (const kwtest::WycheproofTest& t : file.Tests()) {
        const kwtest::Json& pk = (*t.group)["publicKey"];
        TElDSAKeyMaterial key;
        ImportPublic(key, kwtest::Hex(pk["p"].Str()), kwtest::Hex(pk["q"].Str()), kwtest::Hex(pk["g"].Str()),
                     kwtest::Hex(pk["y"].Str()));
        TElDSAPublicKeyCrypto dsa;
        dsa.SetKeyMaterial(&key);  // a 256-bit q: the key's digest is SHA-256
        const int32_t verdict = VerdictOf(dsa, t.Bytes("msg"), t.Bytes("sig"));
        if (t.Valid()) {
            EXPECT_EQ(verdict, 0) << t.Describe();
        } else if (t.Invalid()) {
            EXPECT_NE(verdict, 0) << t.Describe();
        }
        ++ran;
    }
    EXPECT_EQ(int64_t(ran), file.AnnouncedCount());
}

TEST(DSAFacadeVectors, CavpSigVerWithTheDigestGiven) {
    const dsatest::CavpDsaFile file(dsatest::DsaVectorsPath("FIPS_186-3/SigVer.rsp"));
    size_t ran = 0, valid = 0;
    for (const dsatest::Record& rec : file.records) {
        const dsatest::Domain& d = *rec.domain;
        TElDSAKeyMaterial key;
        ImportPublic(key, d.p, d.q, d.g, rec.At("Y"));
        TElDSAPublicKeyCrypto dsa;
        dsa.SetKeyMaterial(&key);
        dsa.SetInputIsHash(true);
        // The signature as the certificate code hands it over: DER SEQUENCE { r, s }.
        const Bytes r = rec.At("R"), s = rec.At("S");
        size_t size = 0;
        DSAEncodeSignature(r.data(), r.size(), s.data(), s.size(), nullptr, size);
        Bytes sig(size);
        ASSERT_TRUE(DSAEncodeSignature(r.data(), r.size(), s.data(), s.size(), sig.data(), size));
        sig.resize(size);
        const bool expected = rec.fields.at("Result")[0] == 'P';
        EXPECT_EQ(VerdictOf(dsa, pktest::Digest(d.hash, rec.At("Msg")), sig) == 0, expected)
            << "L=" << d.L << " N=" << d.N << " record " << ran;
        valid += expected;
        ++ran;
    }
    EXPECT_EQ(ran, 300u);
    EXPECT_EQ(valid, 140u);
}

TEST(DSAFacadeOpenSSL, SignaturesBothWays) {
    // Keys of the CAVP file (one per size), read by both sides from the same private blob.
    const dsatest::CavpDsaFile file(dsatest::DsaVectorsPath("FIPS_186-3/SigVer.rsp"));
    std::set<std::pair<int, int>> seen;
    for (const dsatest::Record& rec : file.records) {
        const dsatest::Domain& d = *rec.domain;
        // A passing record: its Y belongs to its X (failing ones may have Y bent).
        if (rec.fields.at("Result")[0] != 'P' || !seen.insert({d.L, d.N}).second) continue;
        SCOPED_TRACE("L=" + std::to_string(d.L) + " N=" + std::to_string(d.N));
        const std::string blob = PrivateBlob(rec);
        TElDSAKeyMaterial key;
        key.LoadSecret(blob.data(), blob.size());
        ASSERT_TRUE(key.GetSecretKey());
        const kwtest::Pkey theirs = kwtest::OpenSSLReadPrivateDer(EVP_PKEY_DSA, blob);
        ASSERT_TRUE(theirs);
        TElDSAPublicKeyCrypto dsa;
        dsa.SetKeyMaterial(&key);
        // The digest is the key's: chosen from the length of q unless the key names one.
        const int32_t hash = d.N == 160 ? SB_ALG_SHA1 : d.N == 224 ? SB_ALG_SHA224 : SB_ALG_SHA256;
        EXPECT_EQ(key.GetKey()->GetKeyProp(SB_KEYPROP_HASH_ALGORITHM), GetOIDByHashAlgorithm(hash));
        const Bytes data = B("exchanged with openssl");
        const Bytes digest = pktest::Digest(hash, data);
        // Size question: 2 * (N / 8) + 16.
        size_t size = 0;
        dsa.SignDetached(data.data(), data.size(), nullptr, size);
        EXPECT_EQ(size, size_t(2 * (d.N / 8) + 16));
        const Bytes ours = facadetest::Sign(dsa, data);
        EXPECT_TRUE(kwtest::OpenSSLVerifyDigest(theirs.get(), digest, ours, {RSA_PKCS1_PADDING, OpenSSLName(hash)}, false));
        const Bytes sig = kwtest::OpenSSLSignDigest(theirs.get(), digest, {RSA_PKCS1_PADDING, OpenSSLName(hash)}, false);
        ASSERT_FALSE(sig.empty());
        EXPECT_EQ(facadetest::Verify(dsa, data, sig), 0);
        EXPECT_EQ(facadetest::Verify(dsa, B("other"), sig), 1);
        dsa.SetInputIsHash(true);
        EXPECT_EQ(facadetest::Verify(dsa, digest, sig), 0);
        // A key that names SHA-512 signs SHA-512 digests.
        dsa.SetInputIsHash(false);
        key.GetKey()->SetKeyProp(SB_KEYPROP_HASH_ALGORITHM, GetOIDByHashAlgorithm(SB_ALG_SHA512));
        EXPECT_TRUE(kwtest::OpenSSLVerifyDigest(theirs.get(), pktest::Digest(SB_ALG_SHA512, data),
                                                facadetest::Sign(dsa, data), {RSA_PKCS1_PADDING, "SHA512"}, false));
    }
    EXPECT_EQ(seen.size(), 4u);
}
