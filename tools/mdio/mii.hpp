#pragma once

// Single PHY register reads and writes over the MDIO bus, asked of the
// Ethernet driver through MII socket ioctls.

#include "unique_fd.hpp"

#include <net/if.h>

#include <linux/mii.h>

#include <array>

namespace mdio {

// One per run. The socket is only an ioctl handle; the driver reads the
// interface name and the MII data record from `request`, which `mii` points
// into, so a context is neither copied nor moved.
struct MiiContext {
    qv::UniqueFd socket;
    bool initialised = false;
    // Register read request of the family the driver answers; the write
    // request is always the next code.
    int read_command = 0;
    std::array<char, IFNAMSIZ> interface_name{};
    ifreq request{};
    int phy_address = 0;
    int register_address = 0;
    int value = 0; // the last value read, or the value to write
    mii_ioctl_data *mii = nullptr;

    MiiContext() = default;
    MiiContext(const MiiContext &) = delete;
    MiiContext &operator=(const MiiContext &) = delete;
};

// Opens a socket on interface `name` (a C string) and finds out which ioctl
// family its driver answers. Names longer than IFNAMSIZ are cut to it.
// Returns 0, or -1 with the context cleared.
int mii_open(MiiContext &ctx, const char *name);

// Reads register `register_address` of PHY `phy_address` into `value`.
// Returns 0, or -1 with `value` unchanged.
int mii_read(MiiContext &ctx);

// Writes `value` into register `register_address` of PHY `phy_address`.
// Returns 0 or -1.
int mii_write(MiiContext &ctx);

// Closes the socket and clears the context. Returns 0.
int mii_close(MiiContext &ctx);

} // namespace mdio
