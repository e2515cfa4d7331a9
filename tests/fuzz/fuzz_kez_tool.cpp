// kez-tool's whole command line, in-process against the recording fake of
// the switch library; the rate display is left after a few refreshes.
// Invariants: the status is 0 or 255; the library is started first; the
// ports that reach it to be read or cleared are, in order, the port map's
// entries for the ports the command line names, up to the first that names
// none. getopt, called here on its own, says which arguments name a port.

#include "capture.hpp"
#include "fake_kez.hpp"
#include "fuzz_support.hpp"
#include "kez.h"
#include "kez_tool.hpp"

#include <getopt.h>

#include <cstring>

namespace {

// Ports as the switch numbers them, for each -m and -c in order.
std::vector<int> named_ports(std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    optind = 0;
    opterr = 0;
    std::vector<int> ports;
    int option;
    while ((option = getopt(static_cast<int>(args.size()), argv.data(), "sham:c:Rg")) != -1) {
        if (option == '?' || option == ':' || option == 'R')
            break;
        if (option != 'm' && option != 'c')
            continue;
        const size_t digits = strspn(optarg, "0123456789");
        const unsigned long front = strtoul(optarg, nullptr, 10);
        if (digits == 0 || optarg[digits] != '\0' || front >= KEZ_PORT_MAP_SIZE)
            break;
        ports.push_back(L_GE_K47301T[front]);
    }
    return ports;
}

// The ports of the library calls that read or clear counters.
std::vector<int> reached_ports(const std::vector<std::string> &calls)
{
    std::vector<int> ports;
    for (const auto &call : calls)
        for (const char *prefix : {"MIB_dump(0,", "MIB_clear(0,"})
            if (call.rfind(prefix, 0) == 0)
                ports.push_back(atoi(call.c_str() + strlen(prefix)));
    return ports;
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
    else
        QVFUZZ_CHECK(reached_ports(lib.calls) == named_ports(args));
    return 0;
}
