// A tool's shipped main over the fakes of the kernel (tests/fakes), for the
// PC's run of the case tables: a NOR-like /dev/mtd3, or an eth0 whose
// driver answers MII requests with its PHY at address 1. The PHY starts
// afresh in each run; the flash is kept, as a device keeps it, in the file
// $QV_FAKE_FLASH (blank when there is none yet).
//
// A run that fails leaves the device as it found it: it neither erases nor
// writes the flash, nor writes a PHY register. A run that breaks this says
// so in the file $QV_FAKE_REPORT, which the tables' runner reads after each
// row: a row may throw the program's own stderr and status away.

#include <cstdio>
#include <cstdlib>

#if defined(QV_OVER_FAKE_FLASH)
#include "fake_mtd.hpp"

#include <vector>
#elif defined(QV_OVER_FAKE_MII)
#include "fake_mii.hpp"

#include <linux/sockios.h>
#endif

int program_main(int argc, char **argv);

namespace {

// The run's status, or 99 when its breach of the rule above could not be
// reported.
int reported(int status, bool changed, const char *program, const char *what)
{
    const char *report = getenv("QV_FAKE_REPORT");
    if ((status & 0xFF) == 0 || !changed || report == nullptr)
        return status;
    FILE *out = fopen(report, "a");
    if (out == nullptr)
        return 99;
    const bool written = fprintf(out, "%s: a run that failed (status %d) %s\n", program, status & 0xFF, what) > 0;
    return fclose(out) == 0 && written ? status : 99;
}

#if defined(QV_OVER_FAKE_FLASH)
int run(int argc, char **argv)
{
    fakemtd::Device flash(fakemtd::kNor);
    const char *kept = getenv("QV_FAKE_FLASH");
    if (kept != nullptr) {
        if (FILE *in = fopen(kept, "rb")) {
            std::vector<uint8_t> bytes(flash.flash.size());
            const bool whole = fread(bytes.data(), 1, bytes.size(), in) == bytes.size();
            fclose(in);
            if (!whole)
                return 99;
            flash.program(0, bytes);
        }
    }
    int status;
    {
        fakemtd::Install install(flash);
        status = program_main(argc, argv);
    }
    if (kept != nullptr) {
        FILE *out = fopen(kept, "wb");
        if (out == nullptr || fwrite(flash.flash.data(), 1, flash.flash.size(), out) != flash.flash.size() ||
            fclose(out) != 0)
            return 99;
    }
    const bool changed = flash.count(fakemtd::Call::Erase) + flash.count(fakemtd::Call::Write) > 0;
    return reported(status, changed, argv[0], "erased or wrote the flash");
}
#elif defined(QV_OVER_FAKE_MII)
int run(int argc, char **argv)
{
    fakemii::FakeDriver driver;
    driver.add_interface("eth0", fakemii::Family::Mii);
    const int status = program_main(argc, argv);
    bool changed = false;
    for (const fakemii::Request &r : driver.requests())
        changed = changed || r.code == SIOCSMIIREG || r.code == SIOCDEVPRIVATE + 2;
    return reported(status, changed, argv[0], "wrote a PHY register");
}
#endif

} // namespace

int main(int argc, char **argv)
{
    return run(argc, argv);
}
