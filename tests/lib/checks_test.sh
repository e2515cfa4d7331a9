#!/bin/sh
# checks_test.sh LIBRARY: runs short scripts over the check library (as the
# system tests, the device checks and the scripts' tests use it) and
# compares their output and exit status with what TAP readers and our
# runners expect.
set -u
lib=$1 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/inner" "$work/nodiff"

# inner SCRIPT: SCRIPT run over the library, with its folder of its own.
inner() { sh -c '. "$0" && checks_start "$1" && eval "$2"' "$lib" "$work/inner" "$1"; }

# The library checks itself below; first, by hand, that it tells a
# difference as a failure.
if [ "$(inner 'check other 0 "a" "" printf b' | head -n 1)" != "not ok 1 - other" ]; then
    echo "Bail out! check does not tell a different output"
    exit 1
fi

# shellcheck source=tests/lib/checks.sh
. "$lib"
checks_start "$work"
# The tools check needs, but not diff.
for tool in awk cmp; do ln -s "$(command -v $tool)" "$work/nodiff/$tool"; done

while IFS='|' read -r name status out script; do
    check "$name" "$status" "$out" '' inner "$script"
done <<'EOF'
results are numbered in order, then come the plan and the count|1|ok 1 - a\nnot ok 2 - b\nok 3 - c # SKIP no d\n1..3\n1 passed, 1 failed, 1 skipped\n|pass a; fail b; skip c "no d"; checks_done
no case: the plan is empty|0|1..0\n0 passed, 0 failed, 0 skipped\n|checks_done
the label starts the count's line|0|ok 1 - a\n1..1\nx86: 1 passed, 0 failed, 0 skipped\n|checks_start "$1" x86; pass a; checks_done
a program that is there|0|ok 1 - after\n|have sh "sh runs" && pass after
a program that is not skips its case|0|ok 1 - its case # SKIP qv-no-such-program is not installed\n|have qv-no-such-program "its case" || true
a verdict is its command's status|0|ok 1 - yes\nnot ok 2 - no\n|verdict yes true; verdict no false
status, stdout and stderr as expected, nothing read|0|ok 1 - all\n|exec <"$0"; check all 3 "out\\n" "err\\n" sh -c 'cat; echo out; echo err >&2; exit 3'
another status|1|not ok 1 - status\n#   command: false\n#   exit status 1, expected 0\n|check status 0 "" "" false
another stderr, as a diff|1|not ok 1 - err\n#   command: sh -c echo b >&2\n#   stderr --- expected\n#   stderr +++ got\n#   stderr @@ -1 +1 @@\n#   stderr -a\n#   stderr +b\n|check err 0 "" "a\\n" sh -c 'echo b >&2'
without diff, what was got; its last line ended|0|not ok 1 - out\n#   command: printf x\n#   stdout:\n#     x\nok 2 - next\n|PATH=$1/../nodiff; check out 0 "y" "" printf x; pass next
EOF
checks_done
