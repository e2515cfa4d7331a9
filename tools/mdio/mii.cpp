// MII register access through the Ethernet driver's socket ioctls.

#include "mii.hpp"

#include <sys/ioctl.h>
#include <sys/socket.h>

#include <linux/sockios.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace mdio {

namespace {

// The request codes drivers answer: the MII family, and the private codes
// older drivers used for the same three requests before it existed.
constexpr int kGetPhy = 0x8947;
constexpr int kReadRegister = 0x8948;
constexpr int kWriteRegister = 0x8949;
constexpr int kPrivateGetPhy = 0x89F0;
constexpr int kPrivateReadRegister = kPrivateGetPhy + 1;
static_assert(kGetPhy == SIOCGMIIPHY);
static_assert(kReadRegister == SIOCGMIIREG);
static_assert(kWriteRegister == SIOCSMIIREG);
static_assert(kPrivateGetPhy == SIOCDEVPRIVATE);
static_assert(kWriteRegister == kReadRegister + 1);

// The driver finds the MII data record at the start of the union that
// follows the 16-byte name.
static_assert(IFNAMSIZ == 16);
static_assert(offsetof(ifreq, ifr_ifru) == IFNAMSIZ);
static_assert(sizeof(mii_ioctl_data) == 8);
static_assert(sizeof(mii_ioctl_data) <= sizeof(ifreq::ifr_ifru));

// The request's name field holds IFNAMSIZ bytes and need not end in a NUL,
// so every name is printed with this bound.
constexpr int kNameWidth = IFNAMSIZ;

void clear_context(MiiContext &ctx)
{
    ctx.socket.reset();
    ctx.initialised = false;
    ctx.read_command = 0;
    ctx.interface_name.fill('\0');
    memset(&ctx.request, 0, sizeof ctx.request);
    ctx.phy_address = 0;
    ctx.register_address = 0;
    ctx.value = 0;
    ctx.mii = nullptr;
}

// The driver reads the MII record from, and answers into, the request.
int request(MiiContext &ctx, int code)
{
    return ioctl(ctx.socket.get(), static_cast<unsigned long>(code), &ctx.request);
}

// Asks the driver for its PHY in the MII family, then in the older private
// one; the answer tells which family its register requests belong to.
int find_command_family(MiiContext &ctx)
{
    ctx.mii->phy_id = 0;
    if (request(ctx, kGetPhy) >= 0) {
        ctx.read_command = kReadRegister;
        return 0;
    }
    if (request(ctx, kPrivateGetPhy) >= 0) {
        ctx.read_command = kPrivateReadRegister;
        return 0;
    }
    fprintf(stderr, "SIOCGMIIPHY on %.*s failed: %s\n", kNameWidth,
            ctx.interface_name.data(), strerror(errno));
    return -1;
}

bool usable(const MiiContext &ctx)
{
    if (ctx.initialised)
        return true;
    fputs("context not initialized\n", stderr);
    return false;
}

} // namespace

int mii_open(MiiContext &ctx, const char *name)
{
    const size_t length = strnlen(name, IFNAMSIZ + 1);
    if (length == 0 || length > IFNAMSIZ)
        fprintf(stderr, "devname [%.*s] maybe invalid\n", kNameWidth, name);
    clear_context(ctx);

    ctx.socket = qv::above_stdio(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!ctx.socket.valid()) {
        perror("socket");
        return -1;
    }
    ctx.mii = reinterpret_cast<mii_ioctl_data *>(&ctx.request.ifr_ifru);
    // Fixed-width copy: a name of IFNAMSIZ bytes or more fills the field
    // with no NUL after it; the rest stays zero from the clear.
    const size_t copied = length > IFNAMSIZ ? IFNAMSIZ : length;
    memcpy(ctx.request.ifr_name, name, copied);
    memcpy(ctx.interface_name.data(), name, copied);

    if (find_command_family(ctx) < 0) {
        clear_context(ctx);
        return -1;
    }
    ctx.initialised = true;
    return 0;
}

int mii_read(MiiContext &ctx)
{
    if (!usable(ctx))
        return -1;
    ctx.mii->phy_id = static_cast<uint16_t>(ctx.phy_address);
    ctx.mii->reg_num = static_cast<uint16_t>(ctx.register_address);
    printf("dev_addr %x, reg_addr %x\n", unsigned{ctx.mii->phy_id}, unsigned{ctx.mii->reg_num});
    if (request(ctx, ctx.read_command) < 0) {
        fprintf(stderr, "SIOCGMIIREG on %.*s failed: %s, ioctl type = %x\n", kNameWidth,
                ctx.request.ifr_name, strerror(errno), static_cast<unsigned>(ctx.read_command));
        return -1;
    }
    ctx.value = ctx.mii->val_out;
    return 0;
}

int mii_write(MiiContext &ctx)
{
    if (!usable(ctx))
        return -1;
    ctx.mii->phy_id = static_cast<uint16_t>(ctx.phy_address);
    ctx.mii->reg_num = static_cast<uint16_t>(ctx.register_address);
    ctx.mii->val_in = static_cast<uint16_t>(ctx.value);
    if (request(ctx, ctx.read_command + 1) < 0) {
        fprintf(stderr, "SIOCSMIIREG on %.*s failed: %s\n", kNameWidth, ctx.request.ifr_name,
                strerror(errno));
        return -1;
    }
    return 0;
}

int mii_close(MiiContext &ctx)
{
    clear_context(ctx);
    return 0;
}

} // namespace mdio
