#!/bin/sh
# snmpd_test.sh QV_ENTITY QV_INFO: the chassis row as a poller sees it.
# Debian's snmpd (tests/lib/snmpd.sh: unprivileged, on a free port of
# 127.0.0.1) hands the entity table to QV_ENTITY, the PC build, reading an
# image that QV_INFO makes; snmpwalk, snmpget and snmpset ask it, with
# numeric OIDs (Debian ships no ENTITY-MIB text). Each row compares the
# client's stdout, stderr and status (tests/lib/checks.sh).
set -u
entity=$1 qv_info=$2
tests=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tests/lib/checks.sh
. "$tests/lib/checks.sh"
# shellcheck source=tests/lib/snmpd.sh
. "$tests/lib/snmpd.sh"
work=$(mktemp -d) || exit 1
trap 'snmpd_stop; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
checks_start "$work"
for tool in snmpd snmpwalk; do
    if ! command -v $tool >/dev/null 2>&1; then
        checks_skip "the chassis row through snmpd" "$tool is not installed (Debian's snmpd and snmp)"
        checks_done
        exit
    fi
done

# snmpd runs as nobody when this runs as root: what it runs and reads is
# copied where nobody can reach it.
chmod 755 "$work"
cp "$entity" "$work/qv_entity"
image=$work/image release=$work/openwrt_release
printf "DISTRIB_ID='OpenWrt'\nDISTRIB_RELEASE='23.05.3'\n" >"$release"
record() { rm -f "$image" && "$qv_info" -d "$image" set "$@" >/dev/null && chmod 644 "$image"; }
record mac=02:11:22:33:44:55 uid=SN1 hdv=rev-B prdt=QV-SW10
snmpd_start "$work" "$work/qv_entity" "$image" "$release" || exit 1
agent=127.0.0.1:$snmpd_port
table=.1.3.6.1.2.1.47.1.1.1
entry=$table.1

walk() { snmpd_client snmpwalk -c public "$agent" "$@"; }
get() { snmpd_client snmpget -c public "$agent" "$@"; }

# The row as the walk shows it: the fixed columns, and these of the record
# and the release: HDV SOFTWARE SERIAL MODEL, each shown as snmpwalk shows
# it (STRING: "..." or "").
row() {
    printf '%s\n' "$entry.2.1 = STRING: \"QV managed Ethernet switch, 10 ports\"" \
        "$entry.3.1 = OID: .0.0" "$entry.4.1 = INTEGER: 0" "$entry.5.1 = INTEGER: 3" \
        "$entry.6.1 = INTEGER: -1" "$entry.7.1 = STRING: \"chassis\"" "$entry.8.1 = $1" \
        "$entry.9.1 = \"\"" "$entry.10.1 = $2" "$entry.11.1 = $3" "$entry.12.1 = STRING: \"QV\"" \
        "$entry.13.1 = $4" "$entry.14.1 = \"\"" "$entry.15.1 = \"\"" "$entry.16.1 = INTEGER: 2" \
        "$entry.17.1 = Hex-STRING: 00 00 00 00 00 00 00 00 " "$entry.18.1 = \"\"" \
        "$entry.18.1 = No more variables left in this MIB View (It is past the end of the MIB tree)"
}
provisioned=$(row 'STRING: "rev-B"' 'STRING: "23.05.3"' 'STRING: "SN1"' 'STRING: "QV-SW10"')
checks_run "a provisioned record: the walk shows the row and ends with the table" 0 "$provisioned\n" '' \
    walk $table
checks_run "snmpset is refused by the handler" 2 '' \
    "Error in packet.\nReason: notWritable (That object does not support modification)\nFailed object: $entry.11.1\n\n" \
    snmpd_client snmpset -c private "$agent" $entry.11.1 s SN2

record uid= hdv= prdt=
blank=$(row '""' 'STRING: "23.05.3"' '""' '""')
checks_run "a blank record: the record's columns are zero-length" 0 "$blank\n" '' walk $table

# Bytes qv_info would not store: a line feed and 0x01 in the unique id,
# 0x80 in the hardware version; a quote, a space and a backslash in the
# product type, which are printable and go as they are.
checks_record 02:11:22:33:44:55 "$(printf 'SN\n1\001')" "$(printf 'rev\200')" 'a"b \c' >"$image"
checks_run "fields holding other bytes: zero-length; quotes and a backslash as they are" 0 \
    "$entry.11.1 = \"\"\n$entry.8.1 = \"\"\n$entry.13.1 = Hex-STRING: 61 22 62 20 5C 63 \n" '' \
    get -Ox $entry.11.1 $entry.8.1 $entry.13.1

# Another program's store holds the record's lock: the handler gives up
# after its bound, and snmpd goes on answering.
record mac=02:11:22:33:44:55 uid=SN1 hdv=rev-B prdt=QV-SW10
# The holder says its pid once it has the lock, and holds it until it is
# stopped: however slow the machine, the rows run while the lock is held.
# shellcheck disable=SC2016 # the inner shell's $$ and $1
flock -x "$image" sh -c 'echo $$ >"$1.new" && mv "$1.new" "$1" && exec sleep 60' sh "$work/locked" &
locker=$!
waited=0
while [ ! -s "$work/locked" ] && [ $waited -lt 300 ]; do sleep 0.1; waited=$((waited + 1)); done
[ -s "$work/locked" ] || checks_fail "the record's lock could not be taken for the next rows"
checks_run "the record locked longer than the bound: no such instance, and snmpd's own objects answer" 0 \
    "$entry.11.1 = No Such Instance currently exists at this OID\n.1.3.6.1.2.1.1.1.0 = STRING: \"QV test agent\"\n" '' \
    get $entry.11.1 .1.3.6.1.2.1.1.1.0
checks_run "the record locked: the walk shows nothing of the table" 0 \
    "$table = No more variables left in this MIB View (It is past the end of the MIB tree)\n" '' \
    walk $table
kill "$(cat "$work/locked")" 2>/dev/null
wait $locker
checks_run "the lock released: the next walk shows the row" 0 "$provisioned\n" '' walk $table

# Nothing of this run's stays: snmpd, and the handler, once its input ends.
gone() {
    local waited=0
    while pgrep -f "$work/" >/dev/null; do
        [ $waited -lt 20 ] || return 1
        sleep 0.1
        waited=$((waited + 1))
    done
}
snmpd_stop
checks_verdict "snmpd and the handler end with the test" gone
checks_done
