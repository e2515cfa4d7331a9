#!/bin/sh
# Usage (on the device): sh device-checks.sh [--write] [--pushed] [--last-phy ADDR:ID] DIR
#
# The checks a switch in service can take: the installed programs (with
# --pushed the ones in DIR/sbin and DIR/lib, which this run brought along)
# against the device's own flash, PHYs and switch, with nothing loaded,
# nothing injected and nothing left changed. DIR also holds qvf-fields, the
# system tests' client of libqvf, built for this device; scripts/device-test
# copies both here over SSH, with checks.sh (tests/lib/checks.sh), and
# anything else that can put these three files on the device and run sh (a
# labgrid strategy, a serial console) can do the same.
#
# Read-only by default: the record, the PHY and the switch are only read,
# and every refused command line is one that would write if it were taken.
# --write adds the store round trips: the whole record is kept in
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
# plan "1..N" and "N passed, N failed, N skipped". Exit status 0 when none
# failed, 1 otherwise, 2 when the run refused to start ("Bail out!").

write=0 pushed=0 last_phy=''
while [ $# -gt 1 ]; do
    case $1 in
    --write) write=1 ;;
    --pushed) pushed=1 ;;
    --last-phy) last_phy=$2; shift ;;
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

# ---------------------------------------------------------------- the record

# read_record FILE: the record's 104 bytes as the flash holds them.
read_record() {
    dd if=$node of="$1" bs=$record_size count=1 2>/dev/null &&
        [ "$(wc -c <"$1")" -eq $record_size ]
}
hex() { od -An -v -tx1 "$1"; }

# The record's bytes as the library hands them over: a field whose first
# byte is erased (ff) reads as zeros. Arguments: the record's hex bytes.
blank_rule() {
    echo "$@" | awk '{
        for (i = 1; i <= NF; i++) {
            if (i == 1 || i == 9 || i == 41 || i == 73) blank = ($i == "ff")
            printf " %s", blank ? "00" : $i
            if (i % 16 == 0 || i == NF) printf "\n"
        }
    }'
}

# record_words: the record's bytes after the blank-field rule, on one line.
# shellcheck disable=SC2086 # the bytes as words
record_words() { echo $library_hex; }

# escaped FIRST COUNT: bytes FIRST.. of the record (after the blank-field
# rule) up to the first zero, as printf %b escapes.
escaped() {
    record_words | awk -v first="$1" -v count="$2" '{
        for (i = first; i < first + count && $i != "00"; i++)
            printf "\\0%03o", (index("0123456789abcdef", substr($i, 1, 1)) - 1) * 16 + \
                index("0123456789abcdef", substr($i, 2, 1)) - 1
    }'
}

# info_text FIRST COUNT show|json: how qv_info shows bytes FIRST.. of the
# record (after the blank-field rule) up to the first zero, as printf %b
# escapes: show writes a byte outside 0x20-0x7e, or a backslash, as \xNN;
# JSON writes \", \\ and \u00NN.
info_text() {
    record_words | awk -v first="$1" -v count="$2" -v mode="$3" '
        function out(text,   k) {
            for (k = 1; k <= length(text); k++) printf "\\0%03o", index(chars, substr(text, k, 1)) + 31
        }
        BEGIN { for (c = 32; c < 127; c++) chars = chars sprintf("%c", c) }
        {
            for (i = first; i < first + count && $i != "00"; i++) {
                v = (index("0123456789abcdef", substr($i, 1, 1)) - 1) * 16 + index("0123456789abcdef", substr($i, 2, 1)) - 1
                if (mode == "json" && (v == 34 || v == 92)) out("\\" sprintf("%c", v))
                else if (v >= 32 && v < 127 && (mode == "json" || v != 92)) out(sprintf("%c", v))
                else if (mode == "json") out("\\u00" $i)
                else out("\\x" $i)
            }
        }'
}

# info_verify: what qv_info verify prints about the record.
info_verify() {
    record_words | awk '{
        if ($1 $2 $3 $4 $5 $6 == "000000000000") print "mac: not set"
        else if (index("13579bdf", substr($1, 2, 1))) print "mac: multicast address"
        split("uid hdv prdt", name, " ")
        for (f = 0; f < 3; f++) {
            first = 9 + 32 * f; n = 0; odd = 0
            for (i = first; i < first + 32 && $i != "00"; i++) {
                n++
                if ($i < "20" || $i > "7e") odd = 1
            }
            if (n == 0) print name[f + 1] ": not set"
            else if (odd) print name[f + 1] ": not printable"
        }
    }'
}

# byte N: byte N (from 1) of the record after the blank-field rule.
byte() { record_words | cut -d' ' -f"$1"; }

client_runs() {
    [ -x ./qvf-fields ] || return 1
    ./qvf-fields >/dev/null 2>&1
    [ $? = 2 ]
}

# Whether a store may start: something must be able to put the record
# back, and the erase block that holds it must take a rewrite.
may_store() {
    if ! client_runs; then
        echo "# qvf-fields does not run here (is libqvf installed?): nothing could put the record back"
        return 1
    fi
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
    if [ ! -c $node ]; then
        echo "# $node is not a character device"
        return 1
    fi
    [ $write = 0 ] || may_store || return 1
    if ! read_record record.saved || ! read_record record.again || ! cmp -s record.saved record.again; then
        echo "# the record on $node cannot be read, or reads differently twice"
        return 1
    fi
    # Every store erases the whole partition: it must hold the record only.
    rest=$(tail -c +$((record_size + 1)) $node | tr -d '\377' | wc -c)
    if [ $write = 1 ] && [ "$rest" != 0 ]; then
        echo "# $node holds $rest bytes past the record that are not erased, which a store would erase"
        return 1
    fi
    return 0
}

test_record() {
    if [ ! -s record.saved ]; then
        fail "the record on $node can be read"
        return 0
    fi
    pass "the record on $node reads the same twice"
    # The folder keeps the record (and, with --write, the way back to it).
    name="the run's folder, which keeps the record, is open to its owner only"
    folder=$(ls -ld .)
    case $folder in
    drwx------*) pass "$name" ;;
    *) fail "$name"; echo "#   $folder" ;;
    esac
    # shellcheck disable=SC2046 # the bytes as words
    library_hex=$(blank_rule $(hex record.saved))
    # shellcheck disable=SC2046,SC2183 # six bytes, six words
    mac=$(printf '%s:%s:%s:%s:%s:%s' $(record_words | cut -d' ' -f1-6))
    if have qv_setmac "qv_setmac shows the stored address"; then
        check "qv_setmac shows the stored address" 0 "mac = [$mac]\n" '' qv_setmac
        # Rejected texts: the byte lines printed before the fault, then the verdict.
        check "qv_setmac rejects a text that is not an address" 255 'invalid mac format\n' '' \
            qv_setmac 0g:11:22:33:44:55
        check "qv_setmac rejects a text one digit short" 255 \
            'mac [0] = [00]\nmac [1] = [11]\nmac [2] = [22]\nmac [3] = [33]\nmac [4] = [44]\ninvalid mac format\n' '' \
            qv_setmac 00:11:22:33:44:5
        check "qv_setmac rejects a group address" 255 \
            'mac [0] = [01]\nmac [1] = [00]\nmac [2] = [5e]\nmac [3] = [00]\nmac [4] = [00]\nmac [5] = [01]\ninvalid mac address: multicast\n' \
            '' qv_setmac 01:00:5e:00:00:01
    fi
    if client_runs; then
        check "the library reads the record, blank fields as zeros" 0 "$library_hex\n" '' \
            ./qvf-fields raw read
        check "the library prints the whole address field" 0 \
            "mac = $mac:$(byte 7):$(byte 8):\n" '' ./qvf-fields get mac
        check "the library's unique id" 0 "$(escaped 9 32)\n" '' ./qvf-fields get uid
        check "the library's hardware version" 0 "$(escaped 41 32)\n" '' ./qvf-fields get hdv
        check "the library's product type" 0 "$(escaped 73 32)\n" '' ./qvf-fields get prdt
        uid_length=$(printf '%b' "$(escaped 9 32)" | wc -c)
        if [ "$uid_length" -gt 0 ]; then
            check "a unique id longer than the caller allows is refused" 1 '' '' \
                ./qvf-fields get uid $((uid_length - 1))
        else
            skip "a unique id longer than the caller allows is refused" "the unique id is blank"
        fi
    else
        skip "the library's getters" "qvf-fields does not run here (is libqvf installed?)"
    fi
    if have qv_info "qv_info shows the record"; then
        check "qv_info shows the record" 0 "mac=$mac\nuid=$(info_text 9 32 show)\nhdv=$(info_text 41 32 show)\nprdt=$(info_text 73 32 show)\n" '' qv_info
        check "qv_info shows the record as JSON" 0 \
            "{\"mac\":\"$mac\",\"uid\":\"$(info_text 9 32 json)\",\"hdv\":\"$(info_text 41 32 json)\",\"prdt\":\"$(info_text 73 32 json)\"}\n" '' qv_info show -j
        check "qv_info gets the unique id" 0 "$(info_text 9 32 show)\n" '' qv_info get uid
        unprovisioned=$(info_verify)
        check "qv_info verify tells what is not provisioned" "$([ -z "$unprovisioned" ] && echo 0 || echo 1)" \
            "${unprovisioned:+$unprovisioned\n}" '' qv_info verify
        check "qv_info refuses a group address" 2 '' 'qv_info: mac: multicast address\n' \
            qv_info set mac=01:00:5e:00:00:01
        test_eth0_address
    fi
    read_record record.now && cmp -s record.saved record.now
    verdict "the refused texts left the record alone" [ $? = 0 ]
}

# The boot applies a provisioned address to eth0 (the qv-info package's
# /lib/preinit/01_qv_identity); a record stored since then takes effect at
# the next boot.
test_eth0_address() {
    if [ ! -e /lib/preinit/01_qv_identity ]; then
        skip "eth0 carries the record's address" "no /lib/preinit/01_qv_identity: the boot does not apply the record"
        return 0
    fi
    case $unprovisioned in
    mac:*) skip "eth0 carries the record's address" "the record's address is not provisioned (${unprovisioned%%
*})" ;;
    *) check "eth0 carries the record's address" 0 "$mac\n" '' cat /sys/class/net/eth0/address ;;
    esac
}

# The store round trips: every field through its setter and the address
# through qv_setmac, each read back; the first that fails ends them, and
# the kept record goes back (here, or at the end).
test_stores() {
    check "qv_setmac stores an address" 0 \
        'mac [0] = [02]\nmac [1] = [51]\nmac [2] = [56]\nmac [3] = [00]\nmac [4] = [00]\nmac [5] = [0e]\n' '' \
        qv_setmac 02:51:56:00:00:0e &&
        check "the address reads back" 0 'mac = [02:51:56:00:00:0e]\n' '' qv_setmac || return 1
    while IFS='|' read -r field what value; do
        check "the library stores a $what" 0 '' '' ./qvf-fields set "$field" "$value" &&
            check "the $what reads back" 0 "$value\n" '' ./qvf-fields get "$field" || return 1
    done <<'EOF'
uid|unique id|qv-device-test
hdv|hardware version|qv-device-test-hdv
prdt|product type of the full 32 bytes|QV-DEVICE-TEST-0123456789abcdef
EOF
    check "the library stores an address" 0 '' '' ./qvf-fields set mac 02:51:56:00:00:0f &&
        check "which qv_setmac reads" 0 'mac = [02:51:56:00:00:0f]\n' '' qv_setmac || return 1
    if have qv_info "qv_info stores the four fields in one set"; then
        check "qv_info stores the four fields in one set" 0 '' '' qv_info set mac=02:51:56:00:00:10 \
            uid=qv-info-uid hdv=qv-info-hdv 'prdt=QV INFO 0123456789abcdef 0123' &&
            check "which qv_info reads back, provisioned" 0 \
                'mac=02:51:56:00:00:10\nuid=qv-info-uid\nhdv=qv-info-hdv\nprdt=QV INFO 0123456789abcdef 0123\n' '' \
                sh -c 'qv_info verify && qv_info' || return 1
    fi
    check "the library writes the kept record back" 0 '' '' sh -c './qvf-fields raw write <record.saved' ||
        return 1
    read_record record.now && cmp -s record.saved record.now
    verdict "the flash holds the kept record again, byte for byte" [ $? = 0 ]
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
    have mdiorw "the PHY's registers" || return 0
    mdiorw_refusals
    if ! find_phy; then
        skip "the PHY's identifier" "no PHY of eth0 answers at any MDIO address"
        return 0
    fi
    id1=$(reg $phy_addr 2) id2=$(reg $phy_addr 3)
    case $id1$id2 in
    '' | 00 | ffffffff)
        skip "the PHY's identifier" "eth0's PHY at address $phy_addr gives no identifier ('$id1' '$id2')"
        return 0
        ;;
    esac
    a=$(printf '%x' $phy_addr)
    echo "# phy: $phy_addr:$(printf '%04x%04x' "0x$id1" "0x$id2")"
    check "the PHY's first identifier register, again in hex" 0 \
        "dev_addr $a, reg_addr 2\nread data: $id1\n" '' mdiorw "0x$a" 0X2
    # The MII request carries 16-bit addresses.
    check "a PHY address beyond 16 bits reaches the same PHY" 0 \
        "dev_addr $a, reg_addr 3\nread data: $id2\n" '' mdiorw $((65536 + phy_addr)) 3
    id=$(printf '%04x%04x' "0x$id1" "0x$id2")
    case $id_source in
    driver) verdict "the identifier is the one eth0's driver reports ($driver_id)" [ "$id" = "$driver_id" ] ;;
    "device tree")
        if [ "$id" = "$driver_id" ]; then
            pass "the identifier is the one the device tree gives eth0's PHY ($driver_id)"
        else
            skip "the identifier is the one eth0's driver reports" \
                "the device tree names the PHY $driver_id, so its driver never read the registers, which say $id"
        fi
        ;;
    *) skip "the identifier is the one eth0's driver reports" "eth0's driver names no PHY; found at address $phy_addr by reading" ;;
    esac
    if [ -n "$last_phy" ]; then
        verdict "the PHY is the one an earlier run found ($last_phy)" [ "$phy_addr:$id" = "$last_phy" ]
    else
        skip "the PHY is the one an earlier run found" "no earlier run on record"
    fi
    advert=$(reg $phy_addr 4)
    verdict "the advertisement register reads" [ -n "$advert" ]
    [ $write = 1 ] && [ -n "$advert" ] && test_phy_write
}

# A write of the advertisement register, with the pause bit turned over,
# and the value the PHY had written back (here, or at the end).
test_phy_write() {
    saved_advert=$advert
    other=$(printf '%x' $((0x$advert ^ 0x400)))
    check "mdiorw writes the advertisement register" 0 '' '' mdiorw "$phy_addr" 4 "0x$other" &&
        check "the written value reads back" 0 "dev_addr $a, reg_addr 4\nread data: $other\n" '' \
            mdiorw "$phy_addr" 4 &&
        check "the value the PHY had is written back" 0 '' '' mdiorw "$phy_addr" 4 "0x$advert" &&
        check "and reads back" 0 "dev_addr $a, reg_addr 4\nread data: $advert\n" '' mdiorw "$phy_addr" 4 &&
        saved_advert=''
}

# --------------------------------------------------------- the fixed output

checks_expected=$dir/expected
banner=$(expected hello.out)
full='No space left on device'
board_text=$(expected boardinfo.out)

# Checks whose whole output is known, one a line: name|status|stdout|stderr|
# command, the texts as printf %b takes them, the command as sh would. A
# program that must fail when its output cannot be written is one more line
# here, its command e.g. sh -c 'hello >/dev/full'.
test_fixed() {
    # shellcheck disable=SC2034,SC2086 # the eval reads out and err; the command is split into words
    while IFS='|' read -r name status out err command; do
        set -- $command
        program=$1
        [ "$1" = sh ] && program=${3#\'} # sh -c 'PROGRAM ...'
        have "$program" "$name" || continue
        eval "check \"\$name\" \"\$status\" \"\$out\" \"\$err\" $command"
    done <<EOF
hello prints its banner|0|$banner||hello
hello ignores its arguments|0|$banner||hello -x 1
boardinfo describes the board|0|$board_text||boardinfo
boardinfo ignores its arguments|0|$board_text||boardinfo -x 1
kez-tool refuses a port that is not a number|255||invalid port: abc\\n|kez-tool -m abc
kez-tool refuses a port beyond its map|255||invalid port: 11\\n|kez-tool -m 11
hello fails when its output cannot be written|255||hello: write error: $full\\n|sh -c 'hello >/dev/full'
boardinfo fails when its output cannot be written|255||boardinfo: write error: $full\\n|sh -c 'boardinfo >/dev/full'
qv_setmac fails when its address cannot be written|255||qv_setmac: write error: $full\\n|sh -c 'qv_setmac >/dev/full'
mdiorw fails when its usage cannot be written|255||invalid argument !\\nmdiorw: write error: $full\\n|sh -c 'mdiorw >/dev/full'
kez-tool fails when its usage cannot be written|255||kez-tool: write error: $full\\n|sh -c 'kez-tool -h >/dev/full'
EOF
}

# ---------------------------------------------------------------- the switch

# kez STDERR ARGS...: kez-tool exits 0 with STDERR; what the switch maker's
# library prints is its own, so stdout is left to the caller.
kez() {
    printf '%b' "$1" >want.err
    shift
    kez-tool "$@" </dev/null >got.out 2>got.err
    got=$?
    [ $got = 0 ] && cmp -s want.err got.err && return 0
    echo "#   kez-tool $*: exit status $got, stderr:"
    sed 's/^/#     /' got.err
    return 1
}
ends_with_usage() {
    tail -c "$(wc -c <expected/kez-tool-usage.out)" got.out | cmp -s - expected/kez-tool-usage.out
}
kez_usage_of() { kez "$@" && ends_with_usage; }
kez_shows() { kez "$@" && [ -s got.out ]; }

test_switch() {
    have kez-tool "the switch front end" || return 0
    # The C library's getopt words its complaints its own way.
    if ls /lib/ld-musl-* >/dev/null 2>&1; then
        bad_option="kez-tool: unrecognized option: x\n" no_port="kez-tool: option requires an argument: m\n"
    else
        bad_option="kez-tool: invalid option -- 'x'\n" no_port="kez-tool: option requires an argument -- 'm'\n"
    fi
    verdict "kez-tool -h shows the usage" kez_usage_of '' -h
    verdict "kez-tool -s describes the counters" kez_shows '' -s
    verdict "kez-tool -a shows the address table" kez_shows '' -a
    verdict "kez-tool -m 1 shows front port 1's counters" kez_shows '' -m 1
    verdict "an unknown option shows the usage and stops" kez_usage_of "$bad_option" -x -a
    verdict "a missing port shows the usage" kez_usage_of "$no_port" -m
}

# ------------------------------------------------------------ the way out

# loud LINE...: what must not scroll by unseen; also kept in DIR/restore.log
# for when nobody reads the output any more.
loud() {
    printf '%s\n' "$@" >>restore.log
    printf '%s\n' "$@"
}

restore_record() {
    read_record record.now && cmp -s record.saved record.now && return 0
    ./qvf-fields raw write <record.saved >/dev/null 2>&1
    if read_record record.now && cmp -s record.saved record.now; then
        loud "# the record was written back"
        return 0
    fi
    lib=''
    [ $pushed = 1 ] && lib="LD_LIBRARY_PATH=$dir/lib "
    loud "#" "# !!! THE RECORD ON $node IS NOT THE ONE IT HELD BEFORE THIS RUN !!!" \
        "# it held (104 bytes):" "$(hex record.saved | sed 's/^/#  /')" \
        "# it holds now:" "$( (read_record record.now && hex record.now || echo ' unreadable') | sed 's/^/#  /')" \
        "# restore it, on the device, with:" \
        "printf '%b' '$(od -An -v -to1 record.saved | tr -s ' \n' ' ' | sed 's/ *$//; s/ /\\0/g')' | $lib$dir/qvf-fields raw write" \
        "#"
    return 1
}

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
    if [ "$finished" != 1 ]; then
        fail "the run went to its end (it was stopped)"
    fi
    if [ $write = 1 ]; then
        restore_phy || fail "PHY $phy_addr's register 4 is as it was"
        restore_record || fail "the record on $node is as it was"
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

test_fixed
test_record
test_phy
test_switch
if [ $write = 1 ] && have qv_setmac "the store round trips"; then
    test_stores
fi
finished=1
