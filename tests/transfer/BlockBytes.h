// tests/transfer/BlockBytes.h: data-block bytes written by hand, independent of the code
// under test, for golden comparisons: little-endian integers, values, whole blocks, and the
// hexadecimal form the scripted server logs.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/Bytes.h"
#include "rtl/Unicode.h"

namespace kwtest {

inline std::string I16(int v) {
    std::string s(2, '\0');
    rtl::store_le16(reinterpret_cast<uint8_t*>(s.data()), uint16_t(v));
    return s;
}
inline std::string I32(int64_t v) {
    std::string s(4, '\0');
    rtl::store_le32(reinterpret_cast<uint8_t*>(s.data()), uint32_t(v));
    return s;
}
inline std::string I64(uint64_t v) {
    std::string s(8, '\0');
    rtl::store_le64(reinterpret_cast<uint8_t*>(s.data()), v);
    return s;
}
// A text value: the code (8, or 0x4008 by reference), the count, the UTF-16LE units.
inline std::string Txt(const std::string& text, int32_t code = 8) {
    const std::u16string units = rtl::Utf8ToUtf16(text);
    std::string s = I32(code) + I32(int32_t(units.size()));
    for (char16_t c : units)
        s += I16(c);
    return s;
}
// A 32-bit value of the given code ([3][v], [0x4003][v], [9][index]).
inline std::string Int(int32_t v, int32_t code = 3) {
    return I32(code) + I32(v);
}
inline std::string Bool(bool v) {
    return I32(11) + I16(v ? 0xFFFF : 0);
}
inline std::string Block(int32_t signature, const std::string& payload) {
    return I32(signature) + I32(int32_t(payload.size())) + payload;
}
// Lower-case hexadecimal, as the scripted server logs raw bytes.
inline std::string Hex(const std::string& bytes) {
    static const char* d = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

}  // namespace kwtest
