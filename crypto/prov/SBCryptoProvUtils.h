// crypto/prov/SBCryptoProvUtils.h: conversions between provider property values and numbers, and
// the reader of symmetric cipher parameters (IV, RC2 effective key bits) from the parameter
// bytes of an AlgorithmIdentifier.
//
// A property value is a byte string: an integer is 4 bytes, most significant first; a Boolean
// one byte, 1 or 0. Any other shape reads as the caller's default.
#pragma once

#include <cstdint>
#include <string_view>

#include "crypto/base/SBUtils.h"

int32_t PropertyValueToInteger(std::string_view value, int32_t def);
ByteString IntegerToPropertyValue(int32_t value);
bool PropertyValueToBoolean(std::string_view value, bool def);
ByteString BooleanToPropertyValue(bool value);

// Effective key bits of an RC2 parameter version (the INTEGER's content bytes): the versions
// 160, 120 and 58 stand for 40, 64 and 128 bits; a version of 256 or more is the bit count
// itself. Answers -1 for any other version.
int32_t RC2VersionToEffectiveBits(std::string_view versionContent);

// RC4: false. Otherwise the parameters are loaded into a tag tree (a failed load: false). RC2
// needs an 8-byte OCTET STRING IV (32 effective bits) or SEQUENCE { INTEGER version, OCTET
// STRING iv(8) }. Any other algorithm takes a leading OCTET STRING as its IV (any length) and
// answers true with or without one.
bool ReadCipherParameters(std::string_view algorithmOID, std::string_view parameters,
                          int32_t& effectiveKeyBits, ByteString& iv);
