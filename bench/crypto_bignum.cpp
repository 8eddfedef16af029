// bench/crypto_bignum.cpp: SBMath against GMP in the same run. One line per case:
// "<case> <our ops/s> <GMP ops/s> ops/s <speed>", the speed being our throughput over GMP's
// (bench/BenchLine.h).
//
// The goal case is modexp-2048-sec: a 2048-bit modular exponentiation with a full 2048-bit
// exponent and no CRT (what an RSA private operation without CRT costs), against
// mpz_powm_sec, GMP's constant-time exponentiation; the goal is a speed of at least 0.5.
// The other cases put the building blocks beside their GMP counterparts.
#include <gmp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>

#include "bench/BenchLine.h"
#include "crypto/math/SBMath.h"

namespace {

class Mpz {
public:
    Mpz() { mpz_init(v_); }
    ~Mpz() { mpz_clear(v_); }
    Mpz(const Mpz&) = delete;
    Mpz& operator=(const Mpz&) = delete;
    operator mpz_ptr() { return v_; }
    void From(const BigNum* A) {
        mpz_import(v_, size_t(A->LimbCount), -1, sizeof(uint32_t), 0, 0, A->Limbs);
        if (!A->NonNegative) mpz_neg(v_, v_);
    }

private:
    mpz_t v_;
};

std::mt19937_64 rng(20240601);

BigNumPtr RandomNumber(int bits, bool odd) {
    BigNumPtr n = MakeBigNum();
    const int32_t limbs = (bits + 31) / 32;
    for (int32_t i = 0; i < limbs; ++i)
        n->Limbs[i] = uint32_t(rng());
    n->LimbCount = limbs;
    n->Limbs[limbs - 1] |= 0x80000000u;
    if (odd) n->Limbs[0] |= 1;
    return n;
}

// Operations per second: the best of five rounds of at least 0.2 s each.
double Throughput(const std::function<void()>& op) {
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        long count = 0;
        const auto t0 = std::chrono::steady_clock::now();
        double elapsed = 0;
        do {
            op();
            ++count;
            elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        } while (elapsed < 0.2);
        best = std::max(best, double(count) / elapsed);
    }
    return best;
}

bool same = true;

void Report(const char* name, const std::function<void()>& ours, const std::function<void()>& peer) {
    const double o = Throughput(ours);
    const double p = Throughput(peer);
    bench::PrintRates(name, o, p, "ops/s");
}

void Check(const BigNum* ours, mpz_ptr theirs, const char* name) {
    Mpz o;
    o.From(ours);
    if (mpz_cmp(o, theirs) != 0) {
        std::fprintf(stderr, "%s: results differ\n", name);
        same = false;
    }
}

void ModExpCase(const char* name, int bits, int expBits, bool sec) {
    BigNumPtr m = RandomNumber(bits, true), b = RandomNumber(bits - 1, false),
              e = RandomNumber(expBits, true);
    BigNumPtr r = MakeBigNum();
    Mpz gm, gb, ge, gr;
    gm.From(m.get());
    gb.From(b.get());
    ge.From(e.get());
    ExponentiateBigNumMontgomery(b.get(), e.get(), m.get(), r.get());
    if (sec) {
        mpz_powm_sec(gr, gb, ge, gm);
    } else {
        mpz_powm(gr, gb, ge, gm);
    }
    Check(r.get(), gr, name);
    Report(
        name, [&] { ExponentiateBigNumMontgomery(b.get(), e.get(), m.get(), r.get()); },
        [&] {
            if (sec) {
                mpz_powm_sec(gr, gb, ge, gm);
            } else {
                mpz_powm(gr, gb, ge, gm);
            }
        });
}

}  // namespace

int main() {
    ModExpCase("modexp-2048-sec", 2048, 2048, true);
    ModExpCase("modexp-1024-sec", 1024, 1024, true);
    ModExpCase("modexp-4096-sec", 4096, 4096, true);
    ModExpCase("modexp-2048-e65537", 2048, 17, false);

    {
        BigNumPtr a = RandomNumber(2048, false), b = RandomNumber(2048, false), r = MakeBigNum();
        Mpz ga, gb, gr;
        ga.From(a.get());
        gb.From(b.get());
        MultiplyBigNums(a.get(), b.get(), r.get());
        mpz_mul(gr, ga, gb);
        Check(r.get(), gr, "mul-2048");
        Report(
            "mul-2048", [&] { MultiplyBigNums(a.get(), b.get(), r.get()); }, [&] { mpz_mul(gr, ga, gb); });
    }
    {
        BigNumPtr a = RandomNumber(4096, false), d = RandomNumber(2048, false);
        BigNumPtr q = MakeBigNum(), r = MakeBigNum();
        Mpz ga, gd, gq, gr;
        ga.From(a.get());
        gd.From(d.get());
        DivideBigNums(a.get(), d.get(), q.get(), r.get());
        mpz_tdiv_qr(gq, gr, ga, gd);
        Check(r.get(), gr, "div-4096-2048");
        Report(
            "div-4096-2048", [&] { DivideBigNums(a.get(), d.get(), q.get(), r.get()); },
            [&] { mpz_tdiv_qr(gq, gr, ga, gd); });
    }
    {
        BigNumPtr a = RandomNumber(2047, true), m = RandomNumber(2048, true);
        BigNumPtr g = MakeBigNum(), inv = MakeBigNum();
        Mpz ga, gm, gi;
        ga.From(a.get());
        gm.From(m.get());
        ComputeBigNumGCDAndInverse(a.get(), m.get(), g.get(), inv.get());
        if (mpz_invert(gi, ga, gm) != 0) Check(inv.get(), gi, "inverse-2048");
        Report(
            "inverse-2048", [&] { ComputeBigNumGCDAndInverse(a.get(), m.get(), g.get(), inv.get()); },
            [&] { mpz_invert(gi, ga, gm); });
    }
    return same ? 0 : 1;
}
