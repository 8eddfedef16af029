// The asynchronous calculator: DSA and Elgamal precomputations finished into valid signatures
// and ciphertexts, one End per token, wrong kinds, cancellation (before and while running), End
// after a cancellation, the key-generation kinds, tokens and calculators destroyed while their
// workers run, many tokens on several threads, and the workers' priority (read back from the
// kernel's listing; a refused raise in a child without the privilege). Nothing here depends on
// the clock (the one bounded wait only keeps a fault from hanging the suite); the suite also
// runs under ThreadSanitizer.
#include "crypto/pk/SBPKIAsync.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "crypto/DsaTestSupport.h"
#include "crypto/PublicKeyTestSupport.h"
#include "crypto/pk/SBDSA.h"
#include "crypto/pk/SBElgamal.h"
#include "crypto/pk/SBRSA.h"
#include "platform/Thread.h"
#include "support/OtherUser.h"
#include "support/TestSupport.h"
#include "support/ThreadNice.h"

namespace {

using pktest::Bytes;
using pktest::Num;
using Token = TElPublicKeyComputationToken;

struct DsaKey {
    BigNumPtr p, q, g, x, y;
};

// A key over the first domain of the CAVP SigVer file (L = 1024, N = 160).
const DsaKey& Dsa() {
    static const DsaKey key = [] {
        const dsatest::CavpDsaFile file(dsatest::DsaVectorsPath("FIPS_186-3/SigVer.rsp"));
        const dsatest::Record& r = file.records[0];
        return DsaKey{Num(r.domain->p), Num(r.domain->q), Num(r.domain->g), Num(r.At("X")), Num(r.At("Y"))};
    }();
    return key;
}

struct ElgamalKey {
    BigNumPtr p = MakeBigNum(), g = MakeBigNum(), x = MakeBigNum(), y = MakeBigNum();
};
const ElgamalKey& Elgamal() {
    static const ElgamalKey key = [] {
        ElgamalKey k;
        if (!GenerateElgamalKey(768, k.p.get(), k.g.get(), k.x.get(), k.y.get())) throw std::runtime_error("gen");
        return k;
    }();
    return key;
}

bool VerifyDsa(const DsaKey& k, const Bytes& digest, const BigNum* r, const BigNum* s) {
    const Bytes p = pktest::Trimmed(k.p.get()), q = pktest::Trimmed(k.q.get()), g = pktest::Trimmed(k.g.get()),
                y = pktest::Trimmed(k.y.get()), rb = pktest::Trimmed(r), sb = pktest::Trimmed(s);
    return VerifyDSA(digest.data(), int32_t(digest.size()), p.data(), int32_t(p.size()), q.data(), int32_t(q.size()),
                     g.data(), int32_t(g.size()), y.data(), int32_t(y.size()), rb.data(), int32_t(rb.size()),
                     sb.data(), int32_t(sb.size()));
}

// A job no machine finishes in the moment between Start and Cancel: a 16384-bit prime.
std::unique_ptr<Token> SlowToken(TElPublicKeyAsyncCalculator* calculator) {
    auto token = std::make_unique<Token>(Token::Prime, calculator, 16384);
    token->Start();
    return token;
}

}  // namespace

TEST(PKIAsync, DsaPrecomputationSignsOnce) {
    TElPublicKeyAsyncCalculator calculator;
    const DsaKey& k = Dsa();
    const Bytes digest = pktest::Digest(SB_ALG_SHA256, pktest::B("precomputed"));
    BigNumPtr r = MakeBigNum(), s = MakeBigNum(), r2 = MakeBigNum(), s2 = MakeBigNum();
    auto token = calculator.BeginDSASigning(k.p.get(), k.q.get(), k.g.get());
    calculator.EndDSASigning(token.get(), k.x.get(), digest.data(), int32_t(digest.size()), r.get(), s.get());
    EXPECT_TRUE(token->GetFinished());
    EXPECT_TRUE(VerifyDsa(k, digest, r.get(), s.get()));
    // The nonce is spent: a second End would reuse it (and two signatures with one k give x).
    EXPECT_EQ(kwtest::ThrownMessage([&] {
                  calculator.EndDSASigning(token.get(), k.x.get(), digest.data(), int32_t(digest.size()), r2.get(),
                                           s2.get());
              }),
              STokenAlreadyUsed);
    // Two tokens give two different nonces.
    auto other = calculator.BeginDSASigning(k.p.get(), k.q.get(), k.g.get());
    calculator.EndDSASigning(other.get(), k.x.get(), digest.data(), int32_t(digest.size()), r2.get(), s2.get());
    EXPECT_FALSE(AreBigNumsEqual(r.get(), r2.get()));
    EXPECT_TRUE(VerifyDsa(k, digest, r2.get(), s2.get()));
}

TEST(PKIAsync, ElgamalPrecomputations) {
    TElPublicKeyAsyncCalculator calculator;
    const ElgamalKey& k = Elgamal();
    const BigNumPtr m = pktest::NumHex("0123456789ABCDEF"), a = MakeBigNum(), b = MakeBigNum(), out = MakeBigNum();
    auto enc = calculator.BeginElgamalEncryption(k.p.get(), k.g.get(), k.y.get());
    calculator.EndElgamalEncryption(enc.get(), m.get(), a.get(), b.get());
    ASSERT_TRUE(DecryptElgamal(k.p.get(), k.g.get(), k.x.get(), a.get(), b.get(), out.get()));
    EXPECT_TRUE(AreBigNumsEqual(out.get(), m.get()));
    EXPECT_EQ(kwtest::ThrownMessage([&] { calculator.EndElgamalEncryption(enc.get(), m.get(), a.get(), b.get()); }),
              STokenAlreadyUsed);
    // m >= p is refused before the token is spent.
    auto enc2 = calculator.BeginElgamalEncryption(k.p.get(), k.g.get(), k.y.get());
    EXPECT_EQ(kwtest::ThrownMessage([&] { calculator.EndElgamalEncryption(enc2.get(), k.p.get(), a.get(), b.get()); }),
              SAsyncInputTooLong);
    calculator.EndElgamalEncryption(enc2.get(), m.get(), a.get(), b.get());

    auto sig = calculator.BeginElgamalSigning(k.p.get(), k.g.get());
    calculator.EndElgamalSigning(sig.get(), k.x.get(), m.get(), a.get(), b.get());
    EXPECT_TRUE(VerifyElgamal(m.get(), k.p.get(), k.g.get(), k.y.get(), a.get(), b.get()));
    EXPECT_EQ(
        kwtest::ThrownMessage([&] { calculator.EndElgamalSigning(sig.get(), k.x.get(), m.get(), a.get(), b.get()); }),
        STokenAlreadyUsed);
}

TEST(PKIAsync, WrongKindsAreRefusedWithoutSpendingTheToken) {
    TElPublicKeyAsyncCalculator calculator;
    const DsaKey& d = Dsa();
    const ElgamalKey& e = Elgamal();
    BigNumPtr a = MakeBigNum(), b = MakeBigNum();
    const Bytes digest(20, 1);
    // A token that never runs: the kind is checked before anything waits.
    Token idle(Token::ElgamalEncryption, &calculator);
    EXPECT_EQ(kwtest::ThrownMessage([&] {
                  calculator.EndDSASigning(&idle, d.x.get(), digest.data(), 20, a.get(), b.get());
              }),
              SNotDSASigningToken);
    auto dsa = calculator.BeginDSASigning(d.p.get(), d.q.get(), d.g.get());
    EXPECT_EQ(kwtest::ThrownMessage([&] { calculator.EndElgamalEncryption(dsa.get(), a.get(), a.get(), b.get()); }),
              SNotElgamalEncryptionToken);
    EXPECT_EQ(kwtest::ThrownMessage([&] { calculator.EndElgamalSigning(dsa.get(), e.x.get(), a.get(), a.get(), b.get()); }),
              SNotElgamalSigningToken);
    calculator.EndDSASigning(dsa.get(), d.x.get(), digest.data(), 20, a.get(), b.get());
    EXPECT_TRUE(VerifyDsa(d, digest, a.get(), b.get()));
}

TEST(PKIAsync, CancelledTokensRefuseTheirEnd) {
    TElPublicKeyAsyncCalculator calculator;
    const DsaKey& d = Dsa();
    BigNumPtr r = MakeBigNum(), s = MakeBigNum();
    const Bytes digest(32, 7);
    // Cancelled before it ran: it never will.
    Token early(Token::DSASigning, &calculator);
    early.Cancel();
    early.Start();
    EXPECT_TRUE(early.GetFinished());
    EXPECT_EQ(kwtest::ThrownMessage([&] {
                  calculator.EndDSASigning(&early, d.x.get(), digest.data(), 32, r.get(), s.get());
              }),
              SPublicKeyComputationCanceled);
    // Cancelled while it runs: Cancel returns once the worker has stopped, unsuccessful.
    auto slow = SlowToken(&calculator);
    EXPECT_FALSE(slow->GetFinished());
    slow->Cancel();
    EXPECT_TRUE(slow->GetFinished());
    EXPECT_FALSE(slow->GetSuccess());
    slow->Cancel();  // twice is harmless
    slow->WaitFor();
}

TEST(PKIAsync, GenerationKinds) {
    TElPublicKeyAsyncCalculator calculator;
    Token prime(Token::Prime, &calculator, 512);
    Token dsa(Token::DSAKey, &calculator, 1024);
    Token rsa(Token::RSAKey, &calculator, 1024);
    Token elg(Token::ElgamalKey, &calculator, 768);
    for (Token* t : {&prime, &dsa, &rsa, &elg})
        t->Start();
    for (Token* t : {&prime, &dsa, &rsa, &elg}) {
        t->WaitFor();
        EXPECT_TRUE(t->GetSuccess()) << int(t->GetKind());
    }
    EXPECT_EQ(CountBigNumBits(prime.GetSlot(1)), 512);
    EXPECT_TRUE(IsBigNumProbablePrime(prime.GetSlot(1)));
    // DSA: slots p, q, g, y, x and the blob of the same values.
    const BigNumPtr t = MakeBigNum();
    ExponentiateBigNumMontgomery(dsa.GetSlot(3), dsa.GetSlot(5), dsa.GetSlot(1), t.get());
    EXPECT_TRUE(AreBigNumsEqual(t.get(), dsa.GetSlot(4)));
    EXPECT_EQ(CountBigNumBits(dsa.GetSlot(2)), 160);
    EXPECT_FALSE(dsa.GetKeyBlob().empty());
    // RSA: n = p q, and the blob validates.
    MultiplyBigNums(rsa.GetSlot(4), rsa.GetSlot(5), t.get());
    EXPECT_TRUE(AreBigNumsEqual(t.get(), rsa.GetSlot(1)));
    EXPECT_EQ(pktest::Trimmed(rsa.GetSlot(3)), (Bytes{1, 0, 1}));
    EXPECT_TRUE(ValidateRSAPrivateKey(rsa.GetKeyBlob().data(), int32_t(rsa.GetKeyBlob().size())));
    // Elgamal: slots 2 p, 5 g, 6 x, 7 y.
    ExponentiateBigNumMontgomery(elg.GetSlot(5), elg.GetSlot(6), elg.GetSlot(2), t.get());
    EXPECT_TRUE(AreBigNumsEqual(t.get(), elg.GetSlot(7)));
    EXPECT_EQ(CountBigNumBits(elg.GetSlot(2)), 768);
    // A size the generator refuses ends unsuccessful.
    Token bad(Token::ElgamalKey, &calculator, 100);
    bad.Start();
    bad.WaitFor();
    EXPECT_FALSE(bad.GetSuccess());
}

TEST(PKIAsync, TokensAndCalculatorsGoWhileWorkersRun) {
    // A token freed while it runs stops its worker.
    {
        TElPublicKeyAsyncCalculator calculator;
        auto slow = SlowToken(&calculator);
    }
    // The calculator freed first stops every worker; the tokens stay with their owners.
    std::unique_ptr<Token> slow, dsa;
    {
        TElPublicKeyAsyncCalculator calculator;
        slow = SlowToken(&calculator);
        dsa = calculator.BeginDSASigning(Dsa().p.get(), Dsa().q.get(), Dsa().g.get());
        EXPECT_EQ(slow->GetCalculator(), &calculator);
    }
    EXPECT_TRUE(slow->GetFinished());
    EXPECT_FALSE(slow->GetSuccess());
    EXPECT_TRUE(dsa->GetFinished());
    EXPECT_EQ(slow->GetCalculator(), nullptr);
    slow.reset();
    dsa.reset();
    // Release: the worker stops, the caller still owns the token.
    TElPublicKeyAsyncCalculator calculator;
    auto released = SlowToken(&calculator);
    calculator.ReleaseToken(released.get());
    EXPECT_TRUE(released->GetFinished());
}

TEST(PKIAsync, ManyTokensOnSeveralThreads) {
    TElPublicKeyAsyncCalculator* calculator = GetPublicKeyAsyncCalculator();
    const DsaKey& k = Dsa();
    std::vector<std::thread> threads;
    std::atomic<int> valid{0};
    std::vector<TElPublicKeyAsyncCalculator*> seen(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            seen[size_t(t)] = GetPublicKeyAsyncCalculator();
            std::vector<std::unique_ptr<Token>> tokens;
            for (int i = 0; i < 4; ++i)
                tokens.push_back(calculator->BeginDSASigning(k.p.get(), k.q.get(), k.g.get()));
            const Bytes digest = pktest::Digest(SB_ALG_SHA1, pktest::B("thread " + std::to_string(t)));
            for (auto& token : tokens) {
                BigNumPtr r = MakeBigNum(), s = MakeBigNum();
                calculator->EndDSASigning(token.get(), k.x.get(), digest.data(), int32_t(digest.size()), r.get(),
                                          s.get());
                if (VerifyDsa(k, digest, r.get(), s.get())) ++valid;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(valid.load(), 16);
    for (TElPublicKeyAsyncCalculator* c : seen)
        EXPECT_EQ(c, calculator);
}

TEST(PKIAsync, WorkersRunAtTheCalculatorsPriority) {
    using P = TThreadPriority;
    const uint64_t self = plat::CurrentThreadId();
    const int base = kwtest::ThreadNiceness().at(self);
    // A raise is given when the process may make it, else refused and noted.
    auto raised = [&](int to) { return kwtest::MayRaiseTo(std::max(to, plat::kNiceHighest)) ? to : base; };
    struct Case {
        const char* name;
        P priority;
        int expected;
    };
    const Case cases[] = {
        {"lowest", P::Lowest, base + 10},
        {"idle", P::Idle, plat::kNiceLowest},
        {"higher", P::Higher, raised(base - 5)},
        {"time-critical", P::TimeCritical, raised(plat::kNiceHighest)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int expected = std::clamp(c.expected, plat::kNiceHighest, plat::kNiceLowest);
        const bool refused = expected == base && (c.priority == P::Higher || c.priority == P::TimeCritical);
        TElPublicKeyAsyncCalculator calculator;
        calculator.Priority = c.priority;
        auto slow = SlowToken(&calculator);
        // The worker moves itself before its job starts; the bound only keeps a fault from
        // hanging the suite.
        auto workers = [&] {
            std::vector<int> nices;
            for (const auto& [id, nice] : kwtest::ThreadNiceness())
                if (id != self) nices.push_back(nice);
            return nices;
        };
        EXPECT_TRUE(kwtest::Eventually(
            [&] {
                if (refused) return calculator.PriorityRaiseRefused();
                const std::vector<int> nices = workers();
                return std::find(nices.begin(), nices.end(), expected) != nices.end();
            },
            std::chrono::minutes(1)));
        EXPECT_EQ(calculator.PriorityRaiseRefused(), refused);
        for (int nice : workers())
            EXPECT_GE(nice, std::min(base, expected));
        // The thread that started it keeps its own.
        EXPECT_EQ(kwtest::ThreadNiceness().at(self), base);
        slow->Cancel();
    }
}

namespace {

// Run in a child without the privilege to raise; the exit code says how it went, and stderr
// what went wrong.
int SignsWithARefusedRaise() {
    // The key is read while the vector files may still be read (the other user may not).
    const DsaKey& k = Dsa();
    const Bytes digest = pktest::Digest(SB_ALG_SHA256, pktest::B("refused"));
    if (!kwtest::GiveUpRaisingPriority()) {
        std::fputs("could not give the privilege up\n", stderr);
        return 2;
    }
    int failures = 0;
    auto check = [&](bool ok, const char* what) {
        if (!ok) {
            std::fprintf(stderr, "%s\n", what);
            ++failures;
        }
    };
    auto sign = [&](TElPublicKeyAsyncCalculator& calculator) {
        BigNumPtr r = MakeBigNum(), s = MakeBigNum();
        auto token = calculator.BeginDSASigning(k.p.get(), k.q.get(), k.g.get());
        calculator.EndDSASigning(token.get(), k.x.get(), digest.data(), int32_t(digest.size()), r.get(),
                                 s.get());
        return VerifyDsa(k, digest, r.get(), s.get());
    };
    TElPublicKeyAsyncCalculator raising;
    raising.Priority = TThreadPriority::Highest;
    check(!raising.PriorityRaiseRefused(), "noted before any worker ran");
    check(sign(raising), "no valid signature after the refusal");
    check(raising.PriorityRaiseRefused(), "the refusal was not noted");
    check(sign(raising), "no valid signature after the second refusal");
    check(raising.PriorityRaiseRefused(), "the note went away");
    // Lowering is no raise: nothing to note.
    TElPublicKeyAsyncCalculator lowering;
    lowering.Priority = TThreadPriority::Lower;
    check(sign(lowering), "no valid signature at a lower priority");
    check(!lowering.PriorityRaiseRefused(), "a lowering was noted as refused");
    return failures == 0 ? 0 : 1;
}

}  // namespace

TEST(PKIAsync, ARefusedRaiseIsNotedOnceAndTheComputationGoesOn) {
    EXPECT_EXIT(std::_Exit(SignsWithARefusedRaise()), ::testing::ExitedWithCode(0), "");
}
