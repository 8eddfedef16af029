// crypto/math/SBMathKernel_x86.cpp: the x86-64 fast path of the kernel's multiply-accumulate row,
// r[0..n) += a[0..n) * b, with MULX and the two independent carry chains of ADCX/ADOX.
//
// Every product, square and Montgomery reduction of the kernel is made of such rows, so this
// one loop decides most of the speed. It is used only when the processor has BMI2 and ADX
// (checked once at run time) and only while the fast paths are enabled; the portable loop in
// SBMathKernel.cpp gives the same words and the tests run both.
//
// What must stay true: the loop's trip count depends only on n, never on the values, and
// the loop counter is kept in RCX and tested with JRCXZ so that no instruction between the
// ADCX/ADOX chains touches the carry or overflow flags.
#include <atomic>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include "crypto/math/SBMathIfma.h"
#include "crypto/math/SBMathKernel.h"

namespace sbmath {

namespace {

std::atomic<bool> fastPathsEnabled{true};

#if defined(__x86_64__)
bool CpuHasMulxAdx() {
    static const bool has = [] {
        // Structured extended features (leaf 7): EBX bit 8 is BMI2 (MULX), bit 19 is ADX.
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
        return (ebx & (1u << 8)) != 0 && (ebx & (1u << 19)) != 0;
    }();
    return has;
}

// r[0..n) += a[0..n) * b for n >= 1: first n % 4 single steps, then four words per trip. In
// each step the low half of a[i]*b collects the previous step's high half on the OF chain and
// r[i] on the CF chain; nothing between the steps touches either flag (MOV, LEA and JRCXZ do
// not), so the whole row is one pair of carry chains.
Word AddMul1Row(Word* r, const Word* a, size_t n, Word b) {
    Word h = 0;
    size_t count = n % 4;
    const size_t blocks = n / 4;
    asm volatile(
        "xor %%eax, %%eax\n\t"  // clears CF and OF; rax stays 0
        "jrcxz 3f\n\t"
        "4:\n\t"
        "mulx (%[a]), %%r10, %%r11\n\t"
        "adox %[h], %%r10\n\t"
        "adcx (%[r]), %%r10\n\t"
        "mov %%r10, (%[r])\n\t"
        "mov %%r11, %[h]\n\t"
        "lea 8(%[a]), %[a]\n\t"
        "lea 8(%[r]), %[r]\n\t"
        "lea -1(%%rcx), %%rcx\n\t"
        "jrcxz 3f\n\t"
        "jmp 4b\n\t"
        "3:\n\t"
        "mov %[blocks], %%rcx\n\t"
        "jrcxz 2f\n\t"
        "1:\n\t"
        "mulx (%[a]), %%r10, %%r11\n\t"
        "adox %[h], %%r10\n\t"
        "adcx (%[r]), %%r10\n\t"
        "mov %%r10, (%[r])\n\t"
        "mulx 8(%[a]), %%r10, %[h]\n\t"
        "adox %%r11, %%r10\n\t"
        "adcx 8(%[r]), %%r10\n\t"
        "mov %%r10, 8(%[r])\n\t"
        "mulx 16(%[a]), %%r10, %%r11\n\t"
        "adox %[h], %%r10\n\t"
        "adcx 16(%[r]), %%r10\n\t"
        "mov %%r10, 16(%[r])\n\t"
        "mulx 24(%[a]), %%r10, %[h]\n\t"
        "adox %%r11, %%r10\n\t"
        "adcx 24(%[r]), %%r10\n\t"
        "mov %%r10, 24(%[r])\n\t"
        "lea 32(%[a]), %[a]\n\t"
        "lea 32(%[r]), %[r]\n\t"
        "lea -1(%%rcx), %%rcx\n\t"
        "jrcxz 2f\n\t"
        "jmp 1b\n\t"
        "2:\n\t"
        "adox %%rax, %[h]\n\t"
        "adcx %%rax, %[h]\n\t"
        : [h] "+&r"(h), [a] "+&r"(a), [r] "+&r"(r), "+c"(count)
        : "d"(b), [blocks] "r"(blocks)
        : "rax", "r10", "r11", "cc", "memory");
    return h;
}
#endif

}  // namespace

void SetFastPathsEnabled(bool enabled) {
    fastPathsEnabled.store(enabled, std::memory_order_relaxed);
}

#if defined(__x86_64__)
bool CpuHasIfma() {
    static const bool has = [] {
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        // Leaf 1 ECX bit 27: the operating system saves extended state (XGETBV works).
        if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (ecx & (1u << 27)) == 0) return false;
        // Leaf 7 EBX bit 16 is AVX512F, bit 21 AVX512_IFMA, bit 31 AVX512VL (the 256-bit forms).
        if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
        if ((ebx & (1u << 16)) == 0 || (ebx & (1u << 21)) == 0 || (ebx & (1u << 31)) == 0) return false;
        unsigned lo = 0, hi = 0;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        // SSE, AVX, opmask, upper halves of ZMM0-15, ZMM16-31.
        constexpr uint64_t kStates = 0xE6;
        return ((uint64_t(hi) << 32 | lo) & kStates) == kStates;
    }();
    return has;
}
#endif

bool IfmaActive() {
#if defined(__x86_64__)
    return fastPathsEnabled.load(std::memory_order_relaxed) && CpuHasIfma() && IfmaKernelsBuilt();
#else
    return false;
#endif
}

bool FastPathsActive() {
#if defined(__x86_64__)
    return fastPathsEnabled.load(std::memory_order_relaxed) && CpuHasMulxAdx();
#else
    return false;
#endif
}

Word AddMul1Fast(Word* r, const Word* a, size_t n, Word b) {
#if defined(__x86_64__)
    if (n > 0) return AddMul1Row(r, a, n, b);
#endif
    return AddMul1Portable(r, a, n, b);
}

}  // namespace sbmath
