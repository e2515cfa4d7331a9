#!/bin/sh
# Usage (on the board): system-tests [PHASE]
#
# Runs our installed programs against the board's real kernel and drivers,
# and compares each run's standard output, standard error and exit status
# with what the device gives. Serves both boards; where their hardware
# differs, so do the expected values. PHASE 2 is the boot after a reboot:
# it checks only that the flash kept what phase 1 stored last, and that the
# boot applied it. The phases
# disk-bad-record, disk-bad-block and disk-lost-writes are boots of the x86
# board whose disk qemu makes fail, slow-disk one whose disk qemu reads
# slowly (see board/system-test).
#
# TAP (tests/lib/checks.sh): one line per case ("ok", "not ok" with the
# differences, or "ok ... # SKIP" for a program this build does not have),
# then the plan and the count. Exit status: the number of failed cases (at
# most 125).
#
# shellcheck disable=SC2317 # many helpers here run only as check's commands

# shellcheck source=board/rootfs/board.sh
. /usr/share/qv/board.sh
# shellcheck source=tests/lib/checks.sh
. /usr/share/qv/checks.sh
phase=${1:-1}
PATH=$PATH:/usr/libexec/qv
checks_start "$(mktemp -d)" "$board"
checks_expected=/usr/share/qv/expected

# What differs between the boards: the PHY's identifier (registers 2 and 3)
# and its advertisement register after reset.
if [ "$board" = imx6ul ]; then
    phy_id1=7 phy_id2=c0d1 phy_advert=1e1
else
    phy_id1=141 phy_id2=c20 phy_advert=de1
fi

# The address phase 1 leaves in the flash for phase 2 to find.
kept_mac=0a:0b:0c:0d:0e:0f

# The lines qv_setmac prints while it parses 00:11:22:33:44:55.
mac_lines='mac [0] = [00]\nmac [1] = [11]\nmac [2] = [22]\nmac [3] = [33]\nmac [4] = [44]\nmac [5] = [55]\n'

# The first 112 bytes of the information partition, as od prints them.
flash_head() { od -An -v -tx1 -N 112 /dev/mtd3; }

test_banner_and_board() {
    if have hello "hello prints its banner"; then
        check "hello prints its banner" 0 "$(expected hello.out)" '' hello
    fi
    have boardinfo "boardinfo describes the board" || return 0
    check "boardinfo describes the board" 0 "$(expected boardinfo.out)" '' boardinfo
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

# Several programs at once on the flash: setters of every field and
# readers, through the installed library. The figures go to the log.
test_concurrency() {
    have qvf-race "concurrent setters and readers" || return 0
    local figures
    figures=$(qvf-race 50 2>&1)
    echo "# $figures"
    case $figures in
    "processes 8, sets 200, reads "*", lost updates 0, blank reads 0") verdict \
        "8 processes at once: no update lost, no field read blank" true ;;
    *) verdict "8 processes at once: no update lost, no field read blank" false ;;
    esac
}

# The fault matrix: every fault the kernel gives against every operation on
# the record, each compared with its exact output and status, and the flash
# afterwards. Each fault starts from the record in /tmp/r0; the writes store
# the values below in this order.
fault_records() {
    zeros() { head -c "$1" /dev/zero; }
    { printf '\002\021\042\063\104\125\000\000'
        printf 'uid-0'; zeros 27; printf 'hdv-0'; zeros 27; printf 'prdt-0'; zeros 26; } >/tmp/r0
    { printf '\002\000\000\000\000\010\000\000'
        printf 'uid-8'; zeros 27; printf 'hdv-8'; zeros 27; printf 'prdt-8'; zeros 26; } >/tmp/r1
}

# The first 16 bytes of the partition: the address field and the start of
# the unique id.
flash_16() { od -An -v -tx1 -N 16 "$node"; }
node=/dev/mtd3
raw_write() { run_as qvf-fields raw write <"$1"; }
# run_as COMMAND...: COMMAND as the user the faults of access are tried
# with: as_uid, or root when that is empty.
run_as() { if [ -n "$as_uid" ]; then as-user "$as_uid" "$@"; else "$@"; fi; }
# page_write FILE: FILE as the first NAND page of the partition, written
# past the library (which erases first).
page_write() {
    { cat "$1"; head -c $((2048 - $(wc -c <"$1"))) /dev/zero | tr '\0' '\377'; } >/tmp/page &&
        dd if=/tmp/page of="$node" bs=2048 count=1 2>/dev/null
}

# What the flash holds after each of the six writes, when they all land.
flash_written='02 00 00 00 00 07 00 00 75 69 64 2d 30 00 00 00
02 00 00 00 00 08 00 00 75 69 64 2d 38 00 00 00
02 00 00 00 00 09 00 00 75 69 64 2d 38 00 00 00
02 00 00 00 00 09 00 00 75 69 64 2d 39 00 00 00
02 00 00 00 00 09 00 00 75 69 64 2d 39 00 00 00
02 00 00 00 00 09 00 00 75 69 64 2d 39 00 00 00'
flash_r0='02 11 22 33 44 55 00 00 75 69 64 2d 30 00 00 00'
flash_blank='ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff'
store_lines='mac [0] = [02]\nmac [1] = [00]\nmac [2] = [00]\nmac [3] = [00]\nmac [4] = [00]\nmac [5] = [07]\n'

# fault_reads FAULT ERROR: the six reads; ERROR is the line they fail with
# on standard error, empty when they work.
fault_reads() {
    local f=$1 err=$2
    if [ -n "$err" ]; then
        check "$f: qv_setmac shows" 255 'qv_raw_read fail\n' "$err" run_as qv_setmac
        check "$f: raw read" 1 '' "$err" run_as qvf-fields raw read
        for field in mac uid hdv prdt; do
            check "$f: get $field" 1 'qv_raw_read fail\n' "$err" run_as qvf-fields get "$field"
        done
        return 0
    fi
    check "$f: qv_setmac shows" 0 'mac = [02:11:22:33:44:55]\n' '' run_as qv_setmac
    check "$f: raw read" 0 "$(od -An -v -tx1 /tmp/r0)\n" '' run_as qvf-fields raw read
    check "$f: get mac" 0 'mac = 02:11:22:33:44:55:00:00:\n' '' run_as qvf-fields get mac
    check "$f: get uid" 0 'uid-0\n' '' run_as qvf-fields get uid
    check "$f: get hdv" 0 'hdv-0\n' '' run_as qvf-fields get hdv
    check "$f: get prdt" 0 'prdt-0\n' '' run_as qvf-fields get prdt
}

# fault_writes FAULT HOW ERROR ERASED FLASH: the six writes. HOW is where
# they fail: "read" (the record read), "write" (the rewrite) or "none";
# ERROR the line on standard error; ERASED what the erase prints on
# standard output first; FLASH the six first-16-byte lines the flash holds
# after each write (none: the flash cannot be read back).
fault_writes() {
    local f=$1 how=$2 err=$3 erased=$4 flash=$5 n=0 status=0 fail='' line
    case $how in
    read) status=1 fail='qv_raw_read fail\n' erased='' ;;
    write) status=1 fail=x ;;
    esac
    # fail_text MESSAGE: the setter's line when the rewrite fails.
    fail_text() { if [ "$fail" = x ]; then printf '%s\\n' "$1"; else printf '%s' "$fail"; fi; }
    write_op() {
        local name=$1 st=$2 out=$3
        shift 3
        n=$((n + 1))
        check "$f: $name" "$st" "$out" "$err" "$@"
        [ -n "$flash" ] || return 0
        line=$(echo "$flash" | sed -n "${n}p")
        check "$f: flash after $name" 0 " $line\n" '' flash_16
    }
    local store_status=0 raw_out=$erased
    [ "$status" = 1 ] && store_status=255
    [ "$how" = read ] && raw_out=''
    write_op "qv_setmac stores" $store_status "$store_lines$erased$(fail_text 'write mac fail')" \
        run_as qv_setmac 02:00:00:00:00:07
    write_op "raw write" $status "$raw_out" raw_write /tmp/r1
    write_op "set mac" $status "$erased$(fail_text 'write mac fail')" run_as qvf-fields set mac 02:00:00:00:00:09
    write_op "set uid" $status "$erased$(fail_text 'write uid fail')" run_as qvf-fields set uid uid-9
    write_op "set hdv" $status "$erased$(fail_text 'write hardware version fail')" \
        run_as qvf-fields set hdv hdv-9
    write_op "set prdt" $status "$erased$(fail_text 'write product type fail')" \
        run_as qvf-fields set prdt prdt-9
}

verify='/dev/mtd3: verify failed: the flash does not hold the record written\n'
bad_record_block="/dev/mtd3: the record's erase block at 0x00000000 is bad\n"
ecc='/dev/mtd3: uncorrectable ECC error\n'

# fault_setters FAULT read ERROR: the four setters, each failing at its read
# of the record with ERROR on standard error.
fault_setters() {
    local f=$1 err=$3
    check "$f: set mac" 1 'qv_raw_read fail\n' "$err" run_as qvf-fields set mac 02:00:00:00:00:09
    check "$f: set uid" 1 'qv_raw_read fail\n' "$err" run_as qvf-fields set uid uid-9
    check "$f: set hdv" 1 'qv_raw_read fail\n' "$err" run_as qvf-fields set hdv hdv-9
    check "$f: set prdt" 1 'qv_raw_read fail\n' "$err" run_as qvf-fields set prdt prdt-9
}

# kept LINE: the same flash line six times.
kept() { for _ in 1 2 3 4 5 6; do echo "$1"; done; }

# fault_start FAULT [ERASED]: stores the starting record, as root.
fault_start() {
    as_uid='' check "$1: the starting record is stored" 0 "${2:-}" '' raw_write /tmp/r0
}

# Faults of access, on both boards: the device missing (its node gone, as
# when the flash driver did not attach), a user other than root without
# access to it, and a device node that user may only read.
test_access_faults() {
    have qvf-fields "faults of access" || return 0
    local denied='/dev/mtd3: Permission denied\n'
    as_uid=''
    fault_start "no fault"
    mv /dev/mtd3 /dev/mtd3.away
    node=/dev/mtd3.away
    fault_reads "missing device" '/dev/mtd3: No such file or directory\n'
    fault_writes "missing device" read '/dev/mtd3: No such file or directory\n' '' "$(kept "$flash_r0")"
    mv /dev/mtd3.away /dev/mtd3
    node=/dev/mtd3
    as_uid=1000
    fault_reads "no permission" "$denied"
    fault_writes "no permission" read "$denied" '' "$(kept "$flash_r0")"
    chmod 444 /dev/mtd3
    fault_reads "read-only device node" ''
    fault_writes "read-only device node" write "$denied" '' "$(kept "$flash_r0")"
    chmod 600 /dev/mtd3
    as_uid=''
    check "after the faults of access, the record is the one stored" 0 \
        'mac = [02:11:22:33:44:55]\n' '' qv_setmac
}

# NAND faults, injected by the simulator, each on a chip of its own; the
# partition is chip blocks 12 to 15, its first page chip page 768.
test_nand_faults() {
    have qvf-fields "NAND faults" || return 0
    local skip1='\nSkipping bad block at 0x00020000'
    local f
    as_uid=''
    f="bad block"
    flash_nand badblocks=13 || return 1
    fault_start "$f" "$skip1"
    fault_reads "$f" ''
    fault_writes "$f" none '' "$skip1" "$flash_written"
    check "$f: a read afterwards" 0 'mac = [02:00:00:00:00:09]\n' '' qv_setmac

    # The record's own block gone bad after the record was written: its
    # erase would be skipped and the new record programmed over the old one,
    # leaving neither readable. Every store is refused before anything is
    # erased, and the record stays as it was.
    f="bad block under the record"
    flash_nand badblocks=12 || return 1
    check "$f: the starting record, programmed into its page" 0 '' '' page_write /tmp/r0
    fault_reads "$f" ''
    fault_writes "$f" write "$bad_record_block" '' "$(kept "$flash_r0")"
    # shellcheck disable=SC2086 # the assignments' words
    have qv_info "$f: qv_info sets" &&
        check "$f: qv_info sets" 255 '' "${bad_record_block}qv_info: the record on /dev/mtd3 was not stored\n" \
            qv_info set $info_fields

    # The first erase of the record's block succeeds, every later one fails
    # (after the simulator has erased it: the old record is gone).
    f="failing erase"
    flash_nand weakblocks=12:1 || return 1
    fault_start "$f"
    fault_reads "$f" ''
    fault_writes "$f" write 'MEMERASE: Input/output error\n' '' "$(kept "$flash_blank")"
    check "$f: a read afterwards gives zeros" 0 'mac = [00:00:00:00:00:00]\n' '' qv_setmac

    # Every program of the record's page fails; the simulator has written
    # the page before it reports the failure.
    f="failing page write"
    flash_nand weakpages=768:0 || return 1
    check "$f: the starting record is reported not written" 1 '' 'write: Input/output error\n' \
        raw_write /tmp/r0
    fault_reads "$f" ''
    fault_writes "$f" write 'write: Input/output error\n' '' "$flash_written"
    check "$f: a read afterwards" 0 'mac = [02:00:00:00:00:09]\n' '' qv_setmac

    # A page that loses its data once it has been read: every later read
    # gets bytes that the ECC cannot mend. The MTD character device hands
    # them over without an error; the driver's count of such reads tells,
    # and every read reports the record unreadable. A raw write's read-back
    # finds the page no better.
    f="page that loses its data"
    flash_nand gravepages=768:2 || return 1
    fault_start "$f"
    fault_reads "$f" "$ecc"
    check "$f: qv_setmac stores" 255 "${store_lines}qv_raw_read fail\n" "$ecc" qv_setmac 02:00:00:00:00:07
    check "$f: raw write" 1 '' "$verify" raw_write /tmp/r1
    fault_setters "$f" read "$ecc"

    flash_nand
}

# The NAND simulator made to busy-wait half a second for each block it
# erases.
test_slow_nand() {
    flash_nand do_delays=1 erase_delay=500 || return 1
    test_stopped_stores
    flash_nand
}

# The NOR-like board's disk made read-only: block2mtd does not attach to
# it, so the programs find no device, and the record is there again once
# the disk is writable.
test_write_protected_disk() {
    have qv_setmac "a write-protected disk" || return 0
    fault_start "write-protected disk"
    flash_off
    blockdev --setro /dev/vda
    modprobe block2mtd block2mtd=/dev/vda,128KiB
    check "write-protected disk: no flash device" 1 '' '' test -e /dev/mtd3
    check "write-protected disk: qv_setmac shows" 255 'qv_raw_read fail\n' \
        '/dev/mtd3: No such file or directory\n' qv_setmac
    blockdev --setrw /dev/vda
    flash_nor || return 1
    check "write-protected disk: the record is kept" 0 " $flash_r0\n" '' flash_16
}

# The whole record in one store, read back by every other reader of it;
# a factory file stored into an image made offline; the record as rpcd's
# plugin gives it to ubus.
info_fields='mac=02:11:22:33:44:66 uid=SN-0042 hdv=rev-B prdt=QV-MR16-PL4C2-AX'
info_shown='mac=02:11:22:33:44:66\nuid=SN-0042\nhdv=rev-B\nprdt=QV-MR16-PL4C2-AX\n'
info_json='{"mac":"02:11:22:33:44:66","uid":"SN-0042","hdv":"rev-B","prdt":"QV-MR16-PL4C2-AX"}'
plugin=/usr/libexec/rpcd/qvboard
rpcd_call() { echo '{}' | $plugin call identity; }
image_size() { wc -c </tmp/image; }
test_info() {
    have qv_info "qv_info" || return 0
    # shellcheck disable=SC2086 # the assignments' words
    check "qv_info sets all four fields at once" 0 '' '' qv_info set $info_fields
    check "qv_info shows them" 0 "$info_shown" '' qv_info show
    check "qv_info shows them as JSON" 0 "$info_json\n" '' qv_info show -j
    check "qv_info finds the record provisioned" 0 '' '' qv_info verify
    check "qv_setmac reads the address" 0 'mac = [02:11:22:33:44:66]\n' '' qv_setmac
    if have qvf-fields "the library reads the texts"; then
        check "the library reads the unique id" 0 'SN-0042\n' '' qvf-fields get uid
        check "the library reads the hardware version" 0 'rev-B\n' '' qvf-fields get hdv
        check "the library reads the product type" 0 'QV-MR16-PL4C2-AX\n' '' qvf-fields get prdt
    fi
    check "qv_info refuses a multicast address" 2 '' 'qv_info: mac: multicast address\n' \
        qv_info set mac=01:00:5e:00:00:01
    check "the refused set left the record" 0 '02:11:22:33:44:66\n' '' qv_info get mac
    rm -f /tmp/image
    printf '# line 7\r\nmac=02:00:00:00:07:01\r\nuid=SN 7\nhdv=rev-C\nprdt=QV' >/tmp/factory
    check "qv_info makes an image from a factory file" 0 '' '' qv_info -d /tmp/image set -f /tmp/factory
    check "the image holds the record alone" 0 '104\n' '' image_size
    check "qv_info reads the image" 0 'mac=02:00:00:00:07:01\nuid=SN 7\nhdv=rev-C\nprdt=QV\n' '' \
        qv_info -d /tmp/image
    check "rpcd's plugin lists identity" 0 '{"identity":{}}\n' '' $plugin list
    check "rpcd's plugin gives the record" 0 "${info_json%\}},\"provisioned\":true}\n" '' rpcd_call
    check "qv_info clears a field of the image" 0 '' '' qv_info -d /tmp/image set uid=
    check "qv_info verify names what is missing" 1 'uid: not set\n' '' qv_info -d /tmp/image verify
    # shellcheck disable=SC2086 # the assignments' words
    check "qv_info makes nothing where a flash device is missing" 255 '' '/dev/mtd15: No such file or directory\n' \
        qv_info -d /dev/mtd15 set $info_fields
    verdict "no file was made in /dev" test ! -e /dev/mtd15
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
    mdiorw_refusals
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

    phy_down || { fail "could not make an eth0 without a PHY"; return 1; }
    check "an eth0 without a PHY: read" 255 '' \
        'SIOCGMIIPHY on eth0 failed: Operation not supported\nsmi init fail\n' mdiorw 1 2
    check "an eth0 without a PHY: write" 255 '' \
        'SIOCGMIIPHY on eth0 failed: Operation not supported\nsmi init fail\n' mdiorw 1 4 0x1e1
    phy_back
    check "the PHY answers again" 0 "dev_addr 1, reg_addr 2\nread data: $phy_id1\n" '' mdiorw 1 2
}

# What kez-tool's stand-in library prints is its own; what the tool itself
# prints, and its exit statuses, are checked here.
# ends_with_usage FILE: FILE ends with the usage text.
ends_with_usage() {
    local usage="$checks_expected/kez-tool-usage.out"
    tail -c "$(wc -c <"$usage")" "$1" | cmp -s - "$usage"
}

# kez CASE STATUS STDERR ARGS...: runs kez-tool; its output goes to
# /tmp/kez.CASE.
kez() {
    local name="$1" status="$2" err="$3" got
    shift 3
    printf '%b' "$err" >"$checks_dir/kez.want"
    kez-tool "$@" >"/tmp/kez.$name" 2>"$checks_dir/kez.err"
    got=$?
    [ "$got" = "$status" ] && cmp -s "$checks_dir/kez.want" "$checks_dir/kez.err" && return 0
    echo "#   kez-tool $*: exit status $got, stderr:"
    sed 's/^/#   /' "$checks_dir/kez.err"
    return 1
}

# The stand-in switch on a private state and a fixed clock: the same
# counters as on the PC, whatever the processor.
kez_atu=$(expected kez-atu.out)
kez_port3='switch port 6 (front port 3)\nCounter                     Value\n'
kez_port3_10s=$(expected kez-port3-after-10s.out)
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
    kill -0 "$pid" 2>/dev/null && alive=1
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    clear=$(printf '\033[2J')
    [ "$alive" = 1 ] && grep -qF "$clear" /tmp/kez.rates
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

# stopped_store NAME COMMAND...: runs the store COMMAND in the background
# and sends it SIGTERM as soon as the partition's first bytes read erased,
# that is in the middle of its erase. It must still end by the signal (143
# from the shell). The flash is read from the disk, not the page cache, so
# that block2mtd's erase has to read every page.
stopped_store() {
    local name=$1 pid n=0 caught=0 status
    shift
    sync
    echo 3 >/proc/sys/vm/drop_caches
    "$@" </dev/null >/dev/null 2>&1 &
    pid=$!
    while [ $n -lt 10000 ] && kill -0 $pid 2>/dev/null; do
        case $(od -An -tx1 -N 8 /dev/mtd3) in
        *"ff ff ff ff ff ff ff ff"*)
            kill -TERM $pid 2>/dev/null && caught=1
            break
            ;;
        esac
        n=$((n + 1))
    done
    wait $pid 2>/dev/null
    status=$?
    [ $caught = 1 ] || echo "#   $*: its erase was not seen (exit status $status)"
    verdict "$name, stopped by SIGTERM in its erase, ends by the signal" [ "$caught:$status" = 1:143 ]
}

# A store stopped in the middle of its erase, on a flash slowed so that an
# erase takes seconds: the signal waits until the new record is written
# and verified, and then ends the program; the next reader finds the new
# record, not a blank partition.
test_stopped_stores() {
    have qvf-fields "stores stopped by a signal" || return 0
    local f="slow flash"
    as_uid=''
    fault_start "$f"
    stopped_store "$f: qv_setmac stores" qv_setmac 02:00:00:00:00:07
    check "$f: qv_setmac's address was stored all the same" 0 'mac = [02:00:00:00:00:07]\n' '' qv_setmac
    stopped_store "$f: set uid" qvf-fields set uid uid-9
    check "$f: the unique id was stored all the same" 0 'uid-9\n' '' qvf-fields get uid
    check "$f: and the record keeps the address" 0 'mac = [02:00:00:00:00:07]\n' '' qv_setmac
    have qv_info "$f: qv_info sets four fields" || return 0
    # shellcheck disable=SC2086 # the assignments' words
    stopped_store "$f: qv_info sets four fields" qv_info set $info_fields
    check "$f: the four fields were stored all the same" 0 "$info_shown" '' qv_info
}

# Standard output that takes nothing: a full device, and a pipe whose
# reader has gone while SIGPIPE is ignored (as services and some shells run
# programs; the shell makes the pipe with nobody left to read it).
full_device() { "$@" >/dev/full; }
closed_pipe() {
    rm -f /tmp/nobody && mkfifo /tmp/nobody || return 99
    (
        trap '' PIPE
        # shellcheck disable=SC2094 # both ends of the fifo, on purpose
        exec 4<>/tmp/nobody 3>/tmp/nobody 4<&-
        "$@" >&3 3>&-
    )
}
# The rate display, which stops once a refresh cannot be written (else
# timeout ends it with SIGTERM after 20 seconds).
rates() { KEZ_SIM_STATE=/tmp/kez.state KEZ_SIM_CLOCK=1000 timeout 20 kez-tool -R; }

# Every program's output that cannot be written fails the run: one line on
# standard error, status 255.
test_unwritten_output() {
    local output to error
    for output in full_device closed_pipe; do
        to="a full device" error="No space left on device"
        [ $output = closed_pipe ] && to="a closed pipe" error="Broken pipe"
        while IFS='|' read -r program name err command; do
            have "$program" "$name to $to" || continue
            # shellcheck disable=SC2086 # the command's words
            check "$name to $to" 255 '' "$err$program: write error: $error\n" $output $command
        done <<'EOF'
hello|hello's banner||hello
boardinfo|boardinfo's description||boardinfo
qv_setmac|qv_setmac's address||qv_setmac
qv_info|qv_info's record||qv_info
mdiorw|mdiorw's register||mdiorw 1 2
mdiorw|mdiorw's usage|invalid argument !\n|mdiorw
kez-tool|kez-tool's usage||kez-tool -h
kez-tool|kez-tool's rate display||rates
EOF
    done
}

# Programs run by a user other than root, as a service started without root
# would run them.
test_other_user() {
    # Without CAP_NET_ADMIN the kernel refuses the MII requests, reads too,
    # before the driver sees them; neither board's driver has the older
    # private requests, and the error of that second request is the one told.
    if have mdiorw "mdiorw as a user other than root"; then
        local refused='SIOCGMIIPHY on eth0 failed: Operation not supported\nsmi init fail\n'
        check "mdiorw as a user other than root: read" 255 '' "$refused" as-user 65534 mdiorw 1 2
        check "mdiorw as a user other than root: write" 255 '' "$refused" as-user 65534 mdiorw 1 4 0x5e1
        check "the register that user could not write" 0 \
            "dev_addr 1, reg_addr 4\nread data: $phy_advert\n" '' mdiorw 1 4
    fi
    # The stand-in switch keeps a state of each user's own: root's runs
    # above left theirs on the default path, and another user's runs work
    # beside it.
    if have kez-tool "kez-tool as a user other than root"; then
        unset XDG_RUNTIME_DIR
        check "kez-tool -c 3 as root, on the default state" 0 '' '' kez-tool -c 3
        check "kez-tool -c 3 as a user other than root, after root" 0 '' '' as-user 1000 kez-tool -c 3
    fi
}

# Faults of the disk under the x86 board's flash, each in a boot of its own
# (board/system-test has qemu fail the disk), on the record phases 1 and 2
# left.
kept_record='mac = [0a:0b:0c:0d:0e:0f]\n'
eio='Input/output error\n'

# The record's own sector cannot be read.
test_disk_bad_record() {
    f="unreadable record"
    check "$f: qv_setmac shows" 255 'qv_raw_read fail\n' "read: $eio" qv_setmac
    check "$f: raw read" 1 '' "read: $eio" qvf-fields raw read
    check "$f: get prdt" 1 'qv_raw_read fail\n' "read: $eio" qvf-fields get prdt
    check "$f: qv_setmac stores" 255 "${store_lines}qv_raw_read fail\n" "read: $eio" \
        qv_setmac 02:00:00:00:00:07
    check "$f: set uid" 1 'qv_raw_read fail\n' "read: $eio" qvf-fields set uid uid-9
    check "$f: raw write" 1 '' "MEMERASE: $eio" raw_write /tmp/r1
    check "$f: still unreadable" 255 'qv_raw_read fail\n' "read: $eio" qv_setmac
}

# The second erase block cannot be read, so block2mtd cannot erase it;
# the first one it has erased by then.
test_disk_bad_block() {
    f="erase block that cannot be erased"
    check "$f: qv_setmac shows" 0 "$kept_record" '' qv_setmac
    check "$f: get prdt" 0 'QV-MR16-PL4C2-AX-0123456789abcde\n' '' qvf-fields get prdt
    check "$f: qv_setmac stores" 255 "${store_lines}write mac fail\n" "MEMERASE: $eio" \
        qv_setmac 02:00:00:00:00:07
    check "$f: flash after qv_setmac stores" 0 " $flash_blank\n" '' flash_16
    check "$f: the old address is gone" 0 'mac = [00:00:00:00:00:00]\n' '' qv_setmac
    check "$f: raw write" 1 '' "MEMERASE: $eio" raw_write /tmp/r1
    check "$f: set uid" 1 'write uid fail\n' "MEMERASE: $eio" qvf-fields set uid uid-9
    check "$f: flash afterwards" 0 " $flash_blank\n" '' flash_16
    # Started with standard streams closed, the programs must not open the
    # flash in their place: the erase's message would be written into it.
    check "$f: raw write, stderr closed" 1 '' '' without_stderr raw_write /tmp/r1
    check "$f: qv_setmac stores, stdout and stderr closed" 255 '' '' without_output \
        qv_setmac 02:00:00:00:00:07
    check "$f: flash after the closed streams" 0 " $flash_blank\n" '' flash_16
}
without_stderr() { "$@" 2>&-; }
without_output() { "$@" >&- 2>&-; }

# Every write to the disk fails. block2mtd writes through the page cache,
# and the write-back's failure reaches no program.
test_disk_lost_writes() {
    f="disk that loses writes"
    check "$f: qv_setmac stores, and reports success" 0 "$store_lines" '' qv_setmac 02:00:00:00:00:07
    check "$f: the address reads back from the cache" 0 'mac = [02:00:00:00:00:07]\n' '' qv_setmac
    # The kernel remembers the failed write-back: once the cache is dropped,
    # the next read of the page fails. (board/system-test finds the old
    # record still in the disk's image.)
    sync
    echo 3 >/proc/sys/vm/drop_caches
    check "$f: the next read, without the cache" 255 'qv_raw_read fail\n' "read: $eio" qv_setmac
}

# The record applied at boot: board.sh's preinit ran the hook
# /lib/preinit/01_qv_identity before eth0 came up. Phase 1 starts from a
# blank flash; phase 2 from the record phase 1 left, whose address differs
# from the one qemu gives the NIC.
eth0_mac() { cat /sys/class/net/eth0/address; }
boot_log() { dmesg | sed -n 's/^\[[ 0-9.]*\] \(qv_identity: \)/\1/p'; }
test_identity_at_boot() {
    have qv_info "the record applied at boot" || return 0
    if [ "$phase" = 2 ]; then
        check "at boot, eth0 took the record's address" 0 "$kept_mac\n" '' eth0_mac
        check "at boot, the product type became the model" 0 'QV-MR16-PL4C2-AX-0123456789abcde\n' '' \
            cat /tmp/sysinfo/model
        check "at boot, nothing was left to the driver or to OpenWrt" 0 '' '' boot_log
        return 0
    fi
    check "a blank record at boot: eth0 keeps the address qemu gives it" 0 "$nic_mac\n" '' eth0_mac
    check "a blank record at boot: the kernel log says what was left and why" 0 \
        "qv_identity: eth0's address left to the driver and the model left to OpenWrt: mac: not set; prdt: not set\n" \
        '' boot_log
}

# end_phase: the plan and the count; the failures are the exit status.
end_phase() {
    checks_done
    exit $((failed < 125 ? failed : 125))
}

case $phase in
slow-disk)
    fault_records
    test_stopped_stores
    end_phase
    ;;
disk-bad-record | disk-bad-block | disk-lost-writes)
    fault_records
    if have qvf-fields "faults of the disk"; then
        case $phase in
        disk-bad-record) test_disk_bad_record ;;
        disk-bad-block) test_disk_bad_block ;;
        *) test_disk_lost_writes ;;
        esac
    fi
    end_phase
    ;;
esac

if [ "$phase" = 2 ]; then
    test_identity_at_boot
    have qv_setmac "the address survives a reboot" &&
        check "the address survives a reboot" 0 "mac = [$kept_mac]\n" '' qv_setmac
    have qvf-fields "the product type survives a reboot" &&
        check "the product type survives a reboot" 0 'QV-MR16-PL4C2-AX-0123456789abcde\n' '' \
            qvf-fields get prdt
else
    test_identity_at_boot
    test_banner_and_board
    test_record
    test_library
    test_info
    test_concurrency
    fault_records
    test_access_faults
    if [ "$board" = imx6ul ]; then
        test_nand_faults
        test_slow_nand
    else
        test_write_protected_disk
    fi
    test_mdio
    test_switch
    test_unwritten_output
    test_other_user
    if have qvf-fields "a product type to keep across a reboot"; then
        check "a product type to keep across a reboot" 0 '' '' \
            qvf-fields set prdt QV-MR16-PL4C2-AX-0123456789abcde
    fi
    if have qv_setmac "an address to keep across a reboot"; then
        check "an address to keep across a reboot" 0 \
            'mac [0] = [0a]\nmac [1] = [0b]\nmac [2] = [0c]\nmac [3] = [0d]\nmac [4] = [0e]\nmac [5] = [0f]\n' '' \
            qv_setmac $kept_mac
    fi
fi

end_phase
