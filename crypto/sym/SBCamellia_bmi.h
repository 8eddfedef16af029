// crypto/sym/SBCamellia_bmi.h: the Camellia block routines built with BMI1, used by SBCamellia only.
//
// BMI1's BEXTR takes any byte out of a word in one instruction where the baseline processor
// needs a shift and a zero extension; F's eight table indices sit on the rounds' dependency
// chain, so that one instruction per byte shortens every round. SBCamellia_bmi.cpp is compiled
// with -mbmi, so nothing in it runs before SBCamellia, built for the baseline processor, has
// asked the CPU. kCompiledIn is a constant, read without running that file's code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/sym/SBCamellia.h"

namespace camellia_bmi {

// True when the routines below were built with BMI1; false in a build for a processor family
// without it, where the routines stop the program and are never called.
extern const bool kCompiledIn;

// CamelliaCryptBlock and CamelliaEncryptBlocksCBC (SBCamellia.h).
void CryptBlock(const uint8_t* input, uint8_t* output, const CamelliaSubkeys& subkeys, bool longKey);
void EncryptBlocksCBC(const uint8_t* input, const CamelliaSubkeys& subkeys, bool longKey, uint8_t* chain,
                      uint8_t* output, size_t count);

}  // namespace camellia_bmi
