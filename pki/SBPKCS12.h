// pki/SBPKCS12.h: PKCS#12 (PFX) files (RFC 7292): certificates with their private keys under a
// password, and the PKCS#12 key derivation of RFC 7292 appendix B.2 that protects them.
//
// What must stay true: every count, length and salt comes from a file anyone can write, so an
// iteration count above MaxIterationCount is refused before any digest runs; derived keys and
// the password's BMPString form live in wiped buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "crypto/SBUtils.h"
#include "rtl/SecureBytes.h"

// The password as PKCS#12 hashes it (RFC 7292 B.1): the text converted from the system code
// page to UTF-16, each unit big-endian (a BMPString), and two zero bytes at the end. An empty
// password gives no bytes at all.
rtl::SecureBytes PKCS12PasswordToBMP(std::string_view password);

// RFC 7292 B.2 with v = the digest's block size: n bytes for the purpose id (1 key, 2 IV,
// 3 MAC key) from the password, the salt and iterations digest runs (0 and 1 both run it
// once). Digests: SHA-1 (0x7101), MD5 (0x7102), SHA-256, SHA-384 and SHA-512; any other gives
// an empty result.
rtl::SecureBytes DerivePKCS12Key(std::string_view password, std::string_view salt, int32_t id, int32_t n,
                                 int32_t iterations, int32_t digest);
// The same from a password already in its BMPString form (as PKCS12PasswordToBMP gives it, or
// the two zero bytes other tools hash for an empty password).
rtl::SecureBytes DerivePKCS12KeyFromBMP(std::string_view bmpPassword, std::string_view salt, int32_t id,
                                        int32_t n, int32_t iterations, int32_t digest);
