// crypto/hash/SBSHA_x86.h: block functions for x86 processors that have the instructions for them,
// and the run-time choice between them and the portable code.
//
// SHA-1 and SHA-256 use the SHA extensions (SBSHA_x86.cpp, built with -msha); SHA-512 runs the
// message schedule of two blocks at a time in vector registers (SHA512TwoBlocks.h), on
// AVX-512VL (SBSHA512_x86.cpp) or, on processors without AVX-512, on AVX2
// (SBSHA512_avx2.cpp). The rest of the library is built for the baseline processor, so a
// function here runs only after its check said yes. Tests and the benchmark hold the choice
// back (to the paths a processor without AVX-512 takes, or to the portable code) to run every
// path this processor has on the same vectors. The files built for a newer processor define
// only their own functions and internal helpers (SHA512TwoBlocks.h keeps its own in an
// anonymous namespace): an inline function shared with the rest of the library (a header's,
// a template's) could be kept by the linker in its copy built with the newer instructions and
// then run anywhere.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sha_x86 {

// The processor has the SHA extensions (and the SSSE3 and SSE4.1 they lean on).
bool CpuHasShaExtensions();
// The processor and the operating system support AVX-512F and AVX-512VL, and AVX2 and BMI2.
bool CpuHasAvx512VL();
// The processor and the operating system support AVX and AVX2, and BMI2.
bool CpuHasAvx2();

// What the processor reports, as the two checks above read it: CPUID leaf 1 ECX, leaf 7
// (sub-leaf 0) EBX, and the operating system's XCR0, which is read only when leaf 1 says
// OSXSAVE and is 0 otherwise.
struct CpuidWords {
    uint32_t leaf1Ecx = 0;
    uint32_t leaf7Ebx = 0;
    uint64_t xcr0 = 0;
};
// The decisions, apart from the reading, so each can be checked for processors and systems
// that lack a part. The AVX2 path needs the operating system to save the SSE and AVX state
// (XCR0 bits 1 and 2), the AVX-512 path also the opmask and upper ZMM state (bits 5, 6 and 7):
// without it the instructions fault. The AVX-512 file is built for a processor that has AVX2
// as well, so the compiler may use AVX2 there too, and that path needs both.
bool ShaExtensionsUsable(const CpuidWords& words);
bool Avx512VLUsable(const CpuidWords& words);
bool Avx2Usable(const CpuidWords& words);

// How far the run-time choice may go: the portable code only, the paths a processor without
// AVX-512 would take (SHA extensions, AVX2), or everything this processor has (the default).
enum class Acceleration { Off, WithoutAvx512, Full };
void SetAcceleration(Acceleration level);
// Full (true) or Off (false).
void EnableAcceleration(bool enabled);
// True when the processor has the instructions and the level allows them.
bool ShaExtensionsActive();
bool Avx512Active();
bool Avx2Active();

// blocks whole 64-byte (SHA-512: 128-byte) blocks from data into the state words.
void SHA1Blocks(uint32_t H[5], const uint8_t* data, size_t blocks);
void SHA256Blocks(uint32_t H[8], const uint8_t* data, size_t blocks);
void SHA512BlocksAvx512(uint64_t H[8], const uint8_t* data, size_t blocks);
void SHA512BlocksAvx2(uint64_t H[8], const uint8_t* data, size_t blocks);

}  // namespace sha_x86
