#pragma once

// The front ports' wiring: the switch port that the CPU (index 0) and the front
// ports 1 to 10 are connected to. The switch library's port map carries the
// same, so the stand-in switch and the tests' fake library are initialised
// from this list too.
#define QV_BOARD_SWITCH_PORTS {9, 10, 8, 6, 7, 4, 5, 2, 3, 0, 1}

namespace qv {

inline constexpr int kBoardPorts = 11;
inline constexpr unsigned char kSwitchPortOf[kBoardPorts] = QV_BOARD_SWITCH_PORTS;

} // namespace qv
