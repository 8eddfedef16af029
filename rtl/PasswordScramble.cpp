// rtl/PasswordScramble.cpp: password descrambling (key subtraction, group reversal, trim).
#include "rtl/PasswordScramble.h"

#include <cstdint>

#include "rtl/Bytes.h"
#include "rtl/Text.h"

namespace rtl {

namespace {

constexpr std::string_view kKey = "k3mq8zrwd0vhx5ntpa2c";
constexpr size_t kLength = 20;
static_assert(kKey.size() == kLength);

}  // namespace

std::string UnscramblePassword(std::string_view scrambled) {
    // Take the key away from the positions the value has; the rest is padding.
    std::string middle(kLength, ' ');
    const size_t n = scrambled.size() < kLength ? scrambled.size() : kLength;
    for (size_t i = 0; i < n; ++i)
        middle[i] = char(uint8_t(uint8_t(scrambled[i]) - uint8_t(kKey[i])));
    // Undo the reversal of each group of four.
    std::string clear;
    clear.reserve(kLength);
    for (size_t g = 0; g < kLength; g += 4)
        for (size_t k = 4; k > 0; --k)
            clear += middle[g + k - 1];
    std::string result = Trim(clear);
    // The working copies hold the clear password too: only the result leaves this routine.
    secure_wipe(middle.data(), middle.size());
    secure_wipe(clear.data(), clear.size());
    return result;
}

}  // namespace rtl
