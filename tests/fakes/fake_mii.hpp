#pragma once

// A fake Ethernet driver behind the socket ioctls, put in front of the code
// under test at link time (-Wl,--wrap=socket,--wrap=ioctl,--wrap=close,--wrap=fcntl).
//
// It answers as the kernel does: AF_INET datagram sockets become its own
// handles; requests on them are looked up by interface name (the kernel
// terminates the name at its 16th byte, so a full 16-byte name loses its
// last character), checked for CAP_NET_ADMIN where the kernel checks it, and
// handed to the interface's driver, which speaks the MII requests, the older
// private ones, or neither. Every request that reaches it is recorded.
// Sockets and fds it did not make pass through to the real calls.

#include <net/if.h>

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace fakemii {

// Which request family an interface's driver answers.
enum class Family {
    Mii,     // SIOCGMIIPHY, SIOCGMIIREG, SIOCSMIIREG
    Private, // SIOCDEVPRIVATE, +1, +2 with the same MII data record
    None,    // no MII access at all
};

constexpr int kBusAddresses = 32;
constexpr int kPhyRegisters = 32;

struct Phy {
    std::array<uint16_t, kPhyRegisters> registers{};
};

struct Interface {
    std::string name;
    Family family = Family::Mii;
    int attached_phy = 1; // what a get-PHY request reports
    std::map<int, Phy> phys; // by bus address; others read as all ones
};

// One request as it reached the driver.
struct Request {
    int fd;
    unsigned long code;
    std::string name; // the name field's bytes up to a NUL, at most 16
    uint16_t phy_id;
    uint16_t reg_num;
    uint16_t val_in;
    int error; // 0 if answered, else the errno returned
};

class FakeDriver {
public:
    // Installs itself as the kernel for the calls of this test.
    FakeDriver();
    ~FakeDriver();
    FakeDriver(const FakeDriver &) = delete;
    FakeDriver &operator=(const FakeDriver &) = delete;

    // Adds an interface with PHYs at bus addresses 0 to 3, each with the
    // reset values of a gigabit copper PHY and its address in register 3.
    // The reference stays valid for the driver's life.
    Interface &add_interface(const std::string &name, Family family);

    // Makes the driver refuse every request with this code with `error`,
    // after the kernel's own checks passed; error 0 answers it again.
    void refuse(unsigned long code, int error);
    // Makes the next socket() calls fail with `error`.
    void fail_socket(int error) { socket_error_ = error; }
    // Without CAP_NET_ADMIN the MII requests, reads too, are refused with
    // EPERM; a driver of the private requests refuses only their write.
    void set_net_admin(bool allowed) { net_admin_ = allowed; }

    const std::vector<Request> &requests() const { return requests_; }
    std::vector<unsigned long> codes() const;
    // The type argument of every socket() call it answered, failed or not.
    const std::vector<int> &socket_types() const { return socket_types_; }
    int open_sockets() const { return static_cast<int>(sockets_.size()); }
    uint16_t read_register(const std::string &name, int phy, int reg) const;

    // Called from the wrapped functions; `owned` says whether the call was
    // the fake's to answer.
    int on_socket(int domain, int type, int protocol, bool &owned);
    int on_ioctl(int fd, unsigned long code, void *arg, bool &owned);
    bool on_close(int fd); // forgets a socket of its own
    void on_dup(int fd, int copy); // a duplicate of a socket of its own

private:
    int kernel_ioctl(unsigned long code, void *arg, Request &seen);
    int driver_ioctl(Interface &iface, unsigned long code, ifreq &request);
    int mii_request(Interface &iface, int what, ifreq &request);
    Interface *find(const char *name);

    std::deque<Interface> interfaces_;
    std::map<unsigned long, int> refusals_;
    std::vector<Request> requests_;
    std::vector<int> socket_types_;
    std::vector<int> sockets_;
    int socket_error_ = 0;
    bool net_admin_ = true;
};

} // namespace fakemii
