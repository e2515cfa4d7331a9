# shellcheck shell=dash
# How our shell checks run a case and tell its result. Sourced by the system
# tests (busybox sh on the virtual boards), the device checks (the device's
# sh, over SSH), the PC's run of the case tables and the tests of the
# scripts and of the rpcd plugin (the PC's sh), so it is written for all of
# them: POSIX sh and local. Every name it defines starts with checks_.
#
# The output is TAP and nothing else: "ok N - NAME", "not ok N - NAME"
# followed by "#" lines that tell what differed, "ok N - NAME # SKIP
# REASON"; at the end the plan "1..N". A runner adds up the TAP of its runs
# with checks_sum.

checks_failed=0 checks_number=0

# checks_start FOLDER: the folder, the caller's own, in which a case keeps
# what it compares. Callers that compare with the fixed texts set
# checks_expected to where they are, and callers that run the case tables
# say in checks_can what holds where they run (see checks_table).
checks_start() {
    checks_dir=$1
    checks_expected=${checks_expected:-} checks_can=${checks_can:-}
}

checks_result() {
    checks_number=$((checks_number + 1))
    echo "$1 $checks_number - $2"
}
checks_pass() { checks_result ok "$1"; }
checks_fail() { checks_failed=$((checks_failed + 1)); checks_result "not ok" "$1"; }
checks_skip() { checks_result ok "$1 # SKIP $2"; }

# checks_have PROGRAM NAME: true when PROGRAM is there to run; otherwise
# NAME is skipped.
checks_have() {
    command -v "$1" >/dev/null 2>&1 && return 0
    checks_skip "$2" "$1 is not installed"
    return 1
}

# checks_verdict NAME COMMAND...: a case decided by COMMAND's exit status.
checks_verdict() {
    local name="$1"
    shift
    if "$@"; then checks_pass "$name"; else checks_fail "$name"; fi
}

# checks_run NAME STATUS STDOUT STDERR COMMAND...: runs COMMAND with nothing
# on its standard input and compares its exit status, standard output and
# standard error with STATUS, STDOUT and STDERR (printf %b texts: \n is a
# newline).
checks_run() {
    local name="$1" status="$2" got
    printf '%b' "$3" >"$checks_dir/want.out"
    printf '%b' "$4" >"$checks_dir/want.err"
    shift 4
    "$@" </dev/null >"$checks_dir/got.out" 2>"$checks_dir/got.err"
    got=$?
    if [ "$got" = "$status" ] && checks_same out && checks_same err; then
        checks_pass "$name"
        return 0
    fi
    checks_fail "$name"
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

# checks_escaped FILE: FILE's bytes as printf %b takes them: every byte
# escaped, so that its own backslashes and its last line end stay.
checks_escaped() {
    od -An -v -to1 "$1" | tr -s ' \n' '  ' | sed 's/ *$//; s/ \([0-7]*\)/\\0\1/g'
}

# checks_fixed NAME: the fixed text NAME in the folder $checks_expected (from
# tests/expected, which the unit tests read too), as printf %b takes it.
checks_fixed() { checks_escaped "$checks_expected/$1"; }

# checks_texts TEXT: TEXT with each @NAME.out in it replaced by that fixed
# text, as printf %b takes it.
checks_texts() {
    local text="$1" done='' name
    while :; do
        case $text in
        *@*.out*) ;;
        *) break ;;
        esac
        done="$done${text%%@*}"
        text=${text#*@}
        name=${text%%.out*}.out
        text=${text#*.out}
        done="$done$(checks_fixed "$name")"
    done
    printf '%s' "$done$text"
}

# checks_closed_pipe COMMAND...: COMMAND with its standard output a pipe
# whose reader has gone, while SIGPIPE is ignored (as services and some
# shells run programs; the shell makes the pipe with nobody left to read it).
checks_closed_pipe() {
    rm -f "$checks_dir/nobody" && mkfifo "$checks_dir/nobody" || return 99
    (
        trap '' PIPE
        # shellcheck disable=SC2094 # both ends of the fifo, on purpose
        exec 4<>"$checks_dir/nobody" 3>"$checks_dir/nobody" 4<&-
        "$@" >&3 3>&-
    )
}

# checks_lacks NEED: why a row that needs NEED cannot run here. A caller
# words its own reason in checks_why_NEED.
checks_lacks() {
    local why
    eval "why=\${checks_why_$1:-}"
    [ -z "$why" ] || { echo "$why"; return 0; }
    case $1 in
    record) echo "no readable record on /dev/mtd3 here" ;;
    store) echo "the row stores a record, which this run does not" ;;
    phy1) echo "no PHY is known to answer at MDIO address 1 here" ;;
    sim) echo "the texts are the stand-in switch library's, which this is not" ;;
    silent) echo "the switch library here prints on its own when it starts" ;;
    glibc | musl) echo "getopt's complaints are worded by another C library here" ;;
    fifo) echo "no mkfifo here" ;;
    timeout) echo "no timeout here" ;;
    flock) echo "no flock here" ;;
    chown) echo "files cannot be given to another user here" ;;
    unshare) echo "no mount namespace can be made here" ;;
    *) echo "unknown need '$1'" ;;
    esac
}

# checks_table FILE...: the case table of one program each (tests/cases):
# every row a case, "NAME|NEEDS|STATUS|STDOUT|STDERR|COMMAND". NEEDS (or
# "-") are the words that must be in checks_can, else the row is skipped
# with the reason; STDOUT and STDERR are printf %b texts, in which
# @NAME.out stands for a fixed text; COMMAND is sh, run with eval from the
# folder $checks_dir. The program is the file's name without .cases: where
# it is not installed, every row is skipped. Rows that need the stand-in
# switch ("sim") start it afresh, on a state of their own and with its
# clock at 1000 s. A caller that runs the tables twice names a need in
# checks_later (the first call leaves its rows out, without a word) and in
# checks_only (the second call runs only those rows).
checks_table() {
    local file program name needs status out err command need lacking
    for file in "$@"; do
        program=$(basename "$file" .cases)
        while IFS='|' read -r name needs status out err command; do
            case $name in '' | '#'*) continue ;; esac
            if [ -n "${checks_only:-}" ]; then
                case " $needs " in *" $checks_only "*) ;; *) continue ;; esac
            fi
            if [ -n "${checks_later:-}" ]; then
                case " $needs " in *" $checks_later "*) continue ;; esac
            fi
            command -v "$program" >/dev/null 2>&1 || { checks_skip "$name" "$program is not installed"; continue; }
            lacking=''
            for need in $needs; do
                [ "$need" = - ] && continue
                case " $checks_can " in *" $need "*) ;; *) lacking=$need && break ;; esac
            done
            if [ -n "$lacking" ]; then
                checks_skip "$name" "$(checks_lacks "$lacking")"
                continue
            fi
            case " $needs " in *" sim "*) rm -f "$checks_dir/kez.state" ;; esac
            checks_run "$name" "$status" "$(checks_texts "$out")" "$(checks_texts "$err")" \
                checks_row "$needs" "$command"
        done <"$file"
    done
}

# checks_row NEEDS COMMAND: one row's command, in its own shell. A caller
# whose programs report a rule they broke (the PC's fakes: a failed run
# that changed the flash or a PHY) names their report in checks_report:
# what a row left in it ends the row's standard error, so the row fails.
checks_row() {
    (
        cd "$checks_dir" || exit 99
        case " $1 " in
        *" sim "*) KEZ_SIM_STATE=$checks_dir/kez.state KEZ_SIM_CLOCK=1000 && export KEZ_SIM_STATE KEZ_SIM_CLOCK ;;
        esac
        (eval "$2")
        status=$?
        if [ -s "${checks_report:-}" ]; then
            cat "$checks_report" >&2
            rm -f "$checks_report"
        fi
        exit $status
    )
}

# checks_done: the plan; true when no case failed.
checks_done() {
    echo "1..$checks_number"
    [ "$checks_failed" = 0 ]
}

# checks_sum LABEL FILE...: the results of the runs whose TAP the FILEs
# hold (a board's console, say, with other lines between them and with
# carriage returns), added up into "LABEL: N passed, N failed, N skipped";
# true when none failed. A run that stopped before its plan (the next
# run's first case comes, or the file ends), a "Bail out!" and a FILE
# without any TAP count as one failure each.
checks_sum() {
    local label="$1" file
    shift
    for file in "$@"; do
        [ -s "$file" ] || { echo "# $file: no results"; echo '0 1 0'; continue; }
        tr -d '\r' <"$file" | awk -v file="$file" '
            function stopped() { if (open) { print "# " file ": a run stopped before its plan"; f++ } open = 0 }
            /^(not )?ok [0-9]+( |$)/ {
                n = $1 == "ok" ? $2 : $3
                if (n == 1) stopped()
                open = 1
                if ($1 == "not") f++; else if (/^ok [0-9]+ .*# SKIP/) s++; else p++
                seen = 1
            }
            /^1\.\.[0-9]+$/ { open = 0; seen = 1 }
            /^Bail out!/ { open = 0; seen = 1; f++ }
            END { stopped(); if (!seen) { print "# " file ": no results"; f++ } print p + 0, f + 0, s + 0 }'
    done | awk -v label="$label" '
        /^#/ { print; next }
        { p += $1; f += $2; s += $3 }
        END { printf "%s%d passed, %d failed, %d skipped\n", label == "" ? "" : label ": ", p, f, s; exit f != 0 }'
}

# checks_record MAC UID HDV PRDT: a record's 104 bytes, for what qv_info
# refuses to store (a group address, unprintable text, a text that ends
# with a space) or for where no qv_info runs: MAC as six hex bytes between
# colons ('' for zeros) and two zero bytes, then each text as it is, cut or
# padded with zero bytes to 32.
checks_record() {
    local byte text
    (
        IFS=:
        for byte in ${1:-0:0:0:0:0:0}; do printf '%b' "\\0$(printf %o $((0x$byte)))"; done
    )
    head -c 2 /dev/zero
    shift
    # (No pipe that stops reading early: under pipefail its writer fails.)
    for text in "$@"; do
        printf '%.32s' "$text"
        head -c $((32 - $(printf '%.32s' "$text" | wc -c))) /dev/zero
    done
}

# checks_erased N: N bytes of erased flash (all ones).
checks_erased() { head -c "$1" /dev/zero | tr '\0' '\377'; }
