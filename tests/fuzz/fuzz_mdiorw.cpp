// mdiorw's whole command line, in-process against the fake driver, whose
// kind (and refusals) the first byte chooses. Invariants: the status is 0
// or 255; a register write reaches the driver only from a three-number
// command line, with the numbers cut to 16 bits; the socket is closed or
// left to the process's exit, never duplicated.

#include "capture.hpp"
#include "fake_mii.hpp"
#include "fuzz_support.hpp"
#include "mdiorw.hpp"

#include <linux/sockios.h>

#include <cerrno>

namespace {

using fakemii::Family;

bool is_write(unsigned long code)
{
    return code == SIOCSMIIREG || code == SIOCDEVPRIVATE + 2;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    fakemii::FakeDriver driver;
    const Family families[] = {Family::Mii, Family::Private, Family::None};
    if ((data[0] & 0x03) != 3)
        driver.add_interface("eth0", families[data[0] & 0x03]);
    if (data[0] & 0x04)
        driver.refuse(SIOCGMIIREG, EIO);
    if (data[0] & 0x08)
        driver.set_net_admin(false);

    const auto args = qvfuzz::command_line("mdiorw", data + 1, size - 1, 4);
    const int status = qvtest::run_tool(tool_main, args).status;
    QVFUZZ_CHECK(status == 0 || status == 255);

    uint32_t numbers[3] = {};
    bool all_numbers = args.size() == 4;
    for (size_t i = 1; all_numbers && i < 4; ++i)
        all_numbers = mdio::parse_number(args[i].c_str(), numbers[i - 1]) == 0;
    for (const auto &r : driver.requests()) {
        if (!is_write(r.code))
            continue;
        QVFUZZ_CHECK(all_numbers);
        QVFUZZ_CHECK(r.phy_id == (numbers[0] & 0xFFFF));
        QVFUZZ_CHECK(r.reg_num == (numbers[1] & 0xFFFF));
        QVFUZZ_CHECK(r.val_in == (numbers[2] & 0xFFFF));
    }
    QVFUZZ_CHECK(driver.open_sockets() <= 1);
    return 0;
}
