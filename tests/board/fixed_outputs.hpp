#pragma once

// What boardinfo and hello print, whatever they are given.

#include <string>

namespace qvtest {

inline const std::string kBoardDescription = "cpu=IMX6UL\n"
                                             "hardware_version=GE-K47301T_v1.00-10\n"
                                             "product_type=QV-MR16-PL4C2-AX\n"
                                             "ports_total=10\n"
                                             "ports_optical=2\n"
                                             "ports_ether=8\n"
                                             "uid=53-20-01-0A-01-10-00-00\n"
                                             "cpu_seq=9\n";

// Panel index, unit, fibre flag, port class, switch port.
inline const std::string kPortTable = "[0]: 0:0:0:9\n"
                                      "[1]: 0:1:1:10\n"
                                      "[2]: 0:1:1:8\n"
                                      "[3]: 0:0:2:6\n"
                                      "[4]: 0:0:2:7\n"
                                      "[5]: 0:0:2:4\n"
                                      "[6]: 0:0:2:5\n"
                                      "[7]: 0:0:2:2\n"
                                      "[8]: 0:0:2:3\n"
                                      "[9]: 0:0:2:0\n"
                                      "[10]: 0:0:2:1\n";

inline const std::string kBoardinfoOutput = kBoardDescription + kPortTable;

inline const std::string kHelloOutput = ">>>>>>>>>>> hello openwrt <<<<<<<<<<<<<<\n";

} // namespace qvtest
