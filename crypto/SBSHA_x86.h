// crypto/SBSHA_x86.h: the SHA-1 and SHA-256 block functions that use the processor's SHA
// instructions, and the run-time choice between them and the portable code.
//
// The accelerated functions live in SBSHA_x86.cpp, the one file compiled with -msha; they
// may run only after ShaExtensionsActive() said yes, because the rest of the library is
// built for the baseline processor. Tests turn the accelerated path off to run the portable
// code on the same vectors.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sha_x86 {

// True when the processor has the SHA extensions (and the SSSE3 and SSE4.1 they lean on).
bool CpuHasShaExtensions();
// True when the accelerated functions are in use: the processor has them and they were not
// switched off.
bool ShaExtensionsActive();
// Switches the accelerated path off (false) or back on (true, where the processor has it).
void EnableShaExtensions(bool enabled);

// blocks whole 64-byte blocks from data into the state words.
void SHA1Blocks(uint32_t H[5], const uint8_t* data, size_t blocks);
void SHA256Blocks(uint32_t H[8], const uint8_t* data, size_t blocks);

}  // namespace sha_x86
