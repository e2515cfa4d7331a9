// qv_setmac: shows or stores the device's MAC address in the identity record.

#include "setmac.hpp"

#include "hex_digit.hpp"
#include "qvf_static.hpp"

#include <cstdio>
#include <string_view>

namespace {

constexpr uint8_t kNotHex = 255;
constexpr int kMacBytes = 6;

uint8_t hex_value(char c)
{
    const int value = qv::hex_digit(c);
    return value < 0 ? kNotHex : static_cast<uint8_t>(value);
}

int show_mac()
{
    uint8_t a[kMacBytes];
    if (qvf::mac_address_get(a) < 0)
        return -1;
    printf("mac = [%02x:%02x:%02x:%02x:%02x:%02x]\n", a[0], a[1], a[2], a[3], a[4], a[5]);
    return 0;
}

int store_mac(const char *text)
{
    uint8_t address[kMacBytes] = {};
    if (!setmac::parse_mac_text(text, address)) {
        puts("invalid mac format");
        return -1;
    }
    // The group bit: such an address names many devices, never one.
    if (address[0] & 0x01) {
        puts("invalid mac address: multicast");
        return -1;
    }
    return qvf::mac_address_set(address);
}

} // namespace

bool setmac::parse_mac_text(const char *text, uint8_t address[6])
{
    const std::string_view s(text);
    auto at = [&s](size_t i) { return i < s.size() ? s[i] : '\0'; };
    for (int i = 0; i < kMacBytes; ++i) {
        const size_t pos = 3 * static_cast<size_t>(i);
        const uint8_t high = hex_value(at(pos));
        const uint8_t low = hex_value(at(pos + 1));
        if (high == kNotHex || low == kNotHex)
            return false;
        address[i] = static_cast<uint8_t>(high * 16 + low);
        printf("mac [%d] = [%02x]\n", i, address[i]);
    }
    return true;
}

int tool_main(int argc, char **argv)
{
    if (argc < 2)
        return show_mac();
    return store_mac(argv[1]);
}
