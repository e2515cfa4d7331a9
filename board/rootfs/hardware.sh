# shellcheck shell=dash
# Sourced on the board: what tells the two boards apart, and how their
# Ethernet and flash are brought up.
#
# imx6ul: the i.MX6UL EVK. The FEC's PHY answers at MDIO address 1. The
#   flash is NAND (the kernel's NAND simulator): a 128 MiB chip with 128 KiB
#   erase blocks and 2 KiB pages, partitioned so that /dev/mtd3 is four
#   blocks, chip blocks 12 to 15.
# x86: a PC with an e1000, whose driver answers for its one PHY whatever
#   the address asked (so address 1 reaches it too), and NOR-like flash:
#   /dev/mtd3 is block2mtd over the first virtio disk, four 128 KiB erase
#   blocks, kept in an image file on the host across boots. A small NAND
#   simulator takes mtd0 to mtd2 first.
#
# At power-on the i.MX6UL's NAND is blank, unless the board has an SD card
# (board/boot --flash, qv.flash=sd): then the card holds the partition's
# content, which goes onto the NAND before anything reads it and back onto
# the card at power-off (flash_keep), so that the record survives a reboot
# as on the x86 board. Then OpenWrt's preinit runs the files of
# /lib/preinit, the identity record's hook among them, with eth0's driver
# loaded and the interface still down; then the init scripts, whose
# /etc/init.d/boot writes board.json (the board's /etc is the initramfs':
# every boot is a first boot) and /etc/init.d/qv_identity its label MAC.

case $(uname -m) in
arm*) board=imx6ul ;;
*) board=x86 ;;
esac

# What board/boot asks of this boot on the kernel command line. nic_mac is
# the address qemu gives the NIC that is eth0.
mode=shell shell=0 phase=1 nandsim='' flash='' nic_mac=''
read -r cmdline </proc/cmdline
# shellcheck disable=SC2034 # read by the scripts that source this file
for word in $cmdline; do
    case $word in
    qv.mode=*) mode=${word#qv.mode=} ;;
    qv.shell=*) shell=${word#qv.shell=} ;;
    qv.phase=*) phase=${word#qv.phase=} ;;
    qv.nandsim=*) nandsim="$nandsim ${word#qv.nandsim=}" ;;
    qv.flash=*) flash=${word#qv.flash=} ;;
    qv.nic=*) nic_mac=${word#qv.nic=} ;;
    esac
done

# wait_for PATH: devtmpfs adds device nodes shortly after the driver probes.
wait_for() {
    n=0
    while [ ! -e "$1" ]; do
        n=$((n + 1))
        if [ $n -gt 100 ]; then
            echo "board: $1 did not appear"
            return 1
        fi
        sleep 0.05
    done
}

# flash_nand [nandsim options]: (re)creates the NAND flash, blank, with
# the simulator's fault options (badblocks=, weakblocks=, weakpages=).
flash_nand() {
    flash_off
    modprobe nandsim id_bytes=0xec,0xf1,0x00,0x15 parts=4,4,4,4 "$@" &&
        wait_for /dev/mtd3
}

# flash_nor: block2mtd over the disk; what the disk holds is kept.
flash_nor() {
    flash_off
    modprobe nandsim parts=4,4 && wait_for /dev/mtd2 &&
        wait_for /dev/vda &&
        modprobe block2mtd block2mtd=/dev/vda,128KiB &&
        wait_for /dev/mtd3
}

flash_off() {
    grep -q '^block2mtd ' /proc/modules && rmmod block2mtd
    grep -q '^nandsim ' /proc/modules && rmmod nandsim
    n=0
    while [ -e /dev/mtd0 ] && [ $n -lt 100 ]; do
        n=$((n + 1))
        sleep 0.05
    done
    return 0
}

# The board's own flash kind: what its /dev/mtd3 is at power-on, with the
# NAND simulator's options of this boot (qv.nandsim=, in $nandsim), and the
# content the SD card kept (qv.flash=sd, in $flash).
flash_default() {
    if [ "$board" = x86 ]; then
        flash_nor
        return
    fi
    # shellcheck disable=SC2086 # one option a word
    flash_nand ${nandsim:-} || return 1
    [ "${flash:-}" = sd ] || return 0
    # shellcheck disable=SC2086 # one module a word
    load_modules $sd_modules_imx6ul && wait_for $sd_card &&
        dd if=$sd_card of=/dev/mtd3 bs=2048 2>/dev/null
}
sd_card=/dev/mmcblk1

# flash_keep: at power-off, the NAND's content onto the SD card, if any.
flash_keep() {
    [ "$board" = imx6ul ] && [ "${flash:-}" = sd ] || return 0
    dd if=/dev/mtd3 of=$sd_card bs=2048 2>/dev/null
    sync
}

# shellcheck source=board/rootfs/modules.sh
. /usr/share/qv/modules.sh

# load_modules MODULE...: in this order.
load_modules() {
    for m in "$@"; do
        modprobe "$m" || return 1
    done
}

eth_load() {
    # shellcheck disable=SC2086 # one module a word
    if [ "$board" = imx6ul ]; then load_modules $eth_modules_imx6ul; else load_modules $eth_modules_x86; fi &&
        wait_for /sys/class/net/eth0
}

# preinit FOLDER: what OpenWrt's /etc/preinit does with the files of
# /lib/preinit (FOLDER): sources them in order, then runs the functions
# they added to preinit_main. In a subshell, as the preinit process is
# one of its own.
preinit() (
    # shellcheck source=tests/lib/openwrt/lib/functions/preinit.sh
    . /lib/functions/preinit.sh
    for file in "$1"/*; do
        # shellcheck disable=SC1090 # the files of the folder
        . "$file"
    done
    boot_run_hook preinit_main
)

# rc_boot: what procd runs once preinit is done: each link of /etc/rc.d
# whose name starts with S, in name order, with the action boot, through
# /etc/rc.common (OpenWrt's stand-ins, and our init script).
rc_boot() {
    for script in /etc/rc.d/S*; do
        [ ! -e "$script" ] || sh /etc/rc.common "$script" boot
    done
}

board_start() {
    # shellcheck disable=SC2086 # one module a word
    [ "$board" = x86 ] && load_modules $disk_modules_x86
    eth_load
    flash_default
    preinit /lib/preinit
    ip link set eth0 up
    rc_boot
}
