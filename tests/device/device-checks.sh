#!/bin/sh
# Usage (on the device): sh device-checks.sh [--write] [--pushed] [--last-phy ADDR:ID] DIR
#                        sh device-checks.sh [--write] [--pushed] --restore KEPT DIR
#
# The checks a switch in service can take: the installed programs (with
# --pushed the ones in DIR/sbin and DIR/lib, which this run brought along)
# against the device's own flash, PHYs and switch, with nothing loaded,
# nothing injected and nothing left changed. DIR also holds qvf-fields, the
# library's test client, built for this device, checks.sh
# (tests/lib/checks.sh), the case tables in cases/ (tests/cases) and the
# fixed texts in expected/ (tests/expected); scripts/device-test copies
# them here over SSH, and anything else that can put these files on the
# device and run sh (a labgrid strategy, a serial console) can do the same.
#
# Read-only by default: the record, the PHY and the switch are only read,
# and every refused command line is one that would write if it were taken;
# the case tables' rows that store are skipped. --write adds the store
# round trips, those rows among them: the whole record is kept in
# DIR/record.saved first (the run refuses to start when it cannot be read
# twice alike, or when the erase block that holds it is bad), and at the
# end, on a failure or when the run is stopped
# (HUP, INT, TERM, PIPE), it is written back and read back. A record or a
# PHY register that could not be put back is printed, with the one command
# that puts it back, and the run fails. --last-phy is what an earlier run
# found (see the "# phy:" line), to compare with.
#
# TAP, which prove and other TAP readers take: one line per check ("ok",
# "not ok" with the differences, "ok ... # SKIP" with the reason), then the
# plan "1..N". Exit status 0 when none failed, 1 otherwise, 2 when the run
# refused to start ("Bail out!").
#
# --restore is the one way a record goes back, for this run's end and for
# scripts/device-test's own copy: it compares the flash with the record
# KEPT holds and, with --write, writes KEPT back when they differ. A record
# that is not the one kept is printed, with the one command that puts it
# back; exit status 0 when the flash holds the kept record, 1 otherwise.

write=0 pushed=0 last_phy='' kept=''
while [ $# -gt 1 ]; do
    case $1 in
    --write) write=1 ;;
    --pushed) pushed=1 ;;
    --last-phy) last_phy=$2; shift ;;
    --restore) kept=$2; shift ;;
    *) echo "device-checks: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
dir=${1:?usage: device-checks.sh [--write] [--pushed] [--last-phy ADDR:ID] DIR}
cd "$dir" || exit 2
dir=$(pwd)

PATH=/usr/sbin:/usr/bin:/sbin:/bin
if [ $pushed = 1 ]; then
    PATH=$dir/sbin:$PATH
    LD_LIBRARY_PATH=$dir/lib
    export LD_LIBRARY_PATH
fi
export PATH
node=/dev/mtd3 record_size=104
# shellcheck source=tests/lib/checks.sh
. "$dir/checks.sh"
checks_start "$dir"
checks_expected=$dir/expected

# ---------------------------------------------------------------- the record

# read_record FILE: the record's 104 bytes as the flash holds them.
read_record() {
    dd if=$node of="$1" bs=$record_size count=1 2>/dev/null &&
        [ "$(wc -c <"$1")" -eq $record_size ]
}
hex() { od -An -v -tx1 "$1"; }

client_runs() {
    [ -x ./qvf-fields ] || return 1
    ./qvf-fields >/dev/null 2>&1
    [ $? = 2 ]
}

# Whether a store may start: something must be able to put the record
# back, and the erase block that holds it must take a rewrite.
may_store() {
    client_runs ||
        { echo "# qvf-fields does not run here (is libqvf installed?): nothing could put the record back"; return 1; }
    block=$(./qvf-fields bad-block 2>&1)
    case $block in
    good) return 0 ;;
    bad) echo "# the erase block of $node that holds the record is marked bad: a store cannot rewrite it" ;;
    *) echo "# cannot tell whether the erase block of $node that holds the record is bad: $block" ;;
    esac
    return 1
}

# The record as it is now, kept before anything can change it. A store
# must not start unless the record can be put back exactly.
keep_record() {
    [ -c $node ] || { echo "# $node is not a character device"; return 1; }
    [ $write = 0 ] || may_store || return 1
    { read_record record.saved && read_record record.again && cmp -s record.saved record.again; } ||
        { echo "# the record on $node cannot be read, or reads differently twice"; return 1; }
    # Every store erases the whole partition: it must hold the record only.
    rest=$(tail -c +$((record_size + 1)) $node | tr -d '\377' | wc -c)
    [ $write = 0 ] || [ "$rest" = 0 ] ||
        { echo "# $node holds $rest bytes past the record that are not erased, which a store would erase"; return 1; }
}

# like_image NAME ARGS...: qv_info ARGS on the flash gives what it gives on
# an image that holds a copy of the record's bytes.
like_image() {
    local name=$1 status
    shift
    qv_info -d record.image "$@" </dev/null >image.out 2>image.err
    status=$?
    checks_run "$name" $status "$(checks_escaped image.out)" "$(checks_escaped image.err)" qv_info "$@"
}

# same_text NAME FIELD: the library's getter reads a text field, and
# qv_info gets the same, where the field holds only bytes qv_info shows as
# they are (printable, no backslash). The library's text is left in
# FIELD.text.
same_text() {
    local text
    ./qvf-fields get "$2" >"$2.text" 2>&1 || { checks_fail "$1"; sed 's/^/#   qvf-fields: /' "$2.text"; return 0; }
    text=$(cat "$2.text")
    case $text in
    *[!\ -~]* | *\\*) checks_skip "$1" "the field holds bytes that qv_info shows escaped" ;;
    *) checks_run "$1" 0 "$(checks_escaped "$2.text")" '' qv_info get "$2" ;;
    esac
}

# The record as the library hands it over (its raw read, and its getters)
# and as qv_setmac and qv_info show it: one view. qv_info on the flash is
# also what it is on an image that holds a copy of the record's bytes.
test_record() {
    [ -s record.saved ] || { checks_fail "the record on $node can be read"; return 0; }
    checks_pass "the record on $node reads the same twice"
    # The folder keeps the record (and, with --write, the way back to it).
    name="the run's folder, which keeps the record, is open to its owner only"
    folder=$(ls -ld .)
    case $folder in
    drwx------*) checks_pass "$name" ;;
    *) checks_fail "$name"; echo "#   $folder" ;;
    esac
    if checks_have qv_info "qv_info shows the record"; then
        cp record.saved record.image
        like_image "qv_info shows the record as it shows its bytes in an image" show
        like_image "qv_info shows the record as JSON as it does its bytes in an image" show -j
        like_image "qv_info gets the unique id as from the bytes in an image" get uid
        like_image "qv_info verify tells what is not provisioned, as of the bytes in an image" verify
        test_eth0_address
    fi
    client_runs ||
        { checks_skip "the library's view of the record" "qvf-fields does not run here (is libqvf installed?)"; return 0; }
    ./qvf-fields raw read >record.library 2>&1 ||
        { checks_fail "the library reads the record"; sed 's/^/#   qvf-fields: /' record.library; return 0; }
    checks_pass "the library reads the record"
    # shellcheck disable=SC2046 # the bytes as words
    set -- $(cat record.library)
    mac=$1:$2:$3:$4:$5:$6 spare=$7:$8
    checks_run "the library prints the whole address field as its raw read has it" 0 "mac = $mac:$spare:\n" '' \
        ./qvf-fields get mac
    checks_have qv_setmac "qv_setmac shows the library's address" &&
        checks_run "qv_setmac shows the library's address" 0 "mac = [$mac]\n" '' qv_setmac
    checks_have qv_info "qv_info and the library agree on the record" || return 0
    checks_run "qv_info gets the library's address" 0 "$mac\n" '' qv_info get mac
    same_text "qv_info and the library agree on the unique id" uid
    same_text "qv_info and the library agree on the hardware version" hdv
    same_text "qv_info and the library agree on the product type" prdt
    uid_length=$(($(wc -c <uid.text) - 1))
    if [ "$uid_length" -gt 0 ]; then
        checks_run "a unique id longer than the caller allows is refused" 1 '' '' \
            ./qvf-fields get uid $((uid_length - 1))
    else
        checks_skip "a unique id longer than the caller allows is refused" "the unique id is blank"
    fi
}

# The boot applies a provisioned address to eth0 (the qv-info package's
# /lib/preinit/01_qv_identity); a record stored since then takes effect at
# the next boot. Preinit reads the image's own files, which an overlay's
# root keeps under /rom: a hook that opkg installed is never run.
test_eth0_address() {
    local provisioned hook=/lib/preinit/01_qv_identity
    [ ! -d /rom/lib ] || hook=/rom$hook
    [ -e "$hook" ] || { checks_skip "eth0 carries the record's address" "no $hook: the boot does not apply the record"; return 0; }
    provisioned=$(qv_info show -p | sed -n 1p)
    case $provisioned in
    mac=*) checks_run "eth0 carries the record's address" 0 "${provisioned#mac=}\n" '' cat /sys/class/net/eth0/address ;;
    *) checks_skip "eth0 carries the record's address" "the record's address is not provisioned (${provisioned:-qv_info did not say})" ;;
    esac
}

# The store round trips: every field through its setter and the address
# through qv_setmac, each read back, and the case tables' rows that store;
# the first that fails ends them, and the kept record goes back (here, or
# at the end).
test_stores() {
    checks_run "qv_setmac stores an address" 0 \
        'mac [0] = [02]\nmac [1] = [51]\nmac [2] = [56]\nmac [3] = [00]\nmac [4] = [00]\nmac [5] = [0e]\n' '' \
        qv_setmac 02:51:56:00:00:0e &&
        checks_run "the address reads back" 0 'mac = [02:51:56:00:00:0e]\n' '' qv_setmac || return 1
    while IFS='|' read -r field what value; do
        checks_run "the library stores a $what" 0 '' '' ./qvf-fields set "$field" "$value" &&
            checks_run "the $what reads back" 0 "$value\n" '' ./qvf-fields get "$field" || return 1
    done <<'EOF'
uid|unique id|qv-device-test
hdv|hardware version|qv-device-test-hdv
prdt|product type of the full 32 bytes|QV-DEVICE-TEST-0123456789abcdef
EOF
    checks_run "the library stores an address" 0 '' '' ./qvf-fields set mac 02:51:56:00:00:0f &&
        checks_run "which qv_setmac reads" 0 'mac = [02:51:56:00:00:0f]\n' '' qv_setmac || return 1
    if checks_have qv_info "qv_info stores the four fields in one set"; then
        checks_run "qv_info stores the four fields in one set" 0 '' '' qv_info set mac=02:51:56:00:00:10 \
            uid=qv-info-uid hdv=qv-info-hdv 'prdt=QV INFO 0123456789abcdef 0123' &&
            checks_run "which qv_info reads back, provisioned" 0 \
                'mac=02:51:56:00:00:10\nuid=qv-info-uid\nhdv=qv-info-hdv\nprdt=QV INFO 0123456789abcdef 0123\n' '' \
                sh -c 'qv_info verify && qv_info' || return 1
    fi
    local failed_before=$checks_failed can=$checks_can
    checks_can="$can store" checks_only=store
    checks_table cases/*.cases
    checks_can=$can checks_only=''
    [ "$checks_failed" = "$failed_before" ] || return 1
    checks_verdict "the library writes the kept record back, byte for byte" restore_record record.saved
}
# ------------------------------------------------------------------ the PHY

# reg ADDR REG: a register's value as mdiorw reads it (nothing when the
# read fails).
reg() {
    mdiorw "$1" "$2" 2>/dev/null | sed -n 's/^read data: \([0-9a-f]*\)$/\1/p'
}

# The PHY of eth0: where its driver says it is, or else the first address
# whose identifier registers answer.
find_phy() {
    phy_addr='' driver_id='' id_source=''
    phydev=/sys/class/net/eth0/phydev
    if [ -e $phydev/phy_id ]; then
        link=$(readlink $phydev)
        phy_addr=$((0x${link##*:}))
        driver_id=$(printf '%08x' $(($(cat $phydev/phy_id))))
        id_source=driver
        if grep -q ethernet-phy-id $phydev/of_node/compatible 2>/dev/null; then
            id_source="device tree"
        fi
        return 0
    fi
    addr=0
    while [ $addr -lt 32 ]; do
        id1=$(reg $addr 2)
        case $id1 in '' | 0 | ffff) ;; *) phy_addr=$addr; return 0 ;; esac
        addr=$((addr + 1))
    done
    return 1
}

test_phy() {
    checks_have mdiorw "the PHY's registers" || return 0
    find_phy || { checks_skip "the PHY's identifier" "no PHY of eth0 answers at any MDIO address"; return 0; }
    id1=$(reg $phy_addr 2) id2=$(reg $phy_addr 3)
    case $id1$id2 in
    '' | 00 | ffffffff)
        checks_skip "the PHY's identifier" "eth0's PHY at address $phy_addr gives no identifier ('$id1' '$id2')"
        return 0
        ;;
    esac
    a=$(printf '%x' $phy_addr)
    echo "# phy: $phy_addr:$(printf '%04x%04x' "0x$id1" "0x$id2")"
    checks_run "the PHY's first identifier register, again in hex" 0 \
        "dev_addr $a, reg_addr 2\nread data: $id1\n" '' mdiorw "0x$a" 0X2
    # The MII request carries 16-bit addresses.
    checks_run "a PHY address beyond 16 bits reaches the same PHY" 0 \
        "dev_addr $a, reg_addr 3\nread data: $id2\n" '' mdiorw $((65536 + phy_addr)) 3
    id=$(printf '%04x%04x' "0x$id1" "0x$id2")
    case $id_source in
    driver) checks_verdict "the identifier is the one eth0's driver reports ($driver_id)" [ "$id" = "$driver_id" ] ;;
    "device tree")
        if [ "$id" = "$driver_id" ]; then
            checks_pass "the identifier is the one the device tree gives eth0's PHY ($driver_id)"
        else
            checks_skip "the identifier is the one eth0's driver reports" \
                "the device tree names the PHY $driver_id, so its driver never read the registers, which say $id"
        fi
        ;;
    *) checks_skip "the identifier is the one eth0's driver reports" "eth0's driver names no PHY; found at address $phy_addr by reading" ;;
    esac
    if [ -n "$last_phy" ]; then
        checks_verdict "the PHY is the one an earlier run found ($last_phy)" [ "$phy_addr:$id" = "$last_phy" ]
    else
        checks_skip "the PHY is the one an earlier run found" "no earlier run on record"
    fi
    advert=$(reg $phy_addr 4)
    checks_verdict "the advertisement register reads" [ -n "$advert" ]
    [ $write = 1 ] && [ -n "$advert" ] && test_phy_write
}

# A write of the advertisement register, with the pause bit turned over,
# and the value the PHY had written back (here, or at the end).
test_phy_write() {
    saved_advert=$advert
    other=$(printf '%x' $((0x$advert ^ 0x400)))
    checks_run "mdiorw writes the advertisement register" 0 '' '' mdiorw "$phy_addr" 4 "0x$other" &&
        checks_run "the written value reads back" 0 "dev_addr $a, reg_addr 4\nread data: $other\n" '' \
            mdiorw "$phy_addr" 4 &&
        checks_run "the value the PHY had is written back" 0 '' '' mdiorw "$phy_addr" 4 "0x$advert" &&
        checks_run "and reads back" 0 "dev_addr $a, reg_addr 4\nread data: $advert\n" '' mdiorw "$phy_addr" 4 &&
        saved_advert=''
}

# ---------------------------------------------------------------- the switch

# What the switch maker's library prints is its own: the tool's usage, its
# refusals and its statuses are rows of the case table; here, that each
# option reaches a library call of its own.
# kez_out NAME ARGS...: kez-tool exits 0, with nothing on standard error,
# and its standard output goes to kez.NAME.
kez_out() {
    local name=$1
    shift
    kez-tool "$@" </dev/null >"kez.$name" 2>kez.err
    got=$?
    [ $got = 0 ] && [ ! -s kez.err ] && return 0
    echo "#   kez-tool $*: exit status $got, stderr:"
    sed 's/^/#     /' kez.err
    return 1
}
# differs NAME OTHER...: kez.NAME has something, and not what any OTHER has.
differs() {
    local name=$1 other
    [ -s "kez.$name" ] || { echo "#   kez-tool printed nothing"; return 1; }
    shift
    for other in "$@"; do
        cmp -s "kez.$name" "kez.$other" && { echo "#   the same as for $other"; return 1; }
    done
    return 0
}
# The description of the counters is fixed: twice the same, and after the
# usage when -h comes first (with a library that prints nothing when it
# starts).
describes() { kez_out help -s && kez_out help2 -s && differs help && cmp -s kez.help kez.help2; }
usage_then_help() {
    kez_out usage_help -h -s && cat expected/kez-tool-usage.out kez.help | cmp -s - kez.usage_help
}

test_switch() {
    checks_have kez-tool "the switch front end" || return 0
    checks_verdict "kez-tool -s describes the counters, the same each time" describes
    if [ "$kez_silent" = 1 ]; then
        checks_verdict "kez-tool -h -s shows the usage, then the description" usage_then_help
    else
        checks_skip "kez-tool -h -s shows the usage, then the description" "$(checks_lacks silent)"
    fi
    checks_verdict "kez-tool -a shows the address table, not the description" \
        eval 'kez_out atu -a && differs atu help'
    checks_verdict "kez-tool -m 1 shows front port 1's counters, neither of the others" \
        eval 'kez_out mib -m 1 && differs mib help atu'
}
# ------------------------------------------------------------ the way out

# loud LINE...: what must not scroll by unseen; also kept in DIR/restore.log
# for when nobody reads the output any more.
loud() {
    printf '%s\n' "$@" >>restore.log
    printf '%s\n' "$@"
}

# restore_record KEPT: true when the flash holds the record KEPT holds, as
# it is or (with --write) once written back.
restore_record() {
    read_record record.now && cmp -s "$1" record.now && return 0
    if [ $write = 1 ]; then
        ./qvf-fields raw write <"$1" >/dev/null 2>&1
        read_record record.now && cmp -s "$1" record.now && loud "# the record was written back" && return 0
    fi
    lib=''
    [ $pushed = 1 ] && lib="LD_LIBRARY_PATH=$dir/lib "
    loud "#" "# !!! THE RECORD ON $node IS NOT THE ONE IT HELD BEFORE THIS RUN !!!" \
        "# it held (104 bytes):" "$(hex "$1" | sed 's/^/#  /')" \
        "# it holds now:" "$( (read_record record.now && hex record.now || echo ' unreadable') | sed 's/^/#  /')" \
        "# restore it, on the device, with:" "printf '%b' '$(checks_escaped "$1")' | $lib$dir/qvf-fields raw write" "#"
    return 1
}
[ -z "$kept" ] || { restore_record "$kept"; exit; }

restore_phy() {
    [ -n "${saved_advert:-}" ] || return 0
    mdiorw "$phy_addr" 4 "0x$saved_advert" >/dev/null 2>&1
    [ "$(reg "$phy_addr" 4)" = "$saved_advert" ] && return 0
    loud "# !!! PHY $phy_addr's register 4 is not the $saved_advert it held; restore it with:" \
        "mdiorw $phy_addr 4 0x$saved_advert"
    return 1
}

# At the end, on a failure and when stopped: the record and the PHY put
# back as they were, then the count. A second signal cannot cut this short.
finish() {
    trap '' HUP INT TERM PIPE
    trap - EXIT
    [ "$finished" = 1 ] || checks_fail "the run went to its end (it was stopped)"
    if [ $write = 1 ]; then
        restore_phy || checks_fail "PHY $phy_addr's register 4 is as it was"
        restore_record record.saved || checks_fail "the record on $node is as it was"
    fi
    rm -f pid
    checks_done && exit 0
    exit 1
}

echo $$ >pid
if ! keep_record; then
    if [ $write = 1 ]; then
        echo "Bail out! refusing to write: the record could not be kept, or could not be put back"
        rm -f pid record.saved
        exit 2
    fi
    rm -f record.saved
fi
finished=0
trap finish EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 141' PIPE
if [ $pushed = 1 ]; then
    echo "# the programs: this run's own, in $dir/sbin"
else
    echo "# the programs: the installed ones"
fi
if [ $write = 1 ]; then
    echo "# the record as it was ($node, 104 bytes), kept in $dir/record.saved:"
    hex record.saved | sed 's/^/#  /'
fi

# What holds here for the case tables' rows: the record when it could be
# kept, the C library's getopt, and a switch library that prints nothing of
# its own when it starts. The rows that store wait for the round trips.
[ -s record.saved ] && checks_can=record
if ls /lib/ld-musl-* >/dev/null 2>&1; then checks_can="$checks_can musl"; else checks_can="$checks_can glibc"; fi
kez_silent=0
if command -v kez-tool >/dev/null 2>&1 && [ -z "$(kez-tool </dev/null 2>&1)" ]; then
    kez_silent=1 checks_can="$checks_can silent"
fi
for tool in mkfifo timeout; do
    command -v $tool >/dev/null 2>&1 && checks_can="$checks_can ${tool#mk}"
done
# shellcheck disable=SC2034 # checks_lacks reads them
checks_why_phy1="the PHY's address is found by reading here, not known beforehand" \
    checks_why_sim="the texts are the stand-in switch library's; a device has the switch maker's" \
    checks_why_store="the row stores a record: this run only reads (no --write)"
[ $write = 1 ] && checks_later=store
checks_table cases/*.cases
checks_later=''
test_record
test_phy
test_switch
if [ $write = 1 ] && checks_have qv_setmac "the store round trips"; then
    test_stores
fi
finished=1
