// Linked into every harness: the tools print on every run, and the
// fuzzer's own report keeps the stderr it captured at start-up.

#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qvfuzz::silence_output();
    return 0;
}
