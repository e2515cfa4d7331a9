# shellcheck shell=sh disable=SC2034
# The kernel modules the boards load, in load order: hardware.sh loads them on
# the board, and board/mkinitramfs puts them, and what they depend on, into
# the board's root file system (with the flash's modules and veth, which
# the tests use for an eth0 without a PHY).
#
# i.MX6UL: the FEC with the PHY drivers it may meet (the device tree names
# Micrel PHYs; the one qemu emulates at address 1 answers as SMSC).
eth_modules_imx6ul="gpio-mxc libphy fixed_phy fwnode_mdio of_mdio selftests micrel smsc fec"
eth_modules_x86="e1000"
# x86: the virtio disk under the flash.
disk_modules_x86="virtio_pci virtio_blk"
# i.MX6UL: the SD card that keeps the NAND's content across power-off, when
# the board is given one (board/boot --flash).
sd_modules_imx6ul="sdhci-esdhc-imx"
