#pragma once

// Helpers shared by the fuzz harnesses.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qvfuzz {

// The tools print on every run; the fuzzer's own report keeps the stderr
// it captured at start-up.
inline void silence_output()
{
    stdout = fopen("/dev/null", "w");
    stderr = fopen("/dev/null", "w");
    if (stdout == nullptr || stderr == nullptr)
        abort();
}

// Stops the run with a message a person can act on.
#define QVFUZZ_CHECK(cond)                                                                      \
    do {                                                                                       \
        if (!(cond)) {                                                                         \
            fprintf(::qvfuzz::report_stream(), "invariant broken: %s (%s:%d)\n", #cond,        \
                    __FILE__, __LINE__);                                                       \
            abort();                                                                           \
        }                                                                                      \
    } while (0)

inline FILE *report_stream()
{
    static FILE *original = fdopen(2, "w");
    return original;
}

// A command line from fuzz data: program name, then the data's NUL-separated
// pieces, at most `most` of them.
struct CommandLine {
    CommandLine(const char *program, const uint8_t *data, size_t size, size_t most)
    {
        storage.emplace_back(program);
        std::string piece;
        for (size_t i = 0; i < size && storage.size() <= most; ++i) {
            if (data[i] == '\0') {
                storage.push_back(piece);
                piece.clear();
            } else {
                piece.push_back(static_cast<char>(data[i]));
            }
        }
        if (storage.size() <= most && (size > 0 || !piece.empty()))
            storage.push_back(piece);
        for (auto &s : storage)
            argv.push_back(s.data());
        argv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(storage.size()); }

    std::vector<std::string> storage;
    std::vector<char *> argv;
};

inline int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace qvfuzz
