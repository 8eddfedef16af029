// tests/crypto/PublicKeyTestSupport.h: what the RSA, DSA, Elgamal and SRP tests share: byte
// helpers, digests through the library's hash facade, DigestInfo, big numbers from hex and
// bytes, and a caller of the size protocol (ask with no buffer, then call with the size).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crypto/NistVectorFile.h"
#include "crypto/base/SBASN1.h"
#include "crypto/base/SBConstants.h"
#include "crypto/facade/SBHashFunction.h"
#include "crypto/math/SBMath.h"

namespace pktest {

using Bytes = std::vector<uint8_t>;

inline std::string Str(const Bytes& b) {
    return std::string(b.begin(), b.end());
}
inline Bytes B(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
inline Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes Digest(int32_t algorithm, const Bytes& data) {
    TElHashFunction h(algorithm);
    h.Update(data.data(), data.size());
    return B(h.Finish());
}

// DigestInfo ::= SEQUENCE { AlgorithmIdentifier { oid, NULL }, OCTET STRING digest } (RFC 8017 9.2).
inline Bytes DigestInfo(int32_t algorithm, const Bytes& digest) {
    const std::string alg = EncodeDERSequence({EncodeDERTLV(0x06, GetOIDByHashAlgorithm(algorithm)), EncodeDERNull()});
    return B(EncodeDERSequence({alg, EncodeDEROctetString(Str(digest))}));
}

// A routine of the size protocol: f(buffer, size&) -> bool. It is asked with no buffer first
// (it must answer false with the size needed), then called with a buffer of that size.
template <class F>
std::optional<Bytes> Sized(F f) {
    int32_t size = 0;
    if (f(nullptr, size)) return std::nullopt;  // a null buffer must never succeed
    if (size < 0 || size > 1 << 20) return std::nullopt;
    Bytes out(size_t(size) + 1, 0xEE);
    int32_t room = size;
    if (!f(out.data(), room)) return std::nullopt;
    if (room > size || out[size_t(size)] != 0xEE) return std::nullopt;  // nothing past the room
    out.resize(size_t(room));
    return out;
}

// The same with a generous buffer at once.
template <class F>
std::optional<Bytes> Run(F f, int32_t room = 8192) {
    Bytes out(static_cast<size_t>(room));
    if (!f(out.data(), room)) return std::nullopt;
    out.resize(size_t(room));
    return out;
}

inline BigNumPtr Num(const Bytes& b) {
    BigNumPtr n = MakeBigNum();
    LoadBigNumFromBytes(n.get(), b.data(), int32_t(b.size()));
    n->NonNegative = true;
    return n;
}
inline BigNumPtr NumHex(const std::string& hex) {
    return Num(kwtest::Hex(hex));
}
// The significant bytes of a number (00 for zero).
inline Bytes Trimmed(const BigNum* a) {
    int32_t size = 0;
    SaveBigNumToTrimmedBytes(a, nullptr, size);
    Bytes out(static_cast<size_t>(size));
    if (size > 0) SaveBigNumToTrimmedBytes(a, out.data(), size);
    if (out.empty()) out.push_back(0);
    return out;
}
inline Bytes StripZeros(Bytes b) {
    size_t i = 0;
    while (i + 1 < b.size() && b[i] == 0)
        ++i;
    return Bytes(b.begin() + long(i), b.end());
}

}  // namespace pktest
