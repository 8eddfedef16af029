// tests/crypto/BigNumGmp.h: GMP as the independent peer of the BigNum tests: conversions
// between BigNum records and mpz values (through the limbs, not through our text code), and
// a generator of operands that exercise carries: random limbs, runs of all-ones limbs, powers
// of two and sparse values, of either sign.
#pragma once

#include <gmp.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "crypto/math/SBMath.h"

namespace kwtest {

// An mpz_t that frees itself.
class Mpz {
public:
    Mpz() { mpz_init(v_); }
    explicit Mpz(const BigNum* A) : Mpz() { Set(A); }
    ~Mpz() { mpz_clear(v_); }
    Mpz(const Mpz&) = delete;
    Mpz& operator=(const Mpz&) = delete;

    mpz_ptr get() { return v_; }
    mpz_srcptr get() const { return v_; }
    operator mpz_ptr() { return v_; }
    operator mpz_srcptr() const { return v_; }

    void Set(const BigNum* A) {
        const int32_t count = A->LimbCount < 0 ? 0 : A->LimbCount;
        mpz_import(v_, size_t(count), -1, sizeof(uint32_t), 0, 0, A->Limbs);
        if (!A->NonNegative) mpz_neg(v_, v_);
    }
    std::string Hex() const {
        char* s = mpz_get_str(nullptr, 16, v_);
        std::string out(s);
        void (*freefunc)(void*, size_t);
        mp_get_memory_functions(nullptr, nullptr, &freefunc);
        freefunc(s, out.size() + 1);
        return out;
    }

private:
    mpz_t v_;
};

// Writes v into A: significant limbs only (at least one), with v's sign.
inline void SetBigNum(BigNum* A, mpz_srcptr v) {
    size_t count = 0;
    A->Limbs[0] = 0;
    mpz_export(A->Limbs, &count, -1, sizeof(uint32_t), 0, 0, v);
    A->LimbCount = count == 0 ? 1 : int32_t(count);
    A->NonNegative = mpz_sgn(v) >= 0;
}

// Hex text of a record's value as GMP writes it (lower case, "-" for negatives, "0" for zero).
inline std::string GmpHex(const BigNum* A) {
    return Mpz(A).Hex();
}

// Random operands of a given limb count (0 gives zero) with varied bit patterns.
class OperandSource {
public:
    explicit OperandSource(uint64_t seed) : rng_(seed) {}

    uint32_t Word() { return uint32_t(rng_()); }
    uint64_t Below(uint64_t n) { return n == 0 ? 0 : rng_() % n; }

    // A value of exactly `limbs` significant limbs (the top limb non-zero), non-negative.
    void Fill(BigNum* A, int32_t limbs) {
        A->NonNegative = true;
        if (limbs == 0) {
            A->LimbCount = 1;
            A->Limbs[0] = 0;
            return;
        }
        const int kind = int(Below(5));
        for (int32_t i = 0; i < limbs; ++i) {
            switch (kind) {
                case 0:
                case 1:
                    A->Limbs[i] = Word();
                    break;
                case 2:  // all ones: carries run through every limb
                    A->Limbs[i] = 0xFFFFFFFFu;
                    break;
                case 3:  // sparse
                    A->Limbs[i] = Below(4) == 0 ? Word() : 0;
                    break;
                default:  // long runs of ones and zeros
                    A->Limbs[i] = Below(2) ? 0xFFFFFFFFu : (Below(2) ? 0 : Word());
                    break;
            }
        }
        if (A->Limbs[limbs - 1] == 0) A->Limbs[limbs - 1] = Word() | 1u;
        A->LimbCount = limbs;
    }

    void FillSigned(BigNum* A, int32_t limbs, bool negative) {
        Fill(A, limbs);
        A->NonNegative = !negative || limbs == 0;
    }

private:
    std::mt19937_64 rng_;
};

}  // namespace kwtest
