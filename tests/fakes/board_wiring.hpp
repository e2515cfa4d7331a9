#pragma once

// The board's wiring as the switch library's port map L_GE_K47301T gives
// it: front port 0 (the CPU) and 1-10 (the panel) to the switch's own port.
#define QVTEST_BOARD_WIRING {9, 10, 8, 6, 7, 4, 5, 2, 3, 0, 1}
