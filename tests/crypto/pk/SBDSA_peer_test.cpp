// DSA private keys written by the openssl tool load through DecodeDSAPrivateKey: the
// traditional six-INTEGER form (`openssl dsaparam -genkey`, written by `openssl dsa`) and the
// PKCS#8 form (`openssl gendsa`, written by `openssl pkcs8 -topk8 -nocrypt`), whose y is
// computed. Both give the same numbers, the key passes the strict check, and a signature made
// with it is accepted by `openssl pkeyutl -verify`.
#include <gtest/gtest.h>

#include "crypto/ASN1TestSupport.h"
#include "crypto/PublicKeyTestSupport.h"
#include "crypto/pk/SBDSA.h"

namespace {

using pktest::Bytes;

std::vector<Bytes> Decode(const std::string& blob) {
    std::vector<Bytes> v(5, Bytes(512));
    int32_t s[5] = {512, 512, 512, 512, 512};
    if (!DecodeDSAPrivateKey(blob.data(), int32_t(blob.size()), v[0].data(), s[0], v[1].data(), s[1], v[2].data(),
                             s[2], v[3].data(), s[3], v[4].data(), s[4]))
        return {};
    for (int i = 0; i < 5; ++i)
        v[size_t(i)] = pktest::StripZeros(Bytes(v[size_t(i)].begin(), v[size_t(i)].begin() + s[i]));
    return v;
}

}  // namespace

TEST(DSAPeer, OpenSSLKeysLoadInBothForms) {
    KW_REQUIRE_PEER(asn1test::HaveTool("openssl"), "openssl");
    const kwtest::TempDir dir;
    const auto path = [&](const char* n) { return "'" + (dir / n).string() + "'"; };
    const auto log = dir / "log.txt";
    for (const char* bits : {"1024", "2048"}) {
        SCOPED_TRACE(bits);
        ASSERT_EQ(asn1test::Run("openssl dsaparam -out " + path("p.pem") + " " + bits, log), 0) << kwtest::ReadFile(log);
        ASSERT_EQ(asn1test::Run("openssl dsaparam -in " + path("p.pem") + " -genkey -noout -out " + path("t.pem"), log), 0);
        ASSERT_EQ(asn1test::Run("openssl dsa -in " + path("t.pem") + " -outform DER -out " + path("t.der"), log), 0);
        ASSERT_EQ(asn1test::Run("openssl gendsa -out " + path("g.pem") + " " + path("p.pem"), log), 0);
        ASSERT_EQ(asn1test::Run("openssl pkcs8 -topk8 -nocrypt -in " + path("g.pem") + " -outform DER -out " +
                                    path("g.der"),
                                log),
                  0);
        ASSERT_EQ(asn1test::Run("openssl dsa -in " + path("g.pem") + " -outform DER -out " + path("g6.der"), log), 0);

        const std::vector<Bytes> traditional = Decode(kwtest::ReadFile(dir / "t.der"));
        const std::vector<Bytes> pkcs8 = Decode(kwtest::ReadFile(dir / "g.der"));
        const std::vector<Bytes> same = Decode(kwtest::ReadFile(dir / "g6.der"));
        ASSERT_EQ(traditional.size(), 5u);
        ASSERT_EQ(pkcs8.size(), 5u);
        EXPECT_EQ(pkcs8, same);  // the computed y is OpenSSL's
        EXPECT_EQ(traditional[0], pkcs8[0]);  // one domain, two keys
        for (const auto& v : {traditional, pkcs8}) {
            EXPECT_TRUE(ValidateDSAKey(v[0].data(), int32_t(v[0].size()), v[1].data(), int32_t(v[1].size()),
                                       v[2].data(), int32_t(v[2].size()), v[3].data(), int32_t(v[3].size()),
                                       v[4].data(), int32_t(v[4].size()), true, true));
        }
        // Sign a SHA-256 digest with the PKCS#8 key; OpenSSL verifies it.
        const Bytes digest = pktest::Digest(SB_ALG_SHA256, pktest::B("peer"));
        const std::vector<Bytes>& k = pkcs8;
        Bytes r(64), s(64);
        int32_t rs = 64, ss = 64;
        ASSERT_TRUE(SignDSA(digest.data(), 32, k[0].data(), int32_t(k[0].size()), k[1].data(), int32_t(k[1].size()),
                            k[2].data(), int32_t(k[2].size()), k[4].data(), int32_t(k[4].size()), r.data(), rs,
                            s.data(), ss));
        size_t sigSize = 200;
        std::string sig(sigSize, '\0');
        ASSERT_TRUE(DSAEncodeSignature(r.data(), size_t(rs), s.data(), size_t(ss), sig.data(), sigSize));
        sig.resize(sigSize);
        kwtest::WriteFile(dir / "sig.der", sig);
        kwtest::WriteFile(dir / "digest.bin", pktest::Str(digest));
        EXPECT_EQ(asn1test::Run("openssl pkeyutl -verify -inkey " + path("g.pem") + " -in " + path("digest.bin") +
                                    " -sigfile " + path("sig.der"),
                                log),
                  0)
            << kwtest::ReadFile(log);
    }
}
