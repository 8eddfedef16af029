// PKCS#5: PBKDF2 against RFC 6070 (read in place from python3-cryptography-vectors), every
// scheme both ways against libcrypto's PBE (its parameters and ciphertext read by us, ours by
// it), the parameter readers on hostile and unusual blocks, the iteration ceiling, the size
// protocol, and fresh parameters from CreateForCipher.
#include "crypto/keys/SBPKCS5.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <functional>
#include <memory>
#include <random>

#include "crypto/ASN1TestSupport.h"
#include "crypto/NistVectorFile.h"
#include "crypto/OpenSSLPeer.h"
#include "crypto/base/SBASN1Tree.h"
#include "crypto/base/SBAlgorithmIdentifier.h"
#include "crypto/base/SBConstants.h"
#include "crypto/hash/SBSHA.h"
#include "support/TestSupport.h"

using asn1test::H;
using asn1test::Hex;

namespace {

std::string Str(const rtl::SecureBytes& b) {
    return std::string(b.begin(), b.end());
}

// "pass\0word" in the vector file is a NUL byte.
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == '0') {
            out += '\0';
            ++i;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string Crypt(const TElPKCS5PBE& pbe, bool encrypt, const std::string& data,
                  const std::string& password) {
    size_t size = 0;
    if (encrypt)
        pbe.Encrypt(data.data(), data.size(), password, size, nullptr);
    else
        pbe.Decrypt(data.data(), data.size(), password, size, nullptr);
    std::string out(size, '\0');
    if (encrypt)
        pbe.Encrypt(data.data(), data.size(), password, size, out.data());
    else
        pbe.Decrypt(data.data(), data.size(), password, size, out.data());
    out.resize(size);
    return out;
}

// --- libcrypto's side --------------------------------------------------------------------

using AlgorPtr = std::unique_ptr<X509_ALGOR, decltype(&X509_ALGOR_free)>;

std::string AlgorDer(const X509_ALGOR* a) {
    unsigned char* der = nullptr;
    const int n = i2d_X509_ALGOR(a, &der);
    std::string s(reinterpret_cast<char*>(der), size_t(n));
    OPENSSL_free(der);
    return s;
}

AlgorPtr AlgorFromDer(const std::string& der) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    return AlgorPtr(d2i_X509_ALGOR(nullptr, &p, long(der.size())), &X509_ALGOR_free);
}

// Runs libcrypto's PBE named by the AlgorithmIdentifier over data (padding on).
std::string OpenSSLPBE(const X509_ALGOR* algor, const std::string& password, const std::string& data,
                       bool encrypt) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        &EVP_CIPHER_CTX_free);
    if (EVP_PBE_CipherInit(algor->algorithm, password.data(), int(password.size()), algor->parameter,
                           ctx.get(), encrypt ? 1 : 0) != 1)
        throw std::runtime_error("EVP_PBE_CipherInit failed");
    std::string out(data.size() + 64, '\0');
    int n = 0, tail = 0;
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    if (EVP_CipherUpdate(ctx.get(), o, &n, reinterpret_cast<const unsigned char*>(data.data()),
                         int(data.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), o + n, &tail) != 1)
        throw std::runtime_error("libcrypto PBE run failed");
    out.resize(size_t(n + tail));
    return out;
}

// The OID and parameters of an AlgorithmIdentifier in DER, as our readers see them.
void SplitAlgorithm(const std::string& der, ByteString& oid, ByteString& params) {
    TElASN1ConstrainedTag root;
    ASSERT_TRUE(LoadTagTree(root, der));
    ASSERT_EQ(ReadAlgorithmIdentifier(*root.GetChild(0), oid, params), 0);
}

std::string OurAlgorithmDer(const TElPKCS5PBE& pbe) {
    TElASN1ConstrainedTag t;
    WriteAlgorithmIdentifier(t, pbe.SchemeOID(), pbe.SchemeParams());
    return SaveTagToString(t);
}

}  // namespace

TEST(SBPKCS5, PBKDF2MatchesRFC6070) {
    const auto path = std::filesystem::path("/usr/lib/python3/dist-packages/cryptography_vectors/KDF") /
                      "rfc-6070-PBKDF2-SHA1.txt";
    KW_REQUIRE_PEER(std::filesystem::exists(path), path.string());
    int ran = 0, refused = 0;
    for (const auto& r : kwtest::ReadNistFile(path)) {
        SCOPED_TRACE(r.At("COUNT"));
        const std::string password = Unescape(r.At("PASSWORD"));
        const std::string salt = Unescape(r.At("SALT"));
        const long iterations = std::stol(r.At("ITERATIONS"));
        const size_t length = std::stoul(r.At("LENGTH"));
        if (iterations > long(TElPKCS5PBE::MaxIterationCount)) {
            // 2^24 runs: past the ceiling a file may ask for, so it is refused, not run.
            EXPECT_THROW(TElPKCS5PBE::PBKDF2(SB_ALG_HMAC_SHA1, password, salt, int32_t(iterations), length),
                         EElPKCS5InvalidParameterError);
            ++refused;
            continue;
        }
        const auto dk = TElPKCS5PBE::PBKDF2(SB_ALG_HMAC_SHA1, password, salt, int32_t(iterations), length);
        EXPECT_EQ(kwtest::ToHex(std::vector<uint8_t>(dk.begin(), dk.end())), r.At("DERIVED_KEY"));
        ++ran;
    }
    EXPECT_EQ(ran, 5);
    EXPECT_EQ(refused, 1);
}

TEST(SBPKCS5, KeyDerivationsRefuseWhatTheyCannotDo) {
    EXPECT_THROW(TElPKCS5PBE::PBKDF2(SB_ALG_HMAC_SHA256, "p", "s", 1, 20), EElPKCS5UnsupportedError);
    EXPECT_THROW(TElPKCS5PBE::PBKDF2(SB_ALG_HMAC_SHA1, "p", "s", 0, 20), EElPKCS5InvalidParameterError);
    EXPECT_THROW(TElPKCS5PBE::PBKDF1(SB_ALG_SHA1, "p", "1234567", 1, 16), EElPKCS5InvalidParameterError);
    EXPECT_THROW(TElPKCS5PBE::PBKDF1(SB_ALG_SHA1, "p", "12345678", 0, 16), EElPKCS5InvalidParameterError);
    EXPECT_THROW(TElPKCS5PBE::PBKDF1(SB_ALG_SHA1, "p", "12345678", 1, 21), EElPKCS5InternalError);
    EXPECT_THROW(TElPKCS5PBE::PBKDF1(0x7FF0, "p", "12345678", 1, 16), EElPKCS5UnsupportedError);
    // RFC 8018 5.1 by hand: SHA-1 over password || salt, then twice more over the digest.
    const auto dk = TElPKCS5PBE::PBKDF1(SB_ALG_SHA1, "pw", "saltsalt", 3, 16);
    SHA1Digest d;
    ComputeSHA1("pwsaltsalt", 10, d);
    ComputeSHA1(d.data(), d.size(), d);
    ComputeSHA1(d.data(), d.size(), d);
    EXPECT_EQ(Str(dk), std::string(reinterpret_cast<const char*>(d.data()), 16));
}

// Every scheme OpenSSL knows here (MD2 is not built into it), in both directions: its
// parameters and ciphertext decrypt with us, our fresh parameters and ciphertext with it.
TEST(SBPKCS5, EverySchemeAgreesWithLibcrypto) {
    KW_REQUIRE_PEER(kwtest::OpenSSLLegacyAvailable(), "OpenSSL legacy provider");
    const std::string password = "s3cr\xC3\xA9t pass";
    std::mt19937 rng(5);
    const struct {
        const char* name;
        std::function<X509_ALGOR*(unsigned char* salt)> make;
    } cases[] = {
        {"pbeWithMD5AndDES",
         [](unsigned char* s) { return PKCS5_pbe_set(NID_pbeWithMD5AndDES_CBC, 3, s, 8); }},
        {"pbeWithSHA1AndDES",
         [](unsigned char* s) { return PKCS5_pbe_set(NID_pbeWithSHA1AndDES_CBC, 7, s, 8); }},
        {"pbeWithMD5AndRC2",
         [](unsigned char* s) { return PKCS5_pbe_set(NID_pbeWithMD5AndRC2_CBC, 5, s, 8); }},
        {"pbeWithSHA1AndRC2",
         [](unsigned char* s) { return PKCS5_pbe_set(NID_pbeWithSHA1AndRC2_CBC, 2, s, 8); }},
        {"PBES2 DES",
         [](unsigned char* s) {
             return PKCS5_pbe2_set_iv(EVP_des_cbc(), 9, s, 12, nullptr, NID_hmacWithSHA1);
         }},
        {"PBES2 3DES",
         [](unsigned char* s) {
             return PKCS5_pbe2_set_iv(EVP_des_ede3_cbc(), 4, s, 16, nullptr, NID_hmacWithSHA1);
         }},
        {"PBES2 RC2",
         [](unsigned char* s) {
             return PKCS5_pbe2_set_iv(EVP_rc2_cbc(), 6, s, 8, nullptr, NID_hmacWithSHA1);
         }},
        {"PBES2 RC2-40",
         [](unsigned char* s) {
             return PKCS5_pbe2_set_iv(EVP_rc2_40_cbc(), 6, s, 8, nullptr, NID_hmacWithSHA1);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char salt[16];
        for (auto& b : salt)
            b = uint8_t(rng());
        AlgorPtr algor(c.make(salt), &X509_ALGOR_free);
        ASSERT_TRUE(algor);
        ByteString oid, params;
        SplitAlgorithm(AlgorDer(algor.get()), oid, params);
        ASSERT_TRUE(TElPKCS5PBE::IsAlgorithmSupported(oid));
        const TElPKCS5PBE pbe(oid, params);
        for (size_t len : {0u, 1u, 8u, 37u}) {
            const std::string plain(asn1test::H(std::string(len * 2, 'A')));
            const std::string theirs = OpenSSLPBE(algor.get(), password, plain, true);
            EXPECT_EQ(Crypt(pbe, false, theirs, password), plain) << len;
            EXPECT_EQ(OpenSSLPBE(algor.get(), password, Crypt(pbe, true, plain, password), false), plain)
                << len;
        }
    }
    // Our fresh parameters, read by libcrypto.
    for (const bool pbes2 : {false, true}) {
        for (const int32_t cipher : {SB_ALG_DES, SB_ALG_3DES, SB_ALG_RC2}) {
            if (!pbes2 && cipher == SB_ALG_3DES) continue;
            SCOPED_TRACE(std::to_string(cipher) + (pbes2 ? " PBES2" : " PBES1"));
            const auto pbe = TElPKCS5PBE::CreateForCipher(cipher, pbes2, SB_ALG_SHA1);
            EXPECT_EQ(pbe->SchemeVersion(), pbes2 ? 1 : 0);
            EXPECT_EQ(pbe->CipherAlgorithm(), cipher);
            EXPECT_EQ(pbe->IterationCount(), 2048);
            AlgorPtr algor = AlgorFromDer(OurAlgorithmDer(*pbe));
            ASSERT_TRUE(algor);
            const std::string plain = "a private key's bytes, 40 of them......";
            EXPECT_EQ(OpenSSLPBE(algor.get(), password, Crypt(*pbe, true, plain, password), false), plain);
            // And the parameters read back by ourselves give the same scheme.
            const TElPKCS5PBE again(pbe->SchemeOID(), pbe->SchemeParams());
            EXPECT_EQ(again.SchemeVersion(), pbe->SchemeVersion());
            EXPECT_EQ(again.CipherAlgorithm(), cipher);
            EXPECT_EQ(Crypt(again, false, Crypt(*pbe, true, plain, password), password), plain);
        }
    }
}

TEST(SBPKCS5, CreateForCipherMakesFreshParametersAndRefusesOtherCiphers) {
    const auto a = TElPKCS5PBE::CreateForCipher(SB_ALG_3DES, true, SB_ALG_SHA1);
    const auto b = TElPKCS5PBE::CreateForCipher(SB_ALG_3DES, true, SB_ALG_SHA1);
    EXPECT_NE(a->Salt(), b->Salt());
    EXPECT_NE(a->IV(), b->IV());
    EXPECT_EQ(a->Salt().size(), 8u);
    EXPECT_EQ(a->IV().size(), 8u);
    EXPECT_EQ(a->KeyLength(), 24);
    EXPECT_EQ(a->SchemeOID(), SB_OID_PBES2);
    const auto p1 = TElPKCS5PBE::CreateForCipher(SB_ALG_RC2, false, SB_ALG_MD5);
    EXPECT_EQ(p1->SchemeOID(), SB_OID_PBE_SHA1_RC2) << "PBES1 always takes SHA-1";
    EXPECT_EQ(kwtest::ThrownMessage([] { TElPKCS5PBE::CreateForCipher(SB_ALG_3DES, false, SB_ALG_SHA1); }),
              "Unsupported algorithm: 28675");
    EXPECT_EQ(kwtest::ThrownMessage([] { TElPKCS5PBE::CreateForCipher(SB_ALG_AES128, true, SB_ALG_SHA1); }),
              "Unsupported algorithm: 28677");
}

TEST(SBPKCS5, SizeProtocolComputesNothing) {
    const auto pbe = TElPKCS5PBE::CreateForCipher(SB_ALG_DES, true, SB_ALG_SHA1);
    const std::string data(13, 'x');
    size_t size = 0;
    pbe->Encrypt(data.data(), data.size(), "pw", size, nullptr);
    EXPECT_EQ(size, 13u + 32u);
    size = 100;
    pbe->Decrypt(data.data(), data.size(), "pw", size, nullptr);
    EXPECT_EQ(size, 13u);
    // Too little room is the cipher layer's own failure, passed through.
    std::string out(4, '\0');
    size = out.size();
    EXPECT_ANY_THROW(pbe->Encrypt(data.data(), data.size(), "pw", size, out.data()));
    // A wrong password mostly breaks the padding: the cipher layer's error, not a PKCS#5 one.
    const std::string ct = Crypt(*pbe, true, data, "pw");
    int paddingFailures = 0;
    for (int i = 0; i < 8; ++i) {
        try {
            if (Crypt(*pbe, false, ct, "wrong" + std::to_string(i)) == data)
                ADD_FAILURE() << "wrong password decrypted";
        } catch (const EElPKCS5Error&) {
            ADD_FAILURE() << "a padding failure is not a PKCS#5 error";
        } catch (const rtl::Exception&) {
            ++paddingFailures;
        }
    }
    EXPECT_GT(paddingFailures, 0);
}

// Parameter blocks as files may carry them: the reader's verdict on each.
TEST(SBPKCS5, ParameterBlocks) {
    const std::string pbkdf2 = "06092A864886F70D01050C";  // id-PBKDF2
    const std::string des3 = "06082A864886F70D0307";      // des-ede3-cbc
    const std::string iv = "0408 0102030405060708";
    auto pbes2 = [&](const std::string& kdfParams, const std::string& enc) {
        const std::string kdf =
            "30" + Hex(EncodeDERLength(H(pbkdf2 + kdfParams).size())) + pbkdf2 + kdfParams;
        const std::string body = kdf + enc;
        return H("30" + Hex(EncodeDERLength(H(body).size())) + body);
    };
    auto seqHex = [](const std::string& inner) {
        return "30" + Hex(EncodeDERLength(H(inner).size())) + inner;
    };
    const std::string enc3des = seqHex(des3 + iv);
    const struct {
        const char* name;
        std::string_view oid;
        std::string params;
        const char* verdict;  // "ok", "no cipher" (read, every operation unsupported), or the message
        int keyLength;
    } cases[] = {
        {"PBES1", SB_OID_PBE_SHA1_DES, H("300D 0408 0102030405060708 020107"), "ok", 0},
        {"PBES1 16-byte salt", SB_OID_PBE_SHA1_DES, H("3015 0410 01020304050607080102030405060708 020107"),
         "Invalid parameters", 0},
        {"PBES1 count 0", SB_OID_PBE_SHA1_DES, H("300D 0408 0102030405060708 020100"), "Invalid parameters",
         0},
        {"PBES1 count 10000001", SB_OID_PBE_SHA1_DES, H("3010 0408 0102030405060708 020400989681"),
         "Invalid parameters", 0},
        {"PBES1 count 2^31", SB_OID_PBE_MD5_RC2, H("3011 0408 0102030405060708 02050080000000"),
         "Invalid parameters", 0},
        {"PBES1 negative count", SB_OID_PBE_MD5_RC2, H("300D 0408 0102030405060708 0201FF"),
         "Invalid parameters", 0},
        {"PBES1 three elements", SB_OID_PBE_SHA1_DES, H("3010 0408 0102030405060708 020107 0500"),
         "Invalid parameters", 0},
        {"PBES1 not DER", SB_OID_PBE_SHA1_DES, H("3010 0408"), "Invalid parameters", 0},
        {"PBES2 3DES", SB_OID_PBES2, pbes2(seqHex("0402AABB 020203E8"), enc3des), "ok", 24},
        {"PBES2 keyLength 5 still 24", SB_OID_PBES2, pbes2(seqHex("0402AABB 020203E8 020105"), enc3des), "ok",
         24},
        {"PBES2 prf hmacWithSHA1", SB_OID_PBES2,
         pbes2(seqHex("0402AABB 020203E8 300C06082A864886F70D02070500"), enc3des), "ok", 24},
        {"PBES2 prf hmacWithSHA256", SB_OID_PBES2,
         pbes2(seqHex("0402AABB 020203E8 300C06082A864886F70D02090500"), enc3des),
         "Unsupported algorithm: 1.2.840.113549.2.9", 0},
        {"PBES2 prf not a SEQUENCE", SB_OID_PBES2, pbes2(seqHex("0402AABB 020203E8 0500"), enc3des),
         "Invalid parameters", 0},
        {"PBES2 element left over", SB_OID_PBES2,
         pbes2(seqHex("0402AABB 020203E8 020118 300A06082A864886F70D0207 0500"), enc3des),
         "Invalid parameters", 0},
        {"PBES2 count 0", SB_OID_PBES2, pbes2(seqHex("0402AABB 020100"), enc3des), "Invalid parameters", 0},
        {"PBES2 count 2^31", SB_OID_PBES2, pbes2(seqHex("0402AABB 02050080000000"), enc3des),
         "Invalid parameters", 0},
        {"PBES2 AES-256-CBC", SB_OID_PBES2,
         pbes2(seqHex("0402AABB 020203E8"), seqHex("060960864801650304012A 0410" + std::string(32, '0'))),
         "Unsupported algorithm: 2.16.840.1.101.3.4.1.42", 0},
        {"PBES2 scrypt", SB_OID_PBES2,
         H(seqHex(seqHex("06092B06010401DA47040B" + seqHex("0402AABB 020101")) + enc3des)),
         "Unsupported algorithm: 1.3.6.1.4.1.11591.4.11", 0},
        {"PBES2 3DES IV not an OCTET STRING", SB_OID_PBES2,
         pbes2(seqHex("0402AABB 020203E8"), seqHex(des3 + "0500")), "Invalid parameters", 0},
        {"PBES2 RC2 version 58", SB_OID_PBES2,
         pbes2(seqHex("0402AABB 020203E8"), seqHex("06082A864886F70D0302 300D02013A 0408 0102030405060708")),
         "ok", 16},
        {"PBES2 RC2 version 160", SB_OID_PBES2,
         pbes2(seqHex("0402AABB 020203E8"),
               seqHex("06082A864886F70D0302 300E020200A0 0408 0102030405060708")),
         "ok", 5},
        // RC2 takes 1 to 1024 effective bits (a key of at most 128 bytes); a version naming more,
        // up to 2^31 - 1, is no RC2 scheme (it would size the PBKDF2 output: 256 MB of HMACs).
        {"PBES2 RC2 1025 bits", SB_OID_PBES2,
         pbes2(seqHex("0402AABB 020203E8"),
               seqHex("06082A864886F70D0302" + seqHex("02020401 0408 0102030405060708"))),
         "no cipher", 0},
        {"PBES2 RC2 2^31-1 bits", SB_OID_PBES2,
         pbes2(seqHex("0402AABB 020203E8"),
               seqHex("06082A864886F70D0302" + seqHex("02047FFFFFFF 0408 0102030405060708"))),
         "no cipher", 0},
        {"PBES2 three elements", SB_OID_PBES2, H("3006 3000 3000 3000"), "Invalid parameters", 0},
        {"unknown scheme", SB_OID_PKCS12_PBE_SHA1_3DES, H("0500"),
         "Unsupported algorithm: 1.2.840.113549.1.12.1.3", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.verdict) == "ok") {
            const TElPKCS5PBE pbe(c.oid, c.params);
            EXPECT_EQ(pbe.SchemeParams(), c.params);
            if (c.keyLength != 0) {
                EXPECT_EQ(pbe.KeyLength(), c.keyLength);
            }
            // Each accepted block encrypts and decrypts.
            EXPECT_EQ(Crypt(pbe, false, Crypt(pbe, true, "twelve bytes", "pw"), "pw"), "twelve bytes");
        } else if (std::string(c.verdict) == "no cipher") {
            const TElPKCS5PBE pbe(c.oid, c.params);
            EXPECT_EQ(pbe.KeyLength(), 0);
            EXPECT_EQ(kwtest::ThrownMessage([&] { Crypt(pbe, false, std::string(8, 'x'), "pw"); }),
                      "Unsupported algorithm: 32767");
        } else {
            EXPECT_EQ(kwtest::ThrownMessage([&] { TElPKCS5PBE pbe(c.oid, c.params); }), c.verdict);
        }
    }
}

TEST(SBPKCS5, ErrorClassesSayWhatWentWrong) {
    const std::string rc2Bad =
        H("302A 301A 06092A864886F70D01050C 300D 0408 0102030405060708 020101"
          " 300C 06082A864886F70D0302 0500");  // RC2 parameters that do not decode
    const TElPKCS5PBE pbe(SB_OID_PBES2, rc2Bad);
    EXPECT_EQ(kwtest::ThrownMessage([&] { Crypt(pbe, true, "x", "pw"); }), "Unsupported algorithm: 32767");
    EXPECT_THROW(Crypt(pbe, false, std::string(8, 'x'), "pw"), EElPKCS5UnsupportedError);
    EXPECT_THROW(TElPKCS5PBE(SB_OID_PBE_SHA1_DES, H("3000")), EElPKCS5InvalidParameterError);
    EXPECT_THROW(TElPKCS5PBE(SB_OID_RC4, H("0500")), EElPKCS5UnsupportedError);
    EXPECT_FALSE(TElPKCS5PBE::IsAlgorithmSupported(SB_OID_PKCS12_PBE_SHA1_3DES));
    EXPECT_TRUE(TElPKCS5PBE::IsAlgorithmSupported(SB_OID_PBE_MD2_DES));
}
