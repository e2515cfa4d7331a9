#!/bin/sh
# on-pc.sh TESTS [--emulator COMMAND] PROGRAM...: the case tables of
# TESTS/cases, run on the PC against the given built programs
# (tests/cases/CMakeLists.txt says which), as TAP; a cross build's programs
# through COMMAND (qemu-user and its options). kez-tool needs an eth0 to start the switch: the run goes into a
# network namespace of its own that has one (tests/switch/with-eth0.sh);
# where none can be made, kez-tool's rows are skipped.
set -u
tests=$1
shift
emulator=''
if [ "${1:-}" = --emulator ]; then
    emulator=$2
    shift 2
fi
if [ -z "${QV_CASES_ETH0:-}" ]; then
    QV_CASES_ETH0=1 sh "$tests/switch/with-eth0.sh" sh "$0" "$tests" ${emulator:+--emulator "$emulator"} "$@"
    status=$?
    [ $status = 77 ] || exit $status
    QV_CASES_ETH0=none
    export QV_CASES_ETH0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/run"
for program in "$@"; do
    name=$(basename "$program")
    [ "$name" = kez-tool ] && [ "$QV_CASES_ETH0" = none ] && continue
    if [ -z "$emulator" ]; then
        ln -s "$program" "$work/bin/$name"
    else
        # qemu-user's -0: the program's own name, as getopt words it
        printf '#!/bin/sh\nexec %s -0 %s "%s" "$@"\n' "$emulator" "$name" "$program" >"$work/bin/$name"
        chmod +x "$work/bin/$name"
    fi
done
# A run over the fakes that fails but changed the flash or a PHY says so
# in the report, which fails its row (see over_fakes.cpp).
PATH=$work/bin:$PATH QV_FAKE_FLASH=$work/mtd3 QV_FAKE_REPORT=$work/report
export QV_FAKE_FLASH QV_FAKE_REPORT
# shellcheck source=tests/lib/checks.sh
. "$tests/lib/checks.sh"
checks_expected=$tests/expected
# The fakes' flash is blank and takes stores; their PHY answers at
# address 1; the stand-in switch prints nothing when it starts.
checks_can="record store phy1 sim silent glibc"
for tool in mkfifo timeout flock; do
    command -v $tool >/dev/null 2>&1 && checks_can="$checks_can ${tool#mk}"
done
: >"$work/owned" && chown 65534:65534 "$work/owned" 2>/dev/null && checks_can="$checks_can chown"
unshare -rm true 2>/dev/null && checks_can="$checks_can unshare"
[ "$QV_CASES_ETH0" = none ] && echo "# no network namespace with an eth0 here: kez-tool's rows are skipped"
checks_start "$work/run"
checks_report=$QV_FAKE_REPORT
checks_table "$tests"/cases/*.cases
checks_done
