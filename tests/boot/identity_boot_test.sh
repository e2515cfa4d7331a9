#!/bin/sh
# identity_boot_test.sh QV_INFO TOP: the identity record applied at boot,
# on the PC. A unit is a record (an image file that QV_INFO, the PC build
# of qv_info, reads in place of the partition) and a root folder that
# keeps its /etc from boot to boot: the files of tools/info/files, where
# the qv-info package installs them, and the stand-ins of OpenWrt's files
# that run them (TOP/tests/lib/openwrt), with both init scripts enabled.
# One boot is preinit (OpenWrt's hook functions, the hook 01_qv_identity
# and a hook added after it), then what procd runs: each /etc/rc.d/S*
# link with boot (/etc/init.d/boot, whose board_detect writes board.json at
# the first boot, then /etc/init.d/qv_identity). In a network namespace of
# its own, where eth0 is a veth (whose driver takes any address), a mount
# namespace whose /tmp and /dev/kmsg are this test's, and a PID namespace
# with its own /proc.
# Each row compares eth0's address, /tmp/sysinfo/model, the kernel log,
# board.json (and whether this boot replaced it), what a boot left in /etc,
# whether the later hook ran, and that nothing went to the console.
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
# The unit's root: the package's files and OpenWrt's stand-ins, the init
# scripts enabled as the image build enables them.
root=$work/root
mkdir -p "$root/etc/rc.d" &&
    cp -R "$top/tools/info/files/." "$top/tests/lib/openwrt/." "$root/" &&
    for script in "$root"/etc/init.d/*; do
        IPKG_INSTROOT=$root sh "$root/etc/rc.common" "$script" enable || exit 1
    done
mkdir "$work/bin" "$work/busybox"
# busybox's ip, as it answers for an address when eth0 cannot be found.
printf '#!/bin/sh\necho "ip: SIOCGIFINDEX: No such device" >&2\nexit 1\n' >"$work/busybox/ip"
chmod 755 "$work/busybox/ip"
driver_mac=02:00:00:00:00:01

# stand_in SH: the qv_info the boot calls is SH. The real one reads the
# image.
stand_in() {
    printf '#!/bin/sh\n%s\n' "$1" >"$work/bin/qv_info" && chmod 755 "$work/bin/qv_info"
}
# unit: a new unit, never booted, with the real qv_info.
unit() {
    rm -rf "$work/image" "$work/before" "$root/etc/board.json" "$root/etc/.board.json.qv_identity"
    cp "$top/tests/lib/openwrt/etc/board.d/02_network" "$root/etc/board.d/"
    stand_in "exec \"$qv_info\" -d \"$work/image\" \"\$@\""
}
# record MAC UID HDV PRDT: a new unit whose record holds these fields
# ('' blank).
record() {
    unit
    "$qv_info" -d "$work/image" set ${1:+mac="$1"} uid="$2" hdv="$3" prdt="$4"
}
# A group address, which qv_info refuses to store, written as bytes.
multicast() {
    unit
    checks_record 01:00:5e:00:00:01 '' '' '' >"$work/image"
}
# No record at all, as when the flash driver did not attach.
unreadable() { unit; }
# set FIELD=VALUE...: a store into the unit's record, between two boots.
set_() { "$qv_info" -d "$work/image" set "$@"; }
# stamp: board.json as it is now, which the next boot tells whether it
# replaced.
stamp() { stat -c '%i %y' "$root/etc/board.json" >"$work/before"; }

# boot HOW: one boot with a fresh eth0; HOW is with, without (no qv_info),
# no-eth0, set-eu (preinit's shell under set -e and set -u), busybox-ip
# or sysinfo-file (/tmp/sysinfo a file). Then what it left, one a line.
boot() {
    ip link del eth0 2>/dev/null
    [ "$1" = no-eth0 ] || ip link add eth0 address $driver_mac type veth peer name peer0 || return 1
    rm -rf /tmp/sysinfo "$work/after"
    [ "$1" != sysinfo-file ] || : >/tmp/sysinfo
    : >"$work/kmsg"
    (
        PATH=/usr/sbin:/usr/bin:/sbin:/bin
        [ "$1" = without ] || PATH=$work/bin:$PATH
        [ "$1" != busybox-ip ] || PATH=$work/busybox:$PATH
        [ "$1" != set-eu ] || set -eu
        IPKG_INSTROOT=$root && export IPKG_INSTROOT
        # shellcheck source=tests/lib/openwrt/lib/functions/preinit.sh
        . "$root/lib/functions/preinit.sh"
        # shellcheck source=tools/info/files/lib/preinit/01_qv_identity
        . "$root/lib/preinit/01_qv_identity"
        # shellcheck disable=SC2317 # run by boot_run_hook
        later() { : >"$work/after"; }
        boot_hook_add preinit_main later
        boot_run_hook preinit_main
        for script in "$root"/etc/rc.d/S*; do
            sh "$root/etc/rc.common" "$script" boot
        done
    )
    printf 'eth0 %s\n' "$(ip -o link show eth0 2>/dev/null | sed -n 's|.* link/ether \([^ ]*\) .*|\1|p')"
    printf 'model %s\n' "$(cat /tmp/sysinfo/model 2>/dev/null || echo -)"
    printf 'log %s\n' "$(cat "$work/kmsg")"
    printf 'board.json %s' "$(paste -s -d ' ' "$root/etc/board.json" 2>/dev/null || echo -)"
    if [ -e "$work/before" ]; then
        if [ "$(stat -c '%i %y' "$root/etc/board.json")" = "$(cat "$work/before")" ]; then
            printf ' (the same file)'
        else
            printf ' (a new file)'
        fi
    fi
    echo
    for file in "$root"/etc/.[!.]*; do
        [ ! -e "$file" ] || echo "left in /etc: ${file##*/}"
    done
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
# /dev/kmsg on a read-only mount, which no write gets through.
kmsg_ro() {
    mount -o remount,bind,ro /dev/kmsg || return 99
    boot with
    set -- $?
    mount -o remount,bind,rw /dev/kmsg
    return "$1"
}

# A product type of characters a shell treats specially, written as it is.
# shellcheck disable=SC2016 # not expanded, on purpose
prdt='QV-MR16 "PL4C2" \AX $x *' prdt_shown='QV-MR16 "PL4C2" \\AX $x *'
drv="eth0's address left to the driver" model="the model left to OpenWrt"
label="qv_identity: board.json's label MAC left as it is"
lan=network.lan.device=eth0 mac=02:11:22:33:44:66
unread="qv_info: the record on $work/image could not be read"
# A complaint of 1500 bytes, and the two lines the boot logs of it: each
# the first 400 bytes.
long="qv_info: $(printf '%1500s' '' | tr ' ' x)"
long_log="$(printf '%s' "qv_identity: $drv and $model: $long" | head -c 400)\n$(printf '%s' "$label: $long" | head -c 400)"
# name|how the unit is made|how it boots|eth0|model|log|board.json
while IFS='|' read -r name make how eth0 model log json; do
    eval "$make" >/dev/null || { checks_fail "$name: the unit"; continue; }
    # shellcheck disable=SC2086 # the command's words
    checks_run "$name" 0 "eth0 $eth0\nmodel $model\nlog $log\nboard.json $json\nthe later hook ran\n" '' $how
done <<ROWS
a provisioned record|record $mac SN-1 rev-B '$prdt'|boot with|$mac|$prdt_shown||$lan system.label_macaddr=$mac
the MAC blank|record '' SN-1 rev-B QV-SW10|boot with|$driver_mac|QV-SW10|qv_identity: $drv: mac: not set|$lan
a multicast MAC|multicast|boot with|$driver_mac|-|qv_identity: $drv and $model: mac: multicast address; prdt: not set|$lan
the product type blank|record $mac SN-1 rev-B ''|boot with|$mac|-|qv_identity: $model: prdt: not set|$lan system.label_macaddr=$mac
an unreadable record|unreadable|boot with|$driver_mac|-|qv_identity: $drv and $model: $work/image: No such file or directory; $unread\n$label: $work/image: No such file or directory; $unread|$lan
the record's lock held|record $mac SN-1 rev-B QV-SW10|locked|$driver_mac|-|qv_identity: $drv and $model: $work/image: still locked by another program after 2 s; $unread\n$label: $work/image: still locked by another program after 2 s; $unread|$lan
no eth0|record $mac SN-1 rev-B QV-SW10|boot no-eth0||QV-SW10|qv_identity: $drv: ip: Cannot find device "eth0"|$lan system.label_macaddr=$mac
no qv_info|record $mac SN-1 rev-B QV-SW10|boot without|$driver_mac|-|qv_identity: $drv and $model: no qv_info\n$label: no qv_info|$lan
provisioned after the first boot|record '' SN-1 rev-B QV-SW10 && boot with && set_ mac=$mac|boot with|$mac|QV-SW10||$lan system.label_macaddr=$mac
a third boot, nothing changed|record '' SN-1 rev-B QV-SW10 && boot with && set_ mac=$mac && boot with && stamp|boot with|$mac|QV-SW10||$lan system.label_macaddr=$mac (the same file)
the MAC changed since the last boot|record $mac SN-1 rev-B QV-SW10 && boot with && set_ mac=02:11:22:33:44:77 && stamp|boot with|02:11:22:33:44:77|QV-SW10||$lan system.label_macaddr=02:11:22:33:44:77 (a new file)
a blank MAC, board.json as it is|record '' SN-1 rev-B QV-SW10 && boot with && stamp|boot with|$driver_mac|QV-SW10|qv_identity: $drv: mac: not set|$lan (the same file)
what a power loss left of a rewrite|record $mac SN-1 rev-B QV-SW10 && boot with && : >$root/etc/.board.json.qv_identity && stamp|boot with|$mac|QV-SW10||$lan system.label_macaddr=$mac (the same file)
no board.json from board_detect|record $mac SN-1 rev-B QV-SW10 && rm $root/etc/board.d/02_network|boot with|$mac|QV-SW10|$label: no $root/etc/board.json|-
preinit under set -e and set -u|record '' SN-1 rev-B QV-SW10|boot set-eu|$driver_mac|QV-SW10|qv_identity: $drv: mac: not set|$lan
/dev/kmsg cannot be written|record '' SN-1 rev-B QV-SW10|kmsg_ro|$driver_mac|QV-SW10||$lan
a reason of 1500 bytes|unit && stand_in 'echo "$long" >&2; exit 255'|boot with|$driver_mac|-|$long_log|$lan
qv_info killed by a signal|unit && stand_in 'kill -TERM \$\$'|boot with|$driver_mac|-|qv_identity: $drv and $model: qv_info: killed by signal 15\n$label: qv_info: killed by signal 15|$lan
busybox's ip|record $mac SN-1 rev-B QV-SW10|boot busybox-ip|$driver_mac|QV-SW10|qv_identity: $drv: ip: SIOCGIFINDEX: No such device|$lan system.label_macaddr=$mac
/tmp/sysinfo cannot be made|record $mac SN-1 rev-B QV-SW10|boot sysinfo-file|$mac|-|qv_identity: $model: /tmp/sysinfo/model cannot be written|$lan system.label_macaddr=$mac
ROWS
checks_done
