// mdiorw: one PHY register read or write over MDIO, through the driver of eth0.

#include "mdiorw.hpp"

#include "decimal.hpp"
#include "hex_digit.hpp"
#include "mii.hpp"

#include <array>
#include <cstdio>

namespace {

using mdio::MiiContext;

constexpr const char *kInterface = "eth0";

int parse_hex(const char *digits, uint32_t &value)
{
    uint32_t v = 0;
    for (const char *p = digits; *p != '\0'; ++p) {
        const int digit = qv::hex_digit(*p);
        if (digit < 0 || v > 0x0FFFFFFFu) {
            value = v;
            return -1;
        }
        v = v * 16 + static_cast<uint32_t>(digit);
    }
    value = v;
    return 0;
}

// Parses the arguments into the context's addresses (and value); the first
// that is not a number ends the run.
int parse_arguments(MiiContext &ctx, int count, char **args)
{
    std::array<int *, 3> fields{&ctx.phy_address, &ctx.register_address, &ctx.value};
    for (int i = 0; i < count; ++i) {
        uint32_t number = 0;
        if (mdio::parse_number(args[i], number) < 0) {
            fputs("parse argv error !\n", stderr);
            return -1;
        }
        // The driver sees 16 bits of each; the cut is made in the request.
        *fields[static_cast<size_t>(i)] = static_cast<int>(number);
    }
    return 0;
}

int read_register(MiiContext &ctx, char **args)
{
    if (parse_arguments(ctx, 2, args) < 0)
        return -1;
    // A refused read has no value to show.
    if (mdio::mii_read(ctx) < 0)
        return -1;
    printf("read data: %x\n", static_cast<unsigned>(ctx.value));
    return mdio::mii_close(ctx);
}

int write_register(MiiContext &ctx, char **args)
{
    if (parse_arguments(ctx, 3, args) < 0)
        return -1;
    const int written = mdio::mii_write(ctx);
    (void)mdio::mii_close(ctx);
    return written < 0 ? -1 : 0;
}

int usage()
{
    fputs("invalid argument !\n", stderr);
    fputs("read: mdiorw [phy addr] [reg addr]\n", stdout);
    fputs("write: mdiorw [phy addr] [reg addr] [reg_val]\n", stdout);
    return -1;
}

} // namespace

int mdio::parse_number(const char *text, uint32_t &value)
{
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (text[2] == '\0')
            return -1;
        return parse_hex(text + 2, value);
    }
    const qv::DecimalScan decimal = qv::scan_decimal(text, UINT32_MAX);
    value = static_cast<uint32_t>(decimal.value);
    return decimal.whole ? 0 : -1;
}

int tool_main(int argc, char **argv)
{
    // The driver is asked before the arguments are looked at: on a board
    // whose driver does not answer, even a wrong command line says so.
    MiiContext ctx;
    if (mdio::mii_open(ctx, kInterface) < 0) {
        fputs("smi init fail\n", stderr);
        return -1;
    }
    if (argc == 3)
        return read_register(ctx, argv + 1);
    if (argc == 4)
        return write_register(ctx, argv + 1);
    return usage();
}
