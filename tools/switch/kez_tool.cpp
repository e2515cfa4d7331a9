// kez-tool: console front end of the switch management library.

#include "kez_tool.hpp"

#include "decimal.hpp"
#include "kez.h"

#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <optional>

// The switch library counts into these; they live in the program's image,
// which exports them.
uint32_t Unicast_stats;
uint32_t Multicast_stats;

namespace {

constexpr const char *kInterface = "eth0";
constexpr const char *kOptions = "sham:c:Rg";
constexpr useconds_t kRefreshMicros = 1000000;
constexpr int kLastPort = KEZ_PORT_MAP_SIZE - 1;

constexpr const char *kUsage =
    "  Usage: kez-tool [options]\n"
    "\tOptions:\n"
    "\t-s         Show the mibs describe \n"
    "\t-h         Show the kez-tool usage \n"
    "\t-a         Display the mac address of the device \n"
    "\t-m <port>  Display the MIB Statistics of the select port \n"
    "\t-c <port>  Clear the MIB Statistics of the select port \n"
    "\t-R         Display the speed on real time(1s) \n"
    "\t-g         Display the all of the registers on the device \n";

// The switch's own number for the port named by text, a whole decimal
// number that names an entry of the port map.
std::optional<int> switch_port(const char *text)
{
    const std::optional<uint64_t> port = qv::parse_decimal(text, kLastPort);
    if (!port) {
        fprintf(stderr, "invalid port: %s\n", text);
        return std::nullopt;
    }
    return L_GE_K47301T[*port];
}

// Runs until the process is killed, or until a refresh cannot be written:
// nobody sees the display any more (main says why). Each refresh is flushed
// so that it also shows when the output goes to a pipe.
void show_rates_while_written()
{
    printf("\33[2J");
    for (;;) {
        show_rates();
        if (fflush(stdout) != 0 || ferror(stdout) != 0)
            return;
        // A signal that cuts the sleep short only brings the next refresh forward.
        (void)usleep(kRefreshMicros);
    }
}

enum class Next { kOption, kDone, kFailed };

Next carry_out(int option, const char *argument)
{
    std::optional<int> port;
    switch (option) {
    case 's':
        show_mib_help();
        return Next::kOption;
    case 'h':
        puts(kUsage);
        return Next::kOption;
    case 'a':
        show_atu_entry(ATU_dump(0));
        return Next::kOption;
    case 'm':
        if (!(port = switch_port(argument)))
            return Next::kFailed;
        (void)MIB_dump(0, *port);
        show_mibs(*port);
        return Next::kOption;
    case 'c':
        if (!(port = switch_port(argument)))
            return Next::kFailed;
        (void)MIB_clear(0, *port);
        return Next::kOption;
    case 'g':
        show_regs(regs_dump(0));
        return Next::kOption;
    case 'R':
        show_rates_while_written();
        return Next::kFailed;
    default: // an unknown option or a missing port; getopt has said which
        puts(kUsage);
        return Next::kDone;
    }
}

} // namespace

int tool_main(int argc, char **argv)
{
    if (kez_init(kInterface) < 0)
        return -1;
    (void)kez_id_init(getpid() & 0xFF);
    (void)loop_kez();

    int option;
    while ((option = getopt(argc, argv, kOptions)) != -1) {
        switch (carry_out(option, optarg)) {
        case Next::kOption:
            break;
        case Next::kDone:
            return 0;
        case Next::kFailed:
            return -1;
        }
    }
    return 0;
}
