#pragma once

#include <cstdint>

// mdiorw PHY REG reads one PHY register and prints it; mdiorw PHY REG VALUE
// writes one. Returns 0, or -1 (status 255) on failure.
int tool_main(int argc, char **argv);

namespace mdio {

// Parses a C string as an unsigned 32-bit number: hexadecimal after "0x" or
// "0X" (at most eight significant digits), decimal otherwise (a leading zero
// does not make it octal; the empty text is 0). Returns 0, or -1 on a stray
// character or a value that does not fit. On failure `value` holds what was
// accumulated before the fault, except for a bare prefix, where it is left
// untouched.
int parse_number(const char *text, uint32_t &value);

} // namespace mdio
