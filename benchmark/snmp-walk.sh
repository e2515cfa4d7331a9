#!/bin/bash
# Usage: benchmark/snmp-walk.sh QV_ENTITY QV_INFO [ROUNDS]
#
# What the chassis row costs a poller: Debian's snmpd (tests/lib/snmpd.sh)
# hands the entity table to QV_ENTITY, reading a provisioned image that
# QV_INFO makes. Each of ROUNDS rounds (default 200) times one snmpwalk of
# the row (17 objects through the handler) and one of the first 17 of
# snmpd's own objects (the system group, served inside snmpd), one right
# after the other; both walks ask 18 getnext requests. Prints the mean time
# of each walk, the client's start included, and their ratio against the
# target of at most 1.5. Exits 1 when a walk fails or shows another number
# of objects; the ratio alone never fails it.
set -euo pipefail
entity=$1 qv_info=$2 rounds=${3:-200}
top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tests/lib/snmpd.sh
. "$top/tests/lib/snmpd.sh"
work=$(mktemp -d)
trap 'snmpd_stop; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
chmod 755 "$work"
cp "$entity" "$work/qv_entity"
"$qv_info" -d "$work/image" set mac=02:11:22:33:44:55 uid=SN1 hdv=rev-B prdt=QV-SW10
chmod 644 "$work/image"
printf "DISTRIB_RELEASE='23.05.3'\n" >"$work/openwrt_release"
snmpd_start "$work" "$work/qv_entity" "$work/image" "$work/openwrt_release"
agent=127.0.0.1:$snmpd_port

# snmpd's own 17: the system group up to its 18th object, where -CE ends
# the walk.
end=$(snmpd_client snmpwalk -c public "$agent" .1.3.6.1.2.1.1 | sed -n '18s/ = .*//p')
[ -n "$end" ] || { echo "snmp walk: snmpd has fewer than 18 objects in its system group" >&2; exit 1; }
chassis() { snmpd_client snmpwalk -c public "$agent" .1.3.6.1.2.1.47.1.1.1; }
own() { snmpd_client snmpwalk -c public -CE "$end" "$agent" .1.3.6.1.2.1.1; }

# timed LINES COMMAND: COMMAND's time in nanoseconds, once it has printed
# LINES lines (the chassis row's walk ends with the view's end).
timed() {
    local lines=$1 start stop got
    shift
    start=$(date +%s%N)
    got=$("$@" | wc -l)
    stop=$(date +%s%N)
    [ "$got" = "$lines" ] || { echo "snmp walk: $* showed $got lines, not $lines" >&2; return 1; }
    echo $((stop - start))
}

chassis_ns=0 own_ns=0
for _ in $(seq "$rounds"); do
    chassis_ns=$((chassis_ns + $(timed 18 chassis)))
    own_ns=$((own_ns + $(timed 17 own)))
done
awk -v c="$chassis_ns" -v o="$own_ns" -v n="$rounds" 'BEGIN {
    printf "snmp walk of the chassis row (17 objects, through qv_entity): %.2f ms a walk, %d walks\n", c / n / 1e6, n
    printf "snmp walk of 17 of snmpd'"'"'s own objects (system group): %.2f ms a walk, %d walks\n", o / n / 1e6, n
    printf "snmp walk ratio, chassis row to snmpd'"'"'s own: %.2f (target: at most 1.5)\n", c / o
}'
