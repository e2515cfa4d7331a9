#pragma once

// The switch management library as kez-tool calls it. On the device this is
// the switch maker's libkez; on a PC, sim/kez builds a stand-in with the same
// functions and port map.

#include <stdint.h>

#define KEZ_API __attribute__((visibility("default")))

// Entries of the port map: the CPU port and the ten front ports.
#define KEZ_PORT_MAP_SIZE 11

#ifdef __cplusplus
extern "C" {
#endif

// Front port (0 = CPU, 1-10 = panel) to the switch's own port number.
KEZ_API extern const unsigned char L_GE_K47301T[KEZ_PORT_MAP_SIZE];

// Starts the library on the network interface that reaches the switch.
// Negative: the library could not start.
KEZ_API int kez_init(const char *ifname);
KEZ_API int kez_id_init(int id);
KEZ_API int loop_kez(void);

// Reads the address table; the result goes to show_atu_entry.
KEZ_API int ATU_dump(int unit);
KEZ_API void show_atu_entry(int entries);

// Fetches, prints and clears one switch port's MIB counters.
KEZ_API int MIB_dump(int unit, int port);
KEZ_API void show_mibs(int port);
KEZ_API int MIB_clear(int unit, int port);

// Reads the switch registers; the result goes to show_regs.
KEZ_API int regs_dump(int unit);
KEZ_API void show_regs(int registers);

// Prints the current rate of every port once.
KEZ_API void show_rates(void);
KEZ_API void show_mib_help(void);

// Counters the library keeps in the program that links it: the program
// defines them and exports them in its dynamic symbol table.
KEZ_API extern uint32_t Unicast_stats;
KEZ_API extern uint32_t Multicast_stats;

#ifdef __cplusplus
}
#endif
