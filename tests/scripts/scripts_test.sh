#!/bin/sh
# scripts_test.sh SCRIPTS LIBRARY PROGRAM MUSL_PROGRAM
#
# Runs scripts/footprint-report and scripts/check-musl on staged trees of
# the given files and compares their stdout, stderr and exit status with
# what is expected, case by case. LIBRARY is a versioned shared library
# with one export, PROGRAM a program, both needing glibc's libc.so.6;
# MUSL_PROGRAM needs libc.so and loads through musl's loader.
set -u
scripts=$1 library=$2 program=$3 musl_program=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# stage DIR FILE:PATH...: a tree with each FILE copied to DIR/PATH.
stage() {
    dir=$work/$1
    shift
    mkdir -p "$dir"
    for pair in "$@"; do
        mkdir -p "$(dirname "$dir/${pair#*:}")"
        cp "${pair%%:*}" "$dir/${pair#*:}"
    done
}

# check NAME STATUS OUT ERR COMMAND...: runs COMMAND, compares.
check() {
    name=$1 want_status=$2 want_out=$3 want_err=$4
    shift 4
    "$@" >"$work/out" 2>"$work/err"
    status=$?
    printf '%s' "$want_out" >"$work/want_out"
    printf '%s' "$want_err" >"$work/want_err"
    if [ "$status" -ne "$want_status" ] ||
        ! cmp -s "$work/out" "$work/want_out" || ! cmp -s "$work/err" "$work/want_err"; then
        echo "FAIL $name: status $status (wanted $want_status)"
        diff -u "$work/want_out" "$work/out"
        diff -u "$work/want_err" "$work/err"
        failed=1
    else
        echo "ok   $name"
    fi
}

lib_bytes=$(wc -c <"$library")
tool_bytes=$(wc -c <"$program")
lib_name=$(basename "$library")
lib_xz=$(xz -9e -c "$library" | wc -c)
tool_xz=$(xz -9e -c "$program" | wc -c)
row='%-28s %7s %7s  %-7s %7s %7s  %s\n'
header=$(printf "$row" file bytes budget verdict xz exports NEEDED)
floor_row=$(printf "$row" "(floor: one-line C program)" "$tool_bytes" - - "$tool_xz" 0 libc.so.6)

# A shipped tree: the library with its SONAME links, a header, a program.
stage shipped "$library:lib/$lib_name" "$program:sbin/tool" "$0:include/fixture.h"
ln -s "$lib_name" "$work/shipped/lib/libfixture.so"
report() { QV_FOOTPRINT_BUDGETS=$1 sh "$scripts/footprint-report" "$work/shipped" "$program"; }

check "every file at its budget; a budgeted file not built is named" 0 "$header
$(printf "$row" "lib/$lib_name" "$lib_bytes" "$lib_bytes" ok "$lib_xz" 1 libc.so.6)
$(printf "$row" sbin/tool "$tool_bytes" "$tool_bytes" ok "$tool_xz" 0 libc.so.6)
$floor_row
note: absent is not built yet; its budget (100) is not checked
every built file is within its budget
" "" report "libfixture.so=$lib_bytes tool=$tool_bytes absent=100"

check "one byte over a budget fails" 1 "$header
$(printf "$row" "lib/$lib_name" "$lib_bytes" $((lib_bytes - 1)) OVER "$lib_xz" 1 libc.so.6)
$(printf "$row" sbin/tool "$tool_bytes" "$tool_bytes" ok "$tool_xz" 0 libc.so.6)
$floor_row
" "over budget: libfixture.so
" report "libfixture.so=$((lib_bytes - 1)) tool=$tool_bytes"

check "files without a budget are only reported" 0 "$header
$(printf "$row" "lib/$lib_name" "$lib_bytes" - - "$lib_xz" 1 libc.so.6)
$(printf "$row" sbin/tool "$tool_bytes" - - "$tool_xz" 0 libc.so.6)
$floor_row
every built file is within its budget
" "" report ""

stage musl "$musl_program:sbin/tool" "$0:share/notes.txt"
check "musl's libc and loader only" 0 "sbin/tool: musl only (libc.so, /lib/ld-musl-armhf.so.1)
" "" sh "$scripts/check-musl" "$work/musl"

interp=$(readelf -l "$program" | sed -n 's/.*Requesting program interpreter: \(.*\)\]/\1/p')
check "glibc files are refused" 1 "" "lib/$lib_name: does not need libc.so; needs libc.so.6
sbin/tool: does not need libc.so; needs libc.so.6; loads through $interp
" sh "$scripts/check-musl" "$work/shipped"

stage empty "$0:share/notes.txt"
check "a tree without ELF files is refused" 1 "" "no ELF file under $work/empty
" sh "$scripts/check-musl" "$work/empty"

exit $failed
