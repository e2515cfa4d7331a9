// A tool's shipped main over the fakes of the kernel (tests/fakes), for the
// PC's run of the case tables: a NOR-like /dev/mtd3, or an eth0 whose
// driver answers MII requests with its PHY at address 1. The PHY starts
// afresh in each run; the flash is kept, as a device keeps it, in the file
// $QV_FAKE_FLASH (blank when there is none yet).

#if defined(QV_OVER_FAKE_FLASH)
#include "fake_mtd.hpp"

#include <cstdio>
#include <cstdlib>
#include <vector>
#elif defined(QV_OVER_FAKE_MII)
#include "fake_mii.hpp"
#endif

int program_main(int argc, char **argv);

int main(int argc, char **argv)
{
#if defined(QV_OVER_FAKE_FLASH)
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
    return status;
#else
#if defined(QV_OVER_FAKE_MII)
    fakemii::FakeDriver driver;
    driver.add_interface("eth0", fakemii::Family::Mii);
#endif
    return program_main(argc, argv);
#endif
}
