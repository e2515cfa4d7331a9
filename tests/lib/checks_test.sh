#!/bin/sh
# checks_test.sh LIBRARY: runs short scripts over the check library (as the
# system tests, the device checks, the case tables and the scripts' tests
# use it) and compares their output and exit status with what TAP readers
# and our runners expect.
set -u
lib=$1 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/inner" "$work/nodiff" "$work/expected" "$work/bin"

# inner SCRIPT: SCRIPT run over the library, with its folder of its own.
inner() { sh -c '. "$0" && checks_start "$1" && eval "$2"' "$lib" "$work/inner" "$1"; }

# The library checks itself below; first, by hand, that it tells a
# difference as a failure.
if [ "$(inner 'checks_run other 0 "a" "" printf b' | head -n 1)" != "not ok 1 - other" ]; then
    echo "Bail out! checks_run does not tell a different output"
    exit 1
fi

# shellcheck source=tests/lib/checks.sh
. "$lib"
checks_start "$work"
# The tools checks_run needs, but not diff.
for tool in awk cmp; do ln -s "$(command -v $tool)" "$work/nodiff/$tool"; done

# A table of a program "tool" of its own, and a fixed text with a
# backslash and no last line end.
printf '#!/bin/sh\necho "tool $*"\n' >"$work/bin/tool" && chmod +x "$work/bin/tool"
printf 'a\\b' >"$work/expected/t.out"
cat >"$work/tool.cases" <<'TABLE'
# a comment, then a blank line

runs with its words, from its folder|-|0|tool x y\n||tool x y && test -f want.out
a fixed text, then more|-|0|@t.out\n||cat "$checks_expected/t.out" && echo
not as expected|-|1|||tool z
needs what is here|here|0|tool \n||tool
needs what is not|store here|0|||tool
TABLE
cp "$work/tool.cases" "$work/absent.cases"
# shellcheck disable=SC2089 # words for the inner scripts' eval
table="PATH=\$1/../bin:\$PATH checks_expected=\$1/../expected checks_can=here checks_why_store='not here'"
# shellcheck disable=SC2090 # the same words
export table

while IFS='|' read -r name status out script; do
    checks_run "$name" "$status" "$out" '' inner "$script"
done <<'EOF'
results are numbered in order, then comes the plan|1|ok 1 - a\nnot ok 2 - b\nok 3 - c # SKIP no d\n1..3\n|checks_pass a; checks_fail b; checks_skip c "no d"; checks_done
no case: the plan is empty|0|1..0\n|checks_done
the runs a file holds, added up; carriage returns and other lines aside|0|x86: 2 passed, 0 failed, 1 skipped\n|cd "$1"; printf 'boot\r\nok 1 - a\r\n1..1\r\nok 1 - b\nok 2 - c # SKIP d\n1..2\n' >a; checks_sum x86 a
a run stopped before its plan, a bail-out and a file without results each count as a failure|1|# a: a run stopped before its plan\n# b: no results\n# c: no results\n1 passed, 5 failed, 0 skipped\n|cd "$1"; printf 'ok 1 - a\nnot ok 1 - b\n1..1\nBail out! c\n' >a; echo 'ok' >b; checks_sum '' a b c
a record built byte by byte: the address, two zero bytes, the texts cut or padded to 32|0| 01 00 5e 0a ff 01 00 00 61 20 62 20 00 00 00 00\n 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n 00 00 00 00 00 00 00 00 30 31 32 33 34 35 36 37\n 38 39 61 62 63 64 65 66 30 31 32 33 34 35 36 37\n 38 39 61 62 63 64 65 66 ff ff ff ff ff ff ff ff\n|{ checks_record 01:00:5e:0a:FF:1 'a b ' '' 0123456789abcdef0123456789abcdefXYZ; checks_erased 8; } | od -An -v -tx1
a program that is there|0|ok 1 - after\n|checks_have sh "sh runs" && checks_pass after
a program that is not skips its case|0|ok 1 - its case # SKIP qv-no-such-program is not installed\n|checks_have qv-no-such-program "its case" || true
a verdict is its command's status|0|ok 1 - yes\nnot ok 2 - no\n|checks_verdict yes true; checks_verdict no false
status, stdout and stderr as expected, nothing read|0|ok 1 - all\n|exec <"$0"; checks_run all 3 "out\\n" "err\\n" sh -c 'cat; echo out; echo err >&2; exit 3'
another status|1|not ok 1 - status\n#   command: false\n#   exit status 1, expected 0\n|checks_run status 0 "" "" false
another stderr, as a diff|1|not ok 1 - err\n#   command: sh -c echo b >&2\n#   stderr --- expected\n#   stderr +++ got\n#   stderr @@ -1 +1 @@\n#   stderr -a\n#   stderr +b\n|checks_run err 0 "" "a\\n" sh -c 'echo b >&2'
without diff, what was got; its last line ended|0|not ok 1 - out\n#   command: printf x\n#   stdout:\n#     x\nok 2 - next\n|PATH=$1/../nodiff; checks_run out 0 "y" "" printf x; checks_pass next
a closed pipe takes nothing|0|1\n|checks_closed_pipe sh -c 'echo x 2>/dev/null; echo $? >&2' 2>&1
a table's rows, each run, compared or skipped for what is not here|0|ok 1 - runs with its words, from its folder\nok 2 - a fixed text, then more\nnot ok 3 - not as expected\n#   command: checks_row - tool z\n#   exit status 0, expected 1\n#   stdout --- expected\n#   stdout +++ got\n#   stdout @@ -0,0 +1 @@\n#   stdout +tool z\nok 4 - needs what is here\nok 5 - needs what is not # SKIP not here\n|eval "$table"; checks_table "$1/../tool.cases" || true
rows left for later, then run alone|0|0\nok 1 - needs what is here\nok 2 - needs what is not # SKIP not here\n|eval "$table"; checks_later=here checks_table "$1/../tool.cases" | grep -c 'needs what is here'; checks_only=here checks_table "$1/../tool.cases"
a table whose program is not installed|0|ok 1 - runs with its words, from its folder # SKIP absent is not installed\n|eval "$table"; checks_table "$1/../absent.cases" | head -n 1
EOF
checks_done
