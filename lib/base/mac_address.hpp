#pragma once

#include "hex_digit.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qv {

// A MAC address as text is six pairs of hex digits, pair i at characters
// 3i and 3i + 1, one separator between pairs. The byte pair i spells, or -1
// when either character is not a hex digit or lies past the text's end.
constexpr int mac_text_byte(std::string_view text, size_t i)
{
    const size_t at = 3 * i;
    if (at + 1 >= text.size())
        return -1;
    const int high = hex_digit(text[at]);
    const int low = hex_digit(text[at + 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// The group bit: such an address names many devices (the broadcast address
// has it too), never one.
constexpr bool is_group_address(const uint8_t mac[6])
{
    return (mac[0] & 0x01) != 0;
}

inline constexpr const char kAllZeros[] = "all zeros";
inline constexpr const char kMulticast[] = "multicast address";

// Why an address cannot be a device's own (kAllZeros: none at all;
// kMulticast), or null when it can.
constexpr const char *not_unicast(const uint8_t mac[6])
{
    if ((mac[0] | mac[1] | mac[2] | mac[3] | mac[4] | mac[5]) == 0)
        return kAllZeros;
    return is_group_address(mac) ? kMulticast : nullptr;
}

} // namespace qv
