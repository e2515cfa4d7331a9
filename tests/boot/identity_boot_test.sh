#!/bin/sh
# identity_boot_test.sh QV_INFO TOP: the identity record applied at boot,
# on the PC. For each record (an image file that QV_INFO, the PC build of
# qv_info, reads in place of the partition), one boot's preinit: OpenWrt's
# hook functions (the stand-ins of TOP/tests/lib/openwrt), the hook
# tools/info/files/lib/preinit/01_qv_identity and a hook added after it;
# then the first boot's board.d script 03_qv_identity. In a network
# namespace of its own, where eth0 is a veth (whose driver takes any
# address), a mount namespace whose /tmp and /dev/kmsg are this test's, and
# a PID namespace with its own /proc.
# Each row compares eth0's address, /tmp/sysinfo/model, the kernel log,
# the label MAC board.json gets, and whether the later hook ran.
set -u
# The hook writes /tmp/sysinfo: /tmp becomes a file system of this test's,
# onto which the program and the files under test are copied first (they
# may lie under the PC's /tmp). It is made in STASH, a folder of the PC's
# /tmp, and bound onto /tmp; STASH is removed afterwards.
# Root needs no user namespace, and inside some sandboxes (bubblewrap) one
# could not mount its /proc.
if [ -z "${QV_BOOT_STASH:-}" ]; then
    stash=$(mktemp -d) || exit 1
    userns=--map-root-user
    [ "$(id -u)" != 0 ] || userns=
    # shellcheck disable=SC2086 # none or one option
    QV_BOOT_STASH=$stash unshare $userns --net --mount --pid --fork --mount-proc sh "$0" "$@"
    status=$?
    rmdir "$stash"
    exit $status
fi
mount -t tmpfs tmpfs "$QV_BOOT_STASH" &&
    mkdir -p "$QV_BOOT_STASH/top/tools/info" "$QV_BOOT_STASH/top/tests" &&
    cp "$1" "$QV_BOOT_STASH/qv_info" &&
    cp -R "$2/tools/info/files" "$QV_BOOT_STASH/top/tools/info/" &&
    cp -R "$2/tests/lib" "$QV_BOOT_STASH/top/tests/" &&
    mount --bind "$QV_BOOT_STASH" /tmp || exit 1
qv_info=/tmp/qv_info top=/tmp/top
work=$(mktemp -d)
: >"$work/kmsg" && mount --bind "$work/kmsg" /dev/kmsg || exit 1
# shellcheck source=tests/lib/checks.sh
. "$top/tests/lib/checks.sh"
checks_start "$work"
files=$top/tools/info/files
# The hooks call plain qv_info: this one reads the image.
mkdir "$work/bin"
printf '#!/bin/sh\nexec "%s" -d "%s" "$@"\n' "$qv_info" "$work/image" >"$work/bin/qv_info"
chmod 755 "$work/bin/qv_info"
driver_mac=02:00:00:00:00:01

# record MAC UID HDV PRDT: a new image holding these fields ('' blank).
record() {
    rm -rf "$work/image"
    "$qv_info" -d "$work/image" set ${1:+mac="$1"} uid="$2" hdv="$3" prdt="$4"
}
# A group address, which qv_info refuses to store, written as bytes.
multicast() {
    rm -rf "$work/image"
    { printf '\001\000\136\000\000\001\000\000'; head -c 96 /dev/zero; } >"$work/image"
}
# No record at all, as when the flash driver did not attach.
unreadable() { rm -rf "$work/image"; }

# boot with|without|no-eth0: one boot with a fresh eth0 (none with
# no-eth0), with qv_info (not with without), then what it left, one a line.
boot() {
    ip link del eth0 2>/dev/null
    [ "$1" = no-eth0 ] || ip link add eth0 address $driver_mac type veth peer name peer0 || return 1
    rm -rf /tmp/sysinfo "$work/board.json" "$work/after"
    : >"$work/kmsg"
    (
        PATH=/usr/sbin:/usr/bin:/sbin:/bin
        [ "$1" = without ] || PATH=$work/bin:$PATH
        # shellcheck source=tests/lib/openwrt/lib/functions/preinit.sh
        . "$top/tests/lib/openwrt/lib/functions/preinit.sh"
        # shellcheck source=tools/info/files/lib/preinit/01_qv_identity
        . "$files/lib/preinit/01_qv_identity"
        # shellcheck disable=SC2317 # run by boot_run_hook
        later() { : >"$work/after"; }
        boot_hook_add preinit_main later
        boot_run_hook preinit_main
        # shellcheck disable=SC2034 # the board.d script reads them
        CFG=$work/board.json IPKG_INSTROOT=$top/tests/lib/openwrt
        # shellcheck source=tools/info/files/etc/board.d/03_qv_identity
        (. "$files/etc/board.d/03_qv_identity")
    )
    printf 'eth0 %s\n' "$(ip -o link show eth0 2>/dev/null | sed -n 's|.* link/ether \([^ ]*\) .*|\1|p')"
    printf 'model %s\n' "$(cat /tmp/sysinfo/model 2>/dev/null || echo -)"
    printf 'log %s\n' "$(cat "$work/kmsg")"
    printf 'board.json %s\n' "$(cat "$work/board.json" 2>/dev/null || echo -)"
    [ -e "$work/after" ] && echo "the later hook ran"
}

# The record's lock held by another program for half a minute: a hook that
# waited for it would take the record after that. What is left when the
# test ends goes with its PID namespace.
locked() {
    flock -x "$work/image" sleep 30 &
    while flock -n "$work/image" true; do sleep 0.1; done
    boot with
}

# A product type of characters a shell treats specially, written as it is.
# shellcheck disable=SC2016 # not expanded, on purpose
prdt='QV-MR16 "PL4C2" \AX $x *' prdt_shown='QV-MR16 "PL4C2" \\AX $x *'
drv="eth0's address left to the driver" model="the model left to OpenWrt"
label=system.label_macaddr=02:11:22:33:44:66
unread="qv_info: the record on $work/image could not be read"
# name|how the image is made|how it boots|eth0|model|log|board.json
while IFS='|' read -r name make how eth0 model log json; do
    eval "$make" >/dev/null || { checks_fail "$name: the image"; continue; }
    # shellcheck disable=SC2086 # the command's words
    checks_run "$name" 0 "eth0 $eth0\nmodel $model\nlog $log\nboard.json $json\nthe later hook ran\n" '' $how
done <<ROWS
a provisioned record|record 02:11:22:33:44:66 SN-1 rev-B '$prdt'|boot with|02:11:22:33:44:66|$prdt_shown||$label
the MAC blank|record '' SN-1 rev-B QV-SW10|boot with|$driver_mac|QV-SW10|qv_identity: $drv: mac: not set|-
a multicast MAC|multicast|boot with|$driver_mac|-|qv_identity: $drv and $model: mac: multicast address; prdt: not set|-
the product type blank|record 02:11:22:33:44:66 SN-1 rev-B ''|boot with|02:11:22:33:44:66|-|qv_identity: $model: prdt: not set|$label
an unreadable record|unreadable|boot with|$driver_mac|-|qv_identity: $drv and $model: $work/image: No such file or directory; $unread|-
the record's lock held|record 02:11:22:33:44:66 SN-1 rev-B QV-SW10|locked|$driver_mac|-|qv_identity: $drv and $model: $work/image: still locked by another program after 2 s; $unread|-
no eth0|record 02:11:22:33:44:66 SN-1 rev-B QV-SW10|boot no-eth0||QV-SW10|qv_identity: $drv: ip: Cannot find device "eth0"|$label
no qv_info|record 02:11:22:33:44:66 SN-1 rev-B QV-SW10|boot without|$driver_mac|-|qv_identity: $drv and $model: no qv_info|-
ROWS
checks_done
