// net/IdIPAddress.h: one literal IPv4 or IPv6 address parsed from text.
//
// The SOCKS client uses it to decide whether a destination is a literal address and to put it
// on the wire in network order. IPv6 text is read through NormalizeIPv6Text; IPv4 text in the
// classic inet_aton forms (127.1, 0x7f.1, 017.0.0.1, 3232235777), each part masked to the bytes
// it may fill.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "net/IdGlobal.h"

class TIdIPAddress {
public:
    enum : uint8_t { Id_IPv4Type = 0, Id_IPv6Type = 1 };

    uint8_t AddrType = Id_IPv4Type;
    TIdIPv6Address V6Words{};  // most significant group first, host order
    uint32_t V4Address = 0;    // host order, first octet in the top byte

    // 4 bytes (IPv4) or 16 bytes (IPv6), network order.
    TBytes GetBytes() const;
};

// A new address, or nullptr when the text is no literal address.
std::unique_ptr<TIdIPAddress> MakeIPAddress(std::string_view text);

// Helpers of MakeIPAddress, visible for their tests.
bool IPv6TextToWords(std::string_view text, TIdIPv6Address& words);
bool IPv4TextToNumber(std::string_view text, uint32_t& value);
