// qv_setmac: shows or stores the device's MAC address in the identity record.

#include "setmac.hpp"

#include "mac_address.hpp"
#include "qvf_static.hpp"

#include <cstdio>
#include <string_view>

namespace {

constexpr int kMacBytes = 6;

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
    if (qv::is_group_address(address)) {
        puts("invalid mac address: multicast");
        return -1;
    }
    return qvf::mac_address_set(address);
}

} // namespace

bool setmac::parse_mac_text(const char *text, uint8_t address[6])
{
    // Any separator, and whatever follows the sixth pair, is taken.
    for (int i = 0; i < kMacBytes; ++i) {
        const int byte = qv::mac_text_byte(text, static_cast<size_t>(i));
        if (byte < 0)
            return false;
        address[i] = static_cast<uint8_t>(byte);
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
