// SRP through the facade, as the TLS client runs it: the server's parameters read from a
// ServerKeyExchange body, the client keys computed, and the premaster secret equal to the one
// OpenSSL's server side computes (SRP_Calc_server_key) over many runs, an S with a leading
// zero byte among them; the groups and server values a client must refuse; the material's
// edge cases.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/srp.h>

#include <memory>
#include <random>

#include "crypto/NistVectorFile.h"
#include "crypto/PublicKeyTestSupport.h"
#include "crypto/keys/SBPublicKeyCrypto.h"
#include "support/TestSupport.h"

namespace {

using pktest::B;
using pktest::Bytes;

struct BnFree {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bytes ToBytes(const BIGNUM* b) {
    Bytes out(size_t(BN_num_bytes(b)));
    BN_bn2bin(b, out.data());
    return out;
}

Bn FromBytes(const Bytes& b) {
    return Bn(BN_bin2bn(b.data(), int(b.size()), nullptr));
}

// The SRP part of a ServerKeyExchange body (RFC 5054 2.4).
Bytes ServerParams(const Bytes& n, const Bytes& g, const Bytes& s, const Bytes& b) {
    Bytes out;
    auto put = [&](const Bytes& v, bool shortLength) {
        if (!shortLength) out.push_back(uint8_t(v.size() >> 8));
        out.push_back(uint8_t(v.size()));
        out.insert(out.end(), v.begin(), v.end());
    };
    put(n, false);
    put(g, false);
    put(s, true);
    put(b, false);
    return out;
}

Bytes Number(const BigNumPtr& n) {
    return pktest::Trimmed(n.get());
}

}  // namespace

TEST(SRPFacadeOpenSSL, PremasterMatchesOpenSSLsServer) {
    const SRP_gN* group = SRP_get_default_gN("1024");
    ASSERT_NE(group, nullptr);
    const Bytes n = ToBytes(group->N), g = ToBytes(group->g);
    std::mt19937 rng(5054);
    BN_CTX* ctx = BN_CTX_new();
    int runs = 0, leadingZero = 0;
    for (; runs < 5000 && (runs < 200 || leadingZero == 0); ++runs) {
        // A salt OpenSSL hashes as we do: its own form drops leading zero bytes.
        Bytes salt(16);
        for (auto& b : salt)
            b = uint8_t(rng());
        salt[0] |= 1;
        const std::string user = "user" + std::to_string(runs), password = "pw" + std::to_string(rng());
        // The server: verifier, private b, public B.
        const Bn s = FromBytes(salt);
        const Bn x(SRP_Calc_x(s.get(), user.c_str(), password.c_str()));
        Bn v(BN_new()), b(BN_new());
        ASSERT_EQ(BN_mod_exp(v.get(), group->g, x.get(), group->N, ctx), 1);
        ASSERT_EQ(BN_rand(b.get(), 256, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), 1);
        const Bn serverB(SRP_Calc_B(b.get(), group->N, group->g, v.get()));
        // The client: our material and crypto.
        TElSRPKeyMaterial key;
        const Bytes params = ServerParams(n, g, salt, ToBytes(serverB.get()));
        ASSERT_TRUE(key.LoadServerParams(params.data(), params.size()));
        TElSRPPublicKeyCrypto srp;
        srp.SetKeyMaterial(&key);
        ByteArray a;
        srp.ComputeClientKeys(user, password, a);
        // The server's premaster from our A.
        const Bn clientA(BN_bin2bn(a.data(), int(a.size()), nullptr));
        ASSERT_EQ(SRP_Verify_A_mod_N(clientA.get(), group->N), 1);
        const Bn u(SRP_Calc_u(clientA.get(), serverB.get(), group->N));
        const Bn premaster(SRP_Calc_server_key(clientA.get(), v.get(), u.get(), b.get(), group->N));
        const ByteArray ours = key.GetSharedSecret();
        ASSERT_EQ(Bytes(ours.begin(), ours.end()), ToBytes(premaster.get())) << "run " << runs;
        if (BN_num_bytes(premaster.get()) < int(n.size())) ++leadingZero;
    }
    BN_CTX_free(ctx);
    EXPECT_GT(leadingZero, 0) << "no S with a leading zero byte in " << runs << " runs";
    EXPECT_GE(runs, 200);
}

TEST(SRPPublicKeyCrypto, RefusesGroupsAndServerValuesItCannotTrust) {
    const SRP_gN* group = SRP_get_default_gN("1024");
    ASSERT_NE(group, nullptr);
    const Bytes n = ToBytes(group->N), g = {2}, salt = B("salt");
    const BigNumPtr nn = pktest::Num(n), t = MakeBigNum();
    SubtractWordFromBigNum(nn.get(), 1, t.get());
    const Bytes nMinus1 = Number(t);
    ShiftBigNumLeft(nn.get(), t.get(), 1);
    const Bytes twoN = Number(t);
    AddWordToBigNum(nn.get(), 2, t.get());
    const Bytes nPlus2 = Number(t);
    // RFC 3526's 2048-bit MODP prime: a safe prime outside RFC 5054's list.
    const auto modp = kwtest::ReadNistFile(
        "/usr/lib/python3/dist-packages/cryptography_vectors/asymmetric/DH/rfc3526.txt");
    ASSERT_GE(modp.size(), 2u);
    const Bytes modp2048 = kwtest::Hex(modp[1].At("P"));
    ASSERT_EQ(modp2048.size(), 256u);
    const Bytes b = pktest::Digest(SB_ALG_SHA512, B("server value"));
    struct Row {
        const char* name;
        Bytes n, g, b;
        const char* error;  // null: accepted
    };
    const Row rows[] = {
        {"RFC 5054 group", n, g, b, nullptr},
        {"RFC 3526 safe prime", modp2048, g, b, nullptr},
        {"small N", {5}, g, b, SPKSRPBadGroup},
        {"even N", nMinus1, g, b, SPKSRPBadGroup},
        {"N + 2", nPlus2, g, b, SPKSRPBadGroup},
        {"g 0", n, {0}, b, SPKSRPBadGenerator},
        {"g 1", n, {1}, b, SPKSRPBadGenerator},
        {"g N - 1", n, nMinus1, b, SPKSRPBadGenerator},
        {"g N", n, n, b, SPKSRPBadGenerator},
        {"B 0", n, g, {0}, SPKSRPBadServerValue},
        {"B empty", n, g, {}, SPKSRPBadServerValue},
        {"B N", n, g, n, SPKSRPBadServerValue},
        {"B 2N", n, g, twoN, SPKSRPBadServerValue},
    };
    for (const Row& r : rows) {
        TElSRPKeyMaterial key;
        const Bytes params = ServerParams(r.n, r.g, salt, r.b);
        ASSERT_TRUE(key.LoadServerParams(params.data(), params.size())) << r.name;
        TElSRPPublicKeyCrypto srp;
        srp.SetKeyMaterial(&key);
        ByteArray a;
        const std::string message = kwtest::ThrownMessage([&] { srp.ComputeClientKeys("user", "password", a); });
        EXPECT_EQ(message, r.error != nullptr ? r.error : "(no exception)") << r.name;
        if (r.error == nullptr) {
            EXPECT_FALSE(a.empty()) << r.name;
            EXPECT_FALSE(key.GetSharedSecret().empty()) << r.name;
        }
    }
    // Nothing loaded, or a body cut short: no computation.
    TElSRPKeyMaterial none;
    TElSRPPublicKeyCrypto srp;
    srp.SetKeyMaterial(&none);
    ByteArray a;
    EXPECT_EQ(kwtest::ThrownMessage([&] { srp.ComputeClientKeys("u", "p", a); }), SPKSRPNoParameters);
    const Bytes full = ServerParams(n, g, salt, b);
    EXPECT_FALSE(none.LoadServerParams(full.data(), full.size() - 1));
    EXPECT_EQ(kwtest::ThrownMessage([&] { srp.ComputeClientKeys("u", "p", a); }), SPKSRPNoParameters);
    // Only SRP materials; no one-shot operation.
    TElDHKeyMaterial dh;
    EXPECT_EQ(kwtest::ThrownMessage([&] { srp.SetKeyMaterial(&dh); }), SPKBadKeyMaterial);
    size_t size = 0;
    EXPECT_EQ(kwtest::ThrownMessage([&] { srp.Encrypt("x", 1, nullptr, size); }), SPKUnsupportedOperation);
    EXPECT_EQ(kwtest::ThrownMessage([&] { srp.SignDetached("x", 1, nullptr, size); }), SPKUnsupportedOperation);
    TElSRPPublicKeyCrypto unset;
    EXPECT_EQ(kwtest::ThrownMessage([&] { unset.ComputeClientKeys("u", "p", a); }), SPKBadKeyMaterial);
}

TEST(SRPKeyMaterial, ServerParamsAndCopies) {
    const Bytes body{0x00, 0x01, 0x05, 0x00, 0x01, 0x02, 0x01, 0x07, 0x00, 0x01, 0x09};
    TElSRPKeyMaterial key;
    EXPECT_TRUE(key.LoadServerParams(body.data(), body.size()));
    EXPECT_EQ(Number(key.Context().N), Bytes{5});
    EXPECT_EQ(Number(key.Context().g), Bytes{2});
    EXPECT_EQ(Number(key.Context().s), Bytes{7});
    EXPECT_EQ(Number(key.Context().B), Bytes{9});
    // Bytes after B (a signature) are not ours.
    Bytes longer = body;
    longer.insert(longer.end(), {0xAA, 0xBB});
    TElSRPKeyMaterial withTail;
    EXPECT_TRUE(withTail.LoadServerParams(longer.data(), longer.size()));
    // Cut short: N, g and s set, B untouched.
    TElSRPKeyMaterial cut;
    EXPECT_FALSE(cut.LoadServerParams(body.data(), body.size() - 1));
    EXPECT_EQ(Number(cut.Context().N), Bytes{5});
    EXPECT_EQ(Number(cut.Context().s), Bytes{7});
    EXPECT_EQ(Number(cut.Context().B), Bytes{1});
    EXPECT_FALSE(cut.GetParamsLoaded());
    // One byte: nothing stored.
    TElSRPKeyMaterial tiny;
    EXPECT_FALSE(tiny.LoadServerParams(body.data(), 1));
    EXPECT_EQ(Number(tiny.Context().N), Bytes{1});
    EXPECT_FALSE(tiny.LoadServerParams(nullptr, 0));
    // A length running past the end.
    const Bytes overrun{0x00, 0x05, 0x01, 0x02};
    EXPECT_FALSE(tiny.LoadServerParams(overrun.data(), overrun.size()));
    // A salt of length 0 is allowed, and a salt's leading zero bytes are kept as sent.
    const Bytes zeroSalt{0x00, 0x01, 0x05, 0x00, 0x01, 0x02, 0x02, 0x00, 0x07, 0x00, 0x01, 0x09};
    TElSRPKeyMaterial salted;
    EXPECT_TRUE(salted.LoadServerParams(zeroSalt.data(), zeroSalt.size()));
    EXPECT_EQ(Bytes(salted.Context().Salt.begin(), salted.Context().Salt.end()), (Bytes{0x00, 0x07}));
    // Before any computation the premaster is the number 1, without padding zeros.
    EXPECT_EQ(key.GetSharedSecret(), ByteArray{1});
    // Clone carries the numbers.
    const std::unique_ptr<TElKeyMaterial> copy = key.Clone();
    auto* clone = dynamic_cast<TElSRPKeyMaterial*>(copy.get());
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(Number(clone->Context().N), Bytes{5});
    EXPECT_EQ(Number(clone->Context().B), Bytes{9});
    EXPECT_TRUE(clone->GetParamsLoaded());
    // What an SRP material does not do.
    EXPECT_FALSE(key.GetValid());
    EXPECT_EQ(key.GetBits(), 0);
    EXPECT_FALSE(key.GetPublicKey());
    EXPECT_FALSE(key.GetSecretKey());
    EXPECT_EQ(kwtest::ThrownMessage([&] { key.Generate(512); }), SPKUnsupportedOperation);
    EXPECT_EQ(kwtest::ThrownMessage([&] { key.LoadSecret("x", 1); }), SPKUnsupportedOperation);
    TElDHKeyMaterial dh;
    EXPECT_EQ(kwtest::ThrownMessage([&] { key.Assign(dh); }), SPKInvalidKeyMaterialType);
}
