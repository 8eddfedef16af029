// net/IdIPAddress.cpp: literal address texts to numbers.
#include "net/IdIPAddress.h"

#include "rtl/Text.h"

namespace {

// Masks a number to its count low bytes.
uint32_t ClampToByteCount(uint64_t value, int count) {
    return count >= 4 ? uint32_t(value) : uint32_t(value & ((uint64_t(1) << (8 * count)) - 1));
}

// A part in decimal, octal (leading 0) or hexadecimal ("0x"); false for anything else. Values
// are read with a cap so no run of digits overflows.
bool ReadPart(std::string_view part, uint64_t& value) {
    int base = 10;
    if (part.size() > 2 && part[0] == '0' && part[1] == 'x') {
        base = 16;
        part.remove_prefix(2);
    } else if (part.size() > 1 && part[0] == '0' && IsOctalText(part)) {
        base = 8;
    }
    if (part.empty()) return false;
    value = 0;
    for (char c : part) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        if (d >= base) return false;
        value = value * uint64_t(base) + uint64_t(d);
        if (value > 0xFFFFFFFFull) value = 0x100000000ull | (value & 0xFFFFFFFFull);  // keep the low bits
    }
    return true;
}

}  // namespace

bool IPv6TextToWords(std::string_view text, TIdIPv6Address& words) {
    std::string normal = NormalizeIPv6Text(text);
    if (normal.empty()) return false;
    for (int i = 0; i < 8; ++i) words[size_t(i)] = uint16_t(std::stoul(CutAtDelimiter(normal, ":", true, true), nullptr, 16));
    return true;
}

bool IPv4TextToNumber(std::string_view text, uint32_t& value) {
    std::string rest(text);
    uint32_t result = 0;
    int remaining = 4;
    for (;;) {
        const bool last = rest.find('.') == std::string::npos;
        const std::string part = CutAtDelimiter(rest, ".", true, true);
        if (part.empty()) {
            value = result;
            return true;
        }
        uint64_t number;
        if (!ReadPart(part, number)) return false;
        int fill = 1;
        if (last && remaining > 1) {
            fill = remaining;
            result = remaining >= 4 ? 0 : result << (8 * remaining);
        } else {
            result <<= 8;
        }
        result += ClampToByteCount(number, fill);
        remaining = std::max(remaining - 1, 0);
        if (last) {
            value = result;
            return true;
        }
    }
}

TBytes TIdIPAddress::GetBytes() const {
    TBytes out;
    if (AddrType == Id_IPv4Type) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(V4Address >> shift));
    } else {
        for (uint16_t w : V6Words) {
            out.push_back(uint8_t(w >> 8));
            out.push_back(uint8_t(w));
        }
    }
    return out;
}

std::unique_ptr<TIdIPAddress> MakeIPAddress(std::string_view text) {
    auto address = std::make_unique<TIdIPAddress>();
    if (IPv6TextToWords(text, address->V6Words)) {
        address->AddrType = TIdIPAddress::Id_IPv6Type;
        return address;
    }
    if (IPv4TextToNumber(text, address->V4Address)) {
        address->AddrType = TIdIPAddress::Id_IPv4Type;
        return address;
    }
    return nullptr;
}
