// The register tool's number parser against a plain reference: decimal, or
// hexadecimal after 0x/0X, every character a digit, the value within 32 bits.

#include "fuzz_support.hpp"
#include "mdiorw.hpp"

#include <cstring>

namespace {

// Returns -1 when the text is no number; value within 32 bits or not.
int reference(const char *text, uint64_t &value)
{
    unsigned base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
        if (*text == '\0')
            return -1;
    }
    value = 0;
    for (; *text != '\0'; ++text) {
        const int digit = base == 16 ? qvfuzz::hex_value(*text)
                                     : (*text >= '0' && *text <= '9' ? *text - '0' : -1);
        if (digit < 0)
            return -1;
        value = value * base + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFu)
            return -1;
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    uint32_t value = 0xDEADBEEF;
    const int result = mdio::parse_number(text.data(), value);
    uint64_t expected = 0;
    const int expected_result = reference(text.data(), expected);
    QVFUZZ_CHECK(result == expected_result);
    if (result == 0)
        QVFUZZ_CHECK(value == expected);
    return 0;
}
