// crypto/base/SBAlgorithmIdentifier.h: the one pair of routines that read and write an X.509 /
// PKCS AlgorithmIdentifier (RFC 5280 4.1.1.2: SEQUENCE { algorithm OBJECT IDENTIFIER,
// parameters ANY OPTIONAL }) on the ASN.1 tag tree.
//
// Certificates, CRLs, PKCS#5, PKCS#7, PKCS#8 and PKCS#12 hold an algorithm as two byte
// strings: the OID's content octets and the parameters as one complete DER element (tag and
// length included; empty when absent). What ReadAlgorithmIdentifier reads,
// WriteAlgorithmIdentifier writes back byte for byte, except that absent parameters are
// written as NULL (05 00), the form most peers expect.
#pragma once

#include <cstdint>
#include <string_view>

#include "crypto/base/SBUtils.h"

class TElASN1CustomTag;
class TElASN1ConstrainedTag;

// The PKCS#7 family's code for a malformed AlgorithmIdentifier.
inline constexpr int32_t SB_PKCS7_ERROR_INVALID_ALGORITHM_IDENTIFIER = 0x1E0E;

// The tag must be constructed with tag byte 0x30 (any tag byte with anyTag) and hold one or two
// elements, the first a primitive OBJECT IDENTIFIER; otherwise the answer is 0x1E0E and oid and
// parameters are untouched. On success oid is the first element's content and parameters the
// second element's complete DER encoding (empty without one); the answer is 0.
int32_t ReadAlgorithmIdentifier(const TElASN1CustomTag& tag, ByteString& oid, ByteString& parameters,
                                bool anyTag = false);

// Makes tag the AlgorithmIdentifier: tag byte tagByte (0x30 when 0), a primitive OID with the
// octets, then the parameters verbatim (a complete DER element) or NULL when they are empty.
// Existing children are dropped first.
void WriteAlgorithmIdentifier(TElASN1ConstrainedTag& tag, std::string_view oid, std::string_view parameters,
                              uint8_t tagByte = 0);
