// The MAC text parser: never reads past the text, and accepts exactly six
// pairs of hexadecimal digits at their places, whatever stands between.

#include "capture.hpp"
#include "fuzz_support.hpp"
#include "setmac.hpp"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact-size copy: ASan catches any read past the NUL.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    const size_t length = strlen(text.data());

    uint8_t address[6] = {};
    const bool accepted =
        qvtest::capture_call([&] { return setmac::parse_mac_text(text.data(), address); }).status != 0;

    bool well_formed = length >= 17;
    for (size_t i = 0; well_formed && i < 6; ++i) {
        const int high = qvfuzz::hex_value(text[3 * i]);
        const int low = qvfuzz::hex_value(text[3 * i + 1]);
        well_formed = high >= 0 && low >= 0 && address[i] == high * 16 + low;
    }
    QVFUZZ_CHECK(accepted == well_formed);
    return 0;
}
