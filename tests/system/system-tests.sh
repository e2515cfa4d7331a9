#!/bin/sh
# Usage (on the board): system-tests [PHASE]
#
# Runs our installed programs against the board's real kernel and drivers,
# and compares each run's standard output, standard error and exit status
# with what the device gives: every program's case table (tests/cases, on
# the board /usr/share/qv/cases), and what needs a real kernel. Serves both
# boards; where their hardware differs, so do the expected values. PHASE 1
# starts from a blank flash and ends by storing the record kept_fields
# says; every other phase starts from that record, which board/system-test
# seeds: PHASE 2 checks that the boot applied it. The phases
# disk-bad-record, disk-bad-block and disk-lost-writes are boots of the x86
# board whose disk qemu makes fail, slow-disk one whose disk qemu reads
# slowly (see board/system-test). Each part of a phase that needs a record
# stores it first.
#
# TAP (tests/lib/checks.sh): one line per case ("ok", "not ok" with the
# differences, or "ok ... # SKIP" with the reason, such as a program this
# build does not have), then the plan. Exit status: the number of failed
# cases (at most 125).
#
# shellcheck disable=SC2317 # many helpers here run only as checks_run's commands

# shellcheck source=board/rootfs/hardware.sh
. /usr/share/qv/hardware.sh
# shellcheck source=tests/lib/checks.sh
. /usr/share/qv/checks.sh
phase=${1:-1}
PATH=$PATH:/usr/libexec/qv
checks_start "$(mktemp -d)"
checks_expected=/usr/share/qv/expected
# Both boards store, have their PHY at address 1, glibc and the stand-in
# switch library.
checks_can="record store phy1 sim silent glibc fifo timeout"

# What differs between the boards: the PHY's identifier (registers 2 and 3)
# and its advertisement register after reset.
if [ "$board" = imx6ul ]; then
    phy_id1=7 phy_id2=c0d1 phy_advert=1e1
else
    phy_id1=141 phy_id2=c20 phy_advert=de1
fi

# The record phase 1 stores last and the other phases start from (the seed
# of board/system-test).
kept_mac=0a:0b:0c:0d:0e:0f kept_prdt=QV-MR16-PL4C2-AX-0123456789abcde
kept_fields="mac=$kept_mac uid=SN-kept hdv=rev-kept prdt=$kept_prdt"

# The lines qv_setmac prints while it parses 00:11:22:33:44:55.
mac_lines='mac [0] = [00]\nmac [1] = [11]\nmac [2] = [22]\nmac [3] = [33]\nmac [4] = [44]\nmac [5] = [55]\n'

# The record on the board's own flash, which is blank at this point.
test_record() {
    checks_have qv_setmac "the identity record" || return 0
    checks_run "a blank partition shows a zero address" 0 'mac = [00:00:00:00:00:00]\n' '' qv_setmac
    checks_run "an address is stored" 0 "$mac_lines" '' qv_setmac 00-11-22-33-44-55
    checks_run "a later run reads the stored address" 0 'mac = [00:11:22:33:44:55]\n' '' qv_setmac
    # Blank fields were stored as zeros; the rest of the partition is erased.
    checks_run "the record lies at the start of the partition" 0 \
        "$({ checks_record 00:11:22:33:44:55 '' '' '' && checks_erased 8; } >/tmp/head && checks_escaped /tmp/head)" \
        '' head -c 112 /dev/mtd3
}

# The library's field operations through the installed libqvf.so, on a
# record with an address and nothing else, whose address qv_setmac replaces.
test_library() {
    checks_have qvf-fields "libqvf's fields" && checks_have qv_setmac "libqvf's fields" || return 0
    qv_info -d /tmp/lib set mac=00:11:22:33:44:55 && raw_write /tmp/lib
    checks_run "a new address replaces the old one" 0 \
        'mac [0] = [02]\nmac [1] = [a0]\nmac [2] = [b1]\nmac [3] = [c2]\nmac [4] = [d3]\nmac [5] = [e4]\n' '' \
        qv_setmac 02:A0:b1:C2:d3:E4
    checks_run "the library prints the whole address field" 0 'mac = 02:a0:b1:c2:d3:e4:00:00:\n' '' \
        qvf-fields get mac
    checks_run "a blank unique id reads empty" 0 '\n' '' qvf-fields get uid
    checks_run "a unique id is stored" 0 '' '' qvf-fields set uid 53-20-01-0A-01-10-00-00
    checks_run "a hardware version is stored" 0 '' '' qvf-fields set hdv GE-K47301T_v1.00-10
    checks_run "a product type of the full 32 bytes is stored" 0 '' '' qvf-fields set prdt "$kept_prdt"
    checks_run "the unique id reads back" 0 '53-20-01-0A-01-10-00-00\n' '' qvf-fields get uid
    checks_run "a unique id longer than the caller allows is refused" 1 '' '' qvf-fields get uid 22
    checks_run "a unique id as long as the caller allows" 0 '53-20-01-0A-01-10-00-00\n' '' \
        qvf-fields get uid 23
    checks_run "the hardware version reads back" 0 'GE-K47301T_v1.00-10\n' '' qvf-fields get hdv
    checks_run "the product type reads back, all 32 bytes" 0 "$kept_prdt\n" '' qvf-fields get prdt
    checks_run "storing the other fields keeps the address" 0 'mac = [02:a0:b1:c2:d3:e4]\n' '' qv_setmac
    checks_run "storing an address keeps the other fields" 0 "$mac_lines" '' qv_setmac 00:11:22:33:44:55
    checks_run "so the product type is still there" 0 "$kept_prdt\n" '' qvf-fields get prdt
}

# Several programs at once on the flash: setters of every field and
# readers, through the installed library. The figures go to the log.
test_concurrency() {
    checks_have qvf-race "concurrent setters and readers" || return 0
    local figures
    figures=$(qvf-race 50 2>&1)
    echo "# $figures"
    checks_verdict "8 processes at once: no update lost, no field read blank" \
        [ -z "${figures#processes 8, sets 200, reads *, lost updates 0, blank reads 0}" ]
}

# The fault matrix: every fault the kernel gives against every operation on
# the record, each compared with its exact output and status, and the flash
# afterwards. Each fault starts from the record in /tmp/r0; the writes store
# the values below in this order.
fault_records() {
    qv_info -d /tmp/r0 set mac=02:11:22:33:44:55 uid=uid-0 hdv=hdv-0 prdt=prdt-0 &&
        qv_info -d /tmp/r1 set mac=02:00:00:00:00:08 uid=uid-8 hdv=hdv-8 prdt=prdt-8
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
    { cat "$1" && checks_erased $((2048 - $(wc -c <"$1"))); } >/tmp/page &&
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
        checks_run "$f: qv_setmac shows" 255 'qv_raw_read fail\n' "$err" run_as qv_setmac
        checks_run "$f: raw read" 1 '' "$err" run_as qvf-fields raw read
        for field in mac uid hdv prdt; do
            checks_run "$f: get $field" 1 'qv_raw_read fail\n' "$err" run_as qvf-fields get "$field"
        done
        return 0
    fi
    checks_run "$f: qv_setmac shows" 0 'mac = [02:11:22:33:44:55]\n' '' run_as qv_setmac
    checks_run "$f: raw read" 0 "$(od -An -v -tx1 /tmp/r0)\n" '' run_as qvf-fields raw read
    checks_run "$f: get mac" 0 'mac = 02:11:22:33:44:55:00:00:\n' '' run_as qvf-fields get mac
    for field in uid hdv prdt; do
        checks_run "$f: get $field" 0 "$field-0\n" '' run_as qvf-fields get $field
    done
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
        checks_run "$f: $name" "$st" "$out" "$err" "$@"
        [ -n "$flash" ] || return 0
        line=$(echo "$flash" | sed -n "${n}p")
        checks_run "$f: flash after $name" 0 " $line\n" '' flash_16
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
    for value in mac=02:00:00:00:00:09 uid=uid-9 hdv=hdv-9 prdt=prdt-9; do
        checks_run "$f: set ${value%%=*}" 1 'qv_raw_read fail\n' "$err" run_as qvf-fields set "${value%%=*}" "${value#*=}"
    done
}

# kept LINE: the same flash line six times.
kept() { for _ in 1 2 3 4 5 6; do echo "$1"; done; }

# fault_start FAULT [ERASED]: stores the starting record, as root.
fault_start() {
    as_uid='' checks_run "$1: the starting record is stored" 0 "${2:-}" '' raw_write /tmp/r0
}

# Faults of access, on both boards: the device missing (its node gone, as
# when the flash driver did not attach), a user other than root without
# access to it, and a device node that user may only read.
test_access_faults() {
    checks_have qvf-fields "faults of access" || return 0
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
    checks_run "after the faults of access, the record is the one stored" 0 \
        'mac = [02:11:22:33:44:55]\n' '' qv_setmac
}

# NAND faults, injected by the simulator, each on a chip of its own; the
# partition is chip blocks 12 to 15, its first page chip page 768.
test_nand_faults() {
    checks_have qvf-fields "NAND faults" || return 0
    local skip1='\nSkipping bad block at 0x00020000'
    local f
    as_uid=''
    f="bad block"
    flash_nand badblocks=13 || return 1
    fault_start "$f" "$skip1"
    fault_reads "$f" ''
    fault_writes "$f" none '' "$skip1" "$flash_written"
    checks_run "$f: a read afterwards" 0 'mac = [02:00:00:00:00:09]\n' '' qv_setmac

    # The record's own block gone bad after the record was written: its
    # erase would be skipped and the new record programmed over the old one,
    # leaving neither readable. Every store is refused before anything is
    # erased, and the record stays as it was.
    f="bad block under the record"
    flash_nand badblocks=12 || return 1
    checks_run "$f: the starting record, programmed into its page" 0 '' '' page_write /tmp/r0
    fault_reads "$f" ''
    fault_writes "$f" write "$bad_record_block" '' "$(kept "$flash_r0")"
    # shellcheck disable=SC2086 # the assignments' words
    checks_have qv_info "$f: qv_info sets" &&
        checks_run "$f: qv_info sets" 255 '' "${bad_record_block}qv_info: the record on /dev/mtd3 was not stored\n" \
            qv_info set $info_fields

    # The first erase of the record's block succeeds, every later one fails
    # (after the simulator has erased it: the old record is gone).
    f="failing erase"
    flash_nand weakblocks=12:1 || return 1
    fault_start "$f"
    fault_reads "$f" ''
    fault_writes "$f" write 'MEMERASE: Input/output error\n' '' "$(kept "$flash_blank")"
    checks_run "$f: a read afterwards gives zeros" 0 'mac = [00:00:00:00:00:00]\n' '' qv_setmac

    # Every program of the record's page fails; the simulator has written
    # the page before it reports the failure.
    f="failing page write"
    flash_nand weakpages=768:0 || return 1
    checks_run "$f: the starting record is reported not written" 1 '' 'write: Input/output error\n' \
        raw_write /tmp/r0
    fault_reads "$f" ''
    fault_writes "$f" write 'write: Input/output error\n' '' "$flash_written"
    checks_run "$f: a read afterwards" 0 'mac = [02:00:00:00:00:09]\n' '' qv_setmac

    # A page that loses its data once it has been read: every later read
    # gets bytes that the ECC cannot mend. The MTD character device hands
    # them over without an error; the driver's count of such reads tells,
    # and every read reports the record unreadable. A raw write's read-back
    # finds the page no better.
    f="page that loses its data"
    flash_nand gravepages=768:2 || return 1
    fault_start "$f"
    fault_reads "$f" "$ecc"
    checks_run "$f: qv_setmac stores" 255 "${store_lines}qv_raw_read fail\n" "$ecc" qv_setmac 02:00:00:00:00:07
    checks_run "$f: raw write" 1 '' "$verify" raw_write /tmp/r1
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
    checks_have qv_setmac "a write-protected disk" || return 0
    fault_start "write-protected disk"
    flash_off
    blockdev --setro /dev/vda
    modprobe block2mtd block2mtd=/dev/vda,128KiB
    checks_run "write-protected disk: no flash device" 1 '' '' test -e /dev/mtd3
    checks_run "write-protected disk: qv_setmac shows" 255 'qv_raw_read fail\n' \
        '/dev/mtd3: No such file or directory\n' qv_setmac
    blockdev --setrw /dev/vda
    flash_nor || return 1
    checks_run "write-protected disk: the record is kept" 0 " $flash_r0\n" '' flash_16
}

# The whole record in one store, read back by every other reader of it; the
# record as rpcd's plugin gives it to ubus.
info_fields='mac=02:11:22:33:44:66 uid=SN-0042 hdv=rev-B prdt=QV-MR16-PL4C2-AX'
info_shown='mac=02:11:22:33:44:66\nuid=SN-0042\nhdv=rev-B\nprdt=QV-MR16-PL4C2-AX\n'
info_json='{"mac":"02:11:22:33:44:66","uid":"SN-0042","hdv":"rev-B","prdt":"QV-MR16-PL4C2-AX"}'
plugin=/usr/libexec/rpcd/qvboard
rpcd_call() { echo '{}' | $plugin call identity; }
test_info() {
    checks_have qv_info "qv_info" || return 0
    # shellcheck disable=SC2086 # the assignments' words
    checks_run "qv_info sets all four fields at once" 0 '' '' qv_info set $info_fields
    checks_run "qv_info shows them" 0 "$info_shown" '' qv_info show
    checks_run "qv_info shows them as JSON" 0 "$info_json\n" '' qv_info show -j
    checks_run "qv_info finds the record provisioned" 0 '' '' qv_info verify
    checks_run "qv_setmac reads the address" 0 'mac = [02:11:22:33:44:66]\n' '' qv_setmac
    if checks_have qvf-fields "the library reads the texts"; then
        checks_run "the library reads the unique id" 0 'SN-0042\n' '' qvf-fields get uid
        checks_run "the library reads the hardware version" 0 'rev-B\n' '' qvf-fields get hdv
        checks_run "the library reads the product type" 0 'QV-MR16-PL4C2-AX\n' '' qvf-fields get prdt
    fi
    checks_run "rpcd's plugin lists identity" 0 '{"identity":{}}\n' '' $plugin list
    checks_run "rpcd's plugin gives the record" 0 "${info_json%\}},\"provisioned\":true}\n" '' rpcd_call
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
    checks_have mdiorw "MDIO registers" || return 0
    checks_run "the PHY's first identifier register" 0 "dev_addr 1, reg_addr 2\nread data: $phy_id1\n" '' \
        mdiorw 1 2
    checks_run "the PHY's second identifier register, in hex" 0 "dev_addr 1, reg_addr 3\nread data: $phy_id2\n" '' \
        mdiorw 0x1 0X3
    # The MII request carries 16-bit addresses: 65537 reaches the driver as 1.
    checks_run "a PHY address beyond 16 bits is cut to its low bits" 0 \
        "dev_addr 1, reg_addr 2\nread data: $phy_id1\n" '' mdiorw 65537 2
    checks_run "the advertisement register after reset" 0 "dev_addr 1, reg_addr 4\nread data: $phy_advert\n" '' \
        mdiorw 1 4
    # Pause added to what is advertised: a value the PHY and its driver keep.
    checks_run "a register write" 0 '' '' mdiorw 1 4 0x5e1
    checks_run "the written value reads back" 0 'dev_addr 1, reg_addr 4\nread data: 5e1\n' '' mdiorw 1 4
    checks_run "the reset value is written back" 0 '' '' mdiorw 1 4 0x$phy_advert
    checks_run "and reads back" 0 "dev_addr 1, reg_addr 4\nread data: $phy_advert\n" '' mdiorw 1 4

    if [ "$board" = x86 ]; then
        # The e1000 driver refuses writes beyond the 32 clause-22 registers.
        checks_run "a register the driver refuses" 255 '' 'SIOCSMIIREG on eth0 failed: Bad address\n' \
            mdiorw 1 32 0
    else
        # The FEC driver answers no MII request while the interface is down.
        ip link set eth0 down
        checks_run "an interface that is down refuses the PHY" 255 '' \
            'SIOCGMIIPHY on eth0 failed: Operation not supported\nsmi init fail\n' mdiorw 1 2
        ip link set eth0 up
    fi

    phy_down || { checks_fail "could not make an eth0 without a PHY"; return 1; }
    checks_run "an eth0 without a PHY: read" 255 '' \
        'SIOCGMIIPHY on eth0 failed: Operation not supported\nsmi init fail\n' mdiorw 1 2
    checks_run "an eth0 without a PHY: write" 255 '' \
        'SIOCGMIIPHY on eth0 failed: Operation not supported\nsmi init fail\n' mdiorw 1 4 0x1e1
    phy_back
    checks_run "the PHY answers again" 0 "dev_addr 1, reg_addr 2\nread data: $phy_id1\n" '' mdiorw 1 2
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
    checks_verdict "$name, stopped by SIGTERM in its erase, ends by the signal" [ "$caught:$status" = 1:143 ]
}

# A store stopped in the middle of its erase, on a flash slowed so that an
# erase takes seconds: the signal waits until the new record is written
# and verified, and then ends the program; the next reader finds the new
# record, not a blank partition.
test_stopped_stores() {
    checks_have qvf-fields "stores stopped by a signal" || return 0
    local f="slow flash"
    as_uid=''
    fault_start "$f"
    stopped_store "$f: qv_setmac stores" qv_setmac 02:00:00:00:00:07
    checks_run "$f: qv_setmac's address was stored all the same" 0 'mac = [02:00:00:00:00:07]\n' '' qv_setmac
    stopped_store "$f: set uid" qvf-fields set uid uid-9
    checks_run "$f: the unique id was stored all the same" 0 'uid-9\n' '' qvf-fields get uid
    checks_run "$f: and the record keeps the address" 0 'mac = [02:00:00:00:00:07]\n' '' qv_setmac
    checks_have qv_info "$f: qv_info sets four fields" || return 0
    # shellcheck disable=SC2086 # the assignments' words
    stopped_store "$f: qv_info sets four fields" qv_info set $info_fields
    checks_run "$f: the four fields were stored all the same" 0 "$info_shown" '' qv_info
}

# Programs run by a user other than root, as a service started without root
# would run them.
test_other_user() {
    # Without CAP_NET_ADMIN the kernel refuses the MII requests, reads too,
    # before the driver sees them; neither board's driver has the older
    # private requests, and the error of that second request is the one told.
    if checks_have mdiorw "mdiorw as a user other than root"; then
        local refused='SIOCGMIIPHY on eth0 failed: Operation not supported\nsmi init fail\n'
        checks_run "mdiorw as a user other than root: read" 255 '' "$refused" as-user 65534 mdiorw 1 2
        checks_run "mdiorw as a user other than root: write" 255 '' "$refused" as-user 65534 mdiorw 1 4 0x5e1
        checks_run "the register that user could not write" 0 \
            "dev_addr 1, reg_addr 4\nread data: $phy_advert\n" '' mdiorw 1 4
    fi
}

# Faults of the disk under the x86 board's flash, each in a boot of its own
# (board/system-test has qemu fail the disk), on the record it seeds.
eio='Input/output error\n'

# The record's own sector cannot be read.
test_disk_bad_record() {
    f="unreadable record"
    checks_run "$f: qv_setmac shows" 255 'qv_raw_read fail\n' "read: $eio" qv_setmac
    checks_run "$f: raw read" 1 '' "read: $eio" qvf-fields raw read
    checks_run "$f: get prdt" 1 'qv_raw_read fail\n' "read: $eio" qvf-fields get prdt
    checks_run "$f: qv_setmac stores" 255 "${store_lines}qv_raw_read fail\n" "read: $eio" \
        qv_setmac 02:00:00:00:00:07
    checks_run "$f: set uid" 1 'qv_raw_read fail\n' "read: $eio" qvf-fields set uid uid-9
    checks_run "$f: raw write" 1 '' "MEMERASE: $eio" raw_write /tmp/r1
    checks_run "$f: still unreadable" 255 'qv_raw_read fail\n' "read: $eio" qv_setmac
}

# The second erase block cannot be read, so block2mtd cannot erase it;
# the first one it has erased by then.
test_disk_bad_block() {
    f="erase block that cannot be erased"
    checks_run "$f: qv_setmac shows" 0 "mac = [$kept_mac]\n" '' qv_setmac
    checks_run "$f: get prdt" 0 "$kept_prdt\n" '' qvf-fields get prdt
    checks_run "$f: qv_setmac stores" 255 "${store_lines}write mac fail\n" "MEMERASE: $eio" \
        qv_setmac 02:00:00:00:00:07
    checks_run "$f: flash after qv_setmac stores" 0 " $flash_blank\n" '' flash_16
    checks_run "$f: the old address is gone" 0 'mac = [00:00:00:00:00:00]\n' '' qv_setmac
    checks_run "$f: raw write" 1 '' "MEMERASE: $eio" raw_write /tmp/r1
    checks_run "$f: set uid" 1 'write uid fail\n' "MEMERASE: $eio" qvf-fields set uid uid-9
    checks_run "$f: flash afterwards" 0 " $flash_blank\n" '' flash_16
    # Started with standard streams closed, the programs must not open the
    # flash in their place: the erase's message would be written into it.
    checks_run "$f: raw write, stderr closed" 1 '' '' without_stderr raw_write /tmp/r1
    checks_run "$f: qv_setmac stores, stdout and stderr closed" 255 '' '' without_output \
        qv_setmac 02:00:00:00:00:07
    checks_run "$f: flash after the closed streams" 0 " $flash_blank\n" '' flash_16
}
without_stderr() { "$@" 2>&-; }
without_output() { "$@" >&- 2>&-; }

# Every write to the disk fails. block2mtd writes through the page cache,
# and the write-back's failure reaches no program.
test_disk_lost_writes() {
    f="disk that loses writes"
    checks_run "$f: qv_setmac stores, and reports success" 0 "$store_lines" '' qv_setmac 02:00:00:00:00:07
    checks_run "$f: the address reads back from the cache" 0 'mac = [02:00:00:00:00:07]\n' '' qv_setmac
    # The kernel remembers the failed write-back: once the cache is dropped,
    # the next read of the page fails. (board/system-test finds the seed
    # still in the disk's image.)
    sync
    echo 3 >/proc/sys/vm/drop_caches
    checks_run "$f: the next read, without the cache" 255 'qv_raw_read fail\n' "read: $eio" qv_setmac
}

# The record applied at boot: hardware.sh's preinit ran the hook
# /lib/preinit/01_qv_identity before eth0 came up. Phase 1 starts from a
# blank flash; phase 2 from the kept record, whose address differs from the
# one qemu gives the NIC.
eth0_mac() { cat /sys/class/net/eth0/address; }
boot_log() { dmesg | sed -n 's/^\[[ 0-9.]*\] \(qv_identity: \)/\1/p'; }
test_identity_at_boot() {
    checks_have qv_info "the record applied at boot" || return 0
    if [ "$phase" = 2 ]; then
        checks_run "at boot, eth0 took the record's address" 0 "$kept_mac\n" '' eth0_mac
        checks_run "at boot, the product type became the model" 0 "$kept_prdt\n" '' cat /tmp/sysinfo/model
        checks_run "at boot, nothing was left to the driver or to OpenWrt" 0 '' '' boot_log
        return 0
    fi
    checks_run "a blank record at boot: eth0 keeps the address qemu gives it" 0 "$nic_mac\n" '' eth0_mac
    checks_run "a blank record at boot: the kernel log says what was left and why" 0 \
        "qv_identity: eth0's address left to the driver and the model left to OpenWrt: mac: not set; prdt: not set\n" \
        '' boot_log
}

case $phase in
1)
    test_identity_at_boot
    test_record
    checks_table /usr/share/qv/cases/*.cases
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
    test_other_user
    # shellcheck disable=SC2086 # the assignments' words
    checks_have qv_info "the record to keep" && checks_run "the record to keep" 0 '' '' qv_info set $kept_fields
    ;;
2) test_identity_at_boot ;;
slow-disk) fault_records && test_stopped_stores ;;
disk-*) fault_records && checks_have qvf-fields "faults of the disk" && "test_$(echo "$phase" | tr - _)" ;;
esac
# The plan; the failures are the exit status.
checks_done
exit $((checks_failed < 125 ? checks_failed : 125))
