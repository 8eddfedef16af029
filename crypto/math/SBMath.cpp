// crypto/math/SBMath.cpp: BigNum records, text and byte forms, tests, shifts, word operations,
// signed addition and subtraction, and random numbers.
//
// These run directly on the 32-bit limbs: they are linear in the size of the value, so the
// 64-bit kernel (SBMathKernel) would gain nothing. Products, division, reductions and
// exponentiation live in SBMathArith.cpp, primes in SBMathPrime.cpp.
//
// What must stay true: no routine reads a limb at or above LimbCount, none writes past the
// 768 limbs of a record or past a caller's buffer (each raises instead), and an output record
// may be the same as an input record.
#include "crypto/math/SBMath.h"

#include <algorithm>
#include <cstring>

#include "crypto/math/SBMathKernel.h"
#include "crypto/math/SBRandom.h"
#include "rtl/Bytes.h"

namespace sbmath {

// The one place secrets are drawn from: the library's process-wide generator, which takes
// fresh bytes from the operating system's random source on every call.
void RandomBytes(void* buf, size_t n) {
    GenerateRandomBytes(buf, n);
}

int32_t LimbCountOf(const BigNum* A) {
    if (A->LimbCount > BigNum::MaxLimbs) throw EElMathException("Invalid number record");
    return A->LimbCount < 0 ? 0 : A->LimbCount;
}

int32_t SignificantLimbs(const BigNum* A) {
    int32_t c = LimbCountOf(A);
    while (c > 0 && A->Limbs[c - 1] == 0)
        --c;
    return c;
}

[[noreturn]] void RaiseTooLarge() {
    throw EElMathException("Number too large for its record");
}

}  // namespace sbmath

using sbmath::LimbCountOf;
using sbmath::SignificantLimbs;

namespace {

constexpr int32_t kMaxLimbs = BigNum::MaxLimbs;

// A limb buffer on the stack for results built before they are stored: the values may be
// secret (CRT halves, a decrypted message), so the limbs written are cleared on every way out.
struct ScratchLimbs {
    uint32_t v[kMaxLimbs + 1];
    int32_t used = 0;  // limbs to clear
    ScratchLimbs() = default;
    ScratchLimbs(const ScratchLimbs&) = delete;
    ScratchLimbs& operator=(const ScratchLimbs&) = delete;
    ~ScratchLimbs() { rtl::secure_wipe(v, size_t(used) * sizeof(uint32_t)); }
};

// |A| compared with |B|: -1, 0 or 1.
int CompareMagnitudes(const BigNum* A, const BigNum* B) {
    const int32_t ca = SignificantLimbs(A);
    const int32_t cb = SignificantLimbs(B);
    if (ca != cb) return ca < cb ? -1 : 1;
    for (int32_t i = ca; i-- > 0;) {
        if (A->Limbs[i] != B->Limbs[i]) return A->Limbs[i] < B->Limbs[i] ? -1 : 1;
    }
    return 0;
}

// out := |A| + |B|; returns the limb count (at least 1). out has room for kMaxLimbs + 1 limbs.
int32_t AddMagnitudes(const BigNum* A, const BigNum* B, uint32_t* out) {
    const int32_t ca = SignificantLimbs(A);
    const int32_t cb = SignificantLimbs(B);
    const int32_t n = std::max(ca, cb);
    uint64_t carry = 0;
    for (int32_t i = 0; i < n; ++i) {
        const uint64_t s = uint64_t(i < ca ? A->Limbs[i] : 0) + (i < cb ? B->Limbs[i] : 0) + carry;
        out[i] = uint32_t(s);
        carry = s >> 32;
    }
    int32_t count = n;
    if (carry) out[count++] = uint32_t(carry);
    if (count == 0) out[count++] = 0;
    return count;
}

// out := |A| - |B| for |A| >= |B|; returns the limb count, trimmed to at least 1.
int32_t SubtractMagnitudes(const BigNum* A, const BigNum* B, uint32_t* out) {
    const int32_t ca = SignificantLimbs(A);
    const int32_t cb = SignificantLimbs(B);
    int64_t borrow = 0;
    for (int32_t i = 0; i < ca; ++i) {
        int64_t d = int64_t(A->Limbs[i]) - (i < cb ? B->Limbs[i] : 0) - borrow;
        borrow = d < 0 ? 1 : 0;
        out[i] = uint32_t(d + (borrow << 32));
    }
    int32_t count = ca;
    while (count > 1 && out[count - 1] == 0)
        --count;
    if (count == 0) out[count++] = 0;
    return count;
}

void StoreLimbs(BigNum* A, const uint32_t* limbs, int32_t count, bool nonNegative) {
    if (count < 1 || count > kMaxLimbs) sbmath::RaiseTooLarge();
    std::memcpy(A->Limbs, limbs, size_t(count) * sizeof(uint32_t));
    A->LimbCount = count;
    A->NonNegative = nonNegative || (count == 1 && limbs[0] == 0);
}

// Sum := A + (B with its sign flipped when negateB).
void SignedAdd(const BigNum* A, const BigNum* B, bool negateB, BigNum* Sum) {
    const bool sa = A->NonNegative;
    const bool sb = B->NonNegative != negateB;
    ScratchLimbs out;
    bool sign;
    if (sa == sb) {
        out.used = AddMagnitudes(A, B, out.v);
        sign = sa;
    } else if (CompareMagnitudes(A, B) >= 0) {
        out.used = SubtractMagnitudes(A, B, out.v);
        sign = sa;
    } else {
        out.used = SubtractMagnitudes(B, A, out.v);
        sign = sb;
    }
    StoreLimbs(Sum, out.v, out.used, sign);
}

void CheckShift(int32_t N) {
    if (N < 0) throw EElMathException("Negative shift count");
}

}  // namespace

bool IsMathOperationCanceled(void* Data, const MathProgressCallback& Callback) {
    return Callback && !Callback(Data);
}

// ---- records and text ----

void CreateBigNum(BigNum*& A) {
    auto fresh = std::make_unique<BigNum>();
    fresh->LimbCount = 1;
    fresh->Limbs[0] = 1;
    fresh->NonNegative = true;
    A = fresh.release();
}

void FreeBigNum(BigNum*& A) {
    if (A == nullptr) return;
    std::unique_ptr<BigNum> owned(A);
    A = nullptr;
    // Records hold keys and primes: clear them before the memory goes back.
    rtl::secure_wipe(owned.get(), sizeof(BigNum));
}

BigNumPtr MakeBigNum() {
    BigNum* A = nullptr;
    CreateBigNum(A);
    return BigNumPtr(A);
}

void SwapBigNums(BigNum*& A, BigNum*& B) {
    std::swap(A, B);
}

void CopyBigNum(BigNum* Dest, const BigNum* Source) {
    if (Dest == Source) return;
    const int32_t c = LimbCountOf(Source);
    std::memcpy(Dest->Limbs, Source->Limbs, size_t(c) * sizeof(uint32_t));
    Dest->LimbCount = c;
    Dest->NonNegative = Source->NonNegative;
}

void SetBigNumZero(BigNum* A) {
    A->LimbCount = 1;
    A->Limbs[0] = 0;
}

void TrimBigNum(BigNum* A) {
    A->LimbCount = SignificantLimbs(A);
}

void ParseBigNumHex(BigNum* A, const std::string& Text) {
    size_t start = 0;
    const bool negative = !Text.empty() && Text[0] == '-';
    if (negative) start = 1;
    const size_t digits = Text.size() - start;
    auto value = [](char ch) -> int {
        if (ch >= '0' && ch <= '9') return ch - '0';
        if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
        if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
        return -1;
    };
    for (size_t i = start; i < Text.size(); ++i) {
        // The text may be a secret's: the message does not quote it.
        if (value(Text[i]) < 0) throw rtl::EConvertError("Invalid hexadecimal number");
    }
    if (digits == 0) {
        A->LimbCount = 1;
        A->Limbs[0] = 0;
        A->NonNegative = true;
        return;
    }
    const size_t groups = (digits + 7) / 8;
    if (groups > size_t(kMaxLimbs)) sbmath::RaiseTooLarge();
    bool zero = true;
    for (size_t g = 0; g < groups; ++g) {
        const size_t end = Text.size() - 8 * g;
        const size_t begin = std::max(start, end >= 8 ? end - 8 : 0);
        uint32_t limb = 0;
        for (size_t i = begin; i < end; ++i)
            limb = (limb << 4) | uint32_t(value(Text[i]));
        A->Limbs[g] = limb;
        zero = zero && limb == 0;
    }
    A->LimbCount = int32_t(groups);
    A->NonNegative = !negative || zero;
}

std::string FormatBigNumHex(const BigNum* A) {
    static const char kDigits[] = "0123456789ABCDEF";
    const int32_t c = LimbCountOf(A);
    std::string out;
    if (!A->NonNegative && !IsBigNumZero(A)) out += '-';
    if (c == 0) return out + "00000000";
    for (int32_t i = c; i-- > 0;) {
        for (int shift = 28; shift >= 0; shift -= 4)
            out += kDigits[(A->Limbs[i] >> shift) & 0xF];
    }
    return out;
}

void LoadBigNumFromBytes(BigNum* A, const void* Buffer, int32_t Count) {
    if (Count < 0) throw EElMathException("Negative byte count");
    const auto* p = static_cast<const uint8_t*>(Buffer);
    size_t skip = 0;
    while (skip < size_t(Count) && p[skip] == 0)
        ++skip;
    const size_t n = size_t(Count) - skip;
    if (n > size_t(kMaxLimbs) * 4) sbmath::RaiseTooLarge();
    p += skip;
    const size_t limbs = (n + 3) / 4;
    for (size_t i = 0; i < limbs; ++i) {
        // Limb i is made of the 4 bytes that are i-th from the end (fewer for the top limb).
        uint32_t limb = 0;
        for (size_t b = 0; b < 4 && 4 * i + b < n; ++b)
            limb |= uint32_t(p[n - 1 - 4 * i - b]) << (8 * b);
        A->Limbs[i] = limb;
    }
    A->LimbCount = int32_t(limbs);
}

void SaveBigNumToBytes(const BigNum* A, void* Buffer, int32_t& Size) {
    const int32_t c = LimbCountOf(A);
    const int32_t need = 4 * c;
    if (Buffer == nullptr) {  // the size question
        Size = need;
        return;
    }
    if (Size < need) {
        Size = need;
        throw EElMathException("Buffer too small for the number");
    }
    auto* p = static_cast<uint8_t*>(Buffer);
    for (int32_t i = 0; i < c; ++i)
        rtl::store_be32(p + 4 * (c - 1 - i), A->Limbs[i]);
    Size = need;
}

void SaveBigNumToTrimmedBytes(const BigNum* A, void* Buffer, int32_t& Size) {
    const int32_t c = SignificantLimbs(A);
    int32_t need = 4 * c;
    if (c > 0) need -= __builtin_clz(A->Limbs[c - 1]) / 8;
    if (Buffer == nullptr) {  // the size question
        Size = need;
        return;
    }
    if (Size < need) {
        Size = need;
        throw EElMathException("Buffer too small for the number");
    }
    auto* p = static_cast<uint8_t*>(Buffer);
    for (int32_t k = 0; k < need; ++k) {
        // Byte k from the end is byte k % 4 of limb k / 4.
        p[need - 1 - k] = uint8_t(A->Limbs[k / 4] >> (8 * (k % 4)));
    }
    Size = need;
}

void FillBigNumRandom(BigNum* A, int32_t N) {
    if (N < 0 || N > kMaxLimbs) sbmath::RaiseTooLarge();
    uint8_t bytes[4 * kMaxLimbs];
    sbmath::RandomBytes(bytes, size_t(N) * 4);
    for (int32_t i = 0; i < N; ++i)
        A->Limbs[i] = rtl::load_le32(bytes + 4 * i);
    rtl::secure_wipe(bytes, size_t(N) * 4);
    A->LimbCount = N;
    A->NonNegative = true;
}

namespace sbmath {

// ByteCount random bytes into limbs from their low end; count = limbs written.
void FillLimbsRandomBytes(BigNum* A, int32_t ByteCount) {
    if (ByteCount < 0 || ByteCount > 4 * BigNum::MaxLimbs) RaiseTooLarge();
    uint8_t bytes[4 * BigNum::MaxLimbs];
    RandomBytes(bytes, size_t(ByteCount));
    const int32_t limbs = (ByteCount + 3) / 4;
    for (int32_t i = 0; i < limbs; ++i) {
        uint32_t limb = 0;
        for (int32_t b = 0; b < 4 && 4 * i + b < ByteCount; ++b)
            limb |= uint32_t(bytes[4 * i + b]) << (8 * b);
        A->Limbs[i] = limb;
    }
    rtl::secure_wipe(bytes, size_t(ByteCount));
    A->LimbCount = limbs;
}

}  // namespace sbmath

void FillBigNumRandomBytes(BigNum* A, int32_t ByteCount) {
    sbmath::FillLimbsRandomBytes(A, ByteCount);
}

void InitMathRandom(MathRandomState& State) {
    State.Initialised = true;
}

void SeedMathRandom(MathRandomState& State) {
    State.Initialised = true;
}

uint8_t NextMathRandomByte(MathRandomState& State) {
    if (!State.Initialised) SeedMathRandom(State);
    uint8_t b = 0;
    sbmath::RandomBytes(&b, 1);
    return b;
}

void FillBigNumFromMathRandom(MathRandomState& State, BigNum* A, int32_t ByteCount) {
    if (!State.Initialised) SeedMathRandom(State);
    sbmath::FillLimbsRandomBytes(A, ByteCount);
}

// ---- tests ----

bool IsBigNumZero(const BigNum* A) {
    return SignificantLimbs(A) == 0;
}

bool IsBigNumEven(const BigNum* A) {
    return LimbCountOf(A) == 0 || (A->Limbs[0] & 1) == 0;
}

bool IsBigNumGreater(const BigNum* A, const BigNum* B) {
    return CompareMagnitudes(A, B) > 0;
}

bool AreBigNumsEqual(const BigNum* A, const BigNum* B) {
    if (CompareMagnitudes(A, B) != 0) return false;
    return A->NonNegative == B->NonNegative || IsBigNumZero(A);
}

int32_t CountBigNumBits(const BigNum* A) {
    const int32_t c = SignificantLimbs(A);
    if (c == 0) return 0;
    return 32 * (c - 1) + (32 - __builtin_clz(A->Limbs[c - 1]));
}

int32_t GetBigNumBit(const BigNum* A, int32_t Position) {
    if (Position < 1) return 0;
    const int32_t limb = (Position - 1) / 32;
    if (limb >= LimbCountOf(A)) return 0;
    return int32_t((A->Limbs[limb] >> ((Position - 1) % 32)) & 1);
}

// ---- magnitude operations ----

void ShiftBigNumLeftOneBit(BigNum* A) {
    const int32_t c = LimbCountOf(A);
    if (c == kMaxLimbs && (A->Limbs[c - 1] >> 31) != 0) sbmath::RaiseTooLarge();
    uint32_t carry = 0;
    for (int32_t i = 0; i < c; ++i) {
        const uint32_t v = A->Limbs[i];
        A->Limbs[i] = (v << 1) | carry;
        carry = v >> 31;
    }
    if (carry) {
        A->Limbs[c] = carry;
        A->LimbCount = c + 1;
    }
}

void ShiftBigNumRightOneBit(BigNum* A) {
    const int32_t c = LimbCountOf(A);
    for (int32_t i = 0; i < c; ++i) {
        const uint32_t next = i + 1 < c ? A->Limbs[i + 1] : 0;
        A->Limbs[i] = (A->Limbs[i] >> 1) | (next << 31);
    }
    if (c > 1 && A->Limbs[c - 1] == 0) A->LimbCount = c - 1;
}

void ShiftBigNumLeft(const BigNum* Source, BigNum* Dest, int32_t N) {
    CheckShift(N);
    const int32_t c = SignificantLimbs(Source);
    if (c == 0) {
        Dest->LimbCount = 0;
        return;
    }
    const int32_t limbs = N / 32;
    const int bits = N % 32;
    const uint32_t top = bits ? Source->Limbs[c - 1] >> (32 - bits) : 0;
    const int64_t count = int64_t(c) + limbs + (top ? 1 : 0);
    if (count > kMaxLimbs) sbmath::RaiseTooLarge();
    ScratchLimbs out;
    out.used = int32_t(count);
    std::memset(out.v, 0, size_t(limbs) * sizeof(uint32_t));
    for (int32_t i = 0; i < c; ++i) {
        const uint32_t lower = (bits && i > 0) ? Source->Limbs[i - 1] >> (32 - bits) : 0;
        out.v[limbs + i] = (Source->Limbs[i] << bits) | lower;
    }
    if (top) out.v[limbs + c] = top;
    std::memcpy(Dest->Limbs, out.v, size_t(count) * sizeof(uint32_t));
    Dest->LimbCount = int32_t(count);
}

void ShiftBigNumRight(const BigNum* Source, BigNum* Dest, int32_t N) {
    CheckShift(N);
    const int32_t c = LimbCountOf(Source);
    const int32_t limbs = N / 32;
    const int bits = N % 32;
    if (limbs >= c) {
        Dest->LimbCount = 0;
        return;
    }
    const int32_t count = c - limbs;
    // Walking upwards reads each source limb before a (possibly aliased) destination write
    // reaches it.
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t lo = Source->Limbs[i + limbs];
        const uint32_t hi = (bits && i + limbs + 1 < c) ? Source->Limbs[i + limbs + 1] << (32 - bits) : 0;
        Dest->Limbs[i] = (lo >> bits) | hi;
    }
    int32_t k = count;
    while (k > 1 && Dest->Limbs[k - 1] == 0)
        --k;
    Dest->LimbCount = k;
}

void ShiftBigNumLimbsLeft(BigNum* A, int32_t N) {
    CheckShift(N);
    const int32_t c = LimbCountOf(A);
    if (int64_t(c) + N > kMaxLimbs) sbmath::RaiseTooLarge();
    std::memmove(A->Limbs + N, A->Limbs, size_t(c) * sizeof(uint32_t));
    std::memset(A->Limbs, 0, size_t(N) * sizeof(uint32_t));
    A->LimbCount = c + N;
}

void AddWordToBigNum(const BigNum* Source, uint32_t W, BigNum* Dest) {
    // A record of count 0 is zero: the sum is W.
    const int32_t c = std::max(LimbCountOf(Source), 1);
    ScratchLimbs out;
    out.used = c + 1;
    uint64_t carry = W;
    for (int32_t i = 0; i < c; ++i) {
        const uint64_t s = uint64_t(i < Source->LimbCount ? Source->Limbs[i] : 0) + carry;
        out.v[i] = uint32_t(s);
        carry = s >> 32;
    }
    int32_t count = c;
    if (carry) out.v[count++] = uint32_t(carry);
    if (count > kMaxLimbs) sbmath::RaiseTooLarge();
    std::memcpy(Dest->Limbs, out.v, size_t(count) * sizeof(uint32_t));
    Dest->LimbCount = count;
}

void SubtractWordFromBigNum(const BigNum* Source, uint32_t W, BigNum* Dest) {
    const int32_t c = SignificantLimbs(Source);
    if (c == 0 || (c == 1 && Source->Limbs[0] < W)) {
        if (W != 0) throw EElMathException("Word larger than the number it is subtracted from");
        Dest->Limbs[0] = 0;
        Dest->LimbCount = 1;
        return;
    }
    uint32_t borrow = W;
    for (int32_t i = 0; i < c; ++i) {
        const uint32_t v = Source->Limbs[i];
        Dest->Limbs[i] = v - borrow;
        borrow = v < borrow ? 1 : 0;
    }
    int32_t k = c;
    while (k > 1 && Dest->Limbs[k - 1] == 0)
        --k;
    Dest->LimbCount = k;
}

void MultiplyBigNumByWord(const BigNum* Source, uint32_t W, BigNum* Dest) {
    const int32_t c = LimbCountOf(Source);
    ScratchLimbs out;
    out.used = c + 1;
    uint64_t carry = 0;
    for (int32_t i = 0; i < c; ++i) {
        const uint64_t p = uint64_t(Source->Limbs[i]) * W + carry;
        out.v[i] = uint32_t(p);
        carry = p >> 32;
    }
    int32_t k = c;
    if (carry) out.v[k++] = uint32_t(carry);
    while (k > 1 && out.v[k - 1] == 0)
        --k;
    if (k == 0) out.v[k++] = 0;
    if (k > kMaxLimbs) sbmath::RaiseTooLarge();
    std::memcpy(Dest->Limbs, out.v, size_t(k) * sizeof(uint32_t));
    Dest->LimbCount = k;
}

void RemainderBigNumByWord(const BigNum* A, uint32_t W, uint32_t& R) {
    if (W == 0) throw EElMathException("Division by zero");
    uint64_t rem = 0;
    for (int32_t i = LimbCountOf(A); i-- > 0;)
        rem = ((rem << 32) | A->Limbs[i]) % W;
    R = uint32_t(rem);
}

// ---- signed addition and subtraction ----

void AddBigNums(const BigNum* A, const BigNum* B, BigNum* Sum) {
    SignedAdd(A, B, false, Sum);
}

void SubtractBigNums(const BigNum* A, const BigNum* B, BigNum* Diff) {
    SignedAdd(A, B, true, Diff);
}

void IncrementBigNum(BigNum* A) {
    BigNum one;
    one.LimbCount = 1;
    one.Limbs[0] = 1;
    one.NonNegative = true;
    SignedAdd(A, &one, false, A);
}

void DecrementBigNum(BigNum* A) {
    BigNum one;
    one.LimbCount = 1;
    one.Limbs[0] = 1;
    one.NonNegative = true;
    SignedAdd(A, &one, true, A);
}
