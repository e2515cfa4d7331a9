#pragma once

#include <string_view>

namespace qv {

// The bytes a text field of the record may hold when provisioned: printable
// ASCII, nothing that could end or disguise a line.
constexpr bool printable(unsigned char c)
{
    return c >= 0x20 && c <= 0x7e;
}

inline constexpr const char kNotSet[] = "not set";
inline constexpr const char kNotPrintable[] = "not printable";

// Why a printable, non-empty text is no value (a blank form field, a
// database export's padding), or null when it is one.
constexpr const char *badly_spaced(std::string_view text)
{
    if (text.find_first_not_of(' ') == std::string_view::npos)
        return "only spaces";
    if (text.front() == ' ' || text.back() == ' ')
        return "begins or ends with a space";
    return nullptr;
}

// Why a text field (its bytes up to the first NUL) does not count as
// provisioned (kNotSet, kNotPrintable, badly spaced), or null when it does.
// Every reader that shows a field only when it is provisioned asks this.
constexpr const char *unprovisioned_text(std::string_view text)
{
    if (text.empty())
        return kNotSet;
    for (const char c : text)
        if (!printable(static_cast<unsigned char>(c)))
            return kNotPrintable;
    return badly_spaced(text);
}

} // namespace qv
