// boardinfo: the board's description in key=value lines, then its port table.

#include "boardinfo.hpp"

#include "port_wiring.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// One row of the port table, in its stored order.
struct PortRow {
    int32_t unit;
    int32_t port_class; // 0 CPU, 1 optical, 2 copper
    int32_t fibre;
    int32_t switch_port;
    int32_t panel_index; // 0 CPU, 1-10 front ports
};
static_assert(sizeof(PortRow) == 20, "a row is five 32-bit integers");

using qv::kSwitchPortOf;

constexpr std::array<PortRow, qv::kBoardPorts> kPorts{{
    {0, 0, 0, kSwitchPortOf[0], 0},
    {0, 1, 1, kSwitchPortOf[1], 1},
    {0, 1, 1, kSwitchPortOf[2], 2},
    {0, 2, 0, kSwitchPortOf[3], 3},
    {0, 2, 0, kSwitchPortOf[4], 4},
    {0, 2, 0, kSwitchPortOf[5], 5},
    {0, 2, 0, kSwitchPortOf[6], 6},
    {0, 2, 0, kSwitchPortOf[7], 7},
    {0, 2, 0, kSwitchPortOf[8], 8},
    {0, 2, 0, kSwitchPortOf[9], 9},
    {0, 2, 0, kSwitchPortOf[10], 10},
}};
static_assert(sizeof(kPorts) == 220, "11 rows of 20 bytes");

void print_description()
{
    printf("cpu=%s\n", "IMX6UL");
    printf("hardware_version=%s\n", "GE-K47301T_v1.00-10");
    printf("product_type=%s\n", "QV-MR16-PL4C2-AX");
    printf("ports_total=%d\n", 10);
    printf("ports_optical=%d\n", 2);
    printf("ports_ether=%d\n", 8);
    printf("uid=%s\n", "53-20-01-0A-01-10-00-00");
    printf("cpu_seq=%d\n", 9);
}

} // namespace

int tool_main(int, char **)
{
    print_description();
    // The table is worked on in a heap copy.
    auto *rows = static_cast<PortRow *>(malloc(sizeof(kPorts)));
    if (rows == nullptr) {
        perror("malloc");
        return -1;
    }
    memcpy(rows, kPorts.data(), sizeof(kPorts));
    for (size_t i = 0; i < kPorts.size(); ++i) {
        const PortRow &r = rows[i];
        printf("[%d]: %d:%d:%d:%d\n", r.panel_index, r.unit, r.fibre, r.port_class, r.switch_port);
    }
    free(rows);
    return 0;
}
