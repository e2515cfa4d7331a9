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

case $(uname -m) in
arm*) board=imx6ul ;;
*) board=x86 ;;
esac

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
# NAND simulator's options of this boot (qv.nandsim=, in $nandsim).
flash_default() {
    # shellcheck disable=SC2086 # one option a word
    if [ "$board" = imx6ul ]; then flash_nand ${nandsim:-}; else flash_nor; fi
}

# shellcheck source=board/rootfs/modules.sh
. /usr/share/qv/modules.sh

# load_modules MODULE...: in this order.
load_modules() {
    for m in "$@"; do
        modprobe "$m" || return 1
    done
}

eth_start() {
    # shellcheck disable=SC2086 # one module a word
    if [ "$board" = imx6ul ]; then load_modules $eth_modules_imx6ul; else load_modules $eth_modules_x86; fi &&
        wait_for /sys/class/net/eth0 && ip link set eth0 up
}

board_start() {
    # shellcheck disable=SC2086 # one module a word
    [ "$board" = x86 ] && load_modules $disk_modules_x86
    eth_start
    flash_default
}
