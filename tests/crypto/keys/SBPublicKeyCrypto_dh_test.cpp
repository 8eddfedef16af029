// Diffie-Hellman through the facade: the published agreement files (Botan's vec.txt and the
// RFC 5114 groups), the secret OpenSSL derives on ffdhe2048 against ours, the agreement
// presented as encryption (public value) and decryption (secret), and a table of hostile peer
// values and groups.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include "crypto/FacadeTestSupport.h"
#include "crypto/NistVectorFile.h"
#include "crypto/PublicKeyTestSupport.h"
#include "crypto/base/SBConstants.h"
#include "crypto/keys/SBPublicKeyCrypto.h"
#include "support/TestSupport.h"

namespace {

using pktest::B;
using pktest::Bytes;
using pktest::StripZeros;

std::filesystem::path DhVectors(const std::string& name) {
    return std::filesystem::path("/usr/lib/python3/dist-packages/cryptography_vectors/asymmetric/DH") / name;
}

// A decimal number as big-endian bytes.
Bytes Decimal(const std::string& text) {
    Bytes out;
    for (char c : text) {
        if (c < '0' || c > '9') throw std::runtime_error("not a decimal digit");
        int carry = c - '0';
        for (size_t i = out.size(); i-- > 0;) {
            const int v = out[i] * 10 + carry;
            out[i] = uint8_t(v);
            carry = v >> 8;
        }
        while (carry > 0) {
            out.insert(out.begin(), uint8_t(carry));
            carry >>= 8;
        }
    }
    return out;
}

// Our side of an agreement: the group, the peer's value and our private value.
struct Party {
    Party(const Bytes& p, const Bytes& g, const Bytes& peer, const Bytes& x) {
        key.ImportPeerPublicKey(p.data(), p.size(), g.data(), g.size(), peer.data(), peer.size());
        if (!x.empty()) key.LoadSecret(x.data(), x.size());
        dh.SetKeyMaterial(&key);
    }
    Bytes PublicValue() { return facadetest::Encrypt(dh, {}); }
    Bytes Secret() { return facadetest::Decrypt(dh, {}); }

    TElDHKeyMaterial key;
    TElDHPublicKeyCrypto dh;
};

}  // namespace

TEST(DHFacadeVectors, BotanVectors) {
    size_t ran = 0;
    for (const kwtest::NistRecord& r : kwtest::ReadNistFile(DhVectors("vec.txt"))) {
        Party party(Decimal(r.At("P")), Decimal(r.At("G")), Decimal(r.At("Y")), Decimal(r.At("X")));
        EXPECT_EQ(StripZeros(party.Secret()), StripZeros(kwtest::Hex(r.At("K")))) << r.At("COUNT");
        ++ran;
    }
    EXPECT_EQ(ran, 5u);
}

TEST(DHFacadeVectors, RFC5114Groups) {
    size_t ran = 0;
    for (const kwtest::NistRecord& r : kwtest::ReadNistFile(DhVectors("RFC5114.txt"))) {
        SCOPED_TRACE(r.section);
        const Bytes p = kwtest::Hex(r.At("P")), g = kwtest::Hex(r.At("G"));
        // The implementation under test holds the IUT's private value, the peer is the CAVS.
        Party iut(p, g, kwtest::Hex(r.At("YstatCAVS")), kwtest::Hex(r.At("XstatIUT")));
        EXPECT_EQ(StripZeros(iut.PublicValue()), StripZeros(kwtest::Hex(r.At("YstatIUT"))));
        EXPECT_EQ(StripZeros(iut.Secret()), StripZeros(kwtest::Hex(r.At("Z"))));
        Party cavs(p, g, kwtest::Hex(r.At("YstatIUT")), kwtest::Hex(r.At("XstatCAVS")));
        EXPECT_EQ(StripZeros(cavs.Secret()), StripZeros(kwtest::Hex(r.At("Z"))));
        // The secret comes in whole 32-bit words.
        EXPECT_EQ(iut.Secret().size() % 4, 0u);
        ++ran;
    }
    EXPECT_EQ(ran, 3u);
}

TEST(DHFacadeOpenSSL, Ffdhe2048SecretMatches) {
    using kwtest::Pkey;
    using kwtest::PkeyCtx;
    PkeyCtx gen(EVP_PKEY_CTX_new_from_name(nullptr, "DH", nullptr));
    ASSERT_TRUE(gen);
    ASSERT_EQ(EVP_PKEY_keygen_init(gen.get()), 1);
    ASSERT_EQ(EVP_PKEY_CTX_set_group_name(gen.get(), "ffdhe2048"), 1);
    for (int round = 0; round < 4; ++round) {
        EVP_PKEY* raw = nullptr;
        ASSERT_EQ(EVP_PKEY_keygen(gen.get(), &raw), 1);
        const Pkey theirs(raw);
        const Bytes p = kwtest::OpenSSLNumber(theirs.get(), OSSL_PKEY_PARAM_FFC_P);
        const Bytes g = kwtest::OpenSSLNumber(theirs.get(), OSSL_PKEY_PARAM_FFC_G);
        const Bytes theirPublic = kwtest::OpenSSLNumber(theirs.get(), OSSL_PKEY_PARAM_PUB_KEY);
        Bytes x = pktest::Digest(SB_ALG_SHA256, B("private " + std::to_string(round)));
        Party ours(p, g, theirPublic, x);
        const Bytes ourPublic = ours.PublicValue();
        // OpenSSL takes our public value and derives its side.
        OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
        BIGNUM* pub = BN_bin2bn(ourPublic.data(), int(ourPublic.size()), nullptr);
        OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "ffdhe2048", 0);
        OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PUB_KEY, pub);
        OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
        PkeyCtx fromdata(EVP_PKEY_CTX_new_from_name(nullptr, "DH", nullptr));
        EVP_PKEY* peerRaw = nullptr;
        ASSERT_EQ(EVP_PKEY_fromdata_init(fromdata.get()), 1);
        ASSERT_EQ(EVP_PKEY_fromdata(fromdata.get(), &peerRaw, EVP_PKEY_PUBLIC_KEY, params), 1);
        const Pkey peer(peerRaw);
        OSSL_PARAM_free(params);
        BN_free(pub);
        OSSL_PARAM_BLD_free(bld);
        PkeyCtx derive(EVP_PKEY_CTX_new(theirs.get(), nullptr));
        ASSERT_EQ(EVP_PKEY_derive_init(derive.get()), 1);
        ASSERT_EQ(EVP_PKEY_derive_set_peer(derive.get(), peer.get()), 1);
        size_t size = 0;
        ASSERT_EQ(EVP_PKEY_derive(derive.get(), nullptr, &size), 1);
        Bytes secret(size);
        ASSERT_EQ(EVP_PKEY_derive(derive.get(), secret.data(), &size), 1);
        secret.resize(size);
        EXPECT_EQ(StripZeros(ours.Secret()), StripZeros(secret)) << round;
    }
}

TEST(DHPublicKeyCrypto, AgreementThroughEncryptAndDecrypt) {
    TElDHKeyMaterial a;
    a.Generate(512);
    EXPECT_TRUE(a.GetSecretKey());
    EXPECT_EQ(a.GetBits(), 512);
    TElDHPublicKeyCrypto dh;
    dh.SetKeyMaterial(&a);
    dh.SetExchangeFlag(true);
    // The size first asked for is the key's length; the own public value comes back.
    size_t size = 0;
    dh.Encrypt(nullptr, 0, nullptr, size);
    EXPECT_EQ(size, 64u);
    const Bytes publicValue = facadetest::Encrypt(dh, {});
    EXPECT_EQ(StripZeros(publicValue), StripZeros(B(a.GetKey()->GetKeyProp(SB_KEYPROP_DH_Y))));
    // SavePublic: y as a positive minimal DER INTEGER.
    const Bytes y = StripZeros(publicValue);
    const Bytes der = facadetest::SavedPublic(a);
    EXPECT_EQ(der[0], 0x02);
    EXPECT_EQ(Bytes(der.end() - long(y.size()), der.end()), y);
    // The other side, as the TLS client does it: group and peer value imported, a private
    // input given to both operations.
    const Bytes p = B(a.GetKey()->GetKeyProp(SB_KEYPROP_DH_P)), g = B(a.GetKey()->GetKeyProp(SB_KEYPROP_DH_G));
    TElDHKeyMaterial b;
    b.ImportPeerPublicKey(p.data(), p.size(), g.data(), g.size(), publicValue.data(), publicValue.size());
    TElDHPublicKeyCrypto client;
    client.SetKeyMaterial(&b);
    const Bytes x = pktest::Digest(SB_ALG_SHA256, B("client private"));
    const Bytes clientPublic = facadetest::Encrypt(client, x);
    const Bytes clientSecret = facadetest::Decrypt(client, x);
    EXPECT_EQ(clientSecret.size() % 4, 0u);
    a.GetKey()->SetKeyProp(SB_KEYPROP_DH_PEER_Y, pktest::Str(clientPublic));
    EXPECT_EQ(StripZeros(facadetest::Decrypt(dh, {})), StripZeros(clientSecret));
    // An input longer than the key is refused by the size rule.
    EXPECT_EQ(kwtest::ThrownMessage([&] { facadetest::Encrypt(client, Bytes(65, 1)); }), SPKInputTooLong);
    // The material's DER x round trip.
    TElDHKeyMaterial copy;
    copy.Assign(a);
    EXPECT_EQ(facadetest::SavedSecret(copy), facadetest::SavedSecret(a));
    const std::unique_ptr<TElKeyMaterial> clone = a.Clone();
    EXPECT_NE(dynamic_cast<TElDHKeyMaterial*>(clone.get()), nullptr);
}

TEST(DHPublicKeyCrypto, Refusals) {
    TElDHKeyMaterial empty;
    EXPECT_TRUE(empty.GetValid());  // even without anything in it
    EXPECT_EQ(kwtest::ThrownMessage([&] { empty.LoadPublic("x", 1); }), SPKUnsupportedOperation);
    TElRSAKeyMaterial rsa;
    EXPECT_EQ(kwtest::ThrownMessage([&] { empty.Assign(rsa); }), SPKInvalidKeyMaterialType);
    // Any OID gives a working DH crypto.
    auto dh = TElDHPublicKeyCrypto::CreateByOID(SB_OID_RSA_ENCRYPTION);
    ASSERT_NE(dh, nullptr);
    EXPECT_EQ(kwtest::ThrownMessage([&] { dh->SetKeyMaterial(&rsa); }), SPKBadKeyMaterial);
    dh->SetKeyMaterial(&empty);
    EXPECT_EQ(kwtest::ThrownMessage([&] { facadetest::Sign(*dh, B("m")); }), SPKUnsupportedOperation);
    EXPECT_EQ(kwtest::ThrownMessage([&] { dh->EstimateOutputSize(nullptr, 0, 2); }), SPKNoSigning);
    EXPECT_EQ(kwtest::ThrownMessage([&] { dh->EstimateOutputSize(nullptr, 0, 4); }), SPKNoSigning);
    EXPECT_EQ(kwtest::ThrownMessage([&] { facadetest::Encrypt(*dh, {}); }), SPKPublicKeyNotFound);
    EXPECT_TRUE(TElDHPublicKeyCrypto::IsAlgorithmSupported(SB_ALG_PK_DH));
    EXPECT_FALSE(TElDHPublicKeyCrypto::IsAlgorithmSupportedByOID(SB_OID_DH));
}

TEST(DHPublicKeyCrypto, HostilePeerValuesAndGroups) {
    // RFC 5114's 1024-bit group and a private value; each row breaks one thing.
    const auto records = kwtest::ReadNistFile(DhVectors("RFC5114.txt"));
    ASSERT_FALSE(records.empty());
    const Bytes p = kwtest::Hex(records[0].At("P")), g = kwtest::Hex(records[0].At("G"));
    const Bytes x = kwtest::Hex(records[0].At("XstatIUT")), y = kwtest::Hex(records[0].At("YstatCAVS"));
    const BigNumPtr pn = pktest::Num(p), t = MakeBigNum();
    auto offset = [&](int32_t d) {
        if (d >= 0) {
            AddWordToBigNum(pn.get(), uint32_t(d), t.get());
        } else {
            SubtractWordFromBigNum(pn.get(), uint32_t(-d), t.get());
        }
        return pktest::Trimmed(t.get());
    };
    struct Row {
        const char* name;
        Bytes p, g, peer;
        bool secretFails, publicFails;
    };
    const Row rows[] = {
        {"sound", p, g, y, false, false},
        {"peer 0", p, g, Bytes{0}, true, false},
        {"peer 1", p, g, Bytes{1}, true, false},
        {"peer p - 1", p, g, offset(-1), true, false},
        {"peer p", p, g, offset(0), true, false},
        {"peer p + 1", p, g, offset(1), true, false},
        {"peer 2^2048", p, g, pktest::Cat(Bytes{1}, Bytes(256, 0)), true, false},
        {"empty peer", p, g, {}, true, true},  // neither part without a peer value or y
        {"g 1", p, Bytes{1}, y, false, true},
        {"g p - 1", p, offset(-1), y, false, true},
        {"p empty", {}, g, y, true, true},
        {"p 2", Bytes{2}, g, y, true, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Party party(r.p, r.g, r.peer, x);
        if (r.secretFails) {
            EXPECT_THROW(party.Secret(), ECryptoLibraryError);
        } else {
            EXPECT_FALSE(StripZeros(party.Secret()).empty());
        }
        if (r.publicFails) {
            EXPECT_THROW(party.PublicValue(), ECryptoLibraryError);
        } else {
            EXPECT_EQ(StripZeros(party.PublicValue()), StripZeros(kwtest::Hex(records[0].At("YstatIUT"))));
        }
    }
}
