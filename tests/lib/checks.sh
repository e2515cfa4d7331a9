# shellcheck shell=dash
# How our shell checks run a case and tell its result. Sourced by the system
# tests (busybox sh on the virtual boards), the device checks (the device's
# sh, over SSH) and the tests of the scripts and of the rpcd plugin (the
# PC's sh), so it is written for all of them: POSIX sh and local.
#
# The output is TAP: "ok N - NAME", "not ok N - NAME" followed by "#" lines
# that tell what differed, "ok N - NAME # SKIP REASON"; at the end the plan
# "1..N" and then the count the runners read, "[LABEL: ]N passed, N failed,
# N skipped".

passed=0 failed=0 skipped=0 number=0

# checks_start FOLDER [LABEL]: the folder, the caller's own, in which check
# keeps what it compares; LABEL starts the count's line. Callers that
# compare with the fixed texts set checks_expected to where they are.
checks_start() { checks_dir=$1 checks_label=${2:-} checks_expected=${checks_expected:-}; }

result() {
    number=$((number + 1))
    echo "$1 $number - $2"
}
pass() { passed=$((passed + 1)); result ok "$1"; }
fail() { failed=$((failed + 1)); result "not ok" "$1"; }
skip() { skipped=$((skipped + 1)); result ok "$1 # SKIP $2"; }

# have PROGRAM NAME: true when PROGRAM is there to run; otherwise NAME is
# skipped.
have() {
    command -v "$1" >/dev/null 2>&1 && return 0
    skip "$2" "$1 is not installed"
    return 1
}

# verdict NAME COMMAND...: a case decided by COMMAND's exit status.
verdict() {
    local name="$1"
    shift
    if "$@"; then pass "$name"; else fail "$name"; fi
}

# check NAME STATUS STDOUT STDERR COMMAND...: runs COMMAND with nothing on
# its standard input and compares its exit status, standard output and
# standard error with STATUS, STDOUT and STDERR (printf %b texts: \n is a
# newline).
check() {
    local name="$1" status="$2" got
    printf '%b' "$3" >"$checks_dir/want.out"
    printf '%b' "$4" >"$checks_dir/want.err"
    shift 4
    "$@" </dev/null >"$checks_dir/got.out" 2>"$checks_dir/got.err"
    got=$?
    if [ "$got" = "$status" ] && checks_same out && checks_same err; then
        pass "$name"
        return 0
    fi
    fail "$name"
    echo "#   command: $*"
    [ "$got" = "$status" ] || echo "#   exit status $got, expected $status"
    checks_same out || checks_differences out
    checks_same err || checks_differences err
    return 1
}
checks_same() { cmp -s "$checks_dir/want.$1" "$checks_dir/got.$1"; }

# checks_differences out|err: what the command gave instead, as a diff, or
# as it is where the system has no diff (OpenWrt's busybox leaves it out).
# Every line ends, so that the next result starts a line of its own.
checks_differences() {
    if command -v diff >/dev/null 2>&1; then
        diff -u -L expected -L got "$checks_dir/want.$1" "$checks_dir/got.$1" |
            awk -v s="std$1" '{ print "#   " s " " $0 }'
    else
        echo "#   std$1:"
        awk '{ print "#     " $0 }' "$checks_dir/got.$1"
    fi
}

# expected NAME: the fixed text NAME in the folder $checks_expected (from
# tests/expected, which the unit tests read too), as printf %b takes it:
# every byte escaped, so that its own backslashes and its last line end stay.
expected() {
    od -An -v -to1 "$checks_expected/$1" | tr -s ' \n' '  ' | sed 's/ *$//; s/ \([0-7]*\)/\\0\1/g'
}

# mdiorw_refusals: the cases of mdiorw's command line that the boards and
# the devices alike must refuse before the driver is asked: no argument (the
# usage), and numbers that do not parse (the writes among them write
# nothing).
mdiorw_refusals() {
    check "mdiorw without arguments shows its usage" 255 \
        'read: mdiorw [phy addr] [reg addr]\nwrite: mdiorw [phy addr] [reg addr] [reg_val]\n' \
        'invalid argument !\n' mdiorw
    for args in "1 12a" "0x 2" "1 4294967296" "1 0x100000000" "1 2 -1" "1 4 0x1g" "1 0x100000000 0"; do
        # shellcheck disable=SC2086 # the arguments' words
        check "mdiorw rejects the number in: $args" 255 '' 'parse argv error !\n' mdiorw $args
    done
}

# checks_done: the plan and the count; true when no case failed.
checks_done() {
    echo "1..$number"
    echo "${checks_label:+$checks_label: }$passed passed, $failed failed, $skipped skipped"
    [ "$failed" = 0 ]
}
