#include "fake_mii.hpp"

#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <linux/mii.h>
#include <linux/sockios.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

extern "C" {
int __real_socket(int domain, int type, int protocol);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_close(int fd);
int __real_fcntl(int fd, int cmd, ...);
}

namespace fakemii {

namespace {

// The driver the wrapped calls reach; null outside a test.
FakeDriver *active = nullptr;

enum MiiWhat { kGetPhy, kRead, kWrite };

constexpr uint16_t kAllOnes = 0xFFFF; // an MDIO read nobody drives

bool is_mii_code(unsigned long code)
{
    return code == SIOCGMIIPHY || code == SIOCGMIIREG || code == SIOCSMIIREG;
}

bool is_private_code(unsigned long code)
{
    return code >= SIOCDEVPRIVATE && code <= SIOCDEVPRIVATE + 15;
}

mii_ioctl_data &mii_of(ifreq &request)
{
    return *reinterpret_cast<mii_ioctl_data *>(&request.ifr_ifru);
}

Phy copper_phy(int address)
{
    Phy phy;
    phy.registers[MII_BMCR] = 0x1140;
    phy.registers[MII_BMSR] = 0x7949;
    phy.registers[MII_PHYSID1] = 0x0022;
    phy.registers[MII_PHYSID2] = static_cast<uint16_t>(0x1620 | address);
    phy.registers[MII_ADVERTISE] = 0x01E1;
    return phy;
}

} // namespace

FakeDriver::FakeDriver() { active = this; }

FakeDriver::~FakeDriver()
{
    for (int fd : sockets_)
        (void)__real_close(fd);
    active = nullptr;
}

Interface &FakeDriver::add_interface(const std::string &name, Family family)
{
    Interface &iface = interfaces_.emplace_back();
    iface.name = name;
    iface.family = family;
    for (int address = 0; address < 4; ++address)
        iface.phys[address] = copper_phy(address);
    return iface;
}

void FakeDriver::refuse(unsigned long code, int error)
{
    if (error == 0)
        refusals_.erase(code);
    else
        refusals_[code] = error;
}

std::vector<unsigned long> FakeDriver::codes() const
{
    std::vector<unsigned long> result;
    for (const Request &r : requests_)
        result.push_back(r.code);
    return result;
}

uint16_t FakeDriver::read_register(const std::string &name, int phy, int reg) const
{
    for (const Interface &iface : interfaces_) {
        if (iface.name != name)
            continue;
        auto found = iface.phys.find(phy);
        return found == iface.phys.end() ? kAllOnes : found->second.registers.at(reg);
    }
    return kAllOnes;
}

Interface *FakeDriver::find(const char *name)
{
    for (Interface &iface : interfaces_)
        if (iface.name == name)
            return &iface;
    return nullptr;
}

int FakeDriver::on_socket(int domain, int type, int protocol, bool &owned)
{
    const int base_type = type & ~(SOCK_CLOEXEC | SOCK_NONBLOCK);
    owned = domain == AF_INET && base_type == SOCK_DGRAM && (protocol == 0 || protocol == IPPROTO_UDP);
    if (!owned)
        return -1;
    socket_types_.push_back(type);
    if (socket_error_ != 0) {
        errno = socket_error_;
        return -1;
    }
    // A real descriptor, so that it can be closed, leaked or inspected.
    const int fd = open("/dev/null", O_RDONLY | ((type & SOCK_CLOEXEC) ? O_CLOEXEC : 0));
    if (fd >= 0)
        sockets_.push_back(fd);
    return fd;
}

void FakeDriver::on_dup(int fd, int copy)
{
    if (std::find(sockets_.begin(), sockets_.end(), fd) != sockets_.end())
        sockets_.push_back(copy);
}

bool FakeDriver::on_close(int fd)
{
    auto found = std::find(sockets_.begin(), sockets_.end(), fd);
    if (found == sockets_.end())
        return false;
    sockets_.erase(found);
    return true;
}

int FakeDriver::on_ioctl(int fd, unsigned long code, void *arg, bool &owned)
{
    owned = std::find(sockets_.begin(), sockets_.end(), fd) != sockets_.end();
    if (!owned)
        return -1;
    Request seen{fd, code, {}, 0, 0, 0, 0};
    const int result = kernel_ioctl(code, arg, seen);
    seen.error = result < 0 ? -result : 0;
    requests_.push_back(seen);
    if (result < 0) {
        errno = -result;
        return -1;
    }
    return 0;
}

// The socket layer: copies the request in, checks the caller's rights and
// the interface, hands it to the driver and copies the answer back out.
int FakeDriver::kernel_ioctl(unsigned long code, void *arg, Request &seen)
{
    if (arg == nullptr)
        return -EFAULT;
    ifreq request;
    memcpy(&request, arg, sizeof request);
    seen.name.assign(request.ifr_name, strnlen(request.ifr_name, IFNAMSIZ));
    seen.phy_id = mii_of(request).phy_id;
    seen.reg_num = mii_of(request).reg_num;
    seen.val_in = mii_of(request).val_in;
    request.ifr_name[IFNAMSIZ - 1] = '\0';

    if (!is_mii_code(code) && !is_private_code(code))
        return -ENOTTY;
    // Every MII request needs the right, reads as well as writes, and it is
    // checked before the interface is looked up. The private codes go to
    // the driver unchecked.
    if (is_mii_code(code) && !net_admin_)
        return -EPERM;
    Interface *iface = find(request.ifr_name);
    if (iface == nullptr)
        return -ENODEV;
    auto refused = refusals_.find(code);
    if (refused != refusals_.end())
        return -refused->second;
    const int result = driver_ioctl(*iface, code, request);
    if (result == 0)
        memcpy(arg, &request, sizeof request);
    return result;
}

int FakeDriver::driver_ioctl(Interface &iface, unsigned long code, ifreq &request)
{
    if (iface.family == Family::Mii && is_mii_code(code))
        return mii_request(iface, static_cast<int>(code - SIOCGMIIPHY), request);
    if (iface.family == Family::Private && code <= SIOCDEVPRIVATE + 2 && is_private_code(code)) {
        // These drivers check the right to write themselves.
        if (code == SIOCDEVPRIVATE + 2 && !net_admin_)
            return -EPERM;
        return mii_request(iface, static_cast<int>(code - SIOCDEVPRIVATE), request);
    }
    return -EOPNOTSUPP;
}

// One MDIO frame: the bus has 32 PHY addresses and a 5-bit register field.
// The get-PHY request reports the attached PHY and then reads its register
// as a read request would.
int FakeDriver::mii_request(Interface &iface, int what, ifreq &request)
{
    mii_ioctl_data &mii = mii_of(request);
    if (what == kGetPhy)
        mii.phy_id = static_cast<uint16_t>(iface.attached_phy);
    if (mii.phy_id >= kBusAddresses)
        return -ENXIO;
    auto phy = iface.phys.find(mii.phy_id);
    const int reg = mii.reg_num % kPhyRegisters;
    if (what == kWrite) {
        if (phy != iface.phys.end())
            phy->second.registers[static_cast<size_t>(reg)] = mii.val_in;
        return 0;
    }
    mii.val_out = phy == iface.phys.end() ? kAllOnes : phy->second.registers[static_cast<size_t>(reg)];
    return 0;
}

} // namespace fakemii

using fakemii::active;

extern "C" int __wrap_socket(int domain, int type, int protocol)
{
    bool owned = false;
    if (active != nullptr) {
        const int fd = active->on_socket(domain, type, protocol, owned);
        if (owned)
            return fd;
    }
    return __real_socket(domain, type, protocol);
}

extern "C" int __wrap_ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    bool owned = false;
    if (active != nullptr) {
        const int result = active->on_ioctl(fd, request, arg, owned);
        if (owned)
            return result;
    }
    return __real_ioctl(fd, request, arg);
}

extern "C" int __wrap_close(int fd)
{
    if (active != nullptr)
        (void)active->on_close(fd);
    return __real_close(fd);
}

// A duplicate of a socket is the same socket.
extern "C" int __wrap_fcntl(int fd, int cmd, ...)
{
    va_list args;
    va_start(args, cmd);
    const long arg = va_arg(args, long);
    va_end(args);
    const int result = __real_fcntl(fd, cmd, arg);
    if (active != nullptr && result >= 0 && (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC))
        active->on_dup(fd, result);
    return result;
}
