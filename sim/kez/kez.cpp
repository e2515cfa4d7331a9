// Stand-in for the switch maker's libkez: the same functions and port map
// over a simulated switch, for development and tests on a PC.

#include "port_wiring.hpp"
#include "kez.h"
#include "state.hpp"
#include "traffic.hpp"

#include <net/if.h>

#include <cinttypes>
#include <cstdio>

using namespace kezsim;

namespace {

struct AtuEntry {
    std::array<uint8_t, 6> mac;
    int port;
    bool is_static;
};

constexpr std::array<AtuEntry, 8> kAtu{{
    {{0x01, 0x80, 0xc2, 0x00, 0x00, 0x00}, 9, true},
    {{0x02, 0x51, 0x56, 0x00, 0x00, 0x01}, 9, true},
    {{0x02, 0x00, 0x00, 0x0a, 0x00, 0x11}, 10, false},
    {{0x02, 0x00, 0x00, 0x0a, 0x00, 0x12}, 10, false},
    {{0x02, 0x00, 0x00, 0x06, 0x00, 0x21}, 6, false},
    {{0x02, 0x00, 0x00, 0x05, 0x00, 0x31}, 5, false},
    {{0x02, 0x00, 0x00, 0x01, 0x00, 0x41}, 1, false},
    {{0x02, 0x00, 0x00, 0x00, 0x00, 0x51}, 0, false},
}};

struct Register {
    uint16_t address;
    uint16_t value;
};

constexpr std::array<Register, 4> kGlobalRegisters{{
    {0x0000, 0x4731}, // switch identifier and revision
    {0x0001, 0x0080}, // global control: switching enabled
    {0x0002, 0x012c}, // address table ageing time, 300 s
    {0x0003, 0x0000}, // MIB control: counters running
}};
constexpr int kPortRegisters = 2;
constexpr int kRegisterCount = static_cast<int>(kGlobalRegisters.size()) + kSwitchPorts * kPortRegisters;

uint16_t port_status(const PortProfile &p)
{
    constexpr uint16_t kLink = 0x0800;
    constexpr uint16_t kFullDuplex = 0x0400;
    switch (p.speed_mbit) {
    case 1000: return kLink | kFullDuplex | 0x0200;
    case 100: return kLink | kFullDuplex | 0x0100;
    case 10: return kLink | kFullDuplex;
    default: return 0;
    }
}

// Global registers first, then each port's status and control registers.
Register register_at(int index)
{
    if (index < static_cast<int>(kGlobalRegisters.size()))
        return kGlobalRegisters[static_cast<size_t>(index)];
    index -= static_cast<int>(kGlobalRegisters.size());
    const int port = index / kPortRegisters;
    const uint16_t base = static_cast<uint16_t>(0x1000 | (port << 4));
    if (index % kPortRegisters == 0)
        return {base, port_status(kProfiles[static_cast<size_t>(port)])};
    return {static_cast<uint16_t>(base | 0x4), 0x007f}; // forwarding, all frame kinds
}

bool valid_port(int port)
{
    if (port >= 0 && port < kSwitchPorts)
        return true;
    fprintf(stderr, "kez: no switch port %d\n", port);
    return false;
}

bool valid_unit(int unit)
{
    if (unit == 0)
        return true;
    fprintf(stderr, "kez: no switch unit %d\n", unit);
    return false;
}

// Loads the state, lets change() alter it, and saves it, all under the
// state's lock.
template <typename Change> int update_state(Change change)
{
    const qv::UniqueFd lock = lock_state();
    if (!lock.valid())
        return -1;
    const int64_t now = sim_now();
    SimState state;
    if (!load_state(state, now))
        return -1;
    change(state, now);
    return save_state(state) ? 0 : -1;
}

int clamp_count(int count, int table_size, const char *what)
{
    if (count < 0) {
        fprintf(stderr, "kez: no %s read\n", what);
        return 0;
    }
    return count < table_size ? count : table_size;
}

int front_port_of(int switch_port)
{
    for (int front = 0; front < KEZ_PORT_MAP_SIZE; ++front)
        if (L_GE_K47301T[front] == switch_port)
            return front;
    return -1;
}

void print_rate_line(int front)
{
    const PortProfile &p = kProfiles[L_GE_K47301T[front]];
    char label[8];
    if (front == 0)
        snprintf(label, sizeof label, "cpu");
    else
        snprintf(label, sizeof label, "%d", front);
    char link[8];
    if (p.speed_mbit == 0)
        snprintf(link, sizeof link, "down");
    else
        snprintf(link, sizeof link, "%uM", static_cast<unsigned>(p.speed_mbit));
    printf("%-5s %5s %12" PRIu64 " %12" PRIu64 " %12" PRIu64 " %12" PRIu64 "\n", label, link,
           counter_rate(p, kRxOctets) * 8 / 1000, counter_rate(p, kTxOctets) * 8 / 1000,
           frames_per_second(p.rx), frames_per_second(p.tx));
}

} // namespace

// Front port n is wired to the switch port given for panel index n.
extern "C" const unsigned char L_GE_K47301T[KEZ_PORT_MAP_SIZE] = QV_BOARD_SWITCH_PORTS;

int kez_init(const char *ifname)
{
    // The switch is managed through this interface; without it there is no
    // switch. Nor is there one without a state of this user's own: a state
    // that is refused stops kez-tool here, with status 255.
    if (if_nametoindex(ifname) == 0)
        return -1;
    return update_state([](SimState &, int64_t) {});
}

int kez_id_init(int id)
{
    (void)id; // the simulated switch talks to one client at a time
    return 0;
}

int loop_kez(void)
{
    // Brings the simulated switch up: its state file exists from here on.
    return update_state([](SimState &, int64_t) {});
}

int ATU_dump(int unit)
{
    return valid_unit(unit) ? static_cast<int>(kAtu.size()) : -1;
}

void show_atu_entry(int entries)
{
    entries = clamp_count(entries, static_cast<int>(kAtu.size()), "address table entries");
    printf("%-17s  %4s  %s\n", "MAC", "Port", "State");
    for (int i = 0; i < entries; ++i) {
        const AtuEntry &e = kAtu[static_cast<size_t>(i)];
        printf("%02x:%02x:%02x:%02x:%02x:%02x  %4d  %s\n", e.mac[0], e.mac[1], e.mac[2], e.mac[3],
               e.mac[4], e.mac[5], e.port, e.is_static ? "static" : "dynamic");
    }
}

int MIB_dump(int unit, int port)
{
    if (!valid_unit(unit) || !valid_port(port))
        return -1;
    return update_state([port](SimState &s, int64_t now) { s.fetched[static_cast<size_t>(port)] = now; });
}

void show_mibs(int port)
{
    SimState state;
    if (!valid_port(port) || !load_state(state, sim_now()))
        return;
    const auto p = static_cast<size_t>(port);
    if (state.fetched[p] == kNever) {
        printf("switch port %d: counters not fetched\n", port);
        return;
    }
    const int64_t seconds = state.fetched[p] - state.cleared[p];
    printf("switch port %d (front port %d)\n", port, front_port_of(port));
    printf("%-12s %20s\n", "Counter", "Value");
    for (int c = 0; c < kCounterCount; ++c)
        printf("%-12s %20" PRIu64 "\n", kCounters[static_cast<size_t>(c)].name,
               counter_value(kProfiles[p], static_cast<Counter>(c), seconds));
}

int MIB_clear(int unit, int port)
{
    if (!valid_unit(unit) || !valid_port(port))
        return -1;
    return update_state([port](SimState &s, int64_t now) { s.cleared[static_cast<size_t>(port)] = now; });
}

int regs_dump(int unit)
{
    return valid_unit(unit) ? kRegisterCount : -1;
}

void show_regs(int registers)
{
    registers = clamp_count(registers, kRegisterCount, "registers");
    printf("%-6s  %s\n", "Addr", "Value");
    for (int i = 0; i < registers; ++i) {
        const Register r = register_at(i);
        printf("0x%04x  0x%04x\n", r.address, r.value);
    }
}

void show_rates(void)
{
    printf("%-5s %5s %12s %12s %12s %12s\n", "Port", "Link", "Rx kbit/s", "Tx kbit/s",
           "Rx frames/s", "Tx frames/s");
    for (int front = 0; front < KEZ_PORT_MAP_SIZE; ++front)
        print_rate_line(front);
}

void show_mib_help(void)
{
    printf("%-12s %s\n", "Counter", "Meaning");
    for (const CounterInfo &c : kCounters)
        printf("%-12s %s\n", c.name, c.help);
}
