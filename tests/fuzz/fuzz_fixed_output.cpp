// boardinfo and hello (one harness each): whatever the command line, the
// output is the same fixed text and the status 0.

#include "capture.hpp"
#include "fuzz_support.hpp"

int tool_main(int argc, char **argv);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const qvtest::RunResult expected = qvtest::run_tool(tool_main, {"tool"});
    const qvtest::RunResult r = qvtest::run_tool(tool_main, qvfuzz::command_line("tool", data, size, 8));
    QVFUZZ_CHECK(r.status == 0);
    QVFUZZ_CHECK(r.out == expected.out);
    QVFUZZ_CHECK(!expected.out.empty());
    return 0;
}
