#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qv {

// How far a text reads as a decimal number of at most `max`.
struct DecimalScan {
    uint64_t value; // the digits read before the scan stopped
    bool whole;     // every character is a digit, and the value fits
};

// Reads digits 0-9 from the start of text; it stops at any other character
// (a sign or a space too) and at the digit that would take the value past
// max. A leading zero is a zero, not octal; the empty text is 0, whole.
constexpr DecimalScan scan_decimal(std::string_view text, uint64_t max)
{
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return {value, false};
        // Overflow checks, not a division: a 64-bit division on the board's
        // 32-bit processor is a library routine of a kilobyte or so.
        uint64_t next = 0;
        if (__builtin_mul_overflow(value, uint64_t{10}, &next) ||
            __builtin_add_overflow(next, static_cast<uint64_t>(c - '0'), &next) || next > max)
            return {value, false};
        value = next;
    }
    return {value, true};
}

// The whole number text spells: one digit or more, at most max.
constexpr std::optional<uint64_t> parse_decimal(std::string_view text, uint64_t max)
{
    const DecimalScan scan = scan_decimal(text, max);
    if (text.empty() || !scan.whole)
        return std::nullopt;
    return scan.value;
}

} // namespace qv
