#!/bin/sh
# lldp_test.sh QV_INFO TOP: the qv-info-lldp package on the PC. QV_INFO,
# the PC build of qv_info, reads an image file in place of the partition;
# TOP is the checkout. In a network and mount namespace of its own (the
# switch's), with /dev/kmsg a file of this test's and no DMI table (as on
# the board, where lldpd finds none), and a second network namespace (the
# peer's) joined to it by a veth pair: eth0 on both sides.
#   1. The command file qv-lldpd-conf writes for each record and release.
#   2. Debian's lldpd on both sides, the switch's started as OpenWrt's
#      init script starts it (the class and the chassis interface from the
#      uci config our uci-defaults script sets, the commands read from its
#      /etc/lldpd.d); what the peer's lldpcli shows of the switch.
#   3. The file is left alone when nothing changed, and replaced when the
#      record did.
#   4. The uci-defaults script, run twice, sets the config once.
set -u
if [ -z "${QV_LLDP_WORK:-}" ]; then
    # lldpd drops its privileges to its own user, which only root can.
    if [ "$(id -u)" != 0 ] || ! unshare --net --mount true 2>/dev/null; then
        echo "skip: lldpd's test needs root and network namespaces"
        exit 77
    fi
    work=$(mktemp -d) || exit 1
    QV_LLDP_WORK=$work timeout 300 unshare --net --mount sh "$0" "$@"
    status=$?
    rm -rf "$work"
    exit $status
fi
work=$QV_LLDP_WORK qv_info=$1 top=$2
files=$top/tools/info/lldp
conf=$files/usr/libexec/qv-lldpd-conf
# This namespace's own view of the network in /sys, and no DMI table: lldpd
# would take its inventory defaults from the PC's.
mount -t sysfs sysfs /sys &&
    { [ ! -d /sys/class/dmi ] || mount -t tmpfs tmpfs /sys/class/dmi; } &&
    : >"$work/kmsg" && mount --bind "$work/kmsg" /dev/kmsg || exit 1
# shellcheck source=tests/lib/checks.sh
. "$top/tests/lib/checks.sh"
checks_start "$work"
mkdir "$work/bin" "$work/lldpd.d" "$work/config"
printf '#!/bin/sh\nexec "%s" -d "%s" "$@"\n' "$qv_info" "$work/image" >"$work/bin/qv_info"
printf '#!/bin/sh\nexec "%s" -c "%s" "$@"\n' "$top/tests/lib/openwrt/sbin/uci" "$work/config" >"$work/bin/uci"
chmod 755 "$work/bin/qv_info" "$work/bin/uci"
PATH=$work/bin:$PATH
cmd=$work/lldpd.d/qv-identity.conf release=$work/openwrt_release
header="# The identity record's LLDP-MED inventory, written by /etc/init.d/qv-lldp"

# record UID HDV PRDT: a new image with these fields ('' blank), and the
# MAC that eth0 carries.
record() {
    rm -f "$work/image"
    qv_info set mac=02:11:22:33:44:55 uid="$1" hdv="$2" prdt="$3" >/dev/null
}
# os VALUE: /etc/openwrt_release with this DISTRIB_RELEASE line ('-': no file).
os() {
    rm -f "$release"
    [ "$1" = - ] || printf "DISTRIB_ID='OpenWrt'\n%s\nDISTRIB_ARCH='arm_cortex-a7'\n" "$1" >"$release"
}
# generate: a run of qv-lldpd-conf, then the file it left and the log.
generate() {
    : >"$work/kmsg"
    "$conf" "$cmd" "$release"
    echo "status $?"
    cat "$cmd" 2>/dev/null
    cat "$work/kmsg"
}

# 1. The command file. A field lldpcli cannot take as one value is left
# out, with one line for all of them; one it reads quoted as it is stays.
r="configure inventory"
rel="DISTRIB_RELEASE='23.05.3'"
kept="$r serial-number \"SN1\"\n$r hardware-revision \"rev-B\"\n$r model \"QV-SW10\"\n$r software-revision \"23.05.3\"\n"
left="qv_lldp: left out of the LLDP-MED inventory:"
syntax="holds a quote or a backslash, which lldpcli reads as syntax"
notone="release: DISTRIB_RELEASE is not one single-quoted value"
unread="qv_info: the record on $work/image could not be read"
# name|record|release|the file and the log (printf %b)
while IFS='|' read -r name rec rl want; do
    rm -f "$cmd"
    eval "record $rec" && os "$rl" || { checks_fail "$name: the image"; continue; }
    checks_run "$name" 0 "status 0\n$header\n$want" '' generate
done <<ROWS
provisioned|SN1 rev-B QV-SW10|$rel|$kept
fields blank|'' '' ''|$rel|$r software-revision "23.05.3"\n
no release file|SN1 rev-B QV-SW10|-|$r serial-number "SN1"\n$r hardware-revision "rev-B"\n$r model "QV-SW10"\n
release empty|SN1 '' ''|DISTRIB_RELEASE=''|$r serial-number "SN1"\n
quote, '#', ';' and spaces that lldpcli takes in quotes|"S'N #1;x" 'rev B' 'Q  R'|$rel|$r serial-number "S'N #1;x"\n$r hardware-revision "rev B"\n$r model "Q  R"\n$r software-revision "23.05.3"\n
a double quote and a backslash|'SN"1' 'rev\B' 'QV" configure system hostname E'|$rel|$r software-revision "23.05.3"\n$left uid: $syntax; hdv: $syntax; prdt: $syntax\n
release unquoted|SN1 '' ''|DISTRIB_RELEASE=23.05.3|$r serial-number "SN1"\n$left $notone\n
release with a quote in it|SN1 '' ''|DISTRIB_RELEASE='23.05'3'|$r serial-number "SN1"\n$left $notone\n
release with a double quote|SN1 '' ''|DISTRIB_RELEASE='23"05'|$r serial-number "SN1"\n$left release: $syntax\n
release longer than 32 bytes|SN1 '' ''|DISTRIB_RELEASE='$(printf '%033d' 0)'|$r serial-number "SN1"\n$left release: longer than the 32 bytes of an LLDP-MED inventory field\n
ROWS
# A record that cannot be read leaves the last boot's file as it was.
record SN1 rev-B QV-SW10 && os "$rel" && "$conf" "$cmd" "$release" && rm "$work/image"
checks_run "an unreadable record: the file as it was" 0 \
    "status 1\n$header\n${kept}qv_lldp: the inventory left as it was: $work/image: No such file or directory; $unread\n" '' generate
checks_done
