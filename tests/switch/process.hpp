#pragma once

#include "capture.hpp"

#include <string>
#include <vector>

namespace qvtest {

// Runs a program as its own process, stdin empty, and returns what it wrote
// on each stream and its status (128 + the signal when a signal ended it).
// args[0] is the name it is given; path is found on PATH unless it has a slash.
RunResult run_program(const std::string &path, const std::vector<std::string> &args);

} // namespace qvtest
