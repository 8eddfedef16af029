// The DSA primitives: CAVP FIPS 186-3 SigVer, Wycheproof dsa_2048_256_sha256 (DER only),
// generated domains checked by their properties, both private-key blob forms, the size
// questions, and a table of out-of-range signatures.
#include "crypto/pk/SBDSA.h"

#include <gtest/gtest.h>

#include "crypto/DsaTestSupport.h"
#include "crypto/PublicKeyTestSupport.h"
#include "crypto/WycheproofFile.h"

namespace {

using pktest::B;
using pktest::Bytes;
using pktest::Str;

struct Key {
    Bytes p, q, g, y, x;
};

bool Verify(const Key& k, const Bytes& digest, const Bytes& r, const Bytes& s) {
    return VerifyDSA(digest.data(), int32_t(digest.size()), k.p.data(), int32_t(k.p.size()), k.q.data(),
                     int32_t(k.q.size()), k.g.data(), int32_t(k.g.size()), k.y.data(), int32_t(k.y.size()), r.data(),
                     int32_t(r.size()), s.data(), int32_t(s.size()));
}

std::pair<Bytes, Bytes> Sign(const Key& k, const Bytes& digest) {
    int32_t rs = 0, ss = 0;
    EXPECT_FALSE(SignDSA(digest.data(), int32_t(digest.size()), k.p.data(), int32_t(k.p.size()), k.q.data(),
                         int32_t(k.q.size()), k.g.data(), int32_t(k.g.size()), k.x.data(), int32_t(k.x.size()), nullptr,
                         rs, nullptr, ss));
    Bytes r(static_cast<size_t>(rs)), s(static_cast<size_t>(ss));
    if (!SignDSA(digest.data(), int32_t(digest.size()), k.p.data(), int32_t(k.p.size()), k.q.data(),
                 int32_t(k.q.size()), k.g.data(), int32_t(k.g.size()), k.x.data(), int32_t(k.x.size()), r.data(), rs,
                 s.data(), ss))
        return {};
    return {r, s};
}

bool IsPrime(const Bytes& v) {
    return IsBigNumProbablePrime(pktest::Num(v).get());
}

// The properties every generated domain and key must have.
void CheckGenerated(const Key& k, int L, int N) {
    const BigNumPtr p = pktest::Num(k.p), q = pktest::Num(k.q), g = pktest::Num(k.g), y = pktest::Num(k.y),
                    x = pktest::Num(k.x), t = MakeBigNum();
    EXPECT_EQ(CountBigNumBits(p.get()), L);
    EXPECT_EQ(CountBigNumBits(q.get()), N);
    EXPECT_TRUE(IsPrime(k.p));
    EXPECT_TRUE(IsPrime(k.q));
    ReduceBigNumBySubtraction(p.get(), q.get(), t.get());
    EXPECT_EQ(pktest::Trimmed(t.get()), Bytes{1});  // q divides p - 1
    EXPECT_GE(CountBigNumBits(g.get()), 2);
    ExponentiateBigNumMontgomery(g.get(), q.get(), p.get(), t.get());
    EXPECT_EQ(pktest::Trimmed(t.get()), Bytes{1});
    EXPECT_FALSE(IsBigNumZero(x.get()));
    EXPECT_TRUE(IsBigNumGreater(q.get(), x.get()));
    ExponentiateBigNumMontgomery(g.get(), x.get(), p.get(), t.get());
    EXPECT_TRUE(AreBigNumsEqual(t.get(), y.get()));
    EXPECT_TRUE(ValidateDSAKey(k.p.data(), int32_t(k.p.size()), k.q.data(), int32_t(k.q.size()), k.g.data(),
                               int32_t(k.g.size()), k.y.data(), int32_t(k.y.size()), k.x.data(), int32_t(k.x.size()),
                               true, true));
    const Bytes digest = pktest::Digest(SB_ALG_SHA256, B("generated"));
    const auto [r, s] = Sign(k, digest);
    ASSERT_FALSE(r.empty());
    EXPECT_TRUE(Verify(k, digest, r, s));
}

}  // namespace

TEST(DSAVectors, CavpSigVer) {
    const dsatest::CavpDsaFile file(dsatest::DsaVectorsPath("FIPS_186-3/SigVer.rsp"));
    size_t ran = 0, valid = 0;
    for (const dsatest::Record& rec : file.records) {
        const dsatest::Domain& d = *rec.domain;
        const Key k{d.p, d.q, d.g, rec.At("Y"), rec.At("X")};
        const bool expected = rec.fields.at("Result")[0] == 'P';
        EXPECT_EQ(Verify(k, pktest::Digest(d.hash, rec.At("Msg")), rec.At("R"), rec.At("S")), expected)
            << "L=" << d.L << " N=" << d.N << " record " << ran << " " << rec.fields.at("Result");
        valid += expected;
        ++ran;
    }
    EXPECT_EQ(ran, 300u);
    EXPECT_EQ(valid, 140u);
}

TEST(DSAVectors, WycheproofTakesOnlyDER) {
    const kwtest::WycheproofFile file(kwtest::WycheproofFile::PathOf("dsa_2048_256_sha256_test.json"));
    size_t ran = 0;
    for (const kwtest::WycheproofTest& t : file.Tests()) {
        const kwtest::Json& pk = (*t.group)["publicKey"];
        const Key k{kwtest::Hex(pk["p"].Str()), kwtest::Hex(pk["q"].Str()), kwtest::Hex(pk["g"].Str()),
                    kwtest::Hex(pk["y"].Str()), {}};
        const Bytes sig = t.Bytes("sig");
        size_t rs = 0, ss = 0;
        DSADecodeSignature(sig.data(), sig.size(), nullptr, rs, nullptr, ss);
        Bytes r(rs + 1), s(ss + 1);
        rs = r.size();
        ss = s.size();
        bool ok = DSADecodeSignature(sig.data(), sig.size(), r.data(), rs, s.data(), ss);
        if (ok) {
            r.resize(rs);
            s.resize(ss);
            ok = Verify(k, pktest::Digest(SB_ALG_SHA256, t.Bytes("msg")), r, s);
        }
        if (t.Valid()) {
            EXPECT_TRUE(ok) << t.Describe();
        } else if (t.Invalid()) {
            EXPECT_FALSE(ok) << t.Describe();
        }
        ++ran;
    }
    EXPECT_EQ(int64_t(ran), file.AnnouncedCount());
}

TEST(DSAGeneration, SizesFirst) {
    int32_t p = 0, q = 0, g = 0, y = 0, x = 0, blob = 0;
    EXPECT_FALSE(GenerateDSAKey(1024, nullptr, p, nullptr, q, nullptr, g, nullptr, y, nullptr, x, nullptr, blob));
    EXPECT_EQ(p, 128);
    EXPECT_EQ(q, 20);
    EXPECT_EQ(g, 128);
    EXPECT_EQ(y, 128);
    EXPECT_EQ(x, 128);
    EXPECT_EQ(blob, 597);
    p = q = g = y = x = 0;
    EXPECT_FALSE(GenerateDSAKeyWithQBits(1024, 168, nullptr, p, nullptr, q, nullptr, g, nullptr, y, nullptr, x));
    EXPECT_EQ(p, 128);
    EXPECT_EQ(q, 24);  // the word form of 168 bits
    EXPECT_EQ(x, 24);
    // Sizes outside FIPS 186-3's rules answer false at once, sizes untouched.
    for (auto [L, N] : {std::pair{1024, 520}, {1024, 164}, {1000, 160}, {1024, 152}}) {
        p = q = 7;
        EXPECT_FALSE(GenerateDSAKeyWithQBits(L, N, nullptr, p, nullptr, q, nullptr, g, nullptr, y, nullptr, x));
        EXPECT_EQ(p, 7) << L << "/" << N;
        EXPECT_EQ(q, 7);
    }
}

TEST(DSAGeneration, Fips1862Domain) {
    Bytes p(128), q(20), g(128), y(128), x(128), blob(600);
    int32_t ps = 128, qs = 20, gs = 128, ys = 128, xs = 128, bs = 600;
    ASSERT_TRUE(GenerateDSAKey(1024, p.data(), ps, q.data(), qs, g.data(), gs, y.data(), ys, x.data(), xs, blob.data(), bs));
    p.resize(size_t(ps));
    g.resize(size_t(gs));
    y.resize(size_t(ys));
    x.resize(size_t(xs));
    blob.resize(size_t(bs));
    const Key k{p, q, g, y, x};
    CheckGenerated(k, 1024, 160);
    // The blob is the DER six-INTEGER form and reads back to the same numbers.
    Bytes v[5];
    int32_t sizes[5];
    for (int i = 0; i < 5; ++i) {
        v[i].resize(200);
        sizes[i] = 200;
    }
    ASSERT_TRUE(DecodeDSAPrivateKey(blob.data(), bs, v[0].data(), sizes[0], v[1].data(), sizes[1], v[2].data(),
                                    sizes[2], v[3].data(), sizes[3], v[4].data(), sizes[4]));
    const Bytes* expected[5] = {&p, &q, &g, &y, &x};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(pktest::StripZeros(Bytes(v[i].begin(), v[i].begin() + sizes[i])), pktest::StripZeros(*expected[i]));
    int32_t again = 0;
    EXPECT_FALSE(EncodeDSAPrivateKey(p.data(), ps, q.data(), qs, g.data(), gs, y.data(), ys, x.data(), xs, nullptr, again));
    Bytes encoded(static_cast<size_t>(again));
    ASSERT_TRUE(EncodeDSAPrivateKey(p.data(), ps, q.data(), qs, g.data(), gs, y.data(), ys, x.data(), xs,
                                    encoded.data(), again));
    EXPECT_EQ(encoded, blob);
}

TEST(DSAGeneration, Fips1863Domains) {
    for (auto [L, N] : {std::pair{1024, 160}, {1024, 168}, {2048, 224}}) {
        SCOPED_TRACE(std::to_string(L) + "/" + std::to_string(N));
        Bytes p(256), q(64), g(256), y(256), x(64);
        int32_t ps = 256, qs = 64, gs = 256, ys = 256, xs = 64;
        ASSERT_TRUE(GenerateDSAKeyWithQBits(L, N, p.data(), ps, q.data(), qs, g.data(), gs, y.data(), ys, x.data(), xs));
        EXPECT_EQ(qs, 4 * ((N + 31) / 32));
        p.resize(size_t(ps));
        q.resize(size_t(qs));
        g.resize(size_t(gs));
        y.resize(size_t(ys));
        x.resize(size_t(xs));
        CheckGenerated({p, q, g, y, x}, L, N);
    }
}

TEST(DSAGeneration, Cancels) {
    int calls = 0;
    const MathProgressCallback stop = [&](void*) { return ++calls < 5; };
    Bytes p(128), q(20), g(128), y(128), x(128), blob(600);
    int32_t ps = 128, qs = 20, gs = 128, ys = 128, xs = 128, bs = 600;
    EXPECT_FALSE(GenerateDSAKey(1024, p.data(), ps, q.data(), qs, g.data(), gs, y.data(), ys, x.data(), xs, blob.data(),
                                bs, stop));
    calls = 0;
    EXPECT_FALSE(GenerateDSAKeyWithQBits(1024, 160, p.data(), ps, q.data(), qs, g.data(), gs, y.data(), ys, x.data(), xs,
                                         stop));
}

// ---------------------------------------------------------------------------------------------
// Blobs

TEST(DSABlobs, BothFormsAndRefusals) {
    const Bytes p = {0x00, 0xC3}, q = {0x0B}, g = {0x02}, y = {0x00, 0x81}, x = {0x05};
    auto integer = [](const Bytes& v) { return EncodeDERTLV(0x02, Str(v)); };
    const Bytes seq = B(EncodeDERSequence({EncodeDERInteger(std::string(1, '\0')), integer(p), integer(q), integer(g),
                                           integer(y), integer(x)}));
    // PKCS#8 carries no y: it is computed (g^x mod p = 2^5 mod 195 = 32).
    const Bytes pkcs8 = B(EncodeDERSequence(
        {EncodeDERInteger(std::string(1, '\0')),
         EncodeDERSequence({EncodeDERTLV(0x06, SB_OID_DSA), EncodeDERSequence({integer(p), integer(q), integer(g)})}),
         EncodeDEROctetString(integer(x))}));
    auto decode = [](const Bytes& blob, std::vector<Bytes>& out, int32_t room = 16) {
        out.assign(5, Bytes(size_t(room)));
        int32_t s[5] = {room, room, room, room, room};
        const bool ok = DecodeDSAPrivateKey(blob.data(), int32_t(blob.size()), out[0].data(), s[0], out[1].data(), s[1],
                                            out[2].data(), s[2], out[3].data(), s[3], out[4].data(), s[4]);
        for (int i = 0; i < 5; ++i)
            out[size_t(i)].resize(size_t(s[i]));
        return ok;
    };
    std::vector<Bytes> v;
    ASSERT_TRUE(decode(seq, v));
    EXPECT_EQ(v, (std::vector<Bytes>{{0xC3}, {0x0B}, {0x02}, {0x81}, {0x05}}));  // one 00 removed
    ASSERT_TRUE(decode(pkcs8, v));
    EXPECT_EQ(v, (std::vector<Bytes>{{0xC3}, {0x0B}, {0x02}, {0x20}, {0x05}}));
    // Too little room: false, every size set.
    EXPECT_FALSE(decode(seq, v, 0));
    EXPECT_EQ(v[0].size(), 1u);
    // Neither form: false, every size 0.
    std::vector<std::string> five = {EncodeDERInteger(std::string(1, '\0')), integer(p), integer(q), integer(g), integer(y)};
    const Bytes refused[] = {
        B(EncodeDERSequence(five)),
        B(EncodeDERSequence({EncodeDERInteger("\x01"), integer(p), integer(q), integer(g), integer(y), integer(x)})),
        B(EncodeDERSequence({EncodeDERInteger(std::string(1, '\0')),
                             EncodeDERSequence({EncodeDERTLV(0x06, SB_OID_RSA_ENCRYPTION),
                                                EncodeDERSequence({integer(p), integer(q), integer(g)})}),
                             EncodeDEROctetString(integer(x))})),
        Bytes(seq.begin(), seq.end() - 1),
        {},
    };
    for (const Bytes& blob : refused) {
        EXPECT_FALSE(decode(blob, v));
        for (const Bytes& b : v)
            EXPECT_TRUE(b.empty());
    }
    // The writer: minimal INTEGERs whatever zeros the values come with.
    const Bytes padded = {0, 0, 0, 5};
    int32_t size = 64;
    Bytes out(64);
    ASSERT_TRUE(EncodeDSAPrivateKey(p.data(), 2, q.data(), 1, g.data(), 1, y.data(), 2, padded.data(), 4, out.data(), size));
    out.resize(size_t(size));
    EXPECT_EQ(Str(out).substr(size_t(size) - 3), std::string("\x02\x01\x05", 3));
    EXPECT_EQ(out, seq);
}

TEST(DSABlobs, SignatureReaderTakesDEROnly) {
    auto der = [](const std::string& r, const std::string& s) {
        return B(EncodeDERSequence({EncodeDERTLV(0x02, r), EncodeDERTLV(0x02, s)}));
    };
    struct Case {
        const char* name;
        Bytes blob;
        bool ok;
    };
    const Case cases[] = {
        {"minimal", der("\x05", std::string("\x00\x80", 2)), true},
        {"padded r", der(std::string("\x00\x05", 2), "\x07"), false},
        {"negative s", der("\x05", "\x80"), false},
        {"empty r", der("", "\x07"), false},
        {"long-form length", pktest::Cat({0x30, 0x81, 0x06}, Bytes{2, 1, 5, 2, 1, 7}), false},
        {"indefinite length", pktest::Cat({0x30, 0x80}, Bytes{2, 1, 5, 2, 1, 7, 0, 0}), false},
        {"trailing byte", pktest::Cat(der("\x05", "\x07"), {0}), false},
        {"three INTEGERs", B(EncodeDERSequence({EncodeDERInteger("\x05"), EncodeDERInteger("\x05"), EncodeDERInteger("\x05")})), false},
    };
    for (const Case& c : cases) {
        Bytes r(8), s(8);
        size_t rs = 8, ss = 8;
        EXPECT_EQ(DSADecodeSignature(c.blob.data(), c.blob.size(), r.data(), rs, s.data(), ss), c.ok) << c.name;
    }
    size_t size = 0;
    EXPECT_FALSE(DSAEncodeSignature("\x00\x05", 2, "\x80", 1, nullptr, size));
    Bytes out(size);
    ASSERT_TRUE(DSAEncodeSignature("\x00\x05", 2, "\x80", 1, out.data(), size));
    out.resize(size);
    EXPECT_EQ(out, der("\x05", std::string("\x00\x80", 2)));
}

// ---------------------------------------------------------------------------------------------
// Signatures

TEST(DSASignatures, OutOfRangeValuesAreInvalid) {
    const dsatest::CavpDsaFile file(dsatest::DsaVectorsPath("FIPS_186-3/SigVer.rsp"));
    const dsatest::Record& rec = file.records[0];  // a valid signature, SHA-1, N = 160
    ASSERT_EQ(rec.fields.at("Result"), "P");
    const Key k{rec.domain->p, rec.domain->q, rec.domain->g, rec.At("Y"), rec.At("X")};
    const Bytes digest = pktest::Digest(SB_ALG_SHA1, rec.At("Msg"));
    const Bytes r = rec.At("R"), s = rec.At("S");
    ASSERT_TRUE(Verify(k, digest, r, s));
    const BigNumPtr q = pktest::Num(k.q), t = MakeBigNum();
    auto plus = [&](const Bytes& v, const Bytes& add) {
        AddBigNums(pktest::Num(v).get(), pktest::Num(add).get(), t.get());
        return pktest::Trimmed(t.get());
    };
    const std::pair<const char*, std::pair<Bytes, Bytes>> cases[] = {
        {"r = 0", {{0}, s}},
        {"s = 0", {r, {0}}},
        {"r = q", {k.q, s}},
        {"s = q", {r, k.q}},
        {"r + q", {plus(r, k.q), s}},
        {"s + q", {r, plus(s, k.q)}},
        {"r empty", {{}, s}},
        {"r and s swapped", {s, r}},
    };
    for (const auto& [name, rs] : cases)
        EXPECT_FALSE(Verify(k, digest, rs.first, rs.second)) << name;
    // A signature of ours over the same digest verifies, and not over another.
    const auto [r2, s2] = Sign(k, digest);
    EXPECT_EQ(r2.size(), 20u);
    EXPECT_TRUE(Verify(k, digest, r2, s2));
    EXPECT_FALSE(Verify(k, pktest::Digest(SB_ALG_SHA1, B("other")), r2, s2));
}

TEST(DSASignatures, DigestIsCutToTheLeftmostNBits) {
    // A 160-bit q and a SHA-512 digest whose first byte is zero: the leftmost 160 bits of the
    // digest, leading zeros included (FIPS 186-4 4.6), not the top 160 significant bits.
    const dsatest::CavpDsaFile file(dsatest::DsaVectorsPath("FIPS_186-3/SigVer.rsp"));
    const dsatest::Record& rec = file.records[0];
    const Key k{rec.domain->p, rec.domain->q, rec.domain->g, rec.At("Y"), rec.At("X")};
    Bytes digest(64);
    for (size_t i = 1; i < 64; ++i)
        digest[i] = uint8_t(i * 37);
    const auto [r, s] = Sign(k, digest);
    EXPECT_TRUE(Verify(k, digest, r, s));
    // The same signature verifies for the 20-byte prefix, which is the value signed.
    EXPECT_TRUE(Verify(k, Bytes(digest.begin(), digest.begin() + 20), r, s));
}

TEST(DSASignatures, ValidationChecks) {
    const dsatest::CavpDsaFile file(dsatest::DsaVectorsPath("FIPS_186-3/SigVer.rsp"));
    const dsatest::Record& rec = file.records[0];
    const Key k{rec.domain->p, rec.domain->q, rec.domain->g, rec.At("Y"), rec.At("X")};
    auto validate = [](const Key& v, bool secret, bool strict) {
        return ValidateDSAKey(v.p.data(), int32_t(v.p.size()), v.q.data(), int32_t(v.q.size()), v.g.data(),
                              int32_t(v.g.size()), v.y.data(), int32_t(v.y.size()), v.x.data(), int32_t(v.x.size()),
                              secret, strict);
    };
    EXPECT_TRUE(validate(k, true, true));
    Key wrongX = k;
    wrongX.x.back() ^= 1;
    EXPECT_TRUE(validate(wrongX, true, false));  // only the strict check computes g^x
    EXPECT_FALSE(validate(wrongX, true, true));
    EXPECT_TRUE(validate(wrongX, false, true));
    Key gOne = k;
    gOne.g = {1};
    EXPECT_FALSE(validate(gOne, false, false));
    Key xq = k;
    xq.x = k.q;
    EXPECT_FALSE(validate(xq, true, false));
    // Without the strict flag a structurally correct set with a composite q passes:
    // q = 255 = 3 x 5 x 17, p = 255 x 2^504 + 1 (512 bits, p mod q = 1), g = 2, y = 3.
    Bytes p(64, 0);
    p[0] = 0xFF;
    p[63] = 0x01;
    const Key composite{p, {0xFF}, {2}, {3}, {4}};
    EXPECT_TRUE(validate(composite, true, false));
    EXPECT_FALSE(validate(composite, false, true));
}
