// qv_setmac's whole command line, in-process against the fake flash, with a
// fault of the flash chosen by the first byte. Invariants: the status is 0
// or 255; a stored address is exactly the text's six pairs and is unicast.
// That a rejected text writes nothing is held by the case tables' runner
// (over_fakes.cpp), on a row for every reason of rejection.

#include "capture.hpp"
#include "fake_mtd.hpp"
#include "fuzz_support.hpp"
#include "setmac.hpp"

#include <cerrno>

namespace {

using fakemtd::Call;

struct Fault {
    Call call;
    int error;
};

constexpr Fault kFaults[] = {
    {Call::Open, 0},          {Call::Open, EACCES},   {Call::Read, EIO},
    {Call::Erase, EIO},       {Call::Write, EIO},     {Call::GetInfo, ENOTTY},
    {Call::GetBadBlock, EIO}, {Call::Flock, ENOLCK},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const Fault fault = kFaults[data[0] % std::size(kFaults)];
    fakemtd::Device dev(data[0] & 0x80 ? fakemtd::kNand : fakemtd::kNor);
    fakemtd::Install install(dev);
    if (fault.error != 0)
        dev.failures[fault.call] = fault.error;

    const auto args = qvfuzz::command_line("qv_setmac", data + 1, size - 1, 2);
    const int status = qvtest::run_tool(tool_main, args).status;
    QVFUZZ_CHECK(status == 0 || status == 255);

    if (args.size() >= 2 && status == 0) {
        const std::string &text = args[1];
        QVFUZZ_CHECK(text.size() >= 17);
        for (size_t i = 0; i < 6; ++i) {
            const int byte = qvfuzz::hex_value(text[3 * i]) * 16 + qvfuzz::hex_value(text[3 * i + 1]);
            QVFUZZ_CHECK(dev.flash[i] == byte);
        }
        QVFUZZ_CHECK((dev.flash[0] & 1) == 0);
    }
    QVFUZZ_CHECK(dev.open_descriptors == 0);
    return 0;
}
