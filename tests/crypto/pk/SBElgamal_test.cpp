// The Elgamal primitives: the exponent table and the selection order, a generated key (p of
// exactly the size asked, g a generator of the whole group, checked against the factors of
// p - 1), encryption and signatures against libgcrypt's Elgamal both ways, the pair coder, and
// a table of out-of-range ciphertexts and signatures.
#include "crypto/pk/SBElgamal.h"

#include <gtest/gtest.h>

#include "crypto/GcryptPeer.h"
#include "crypto/PublicKeyTestSupport.h"
#include "support/TestSupport.h"

namespace {

using pktest::B;
using pktest::Bytes;
using pktest::Num;
using pktest::Trimmed;

struct Key {
    BigNumPtr p = MakeBigNum(), g = MakeBigNum(), x = MakeBigNum(), y = MakeBigNum();
    std::vector<ByteArray> factors;
};

// One generated key for the suite: generation is the slow part.
const Key& Generated() {
    static const Key key = [] {
        Key k;
        if (!GenerateElgamalKeyFactored(1024, k.p.get(), k.g.get(), k.x.get(), k.y.get(), k.factors))
            throw std::runtime_error("Elgamal generation failed");
        return k;
    }();
    return key;
}

BigNumPtr Random(const BigNum* below) {
    BigNumPtr r = MakeBigNum();
    do {
        FillBigNumRandomBytes(r.get(), (CountBigNumBits(below) + 7) / 8);
        r->NonNegative = true;
    } while (!IsBigNumGreater(below, r.get()));
    return r;
}

#if defined(KW_HAVE_GCRYPT)
struct Sexp {
    gcry_sexp_t s = nullptr;
    ~Sexp() { gcry_sexp_release(s); }
};
struct Mpi {
    gcry_mpi_t m = nullptr;
    explicit Mpi(const BigNum* v) {
        const Bytes b = Trimmed(v);
        gcry_mpi_scan(&m, GCRYMPI_FMT_USG, b.data(), b.size(), nullptr);
    }
    Mpi() = default;
    ~Mpi() { gcry_mpi_release(m); }
};
BigNumPtr FromMpi(gcry_mpi_t m) {
    size_t n = 0;
    gcry_mpi_print(GCRYMPI_FMT_USG, nullptr, 0, &n, m);
    Bytes b(n);
    gcry_mpi_print(GCRYMPI_FMT_USG, b.data(), b.size(), &n, m);
    b.resize(n);
    return Num(b);
}
BigNumPtr Field(gcry_sexp_t s, const char* name) {
    gcry_sexp_t t = gcry_sexp_find_token(s, name, 0);
    if (t == nullptr) throw std::runtime_error(std::string("no ") + name);
    gcry_mpi_t m = gcry_sexp_nth_mpi(t, 1, GCRYMPI_FMT_USG);
    gcry_sexp_release(t);
    BigNumPtr v = FromMpi(m);
    gcry_mpi_release(m);
    return v;
}
#endif

}  // namespace

TEST(Elgamal, ExponentTableAndSelections) {
    const std::pair<int32_t, int32_t> rows[] = {{100, 119}, {512, 119}, {1024, 165}, {1025, 183},
                                                {5120, 335}, {6000, 950}, {2048, 225}};
    for (auto [bits, expected] : rows)
        EXPECT_EQ(GetElgamalExponentBits(bits), expected) << bits;
    ByteArray s = {1, 1, 1, 0, 0};
    const char* order[] = {"11010", "10110", "01110", "11001", "10101", "01101", "10011", "01011", "00111"};
    for (const char* next : order) {
        ASSERT_TRUE(NextPrimeSelection(s));
        std::string text;
        for (uint8_t b : s)
            text += char('0' + b);
        EXPECT_EQ(text, next);
    }
    EXPECT_FALSE(NextPrimeSelection(s));  // 00111 is the last
}

TEST(Elgamal, GeneratedKeyHasAGeneratorOfTheWholeGroup) {
    const Key& k = Generated();
    EXPECT_EQ(CountBigNumBits(k.p.get()), 1024);
    EXPECT_TRUE(IsBigNumProbablePrime(k.p.get()));
    EXPECT_FALSE(IsBigNumGreater(pktest::NumHex("05").get(), k.g.get()));  // g >= 5
    // p - 1 is the product of the factors, each prime, and no g^((p-1)/f) is 1.
    const BigNumPtr product = pktest::NumHex("01"), pm1 = MakeBigNum(), e = MakeBigNum(), rest = MakeBigNum(),
                    v = MakeBigNum();
    SubtractWordFromBigNum(k.p.get(), 1, pm1.get());
    ASSERT_GE(k.factors.size(), 3u);
    for (const ByteArray& f : k.factors) {
        const BigNumPtr fn = Num(Bytes(f.begin(), f.end()));
        EXPECT_TRUE(IsBigNumProbablePrime(fn.get()));
        MultiplyBigNums(product.get(), fn.get(), product.get());
        DivideBigNums(pm1.get(), fn.get(), e.get(), rest.get());
        EXPECT_TRUE(IsBigNumZero(rest.get()));
        e->NonNegative = true;
        TrimBigNum(e.get());
        ExponentiateBigNumMontgomery(k.g.get(), e.get(), k.p.get(), v.get());
        EXPECT_NE(Trimmed(v.get()), Bytes{1});
    }
    EXPECT_TRUE(AreBigNumsEqual(product.get(), pm1.get()));
    ExponentiateBigNumMontgomery(k.g.get(), k.x.get(), k.p.get(), v.get());
    EXPECT_TRUE(AreBigNumsEqual(v.get(), k.y.get()));
}

TEST(Elgamal, SmallSizesAndCancellation) {
    BigNumPtr p = MakeBigNum(), g = MakeBigNum(), x = MakeBigNum(), y = MakeBigNum();
    EXPECT_FALSE(GenerateElgamalKey(511, p.get(), g.get(), x.get(), y.get()));
    int calls = 0;
    EXPECT_FALSE(GenerateElgamalKey(1024, p.get(), g.get(), x.get(), y.get(), [&](void*) { return ++calls < 10; }));
}

TEST(Elgamal, RoundTripsAndRefusals) {
    const Key& k = Generated();
    const BigNumPtr a = MakeBigNum(), b = MakeBigNum(), m2 = MakeBigNum();
    for (int i = 0; i < 4; ++i) {
        const BigNumPtr m = Random(k.p.get());
        ASSERT_TRUE(EncryptElgamal(m.get(), k.p.get(), k.g.get(), k.y.get(), a.get(), b.get()));
        ASSERT_TRUE(DecryptElgamal(k.p.get(), k.g.get(), k.x.get(), a.get(), b.get(), m2.get()));
        EXPECT_TRUE(AreBigNumsEqual(m.get(), m2.get()));
        ASSERT_TRUE(SignElgamal(m.get(), k.p.get(), k.g.get(), k.x.get(), a.get(), b.get()));
        EXPECT_TRUE(VerifyElgamal(m.get(), k.p.get(), k.g.get(), k.y.get(), a.get(), b.get()));
        AddWordToBigNum(m.get(), 1, m2.get());
        EXPECT_FALSE(VerifyElgamal(m2.get(), k.p.get(), k.g.get(), k.y.get(), a.get(), b.get()));
    }
    // m >= p cannot be recovered: refused.
    AddWordToBigNum(k.p.get(), 5, m2.get());
    EXPECT_FALSE(EncryptElgamal(k.p.get(), k.p.get(), k.g.get(), k.y.get(), a.get(), b.get()));
    EXPECT_FALSE(EncryptElgamal(m2.get(), k.p.get(), k.g.get(), k.y.get(), a.get(), b.get()));
}

// Ciphertexts and signatures outside their ranges.
TEST(Elgamal, OutOfRangeValues) {
    const Key& k = Generated();
    const BigNumPtr m = pktest::NumHex("1234"), a = MakeBigNum(), b = MakeBigNum(), out = MakeBigNum();
    ASSERT_TRUE(SignElgamal(m.get(), k.p.get(), k.g.get(), k.x.get(), a.get(), b.get()));
    const BigNumPtr zero = pktest::NumHex("00"), p = MakeBigNum(), pm1 = MakeBigNum(), pp1 = MakeBigNum(),
                    aPlus = MakeBigNum();
    CopyBigNum(p.get(), k.p.get());
    SubtractWordFromBigNum(k.p.get(), 1, pm1.get());
    AddWordToBigNum(k.p.get(), 1, pp1.get());
    AddBigNums(a.get(), k.p.get(), aPlus.get());
    struct Case {
        const char* name;
        const BigNum *a, *b;
    };
    const Case signatures[] = {
        {"a = 0", zero.get(), b.get()},      {"a = p", p.get(), b.get()},   {"a + p", aPlus.get(), b.get()},
        {"b = p - 1", a.get(), pm1.get()},   {"b = p", a.get(), p.get()},   {"a = p + 1", pp1.get(), b.get()},
    };
    for (const Case& c : signatures)
        EXPECT_FALSE(VerifyElgamal(m.get(), k.p.get(), k.g.get(), k.y.get(), c.a, c.b)) << c.name;
    ASSERT_TRUE(EncryptElgamal(m.get(), k.p.get(), k.g.get(), k.y.get(), a.get(), b.get()));
    const Case ciphertexts[] = {
        {"a = 0", zero.get(), b.get()}, {"a = p", p.get(), b.get()}, {"b = p", a.get(), p.get()},
        {"b = p + 1", a.get(), pp1.get()},
    };
    for (const Case& c : ciphertexts)
        EXPECT_FALSE(DecryptElgamal(k.p.get(), k.g.get(), k.x.get(), c.a, c.b, out.get())) << c.name;
    EXPECT_TRUE(DecryptElgamal(k.p.get(), k.g.get(), k.x.get(), a.get(), b.get(), out.get()));
}

TEST(Elgamal, PairCoder) {
    const Bytes blob = {0x30, 0x07, 0x02, 0x02, 0x00, 0x80, 0x02, 0x01, 0x01};
    Bytes a(4), b(4);
    int32_t as = 4, bs = 4;
    ASSERT_TRUE(DecodeElgamalPair(blob.data(), int32_t(blob.size()), a.data(), as, b.data(), bs));
    EXPECT_EQ(Bytes(a.begin(), a.begin() + as), (Bytes{0x00, 0x80}));
    EXPECT_EQ(Bytes(b.begin(), b.begin() + bs), Bytes{0x01});
    as = 1;
    EXPECT_FALSE(DecodeElgamalPair(blob.data(), int32_t(blob.size()), a.data(), as, b.data(), bs));
    EXPECT_EQ(as, 2);
    EXPECT_EQ(bs, 1);
    const Bytes refused[] = {
        {0x30, 0x03, 0x02, 0x01, 0x05},
        pktest::Cat(blob, {0x00}),
        {0x31, 0x07, 0x02, 0x02, 0x00, 0x80, 0x02, 0x01, 0x01},
        {0x30, 0x07, 0x02, 0x02, 0x00, 0x80, 0x04, 0x01, 0x01},
        {},
    };
    for (const Bytes& r : refused) {
        as = bs = 4;
        EXPECT_FALSE(DecodeElgamalPair(r.data(), int32_t(r.size()), a.data(), as, b.data(), bs));
    }
    // The writer: minimal INTEGERs; too little room answers the bound.
    int32_t size = 0;
    const Bytes padded = {0, 0, 0x80}, one = {1};
    EXPECT_FALSE(EncodeElgamalPair(padded.data(), 3, one.data(), 1, nullptr, size));
    EXPECT_EQ(size, 20);
    Bytes out(static_cast<size_t>(size));
    ASSERT_TRUE(EncodeElgamalPair(padded.data(), 3, one.data(), 1, out.data(), size));
    out.resize(size_t(size));
    EXPECT_EQ(out, blob);
}

TEST(Elgamal, LibgcryptBothWays) {
    KW_REQUIRE_PEER(kwtest::GcryptAvailable(), "libgcrypt");
#if defined(KW_HAVE_GCRYPT)
    const Key& k = Generated();
    const Mpi p(k.p.get()), g(k.g.get()), y(k.y.get()), x(k.x.get());
    Sexp pub, sec;
    ASSERT_EQ(gcry_sexp_build(&pub.s, nullptr, "(public-key (elg (p %m)(g %m)(y %m)))", p.m, g.m, y.m), 0u);
    ASSERT_EQ(gcry_sexp_build(&sec.s, nullptr, "(private-key (elg (p %m)(g %m)(y %m)(x %m)))", p.m, g.m, y.m, x.m), 0u);
    for (int i = 0; i < 3; ++i) {
        const BigNumPtr m = Random(k.p.get());
        const Mpi mm(m.get());
        Sexp data;
        ASSERT_EQ(gcry_sexp_build(&data.s, nullptr, "(data (flags raw)(value %m))", mm.m), 0u);

        // Their ciphertext, our decryption.
        Sexp enc;
        ASSERT_EQ(gcry_pk_encrypt(&enc.s, data.s, pub.s), 0u);
        const BigNumPtr a = Field(enc.s, "a"), b = Field(enc.s, "b"), out = MakeBigNum();
        ASSERT_TRUE(DecryptElgamal(k.p.get(), k.g.get(), k.x.get(), a.get(), b.get(), out.get()));
        EXPECT_TRUE(AreBigNumsEqual(out.get(), m.get()));
        // Our ciphertext, their decryption.
        ASSERT_TRUE(EncryptElgamal(m.get(), k.p.get(), k.g.get(), k.y.get(), a.get(), b.get()));
        const Mpi am(a.get()), bm(b.get());
        Sexp ours, plain;
        ASSERT_EQ(gcry_sexp_build(&ours.s, nullptr, "(enc-val (elg (a %m)(b %m)))", am.m, bm.m), 0u);
        ASSERT_EQ(gcry_pk_decrypt(&plain.s, ours.s, sec.s), 0u);
        gcry_sexp_t value = gcry_sexp_find_token(plain.s, "value", 0);
        gcry_mpi_t pm = value != nullptr ? gcry_sexp_nth_mpi(value, 1, GCRYMPI_FMT_USG)
                                         : gcry_sexp_nth_mpi(plain.s, 0, GCRYMPI_FMT_USG);
        gcry_sexp_release(value);
        ASSERT_NE(pm, nullptr);
        EXPECT_TRUE(AreBigNumsEqual(FromMpi(pm).get(), m.get()));
        gcry_mpi_release(pm);

        // Their signature, our verification; ours, theirs.
        Sexp sig;
        ASSERT_EQ(gcry_pk_sign(&sig.s, data.s, sec.s), 0u);
        const BigNumPtr r = Field(sig.s, "r"), s = Field(sig.s, "s");
        EXPECT_TRUE(VerifyElgamal(m.get(), k.p.get(), k.g.get(), k.y.get(), r.get(), s.get()));
        ASSERT_TRUE(SignElgamal(m.get(), k.p.get(), k.g.get(), k.x.get(), r.get(), s.get()));
        const Mpi rm(r.get()), sm(s.get());
        Sexp oursSig;
        ASSERT_EQ(gcry_sexp_build(&oursSig.s, nullptr, "(sig-val (elg (r %m)(s %m)))", rm.m, sm.m), 0u);
        EXPECT_EQ(gcry_pk_verify(oursSig.s, data.s, pub.s), 0u);
    }
#endif
}
