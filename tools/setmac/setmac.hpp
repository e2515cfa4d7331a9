#pragma once

#include <cstdint>

// qv_setmac with no argument shows the stored MAC address; with one, stores
// the address given as text. Returns 0, or -1 (status 255) on failure.
int tool_main(int argc, char **argv);

namespace setmac {

// Parses "xx:xx:xx:xx:xx:xx" (any separator) into address[0..5], printing
// each byte as it is formed. Returns false on the first pair that is not two
// hexadecimal digits. The text is never read past its NUL.
bool parse_mac_text(const char *text, uint8_t address[6]);

} // namespace setmac
