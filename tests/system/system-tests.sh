#!/bin/sh
# Usage (on the board): system-tests [PHASE]
#
# Runs our installed programs against the board's real kernel and drivers,
# and compares each run's standard output, standard error and exit status
# with what the device gives. Serves both boards; where their hardware
# differs, so do the expected values. PHASE 2 is the boot after a reboot:
# it checks only that the flash kept what phase 1 stored last.
#
# One line per case ("ok", "not ok" with the differences, or "ok ... # SKIP"
# for a program this build does not have), then the count on a line of its
# own. Exit status: the number of failed cases (at most 125).

. /usr/share/qv/board.sh
phase=${1:-1}
PATH=$PATH:/usr/libexec/qv

passed=0 failed=0 skipped=0 number=0
want_out=/tmp/want.out want_err=/tmp/want.err got_out=/tmp/got.out got_err=/tmp/got.err

# What differs between the boards: the PHY's identifier (registers 2 and 3)
# and its advertisement register after reset.
if [ "$board" = imx6ul ]; then
    phy_id1=7 phy_id2=c0d1 phy_advert=1e1
else
    phy_id1=141 phy_id2=c20 phy_advert=de1
fi

# The address phase 1 leaves in the flash for phase 2 to find.
kept_mac=0a:0b:0c:0d:0e:0f

result() {
    number=$((number + 1))
    echo "$1 $number - $2"
}

# have PROGRAM NAME: true when this build installed PROGRAM; otherwise the
# case NAME is counted as skipped.
have() {
    command -v "$1" >/dev/null 2>&1 && return 0
    skipped=$((skipped + 1))
    result ok "$2 # SKIP $1 is not in this build"
    return 1
}

# check NAME STATUS STDOUT STDERR COMMAND...: runs COMMAND and compares its
# exit status, standard output and standard error with STATUS, STDOUT and
# STDERR (printf %b texts: \n is a newline).
check() {
    local name=$1 status=$2 got
    printf '%b' "$3" >$want_out
    printf '%b' "$4" >$want_err
    shift 4
    "$@" </dev/null >$got_out 2>$got_err
    got=$?
    if [ "$got" = "$status" ] && cmp -s $want_out $got_out && cmp -s $want_err $got_err; then
        passed=$((passed + 1))
        result ok "$name"
        return 0
    fi
    failed=$((failed + 1))
    result "not ok" "$name"
    echo "#   command: $*"
    [ "$got" = "$status" ] || echo "#   exit status $got, expected $status"
    cmp -s $want_out $got_out || diff -u $want_out $got_out | sed 's/^/#   stdout /'
    cmp -s $want_err $got_err || diff -u $want_err $got_err | sed 's/^/#   stderr /'
    return 1
}

# The lines qv_setmac prints while it parses 00:11:22:33:44:55.
mac_lines='mac [0] = [00]\nmac [1] = [11]\nmac [2] = [22]\nmac [3] = [33]\nmac [4] = [44]\nmac [5] = [55]\n'

# The first 112 bytes of the information partition, as od prints them.
flash_head() { od -An -v -tx1 -N 112 /dev/mtd3; }

test_banner_and_board() {
    if have hello "hello prints its banner"; then
        check "hello prints its banner" 0 '>>>>>>>>>>> hello openwrt <<<<<<<<<<<<<<\n' '' hello
    fi
    have boardinfo "boardinfo describes the board" || return 0
    check "boardinfo describes the board" 0 \
'cpu=IMX6UL
hardware_version=GE-K47301T_v1.00-10
product_type=QV-MR16-PL4C2-AX
ports_total=10
ports_optical=2
ports_ether=8
uid=53-20-01-0A-01-10-00-00
cpu_seq=9
[0]: 0:0:0:9
[1]: 0:1:1:10
[2]: 0:1:1:8
[3]: 0:0:2:6
[4]: 0:0:2:7
[5]: 0:0:2:4
[6]: 0:0:2:5
[7]: 0:0:2:2
[8]: 0:0:2:3
[9]: 0:0:2:0
[10]: 0:0:2:1
' '' boardinfo
}

# The record on the board's own flash, which is blank at this point.
test_record() {
    have qv_setmac "the identity record" || return 0
    check "a blank partition shows a zero address" 0 'mac = [00:00:00:00:00:00]\n' '' qv_setmac
    check "an address is stored" 0 "$mac_lines" '' qv_setmac 00-11-22-33-44-55
    check "a later run reads the stored address" 0 'mac = [00:11:22:33:44:55]\n' '' qv_setmac
    # Blank fields were stored as zeros; the rest of the partition is erased.
    check "the record lies at the start of the partition" 0 \
' 00 11 22 33 44 55 00 00 00 00 00 00 00 00 00 00
 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
 00 00 00 00 00 00 00 00 ff ff ff ff ff ff ff ff
' '' flash_head
    # Rejected texts: the byte lines printed before the fault, then the verdict.
    while IFS='|' read -r name text lines; do
        check "$name" 255 "${lines}invalid mac format\n" '' qv_setmac "$text"
    done <<'EOF'
a text that is not an address is rejected|0g:11:22:33:44:55|
a text one digit short is rejected|00:11:22:33:44:5|mac [0] = [00]\nmac [1] = [11]\nmac [2] = [22]\nmac [3] = [33]\nmac [4] = [44]\n
a text of two pairs is rejected|00:11|mac [0] = [00]\nmac [1] = [11]\n
an empty text is rejected||
EOF
    check "a group address is rejected" 255 \
        'mac [0] = [01]\nmac [1] = [00]\nmac [2] = [5e]\nmac [3] = [00]\nmac [4] = [00]\nmac [5] = [01]\ninvalid mac address: multicast\n' \
        '' qv_setmac 01:00:5e:00:00:01
    check "rejected addresses leave the record alone" 0 'mac = [00:11:22:33:44:55]\n' '' qv_setmac
    check "text after the sixth pair is ignored" 0 \
        'mac [0] = [02]\nmac [1] = [00]\nmac [2] = [00]\nmac [3] = [00]\nmac [4] = [00]\nmac [5] = [01]\n' '' \
        qv_setmac 02:00:00:00:00:01:66
    check "so six bytes were stored" 0 'mac = [02:00:00:00:00:01]\n' '' qv_setmac
    check "a new address replaces the old one" 0 \
        'mac [0] = [02]\nmac [1] = [a0]\nmac [2] = [b1]\nmac [3] = [c2]\nmac [4] = [d3]\nmac [5] = [e4]\n' '' \
        qv_setmac 02:A0:b1:C2:d3:E4
    check "a later run reads the new address" 0 'mac = [02:a0:b1:c2:d3:e4]\n' '' qv_setmac
}

# raw_field OFFSET COUNT: bytes of the partition, as they are.
raw_field() { dd if=/dev/mtd3 bs=1 skip="$1" count="$2" 2>/dev/null; }

# The library's field operations through the installed libqvf.so, on the
# record test_record left: address 02:a0:b1:c2:d3:e4, the rest blank.
test_library() {
    have qvf-fields "libqvf's fields" || return 0
    check "the library prints the whole address field" 0 'mac = 02:a0:b1:c2:d3:e4:00:00:\n' '' \
        qvf-fields get mac
    check "a blank unique id reads empty" 0 '\n' '' qvf-fields get uid
    check "a unique id is stored" 0 '' '' qvf-fields set uid 53-20-01-0A-01-10-00-00
    check "a hardware version is stored" 0 '' '' qvf-fields set hdv GE-K47301T_v1.00-10
    check "a product type of the full 32 bytes is stored" 0 '' '' \
        qvf-fields set prdt QV-MR16-PL4C2-AX-0123456789abcde
    check "the unique id reads back" 0 '53-20-01-0A-01-10-00-00\n' '' qvf-fields get uid
    check "a unique id longer than the caller allows is refused" 1 '' '' qvf-fields get uid 22
    check "a unique id as long as the caller allows" 0 '53-20-01-0A-01-10-00-00\n' '' \
        qvf-fields get uid 23
    check "the hardware version reads back" 0 'GE-K47301T_v1.00-10\n' '' qvf-fields get hdv
    check "the product type reads back, all 32 bytes" 0 'QV-MR16-PL4C2-AX-0123456789abcde\n' '' \
        qvf-fields get prdt
    check "storing the other fields keeps the address" 0 'mac = [02:a0:b1:c2:d3:e4]\n' '' qv_setmac
    check "the unique id lies at offset 8" 0 '53-20-01-0A-01-10-00-00' '' raw_field 8 23
    check "the hardware version lies at offset 40" 0 'GE-K47301T_v1.00-10' '' raw_field 40 19
    check "the product type lies at offset 72" 0 'QV-MR16-PL4C2-AX-0123456789abcde' '' raw_field 72 32
    check "storing an address keeps the other fields" 0 "$mac_lines" '' qv_setmac 00:11:22:33:44:55
    check "so the product type is still there" 0 'QV-MR16-PL4C2-AX-0123456789abcde\n' '' \
        qvf-fields get prdt
}

# NAND faults, injected by the simulator; the partition is chip blocks 12
# to 15, its first page chip page 768.
test_nand_faults() {
    have qv_setmac "NAND faults" || return 0
    flash_nand badblocks=13 || return 1
    check "a bad block is reported and skipped" 0 \
        "${mac_lines}\nSkipping bad block at 0x00020000" '' qv_setmac 00:11:22:33:44:55
    check "the record is stored beside a bad block" 0 'mac = [00:11:22:33:44:55]\n' '' qv_setmac

    # The first erase of the partition's first block succeeds, every later one fails.
    flash_nand weakblocks=12:1 || return 1
    check "a store before the erase failure" 0 "$mac_lines" '' qv_setmac 00:11:22:33:44:55
    check "an erase failure is reported, not success" 255 \
        'mac [0] = [02]\nmac [1] = [00]\nmac [2] = [00]\nmac [3] = [00]\nmac [4] = [00]\nmac [5] = [01]\nwrite mac fail\n' \
        'MEMERASE: Input/output error\n' qv_setmac 02:00:00:00:00:01

    flash_nand weakpages=768:0 || return 1
    check "a write failure is reported, not success" 255 "${mac_lines}write mac fail\n" \
        'write: Input/output error\n' qv_setmac 00:11:22:33:44:55
    if have qvf-fields "the library reports a write failure"; then
        check "the library reports a write failure" 1 'write uid fail\n' \
            'write: Input/output error\n' qvf-fields set uid 53-20-01-0A-01-10-00-00
    fi

    flash_nand
}

# phy_down: an eth0 without a PHY, as with a switch whose PHY does not
# answer: the real interface is renamed and a veth takes its name.
phy_down() {
    ip link set eth0 down && ip link set eth0 name ethreal &&
        ip link add eth0 type veth && ip link set eth0 up
}
phy_back() {
    ip link del eth0
    ip link set ethreal name eth0 && ip link set eth0 up
}

test_mdio() {
    have mdiorw "MDIO registers" || return 0
    usage='read: mdiorw [phy addr] [reg addr]\nwrite: mdiorw [phy addr] [reg addr] [reg_val]\n'
    check "mdiorw without arguments shows its usage" 255 "$usage" 'invalid argument !\n' mdiorw
    # Numbers that do not parse end the run before the driver is asked.
    for args in "1 12a" "0x 2" "1 4294967296" "1 0x100000000" "1 2 -1" "1 2 0x1g"; do
        # shellcheck disable=SC2086
        check "mdiorw rejects the number in: $args" 255 '' 'parse argv error !\n' mdiorw $args
    done
    check "the PHY's first identifier register" 0 "dev_addr 1, reg_addr 2\nread data: $phy_id1\n" '' \
        mdiorw 1 2
    check "the PHY's second identifier register, in hex" 0 "dev_addr 1, reg_addr 3\nread data: $phy_id2\n" '' \
        mdiorw 0x1 0X3
    # The MII request carries 16-bit addresses: 65537 reaches the driver as 1.
    check "a PHY address beyond 16 bits is cut to its low bits" 0 \
        "dev_addr 1, reg_addr 2\nread data: $phy_id1\n" '' mdiorw 65537 2
    check "the advertisement register after reset" 0 "dev_addr 1, reg_addr 4\nread data: $phy_advert\n" '' \
        mdiorw 1 4
    # Pause added to what is advertised: a value the PHY and its driver keep.
    check "a register write" 0 '' '' mdiorw 1 4 0x5e1
    check "the written value reads back" 0 'dev_addr 1, reg_addr 4\nread data: 5e1\n' '' mdiorw 1 4
    check "the reset value is written back" 0 '' '' mdiorw 1 4 0x$phy_advert
    check "and reads back" 0 "dev_addr 1, reg_addr 4\nread data: $phy_advert\n" '' mdiorw 1 4

    if [ "$board" = x86 ]; then
        # The e1000 driver refuses writes beyond the 32 clause-22 registers.
        check "a register the driver refuses" 255 '' 'SIOCSMIIREG on eth0 failed: Bad address\n' \
            mdiorw 1 32 0
    else
        # The FEC driver answers no MII request while the interface is down.
        ip link set eth0 down
        check "an interface that is down refuses the PHY" 255 '' \
            'SIOCGMIIPHY on eth0 failed: Operation not supported\nsmi init fail\n' mdiorw 1 2
        ip link set eth0 up
    fi

    phy_down || { result "not ok" "could not make an eth0 without a PHY"; failed=$((failed + 1)); return 1; }
    check "an eth0 without a PHY: read" 255 '' \
        'SIOCGMIIPHY on eth0 failed: Operation not supported\nsmi init fail\n' mdiorw 1 2
    check "an eth0 without a PHY: write" 255 '' \
        'SIOCGMIIPHY on eth0 failed: Operation not supported\nsmi init fail\n' mdiorw 1 4 0x1e1
    phy_back
    check "the PHY answers again" 0 "dev_addr 1, reg_addr 2\nread data: $phy_id1\n" '' mdiorw 1 2
}

# What kez-tool's stand-in library prints is its own; what the tool itself
# prints, and its exit statuses, are checked here.
kez_usage='  Usage: kez-tool [options]\n\tOptions:\n\t-s         Show the mibs describe \n\t-h         Show the kez-tool usage \n\t-a         Display the mac address of the device \n\t-m <port>  Display the MIB Statistics of the select port \n\t-c <port>  Clear the MIB Statistics of the select port \n\t-R         Display the speed on real time(1s) \n\t-g         Display the all of the registers on the device \n\n'

# ends_with_usage FILE: FILE ends with the usage text.
ends_with_usage() {
    local size
    printf '%b' "$kez_usage" >/tmp/usage
    size=$(wc -c </tmp/usage)
    tail -c "$size" "$1" | cmp -s - /tmp/usage
}

# kez CASE STATUS STDERR ARGS...: runs kez-tool; its output goes to
# /tmp/kez.CASE.
kez() {
    local name=$1 status=$2 err=$3 got
    shift 3
    printf '%b' "$err" >$want_err
    kez-tool "$@" >/tmp/kez.$name 2>$got_err
    got=$?
    [ "$got" = "$status" ] && cmp -s $want_err $got_err && return 0
    echo "#   kez-tool $*: exit status $got, stderr:"
    sed 's/^/#   /' $got_err
    return 1
}

# verdict NAME CONDITION...: a case decided by a shell condition.
verdict() {
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        result ok "$name"
    else
        failed=$((failed + 1))
        result "not ok" "$name"
    fi
}

# The stand-in switch on a private state and a fixed clock: the same
# counters as on the PC, whatever the processor.
kez_atu='MAC                Port  State\n01:80:c2:00:00:00     9  static\n02:51:56:00:00:01     9  static\n02:00:00:0a:00:11    10  dynamic\n02:00:00:0a:00:12    10  dynamic\n02:00:00:06:00:21     6  dynamic\n02:00:00:05:00:31     5  dynamic\n02:00:00:01:00:41     1  dynamic\n02:00:00:00:00:51     0  dynamic\n'
kez_port3='switch port 6 (front port 3)\nCounter                     Value\n'
kez_port3_10s="${kez_port3}RxOctets                  8895600\nRxUnicast                   21000\nRxMulticast                   120\nRxBroadcast                    60\nRxFCSErrors                     0\nTxOctets                 12714300\nTxUnicast                   24000\nTxMulticast                   700\nTxBroadcast                   230\n"
kez_port3_clear="${kez_port3}RxOctets                        0\nRxUnicast                       0\nRxMulticast                     0\nRxBroadcast                     0\nRxFCSErrors                     0\nTxOctets                        0\nTxUnicast                       0\nTxMulticast                     0\nTxBroadcast                     0\n"

# kez_at SECONDS ARGS...: kez-tool over the private switch at that clock.
kez_at() {
    local seconds=$1
    shift
    KEZ_SIM_STATE=/tmp/kez.state KEZ_SIM_CLOCK=$seconds kez-tool "$@"
}

switch_counters() {
    rm -f /tmp/kez.state
    check "kez-tool starts the switch and shows nothing of its own" 0 '' '' kez_at 1000
    check "kez-tool -a -m 3: the address table and front port 3's counters" 0 \
        "$kez_atu$kez_port3_10s" '' kez_at 1010 -a -m 3
    check "kez-tool -c 3 clears front port 3" 0 '' '' kez_at 1020 -c 3
    check "the cleared counters stay cleared in a later run" 0 "$kez_port3_clear" '' kez_at 1020 -m 3
    check "a port that is not a number is refused" 255 "$kez_atu" 'invalid port: abc\n' \
        kez_at 1020 -a -c abc
}

switch_atu() { kez atu 0 '' -a -m 1 && [ -s /tmp/kez.atu ]; }
switch_help() { kez help 0 '' -h && ends_with_usage /tmp/kez.help; }
switch_help_atu() { kez helpatu 0 '' -h -a && ! cmp -s /tmp/kez.help /tmp/kez.helpatu; }
switch_bad() {
    kez bad 0 "kez-tool: invalid option -- 'x'\n" -x -a && ends_with_usage /tmp/kez.bad
}
switch_no_port() {
    kez noport 0 "kez-tool: option requires an argument -- 'm'\n" -m && ends_with_usage /tmp/kez.noport
}

# The rate display runs until it is stopped: still running after two
# seconds, with the screen cleared first.
switch_rates() {
    local pid alive=0 clear
    kez-tool -R -g >/tmp/kez.rates 2>&1 &
    pid=$!
    sleep 2
    kill -0 $pid 2>/dev/null && alive=1
    kill $pid 2>/dev/null
    wait $pid 2>/dev/null
    clear=$(printf '\033[2J')
    [ $alive = 1 ] && grep -qF "$clear" /tmp/kez.rates
}

test_switch() {
    have kez-tool "the switch front end" || return 0
    switch_counters
    verdict "kez-tool shows the ATU table and a port's counters" switch_atu
    verdict "kez-tool -h shows the usage" switch_help
    verdict "kez-tool -h -a shows the usage, then the ATU table" switch_help_atu
    verdict "an unknown option shows the usage and stops" switch_bad
    verdict "a missing port shows the usage" switch_no_port
    verdict "kez-tool -R shows the rates until it is stopped" switch_rates
}

if [ "$phase" = 2 ]; then
    have qv_setmac "the address survives a reboot" &&
        check "the address survives a reboot" 0 "mac = [$kept_mac]\n" '' qv_setmac
    have qvf-fields "the product type survives a reboot" &&
        check "the product type survives a reboot" 0 'QV-MR16-PL4C2-AX-0123456789abcde\n' '' \
            qvf-fields get prdt
else
    test_banner_and_board
    test_record
    test_library
    [ "$board" = imx6ul ] && test_nand_faults
    test_mdio
    test_switch
    if [ "$board" = x86 ] && have qv_setmac "an address to keep across a reboot"; then
        check "an address to keep across a reboot" 0 \
            'mac [0] = [0a]\nmac [1] = [0b]\nmac [2] = [0c]\nmac [3] = [0d]\nmac [4] = [0e]\nmac [5] = [0f]\n' '' \
            qv_setmac $kept_mac
    fi
fi

echo "$board: $passed passed, $failed failed, $skipped skipped"
[ $failed -gt 125 ] && failed=125
exit $failed
