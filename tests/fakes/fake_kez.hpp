#pragma once

// A stand-in for the switch library that records every call kez-tool makes,
// in order, and prints a marker for each table it is asked to show, so that
// a test sees both what reached the library and where its output fell.

#include <csetjmp>
#include <string>
#include <vector>

namespace fakekez {

struct Library {
    int init_result = 0;         // what kez_init returns
    int atu_token = 23;          // what ATU_dump returns
    int regs_token = 42;         // what regs_dump returns
    int sleeps_before_stop = -1; // usleep calls before it jumps to stop (-1: never)
    std::jmp_buf *stop = nullptr;
    std::vector<std::string> calls;
};

// The fake's state; reset() before each test.
Library &library();
void reset();

} // namespace fakekez
