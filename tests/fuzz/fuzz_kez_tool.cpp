// kez-tool's whole command line, in-process against a recording fake of the
// switch library; the rate display is left after a few refreshes.
// Invariants: the status is 0 or 255; the library is started first; every
// port that reaches it is a switch port of the map, so counters are only
// ever read or cleared on a port the command line named.

#include "capture.hpp"
#include "fake_kez.hpp"
#include "fuzz_support.hpp"
#include "kez.h"
#include "kez_tool.hpp"

#include <algorithm>
#include <cstring>

namespace {

bool names_a_switch_port(const std::string &call)
{
    for (const char *prefix : {"MIB_dump(0,", "MIB_clear(0,", "show_mibs("}) {
        if (call.rfind(prefix, 0) != 0)
            continue;
        const int port = atoi(call.c_str() + strlen(prefix));
        return std::count(L_GE_K47301T, L_GE_K47301T + KEZ_PORT_MAP_SIZE, port) == 1;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    fakekez::reset();
    auto &lib = fakekez::library();
    lib.init_result = (data[0] & 1) ? -1 : 0;
    lib.sleeps_before_stop = 3;
    std::jmp_buf stop;
    lib.stop = &stop;

    const auto args = qvfuzz::command_line("kez-tool", data + 1, size - 1, 16);
    const int status = qvtest::run_tool(tool_main, args, &stop).status;
    QVFUZZ_CHECK(status == 0 || status == 255);
    QVFUZZ_CHECK(!lib.calls.empty() && lib.calls.front() == "kez_init(eth0)");
    if (lib.init_result < 0)
        QVFUZZ_CHECK(lib.calls.size() == 1);
    for (const auto &call : lib.calls)
        QVFUZZ_CHECK(names_a_switch_port(call));
    return 0;
}
