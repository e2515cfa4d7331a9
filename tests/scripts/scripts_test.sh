#!/bin/sh
# scripts_test.sh SCRIPTS LIBRARY PROGRAM MUSL_PROGRAM
#
# Runs scripts/footprint-report and scripts/check-musl on staged trees of
# the given files, the helpers with which the scripts keep a user's cache
# and state (board/lib.sh, board/fetch), and scripts/lint on checkouts of
# its own, and compares their stdout, stderr and exit status with what is
# expected, case by case (tests/lib/checks.sh). LIBRARY is a versioned
# shared library with one export, PROGRAM a program, both needing glibc's
# libc.so.6; MUSL_PROGRAM needs libc.so and loads through musl's loader.
#
# shellcheck disable=SC2317 # the helpers here run as check's commands
set -u
scripts=$1 library=$2 program=$3 musl_program=$4
top=$(cd "$scripts/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=tests/lib/checks.sh
. "$top/tests/lib/checks.sh"
checks_start "$work"

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

lib_bytes=$(wc -c <"$library")
tool_bytes=$(wc -c <"$program")
lib_name=$(basename "$library")
lib_xz=$(xz -9e -c "$library" | wc -c)
tool_xz=$(xz -9e -c "$program" | wc -c)
row() { printf '%-28s %7s %7s  %-7s %7s %7s  %s\n' "$@"; }
header=$(row file bytes budget verdict xz exports NEEDED)
floor_row=$(row "(floor: one-line C program)" "$tool_bytes" - - "$tool_xz" 0 libc.so.6)

# A shipped tree: the library with its SONAME links, a header, a program.
stage shipped "$library:lib/$lib_name" "$program:sbin/tool" "$0:include/fixture.h"
ln -s "$lib_name" "$work/shipped/lib/libfixture.so"
# report BUDGET...: the report with a budget file of these lines, as the
# build writes it.
report() {
    printf '%s\n' "$@" >"$work/budgets"
    sh "$scripts/footprint-report" "$work/shipped" "$program" "$work/budgets"
}

checks_run "every file at its budget; a budgeted file not built is named" 0 "$header
$(row "lib/$lib_name" "$lib_bytes" "$lib_bytes" ok "$lib_xz" 1 libc.so.6)
$(row sbin/tool "$tool_bytes" "$tool_bytes" ok "$tool_xz" 0 libc.so.6)
$floor_row
note: absent is not built yet; its budget (100) is not checked
every built file is within its budget
" "" report "libfixture.so=$lib_bytes" "tool=$tool_bytes" absent=100

checks_run "one byte over a budget fails" 1 "$header
$(row "lib/$lib_name" "$lib_bytes" $((lib_bytes - 1)) OVER "$lib_xz" 1 libc.so.6)
$(row sbin/tool "$tool_bytes" "$tool_bytes" ok "$tool_xz" 0 libc.so.6)
$floor_row
" "over budget: libfixture.so
" report "libfixture.so=$((lib_bytes - 1))" "tool=$tool_bytes"

checks_run "files without a budget are only reported" 0 "$header
$(row "lib/$lib_name" "$lib_bytes" - - "$lib_xz" 1 libc.so.6)
$(row sbin/tool "$tool_bytes" - - "$tool_xz" 0 libc.so.6)
$floor_row
every built file is within its budget
" "" report ""
checks_run "a budget file's line that is no budget is refused" 2 "" \
    "footprint-report: $work/budgets: line 2 is no name=bytes
" report "tool=$tool_bytes" "libfixture.so=10 KiB"

stage musl "$musl_program:sbin/tool" "$0:share/notes.txt"
checks_run "musl's libc and loader only" 0 "sbin/tool: musl only (libc.so, /lib/ld-musl-armhf.so.1)
" "" sh "$scripts/check-musl" "$work/musl"

interp=$(readelf -l "$program" | sed -n 's/.*Requesting program interpreter: \(.*\)\]/\1/p')
checks_run "glibc files are refused" 1 "" "lib/$lib_name: does not need libc.so; needs libc.so.6
sbin/tool: does not need libc.so; needs libc.so.6; loads through $interp
" sh "$scripts/check-musl" "$work/shipped"

stage empty "$0:share/notes.txt"
checks_run "a tree without ELF files is refused" 1 "" "no ELF file under $work/empty
" sh "$scripts/check-musl" "$work/empty"

# What the scripts keep for a user: in the user's own folders, made
# private, and read back only in the exact form they wrote it.
home=$(getent passwd "$(id -u)" | cut -d: -f6)
lib() { code=$1; shift; bash -c ". \"\$0\" && $code" "$top/board/lib.sh" "$@"; }
nohome() { (unset HOME XDG_CACHE_HOME XDG_STATE_HOME QV_BOARD_CACHE && "$@"); }
mkdir -m 755 "$work/read" && mkdir -m 777 "$work/open" && ln -s "$work/read" "$work/link"
printf '1:01410c20\n' >"$work/phy"
printf '1:0; id >/tmp/INJECTED #\n' >"$work/planted"
printf '1:01410c20\n2:01410c20\n' >"$work/two"
printf '1:01410c20' >"$work/unended"
phy='[0-9]{1,2}:[0-9a-f]{8}'
# A planted lock; a file in the way of the x86 folder stops a fetch that
# took the link before it downloads anything.
mkdir -m 700 "$work/cache" && echo precious >"$work/target" && : >"$work/cache/amd64"
ln -s "$work/target" "$work/cache/.lock"

# shellcheck disable=SC2016 # the bash that lib starts expands the code
{
checks_run "without HOME, the boards' cache is in the home of the password database" 0 \
    "$home/.cache/qvboard
" "" nohome lib board_cache
checks_run "without HOME, device-test's state is in the home of the password database" 0 \
    "$home/.local/state
" "" nohome lib 'user_folder XDG_STATE_HOME .local/state'
checks_run "a folder for state is made open to its owner only" 0 "700
" "" lib 'private_dir "$1" && stat -c %a "$1"' "$work/made/state"
checks_run "a folder of the user's that others may read is closed" 0 "700
" "" lib 'private_dir "$1" && stat -c %a "$1"' "$work/read"
checks_run "one that others may write to is refused" 1 "" \
    "board: $work/open is not a folder of user $(id -u)'s alone: nothing is kept there
" lib 'private_dir "$1"' "$work/open"
checks_run "and so is a link in place of the folder" 1 "" \
    "board: $work/link is not a folder of user $(id -u)'s alone: nothing is kept there
" lib 'private_dir "$1"' "$work/link"
checks_run "board/fetch does not lock through a planted link" 1 "precious
" "board: $work/cache/.lock is a symbolic link: not locking through it
" sh -c 'QV_BOARD_CACHE=$1 "$2" x86; status=$?; cat "$3"; exit $status' - "$work/cache" "$top/board/fetch" "$work/target"
checks_run "a PHY kept as device-test writes it is read back" 0 "1:01410c20
" "" lib 'read_back "$@"' "$work/phy" "$phy"
checks_run "a planted command is not" 1 "" "" lib 'read_back "$@"' "$work/planted" "$phy"
checks_run "nor is a second line" 1 "" "" lib 'read_back "$@"' "$work/two" "$phy"
checks_run "nor a line without its end" 1 "" "" lib 'read_back "$@"' "$work/unended" "$phy"
checks_run "a quoted command line reads for a POSIX shell as the words it quotes" 0 "[-o]
[ConnectTimeout 20]
[it's]
[1:0; id >/tmp/INJECTED #]
[]
" "" lib 'sh_quote printf "[%s]\\n" "$@" | sh' -o "ConnectTimeout 20" "it's" "1:0; id >/tmp/INJECTED #" ""
checks_run "and is quoted only where it needs to be" 0 \
    "ssh -o 'ConnectTimeout 20' root@host '/tmp/qv-device-test.AbC123/qvf-fields raw write'
" "" lib 'sh_quote "$@"' ssh -o "ConnectTimeout 20" root@host "/tmp/qv-device-test.AbC123/qvf-fields raw write"
}

# scripts/lint over checkouts of its own: the shell files git knows of, and
# no others; sh files read as dash, which has local, and bash ones as bash.
tree=$work/checkout
mkdir -p "$tree/tools" && git -C "$tree" init -q
# shellcheck disable=SC2016 # the scripts' own code
{
printf '#!/bin/sh\nf() {\n    local a="$1"\n    echo "$a"\n}\nf x\n' >"$tree/tools/run"
printf '#!/bin/bash\nwords=(a b)\necho "${words[@]}"\n' >"$tree/tools/deploy"
printf '#!/bin/sh\n[[ -n "$1" ]] && echo "$1"\n' >"$tree/tools/brackets"
printf 'echo $1\n' | tee "$tree/lib.sh" "$tree/notes.txt" "$tree/ignored.sh" "$tree/new.sh" >/dev/null
}
echo ignored.sh >"$tree/.gitignore"
git -C "$tree" add .gitignore tools lib.sh notes.txt
checks_run "lint reads the shell files git knows of, sh as dash" 1 "\
lib.sh:1:6: note: Double quote to prevent globbing and word splitting. [SC2086]
new.sh:1:6: note: Double quote to prevent globbing and word splitting. [SC2086]
tools/brackets:2:1: error: In dash, [[ ]] is not supported. [SC3010]
shellcheck: 4 sh and 1 bash files, findings above
" "" "$top/scripts/lint" "$tree"
rm "$tree/tools/brackets" "$tree/lib.sh" "$tree/new.sh"
checks_run "and finds a checkout without findings clean" 0 "shellcheck: 1 sh and 1 bash files, no findings
" "" "$top/scripts/lint" "$tree"
mkdir "$work/plain"
checks_run "a folder that is no checkout is refused" 2 "" "lint: $work/plain is not a git checkout
" env GIT_CEILING_DIRECTORIES="$work" "$top/scripts/lint" "$work/plain"

checks_done
