// boardinfo and hello (one harness each): whatever the command line, the
// whole output is the tool's fixed text, FIXED_OUTPUT (written out with the
// tools' tests), and the status 0.

#include "capture.hpp"
#include "expected_texts.hpp"
#include "fuzz_support.hpp"

int tool_main(int argc, char **argv);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const qvtest::RunResult r = qvtest::run_tool(tool_main, qvfuzz::command_line("tool", data, size, 8));
    QVFUZZ_CHECK(r == (qvtest::RunResult{FIXED_OUTPUT, "", 0}));
    return 0;
}
