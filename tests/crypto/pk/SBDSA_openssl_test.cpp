// DSA signatures exchanged with OpenSSL's libcrypto for (L, N) = (1024, 160), (2048, 224),
// (2048, 256) and (3072, 256), over the domains of the CAVP SigGen file with a fresh key pair,
// with digests shorter and longer than q (OpenSSL cuts them as FIPS 186-4 does).
#include <gtest/gtest.h>

#include <set>

#include "crypto/DsaTestSupport.h"
#include "crypto/OpenSSLPkey.h"
#include "crypto/PublicKeyTestSupport.h"
#include "crypto/pk/SBDSA.h"

namespace {

using pktest::B;
using pktest::Bytes;

}  // namespace

TEST(DSAOpenSSL, SignaturesBothWays) {
    const dsatest::CavpDsaFile file(dsatest::DsaVectorsPath("FIPS_186-3/SigGen.rsp"));
    std::set<std::pair<int, int>> done;
    for (const dsatest::Domain& d : file.domains) {
        if (!done.insert({d.L, d.N}).second) continue;
        SCOPED_TRACE(std::to_string(d.L) + "/" + std::to_string(d.N));
        // A key pair over the domain: x uniform below q, y = g^x mod p.
        const BigNumPtr q = pktest::Num(d.q), x = MakeBigNum(), y = MakeBigNum();
        do {
            FillBigNumRandomBytes(x.get(), int32_t(d.q.size()));
            x->NonNegative = true;
        } while (IsBigNumZero(x.get()) || !IsBigNumGreater(q.get(), x.get()));
        ExponentiateBigNumMontgomery(pktest::Num(d.g).get(), x.get(), pktest::Num(d.p).get(), y.get());
        const Bytes xb = pktest::Trimmed(x.get()), yb = pktest::Trimmed(y.get());
        int32_t size = 0;
        EncodeDSAPrivateKey(d.p.data(), int32_t(d.p.size()), d.q.data(), int32_t(d.q.size()), d.g.data(),
                            int32_t(d.g.size()), yb.data(), int32_t(yb.size()), xb.data(), int32_t(xb.size()), nullptr,
                            size);
        Bytes blob(static_cast<size_t>(size));
        ASSERT_TRUE(EncodeDSAPrivateKey(d.p.data(), int32_t(d.p.size()), d.q.data(), int32_t(d.q.size()), d.g.data(),
                                        int32_t(d.g.size()), yb.data(), int32_t(yb.size()), xb.data(),
                                        int32_t(xb.size()), blob.data(), size));
        const kwtest::Pkey peer = kwtest::OpenSSLReadPrivateDer(EVP_PKEY_DSA, pktest::Str(blob));
        ASSERT_TRUE(peer);
        for (int32_t hash : {SB_ALG_SHA1, SB_ALG_SHA256, SB_ALG_SHA512}) {
            const char* name = hash == SB_ALG_SHA1 ? "SHA1" : hash == SB_ALG_SHA256 ? "SHA256" : "SHA512";
            SCOPED_TRACE(name);
            for (int round = 0; round < 4; ++round) {
                const Bytes digest = pktest::Digest(hash, B("message " + std::to_string(round)));
                // Ours, read by OpenSSL.
                Bytes r(64), s(64);
                int32_t rs = 64, ss = 64;
                ASSERT_TRUE(SignDSA(digest.data(), int32_t(digest.size()), d.p.data(), int32_t(d.p.size()),
                                    d.q.data(), int32_t(d.q.size()), d.g.data(), int32_t(d.g.size()), xb.data(),
                                    int32_t(xb.size()), r.data(), rs, s.data(), ss));
                size_t sigSize = 0;
                DSAEncodeSignature(r.data(), size_t(rs), s.data(), size_t(ss), nullptr, sigSize);
                Bytes sig(sigSize);
                ASSERT_TRUE(DSAEncodeSignature(r.data(), size_t(rs), s.data(), size_t(ss), sig.data(), sigSize));
                sig.resize(sigSize);
                EXPECT_TRUE(kwtest::OpenSSLVerifyDigest(peer.get(), digest, sig, {0, name}, false));
                // OpenSSL's, read by us.
                const Bytes theirs = kwtest::OpenSSLSignDigest(peer.get(), digest, {0, name}, false);
                ASSERT_FALSE(theirs.empty());
                size_t r2 = 64, s2 = 64;
                Bytes rb(64), sb(64);
                ASSERT_TRUE(DSADecodeSignature(theirs.data(), theirs.size(), rb.data(), r2, sb.data(), s2));
                EXPECT_TRUE(VerifyDSA(digest.data(), int32_t(digest.size()), d.p.data(), int32_t(d.p.size()),
                                      d.q.data(), int32_t(d.q.size()), d.g.data(), int32_t(d.g.size()), yb.data(),
                                      int32_t(yb.size()), rb.data(), int32_t(r2), sb.data(), int32_t(s2)));
            }
        }
    }
    EXPECT_EQ(done.size(), 4u);
}
