#pragma once

#include "hex_digit.hpp"

// Helpers shared by the fuzz harnesses. Each runs its code through the
// capture helpers of tests/support, so nothing the tools print reaches the
// fuzzer's own output.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qvfuzz {

// Stops the run with a message a person can act on.
#define QVFUZZ_CHECK(cond)                                                                      \
    do {                                                                                       \
        if (!(cond)) {                                                                         \
            fprintf(stderr, "invariant broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__);      \
            abort();                                                                           \
        }                                                                                      \
    } while (0)

// A command line from fuzz data: program name, then the data's NUL-separated
// pieces, at most `most` of them.
inline std::vector<std::string> command_line(const char *program, const uint8_t *data, size_t size,
                                             size_t most)
{
    std::vector<std::string> args{program};
    std::string piece;
    for (size_t i = 0; i < size && args.size() <= most; ++i) {
        if (data[i] == '\0') {
            args.push_back(piece);
            piece.clear();
        } else {
            piece.push_back(static_cast<char>(data[i]));
        }
    }
    if (args.size() <= most && (size > 0 || !piece.empty()))
        args.push_back(piece);
    return args;
}

// A hex digit's value, as the tools read it, or -1.
inline int hex_value(char c)
{
    return qv::hex_digit(c);
}

} // namespace qvfuzz
