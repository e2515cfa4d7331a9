// boardinfo and hello (one harness each, by FIXED_TOOL): whatever the
// command line, the output is the same fixed text and the status 0.

#include "fuzz_support.hpp"

#include <cstring>

int tool_main(int argc, char **argv);

namespace {

// One run with stdout caught in memory.
std::string run(qvfuzz::CommandLine &cmd, int &status)
{
    char *text = nullptr;
    size_t size = 0;
    FILE *quiet = stdout;
    stdout = open_memstream(&text, &size);
    if (stdout == nullptr)
        abort();
    status = tool_main(cmd.argc(), cmd.argv.data());
    fclose(stdout);
    stdout = quiet;
    std::string out(text, size);
    free(text);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string expected = [] {
        qvfuzz::CommandLine plain("tool", nullptr, 0, 0);
        int status = 0;
        return run(plain, status);
    }();
    qvfuzz::CommandLine cmd("tool", data, size, 8);
    int status = -1;
    const std::string out = run(cmd, status);
    QVFUZZ_CHECK(status == 0);
    QVFUZZ_CHECK(out == expected);
    QVFUZZ_CHECK(!expected.empty());
    return 0;
}
