// The RSA primitives: the published example files (PKCS#1 v1.5 signatures byte for byte, PSS,
// OAEP and PKCS#1 v1.5 decryption, CAVP PSS), Wycheproof's decryption files, key generation
// and blobs, the padding rules at their limits, and a table of out-of-range inputs.
#include "crypto/pk/SBRSA.h"

#include <gtest/gtest.h>

#include <functional>

#include "crypto/Pkcs1VectorFile.h"
#include "crypto/PublicKeyTestSupport.h"
#include "crypto/WycheproofFile.h"

namespace {

using pktest::B;
using pktest::Bytes;
using pktest::Str;

// The routines under test, bound to a key given as the example files give it.
struct Key {
    Bytes n, e, blob;
    size_t k() const { return pktest::StripZeros(n).size(); }
};

Key FromExample(const kwtest::Pkcs1Key& k) {
    return {k.n, k.e, B(k.Blob())};
}

std::optional<Bytes> Sign(const Key& key, const Bytes& data) {
    return pktest::Sized([&](void* out, int32_t& size) {
        return SignRSAPKCS1(data.data(), int32_t(data.size()), key.blob.data(), int32_t(key.blob.size()), out, size);
    });
}
std::optional<Bytes> Recover(const Key& key, const Bytes& sig) {
    return pktest::Sized([&](void* out, int32_t& size) {
        return RecoverRSAPKCS1(sig.data(), int32_t(sig.size()), key.n.data(), int32_t(key.n.size()), key.e.data(),
                               int32_t(key.e.size()), out, size);
    });
}
std::optional<Bytes> DecryptPKCS1(const Key& key, const Bytes& c) {
    return pktest::Run([&](void* out, int32_t& size) {
        return DecryptRSAPKCS1(c.data(), int32_t(c.size()), key.blob.data(), int32_t(key.blob.size()), out, size);
    });
}
std::optional<Bytes> EncryptPKCS1(const Key& key, const Bytes& m) {
    return pktest::Sized([&](void* out, int32_t& size) {
        return EncryptRSAPKCS1(m.data(), int32_t(m.size()), key.n.data(), int32_t(key.n.size()), key.e.data(),
                               int32_t(key.e.size()), out, size);
    });
}
std::optional<Bytes> DecryptOAEP(const Key& key, const Bytes& c, int32_t hash, const Bytes& label = {}) {
    return pktest::Run([&](void* out, int32_t& size) {
        return DecryptRSAOAEP(c.data(), int32_t(c.size()), key.blob.data(), int32_t(key.blob.size()), label.data(),
                              int32_t(label.size()), hash, out, size);
    });
}
std::optional<Bytes> EncryptOAEP(const Key& key, const Bytes& m, int32_t hash, const Bytes& label = {}) {
    return pktest::Sized([&](void* out, int32_t& size) {
        return EncryptRSAOAEP(m.data(), int32_t(m.size()), key.n.data(), int32_t(key.n.size()), key.e.data(),
                              int32_t(key.e.size()), label.data(), int32_t(label.size()), hash, out, size);
    });
}
std::optional<Bytes> SignPSS(const Key& key, const Bytes& digest, int32_t hash, int32_t salt) {
    return pktest::Sized([&](void* out, int32_t& size) {
        return SignRSAPSS(digest.data(), int32_t(digest.size()), hash, salt, key.blob.data(), int32_t(key.blob.size()),
                          out, size);
    });
}
bool VerifyPSS(const Key& key, const Bytes& digest, int32_t hash, int32_t salt, const Bytes& sig) {
    return VerifyRSAPSS(digest.data(), int32_t(digest.size()), hash, salt, key.n.data(), int32_t(key.n.size()),
                        key.e.data(), int32_t(key.e.size()), sig.data(), int32_t(sig.size()));
}

// One generated key for the tests that need a fresh one (generation is the slow part).
const Key& Generated1024() {
    static const Key key = [] {
        Bytes n(128), e(128), d(128), blob(700);
        int32_t ns = 128, es = 128, ds = 128, bs = 700;
        if (!GenerateRSAKey(1024, n.data(), ns, e.data(), es, d.data(), ds, blob.data(), bs))
            throw std::runtime_error("generation failed");
        n.resize(size_t(ns));
        e.resize(size_t(es));
        blob.resize(size_t(bs));
        return Key{n, e, blob};
    }();
    return key;
}

int32_t HashByName(const std::string& name) {
    static const std::map<std::string, int32_t> names = {
        {"SHA1", SB_ALG_SHA1},     {"SHA224", SB_ALG_SHA224},   {"SHA256", SB_ALG_SHA256},
        {"SHA384", SB_ALG_SHA384}, {"SHA512", SB_ALG_SHA512},   {"SHA-1", SB_ALG_SHA1},
        {"SHA-224", SB_ALG_SHA224}, {"SHA-256", SB_ALG_SHA256}, {"SHA-384", SB_ALG_SHA384},
        {"SHA-512", SB_ALG_SHA512}, {"sha1", SB_ALG_SHA1},     {"sha224", SB_ALG_SHA224},
        {"sha256", SB_ALG_SHA256}, {"sha384", SB_ALG_SHA384},   {"sha512", SB_ALG_SHA512}};
    return names.at(name);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Published examples

TEST(RSAVectors, Pkcs1v15SignaturesByteForByte) {
    const kwtest::Pkcs1VectorFile file(kwtest::RsaVectorsPath("pkcs1v15sign-vectors.txt"));
    ASSERT_EQ(file.keys.size(), 15u);
    size_t ran = 0;
    for (const kwtest::Pkcs1Example& ex : file.examples) {
        const Key key = FromExample(file.keys[ex.key]);
        const Bytes info = pktest::DigestInfo(SB_ALG_SHA1, pktest::Digest(SB_ALG_SHA1, ex.At("Message to be signed")));
        const auto sig = Sign(key, info);
        ASSERT_TRUE(sig) << "example " << ran;
        EXPECT_EQ(*sig, ex.At("Signature")) << "example " << ran;
        EXPECT_EQ(sig->size(), key.k());
        const auto opened = Recover(key, ex.At("Signature"));
        ASSERT_TRUE(opened);
        EXPECT_EQ(*opened, info);
        ++ran;
    }
    EXPECT_EQ(ran, 300u);
}

TEST(RSAVectors, PssExamplesVerifyAndOurSignaturesToo) {
    const kwtest::Pkcs1VectorFile file(kwtest::RsaVectorsPath("pkcs-1v2-1d2-vec/pss-vect.txt"));
    size_t ran = 0;
    for (const kwtest::Pkcs1Example& ex : file.examples) {
        const Key key = FromExample(file.keys[ex.key]);
        const Bytes digest = pktest::Digest(SB_ALG_SHA1, ex.At("Message to be signed"));
        const int32_t salt = int32_t(ex.At("Salt").size());
        EXPECT_TRUE(VerifyPSS(key, digest, SB_ALG_SHA1, salt, ex.At("Signature"))) << ran;
        Bytes other = digest;
        other[0] ^= 1;
        EXPECT_FALSE(VerifyPSS(key, other, SB_ALG_SHA1, salt, ex.At("Signature")));
        EXPECT_FALSE(VerifyPSS(key, digest, SB_ALG_SHA1, salt + 1, ex.At("Signature")));
        const auto ours = SignPSS(key, digest, SB_ALG_SHA1, salt);
        ASSERT_TRUE(ours);
        EXPECT_EQ(ours->size(), key.k());
        EXPECT_TRUE(VerifyPSS(key, digest, SB_ALG_SHA1, salt, *ours));
        ++ran;
    }
    // Ten keys, 1024 to 2048 bits, among them moduli of 1025 and 1031 bits (EM one byte shorter
    // than the modulus, or not a whole number of 32-bit words).
    EXPECT_EQ(ran, 60u);
}

TEST(RSAVectors, CavpPssSignaturesVerify) {
    const auto path = kwtest::RsaVectorsPath("FIPS_186-2/SigGenPSS_186-3.rsp");
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    Bytes n, e;
    std::string alg, line;
    Bytes msg;
    size_t ran = 0;
    auto value = [](const std::string& l) { return l.substr(l.find('=') + 2); };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("n = ", 0) == 0) n = kwtest::Hex(value(line));
        if (line.rfind("e = ", 0) == 0) e = kwtest::Hex(value(line));
        if (line.rfind("SHAAlg = ", 0) == 0) alg = value(line);
        if (line.rfind("Msg = ", 0) == 0) msg = kwtest::Hex(value(line));
        if (line.rfind("S = ", 0) == 0) {
            const Key key{n, e, {}};
            const int32_t hash = HashByName(alg);
            const Bytes sig = kwtest::Hex(value(line));
            EXPECT_TRUE(VerifyPSS(key, pktest::Digest(hash, msg), hash, 0, sig)) << alg << " " << ran;
            ++ran;
        }
    }
    EXPECT_EQ(ran, 250u);
}

TEST(RSAVectors, OaepExamplesDecrypt) {
    struct File {
        const char* name;
        int32_t hash;
    };
    const File files[] = {{"pkcs-1v2-1d2-vec/oaep-vect.txt", SB_ALG_SHA1},
                          {"oaep-custom/oaep-sha224-sha224.txt", SB_ALG_SHA224},
                          {"oaep-custom/oaep-sha256-sha256.txt", SB_ALG_SHA256},
                          {"oaep-custom/oaep-sha384-sha384.txt", SB_ALG_SHA384},
                          {"oaep-custom/oaep-sha512-sha512.txt", SB_ALG_SHA512}};
    size_t ran = 0;
    for (const File& f : files) {
        const kwtest::Pkcs1VectorFile file(kwtest::RsaVectorsPath(f.name));
        for (const kwtest::Pkcs1Example& ex : file.examples) {
            const Key key = FromExample(file.keys[ex.key]);
            const auto m = DecryptOAEP(key, ex.At("Encryption"), f.hash);
            ASSERT_TRUE(m) << f.name << " " << ran;
            EXPECT_EQ(*m, ex.At("Message"));
            ++ran;
        }
    }
    EXPECT_EQ(ran, 60u + 4 * 60u);
}

TEST(RSAVectors, Pkcs1v15ExamplesDecrypt) {
    const kwtest::Pkcs1VectorFile file(kwtest::RsaVectorsPath("pkcs1v15crypt-vectors.txt"));
    size_t ran = 0;
    for (const kwtest::Pkcs1Example& ex : file.examples) {
        const Key key = FromExample(file.keys[ex.key]);
        const auto m = DecryptPKCS1(key, ex.At("Encryption"));
        ASSERT_TRUE(m) << ran;
        EXPECT_EQ(*m, ex.At("Message"));
        ++ran;
    }
    EXPECT_EQ(ran, 300u);
}

// Wycheproof: every valid case opens to its message, no invalid case yields one.
TEST(RSAWycheproof, DecryptionFiles) {
    struct File {
        const char* name;
        bool oaep;
    };
    for (const File f : {File{"rsa_pkcs1_2048_test.json", false}, File{"rsa_oaep_2048_sha256_mgf1sha256_test.json", true}}) {
        const kwtest::WycheproofFile file(kwtest::WycheproofFile::PathOf(f.name));
        size_t ran = 0;
        for (const kwtest::WycheproofTest& t : file.Tests()) {
            const kwtest::Json& pk = (*t.group)["privateKey"];
            auto h = [&](const char* field) { return kwtest::Hex(pk[field].Str()); };
            const kwtest::Pkcs1Key k{h("modulus"),  h("publicExponent"), h("privateExponent"), h("prime1"),
                                     h("prime2"),   h("exponent1"),      h("exponent2"),       h("coefficient")};
            const Key key = FromExample(k);
            std::optional<Bytes> m;
            if (f.oaep) {
                m = DecryptOAEP(key, t.Bytes("ct"), HashByName((*t.group)["sha"].Str()), t.Bytes("label"));
            } else {
                m = DecryptPKCS1(key, t.Bytes("ct"));
            }
            if (t.Valid()) {
                ASSERT_TRUE(m) << f.name << " " << t.Describe();
                EXPECT_EQ(*m, t.Bytes("msg")) << t.Describe();
            } else {
                EXPECT_FALSE(m) << f.name << " " << t.Describe();
            }
            ++ran;
        }
        EXPECT_EQ(int64_t(ran), file.AnnouncedCount()) << f.name;
    }
}

// ---------------------------------------------------------------------------------------------
// Generation and blobs

TEST(RSAKeys, GenerationAnswersTheSizesFirst) {
    int32_t n = 0, e = 0, d = 0, blob = 0;
    EXPECT_FALSE(GenerateRSAKey(1024, nullptr, n, nullptr, e, nullptr, d, nullptr, blob));
    EXPECT_EQ(n, 128);
    EXPECT_EQ(e, 128);
    EXPECT_EQ(d, 128);
    EXPECT_EQ(blob, 646);
}

TEST(RSAKeys, GeneratedKeyIsConsistentAndDER) {
    const Key& key = Generated1024();
    EXPECT_EQ(key.n.size(), 128u);
    EXPECT_EQ(key.n[0] & 0x80, 0x80);  // two primes with their top two bits set: n has all 1024 bits
    EXPECT_EQ(key.e, (Bytes{0, 1, 0, 1}));  // word form
    EXPECT_TRUE(ValidateRSAPrivateKey(key.blob.data(), int32_t(key.blob.size())));
    // Minimal INTEGERs: e is 02 03 01 00 01 and the version a single 00.
    const std::string blob = Str(key.blob);
    EXPECT_NE(blob.find(std::string("\x02\x03\x01\x00\x01", 5)), std::string::npos);
    EXPECT_EQ(blob.substr(4, 3), std::string("\x02\x01\x00", 3));
    Bytes n(200), e(8), d(200);
    int32_t ns = 200, es = 8, ds = 200;
    ASSERT_TRUE(DecodeRSAPrivateKey(key.blob.data(), int32_t(key.blob.size()), n.data(), ns, e.data(), es, d.data(), ds));
    EXPECT_EQ(es, 3);
    EXPECT_EQ(Bytes(e.begin(), e.begin() + 3), (Bytes{1, 0, 1}));
    EXPECT_EQ(ns, 129);  // sign byte before a top bit
    // A round trip: our own signature and ciphertext under the key.
    const Bytes data = B("generated key round trip");
    const auto sig = Sign(key, data);
    ASSERT_TRUE(sig);
    EXPECT_EQ(Recover(key, *sig), data);
    const auto c = EncryptOAEP(key, data, SB_ALG_SHA256, B("label"));
    ASSERT_TRUE(c);
    EXPECT_EQ(DecryptOAEP(key, *c, SB_ALG_SHA256, B("label")), data);
    EXPECT_FALSE(DecryptOAEP(key, *c, SB_ALG_SHA256, B("other")));
}

TEST(RSAKeys, GenerationCancels) {
    int calls = 0;
    Bytes n(128), e(128), d(128), blob(700);
    int32_t ns = 128, es = 128, ds = 128, bs = 700;
    const MathProgressCallback stop = [&](void*) { return ++calls < 3; };
    EXPECT_FALSE(GenerateRSAKey(1024, n.data(), ns, e.data(), es, d.data(), ds, blob.data(), bs, stop));
    EXPECT_GE(calls, 3);
}

TEST(RSAKeys, PrivateKeyReaderRules) {
    const Bytes ints[] = {{0}, {0x00, 0xC1}, {1, 0, 1}, {5}, {7}, {11}, {13}, {17}, {19}};
    auto build = [](std::vector<std::string> parts) { return pktest::B(EncodeDERSequence(parts)); };
    std::vector<std::string> nine;
    for (const Bytes& v : ints)
        nine.push_back(EncodeDERTLV(0x02, Str(v)));
    auto decode = [](const Bytes& blob, Bytes* n = nullptr, Bytes* e = nullptr) {
        Bytes nb(64), eb(64), db(64);
        int32_t ns = 64, es = 64, ds = 64;
        const bool ok = DecodeRSAPrivateKey(blob.data(), int32_t(blob.size()), nb.data(), ns, eb.data(), es, db.data(), ds);
        if (ok && n) *n = Bytes(nb.begin(), nb.begin() + ns);
        if (ok && e) *e = Bytes(eb.begin(), eb.begin() + es);
        return ok;
    };
    Bytes n, e;
    ASSERT_TRUE(decode(build(nine), &n, &e));
    EXPECT_EQ(n, (Bytes{0x00, 0xC1}));  // contents as they stand
    EXPECT_EQ(e, (Bytes{1, 0, 1}));
    // The old word form of the library's own blobs still reads.
    std::vector<std::string> words = nine;
    words[2] = EncodeDERTLV(0x02, std::string("\x00\x01\x00\x01", 4));
    ASSERT_TRUE(decode(build(words), nullptr, &e));
    EXPECT_EQ(e, (Bytes{0, 1, 0, 1}));
    // Four INTEGERs are enough for n, e and d; trailing elements after the SEQUENCE are ignored.
    EXPECT_TRUE(decode(build({nine[0], nine[1], nine[2], nine[3]})));
    EXPECT_TRUE(decode(pktest::Cat(build(nine), Bytes{5, 0})));

    const Bytes blob = build(nine);
    std::vector<std::string> ten = nine;
    ten.push_back(nine[8]);
    std::vector<std::string> version1 = nine;
    version1[0] = EncodeDERTLV(0x02, "\x01");
    std::vector<std::string> constructed = nine;
    constructed[4] = EncodeDERTLV(0x22, nine[4]);
    std::vector<std::string> octets = nine;
    octets[3] = EncodeDERTLV(0x04, "\x05");
    const std::pair<const char*, Bytes> refused[] = {
        {"ten INTEGERs", build(ten)},
        {"version 1", build(version1)},
        {"a constructed element", build(constructed)},
        {"an OCTET STRING", build(octets)},
        {"three INTEGERs", build({nine[0], nine[1], nine[2]})},
        {"a SET", B(EncodeDERTLV(0x31, Str(build(nine)).substr(2)))},
        {"truncated", Bytes(blob.begin(), blob.end() - 1)},
        {"empty", {}},
        {"indefinite length", pktest::Cat(Bytes{0x30, 0x80}, pktest::Cat(B(nine[0] + nine[1] + nine[2] + nine[3]), {0, 0}))},
    };
    for (const auto& [name, blob] : refused)
        EXPECT_FALSE(decode(blob)) << name;

    // Too little room: every size is set to its content's length, nothing is written.
    Bytes small(1, 0xAA);
    int32_t ns = 1, es = 1, ds = 1;
    EXPECT_FALSE(DecodeRSAPrivateKey(blob.data(), int32_t(blob.size()), small.data(), ns, small.data(), es, small.data(), ds));
    EXPECT_EQ(ns, 2);
    EXPECT_EQ(es, 3);
    EXPECT_EQ(ds, 1);
    EXPECT_EQ(small[0], 0xAA);
}

TEST(RSAKeys, PublicKeyBothForms) {
    const Bytes n = {0x00, 0x00, 0xB5, 0x01, 0x03}, e = {0x01, 0x00, 0x01};
    for (bool raw : {true, false}) {
        const auto der = pktest::Sized([&](void* out, int32_t& size) {
            return EncodeRSAPublicKey(n.data(), int32_t(n.size()), e.data(), int32_t(e.size()),
                                      ByteString(SB_OID_RSA_ENCRYPTION), out, size, raw);
        });
        ASSERT_TRUE(der);
        // Minimal INTEGERs whatever zeros the modulus came with.
        EXPECT_NE(Str(*der).find(std::string("\x02\x04\x00\xB5\x01\x03", 6)), std::string::npos);
        if (!raw) {
            EXPECT_EQ(Str(*der).substr(0, 2), std::string("\x30\x1F"));
            EXPECT_NE(Str(*der).find(std::string(SB_OID_RSA_ENCRYPTION) + std::string("\x05\x00", 2)), std::string::npos);
        }
        Bytes nb(16), eb(16);
        int32_t ns = 16, es = 16;
        ByteString oid;
        ASSERT_TRUE(DecodeRSAPublicKey(der->data(), int32_t(der->size()), nb.data(), ns, eb.data(), es, oid, raw));
        EXPECT_EQ(Bytes(nb.begin(), nb.begin() + ns), (Bytes{0x00, 0xB5, 0x01, 0x03}));
        EXPECT_EQ(Bytes(eb.begin(), eb.begin() + es), e);
        EXPECT_EQ(oid, raw ? "" : ByteString(SB_OID_RSA_ENCRYPTION));
        // The other form is refused.
        EXPECT_FALSE(DecodeRSAPublicKey(der->data(), int32_t(der->size()), nb.data(), ns, eb.data(), es, oid, !raw));
    }
    // Another algorithm's OID, and unused bits in the key's BIT STRING, are refused.
    for (const std::string& alg : {std::string(SB_OID_DSA), std::string(SB_OID_RSA_ENCRYPTION)}) {
        const std::string inner = EncodeDERSequence({EncodeDERInteger("\x05"), EncodeDERInteger("\x03")});
        const std::string bits = alg == SB_OID_DSA ? std::string(1, '\0') + inner : std::string(1, '\x01') + inner;
        const Bytes spki = B(EncodeDERSequence(
            {EncodeDERSequence({EncodeDERTLV(0x06, alg), EncodeDERNull()}), EncodeDERTLV(0x03, bits)}));
        Bytes nb(16), eb(16);
        int32_t ns = 16, es = 16;
        ByteString oid;
        EXPECT_FALSE(DecodeRSAPublicKey(spki.data(), int32_t(spki.size()), nb.data(), ns, eb.data(), es, oid, false));
    }
    ByteString content;
    MakeIntegerContent("\x80\x01", 2, content);
    EXPECT_EQ(content, std::string("\x00\x80\x01", 3));
    MakeIntegerContent(nullptr, 0, content);
    EXPECT_EQ(content, std::string(1, '\0'));
}

// ---------------------------------------------------------------------------------------------
// Padding limits

TEST(RSAPadding, MessageSizeLimits) {
    const kwtest::Pkcs1VectorFile file(kwtest::RsaVectorsPath("pkcs1v15crypt-vectors.txt"));
    const Key key = FromExample(file.keys[0]);  // 1024 bits
    ASSERT_EQ(key.k(), 128u);
    EXPECT_TRUE(EncryptPKCS1(key, Bytes(117, 7)));
    Bytes out(256);
    int32_t size = 256;
    const Bytes tooLong(118, 7);
    EXPECT_FALSE(EncryptRSAPKCS1(tooLong.data(), 118, key.n.data(), int32_t(key.n.size()), key.e.data(),
                                 int32_t(key.e.size()), out.data(), size));
    EXPECT_EQ(size, 0);
    EXPECT_TRUE(Sign(key, Bytes(117, 7)));
    size = 256;
    EXPECT_FALSE(SignRSAPKCS1(tooLong.data(), 118, key.blob.data(), int32_t(key.blob.size()), out.data(), size));
    EXPECT_EQ(size, 0);
    EXPECT_TRUE(EncryptOAEP(key, Bytes(86, 7), SB_ALG_SHA1));
    EXPECT_FALSE(EncryptOAEP(key, Bytes(87, 7), SB_ALG_SHA1));
    // Round trips at the limits, and an empty message.
    for (const Bytes& m : {Bytes{}, Bytes(117, 0), Bytes(1, 0xFF)}) {
        const auto c = EncryptPKCS1(key, m);
        ASSERT_TRUE(c);
        EXPECT_EQ(c->size(), 128u);
        EXPECT_EQ(DecryptPKCS1(key, *c), m);
    }
}

TEST(RSAPadding, OnlyWellFormedBlocksOpen) {
    const kwtest::Pkcs1VectorFile file(kwtest::RsaVectorsPath("pkcs1v15crypt-vectors.txt"));
    const Key key = FromExample(file.keys[0]);
    const size_t k = key.k();
    // A ciphertext is the block raised to e (the decryption raises it to d), a signature the
    // block raised to d (the opener raises it to e).
    auto cipherOf = [&](const Bytes& block) {
        return *pktest::Run([&](void* out, int32_t& size) {
            return EncryptRSARaw(block.data(), int32_t(block.size()), key.n.data(), int32_t(key.n.size()),
                                 key.e.data(), int32_t(key.e.size()), out, size);
        });
    };
    auto signatureOf = [&](const Bytes& block) {
        return *pktest::Run([&](void* out, int32_t& size) {
            return DecryptRSARawCRT(key.blob.data(), int32_t(key.blob.size()), block.data(), int32_t(block.size()),
                                    out, size);
        });
    };
    auto block = [&](uint8_t type, uint8_t fill, size_t psLen, bool separator = true) {
        Bytes b(k, 0x42);
        b[0] = 0;
        b[1] = type;
        for (size_t i = 0; i < psLen; ++i)
            b[2 + i] = fill;
        b[2 + psLen] = separator ? 0 : 0x42;
        return b;
    };
    struct Case {
        const char* name;
        Bytes block;
        bool decrypts, opensAsSignature;
    };
    const Case cases[] = {
        {"type 2, eight bytes", block(2, 0x55, 8), true, false},
        {"type 2, seven bytes", block(2, 0x55, 7), false, false},
        {"type 1", block(1, 0xFF, 100), false, true},
        {"type 1, seven FF", block(1, 0xFF, 7), false, false},
        {"type 1, a byte other than FF", [&] { Bytes b = block(1, 0xFF, 100); b[50] = 0xFE; return b; }(), false, false},
        {"type 2, no separator", [&] { Bytes b(k, 0x55); b[0] = 0; b[1] = 2; return b; }(), false, false},
        {"type 1, no separator", [&] { Bytes b(k, 0xFF); b[0] = 0; b[1] = 1; return b; }(), false, false},
        {"first byte 01", [&] { Bytes b = block(2, 0x55, 8); b[0] = 1; return b; }(), false, false},
        {"type 0", block(0, 0x55, 8), false, false},
        {"type 2, separator last", block(2, 0x55, k - 3), true, false},
    };
    for (const Case& c : cases) {
        const auto m = DecryptPKCS1(key, cipherOf(c.block));
        EXPECT_EQ(bool(m), c.decrypts) << c.name;
        if (m) {
            const size_t start = size_t(std::find(c.block.begin() + 2, c.block.end(), 0) - c.block.begin()) + 1;
            EXPECT_EQ(*m, Bytes(c.block.begin() + long(start), c.block.end())) << c.name;
        }
        EXPECT_EQ(bool(Recover(key, signatureOf(c.block))), c.opensAsSignature) << c.name;
    }
}

TEST(RSAPadding, PssEncodingBits) {
    const Bytes digest = pktest::Digest(SB_ALG_SHA1, B("abc"));
    for (int32_t emBits : {1023, 1024, 1020}) {
        const auto em = pktest::Sized([&](void* out, int32_t& size) {
            return EncodeEMSAPSS(digest.data(), 20, SB_ALG_SHA1, 0, emBits, out, size);
        });
        ASSERT_TRUE(em);
        ASSERT_EQ(em->size(), size_t((emBits + 7) / 8));
        EXPECT_EQ(em->back(), 0xBC);
        // The leftmost 8 emLen - emBits bits are clear.
        const int spare = 8 * int(em->size()) - emBits;
        EXPECT_EQ((*em)[0] & ~(0xFF >> spare) & 0xFF, 0);
        // Salt size 0: DB = PS || 01, so unmasking gives zeros and the 01 right before H.
        ByteArray mask;
        const size_t dbLen = em->size() - 21;
        GenerateMGF1Mask(em->data() + dbLen, 20, int32_t(dbLen), SB_ALG_SHA1, mask);
        Bytes db(em->begin(), em->begin() + long(dbLen));
        for (size_t i = 0; i < dbLen; ++i)
            db[i] ^= mask[i];
        db[0] &= uint8_t(0xFF >> spare);
        EXPECT_EQ(db.back(), 1);
        EXPECT_EQ(std::count(db.begin(), db.end() - 1, 0), long(dbLen - 1));
    }
    int32_t size = 10;
    Bytes out(10);
    EXPECT_FALSE(EncodeEMSAPSS(digest.data(), 20, SB_ALG_SHA1, 0, 1024, out.data(), size));
    EXPECT_EQ(size, 128);
    // MGF1 answers nothing for an unknown hash or a length of 0.
    ByteArray mask{1, 2};
    GenerateMGF1Mask("x", 1, 16, 0x7FFF, mask);
    EXPECT_TRUE(mask.empty());
    GenerateMGF1Mask("x", 1, 0, SB_ALG_SHA1, mask);
    EXPECT_TRUE(mask.empty());
}

// Inputs an RSA operation must refuse: not below n, longer than the modulus, and keys whose
// values disagree (the fault check refuses to answer).
TEST(RSAPadding, OutOfRangeInputsAreRefused) {
    const kwtest::Pkcs1VectorFile file(kwtest::RsaVectorsPath("pkcs-1v2-1d2-vec/oaep-vect.txt"));
    const kwtest::Pkcs1Key& ek = file.keys[1];  // 1025 bits
    const Key key = FromExample(ek);
    const size_t k = key.k();
    const BigNumPtr n = pktest::Num(key.n), n1 = MakeBigNum();
    AddWordToBigNum(n.get(), 1, n1.get());
    const Bytes valid = file.examples[6].At("Encryption");
    ASSERT_TRUE(DecryptOAEP(key, valid, SB_ALG_SHA1));
    const std::pair<const char*, Bytes> inputs[] = {
        {"n", pktest::Trimmed(n.get())},
        {"n + 1", pktest::Trimmed(n1.get())},
        {"all ones", Bytes(k, 0xFF)},
        {"a valid input with a zero in front", pktest::Cat({0}, valid)},
    };
    const Bytes digest = pktest::Digest(SB_ALG_SHA1, B("m"));
    for (const auto& [name, in] : inputs) {
        EXPECT_FALSE(DecryptOAEP(key, in, SB_ALG_SHA1)) << name;
        EXPECT_FALSE(DecryptPKCS1(key, in)) << name;
        EXPECT_FALSE(Recover(key, in)) << name;
        EXPECT_FALSE(VerifyPSS(key, digest, SB_ALG_SHA1, 20, in)) << name;
        EXPECT_FALSE(pktest::Run([&](void* out, int32_t& size) {
            return DecryptRSARawCRT(key.blob.data(), int32_t(key.blob.size()), in.data(), int32_t(in.size()), out, size);
        })) << name;
        EXPECT_FALSE(pktest::Run([&](void* out, int32_t& size) {
            return EncryptRSARaw(in.data(), int32_t(in.size()), key.n.data(), int32_t(key.n.size()), key.e.data(),
                                 int32_t(key.e.size()), out, size);
        })) << name;
    }
    // A key whose CRT exponent is wrong signs nothing (a wrong half would give away a factor).
    kwtest::Pkcs1Key broken = ek;
    broken.dP.back() ^= 2;
    EXPECT_FALSE(Sign(FromExample(broken), B("x")));
    EXPECT_FALSE(ValidateRSAPrivateKey(B(broken.Blob()).data(), int32_t(broken.Blob().size())));
    EXPECT_TRUE(ValidateRSAPrivateKey(key.blob.data(), int32_t(key.blob.size())));
    // Unsupported hashes and impossible salt sizes.
    EXPECT_FALSE(SignPSS(key, digest, 0x7FFF, 20));
    EXPECT_FALSE(SignPSS(key, digest, SB_ALG_SHA1, int32_t(k)));
    EXPECT_FALSE(EncryptOAEP(key, B("m"), 0x7FFF));
}

TEST(RSAPadding, RawOperationsGiveExactlyKBytes) {
    const kwtest::Pkcs1VectorFile file(kwtest::RsaVectorsPath("pkcs-1v2-1d2-vec/pss-vect.txt"));
    for (const kwtest::Pkcs1Key& ek : file.keys) {
        const Key key = FromExample(ek);
        const Bytes one = {1};
        const auto r = pktest::Sized([&](void* out, int32_t& size) {
            return ExponentiateRSARaw(key.n.data(), int32_t(key.n.size()), key.e.data(), int32_t(key.e.size()),
                                      one.data(), 1, out, size);
        });
        ASSERT_TRUE(r);
        EXPECT_EQ(r->size(), key.k());
        EXPECT_EQ(r->back(), 1);
        // The private exponent directly (no CRT) agrees with the CRT road.
        const Bytes m = {2, 3, 4};
        const auto s1 = pktest::Sized([&](void* out, int32_t& size) {
            return ExponentiateRSAFixedLength(m.data(), 3, key.n.data(), int32_t(key.n.size()), key.e.data(),
                                              int32_t(key.e.size()), ek.d.data(), int32_t(ek.d.size()), out, size);
        });
        const auto s2 = pktest::Run([&](void* out, int32_t& size) {
            return DecryptRSARawCRT(key.blob.data(), int32_t(key.blob.size()), m.data(), 3, out, size);
        });
        ASSERT_TRUE(s1 && s2);
        EXPECT_EQ(*s1, *s2);
        EXPECT_EQ(s1->size(), key.k());
    }
}
