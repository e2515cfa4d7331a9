#include "fake_kez.hpp"

#include "port_wiring.hpp"
#include "kez.h"

#include <stdio_ext.h>
#include <unistd.h>

#include <cstdio>

namespace fakekez {

namespace {
Library g_library;

void record(const std::string &call)
{
    g_library.calls.push_back(call);
}
} // namespace

Library &library()
{
    return g_library;
}

void reset()
{
    g_library = Library{};
}

} // namespace fakekez

using fakekez::g_library;
using fakekez::record;

extern "C" const unsigned char L_GE_K47301T[KEZ_PORT_MAP_SIZE] = QV_BOARD_SWITCH_PORTS;

int kez_init(const char *ifname)
{
    record("kez_init(" + std::string(ifname) + ")");
    return g_library.init_result;
}

int kez_id_init(int id)
{
    record("kez_id_init(" + std::to_string(id) + ")");
    return 0;
}

int loop_kez(void)
{
    record("loop_kez()");
    return 0;
}

int ATU_dump(int unit)
{
    record("ATU_dump(" + std::to_string(unit) + ")");
    return g_library.atu_token;
}

void show_atu_entry(int entries)
{
    record("show_atu_entry(" + std::to_string(entries) + ")");
    printf("<atu>\n");
}

int MIB_dump(int unit, int port)
{
    record("MIB_dump(" + std::to_string(unit) + "," + std::to_string(port) + ")");
    return 0;
}

void show_mibs(int port)
{
    record("show_mibs(" + std::to_string(port) + ")");
    printf("<mibs %d>\n", port);
}

int MIB_clear(int unit, int port)
{
    record("MIB_clear(" + std::to_string(unit) + "," + std::to_string(port) + ")");
    return 0;
}

int regs_dump(int unit)
{
    record("regs_dump(" + std::to_string(unit) + ")");
    return g_library.regs_token;
}

void show_regs(int registers)
{
    record("show_regs(" + std::to_string(registers) + ")");
    printf("<regs>\n");
}

void show_rates(void)
{
    record("show_rates()");
    printf("<rates>\n");
}

void show_mib_help(void)
{
    record("show_mib_help()");
    printf("<mib help>\n");
}

// The rate display's sleep. It notes how much output was still waiting in
// stdout's buffer (none, when the refresh was flushed), and leaves the
// endless loop after the set count.
extern "C" int __wrap_usleep(useconds_t usec)
{
    record("usleep(" + std::to_string(usec) + ") pending=" + std::to_string(__fpending(stdout)));
    if (g_library.sleeps_before_stop > 0 && --g_library.sleeps_before_stop == 0)
        std::longjmp(*g_library.stop, 1);
    return 0;
}
