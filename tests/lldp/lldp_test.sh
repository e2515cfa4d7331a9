#!/bin/sh
# lldp_test.sh QV_INFO TOP: the qv-info-lldp package on the PC. QV_INFO,
# the PC build of qv_info, reads an image file in place of the partition;
# TOP is the checkout. In a network and mount namespace of its own (the
# switch's), with /dev/kmsg a file of this test's and no DMI table (as on
# the board, where lldpd finds none), and a second network namespace (the
# peer's) joined to it by a veth pair: eth0 on both sides.
#   1. The command file qv-lldpd-conf writes for each record and release.
#   2. The uci-defaults script, run twice, sets the config once.
#   3. Debian's lldpd on both sides, the switch's started as OpenWrt's
#      init script starts it (the class and the chassis interface from the
#      uci config the uci-defaults script set, the commands read from its
#      /etc/lldpd.d); what the peer's lldpcli shows of the switch.
#   4. The file is left alone when nothing changed, and replaced when the
#      record did.
set -u
if [ -z "${QV_LLDP_WORK:-}" ]; then
    # lldpd drops its privileges to its own user, which only root can.
    if [ "$(id -u)" != 0 ] || ! unshare --net --mount true 2>/dev/null; then
        echo "skip: lldpd's test needs root and network namespaces"
        exit 77
    fi
    # lldpd's own user reaches its socket and reads its command files
    # here.
    work=$(mktemp -d) && chmod 755 "$work" || exit 1
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
# qv-lldpd-conf reads the record with qv-info's boot functions, from the
# sources' tree of the files qv-info installs.
IPKG_INSTROOT=$top/tools/info/files
export IPKG_INSTROOT
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
# (A provisioned and a blank record are the peer's rows, below.)
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
    if ! eval "record $rec" || ! os "$rl"; then
        checks_fail "$name: the image"
        continue
    fi
    checks_run "$name" 0 "status 0\n$header\n$want" '' generate
done <<ROWS
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

# 2. The uci-defaults script, run twice as a reinstalled package would:
# what it sets, once, and what an operator set, kept. (The daemons below
# take their options from what it leaves.)
defaults() {
    sh "$files/etc/uci-defaults/80_qv-lldp" && sh "$files/etc/uci-defaults/80_qv-lldp"
    echo "status $?"
    cat "$work/config/lldpd" "$work/config/.calls"
}
class="lldpd.config.lldp_class='4'" cid="lldpd.config.cid_interface='eth0'"
calls="uci set lldpd.config.lldp_class=4\nuci add_list lldpd.config.cid_interface=eth0\nuci commit lldpd\n"
# name|/etc/config/lldpd before (uci show's lines, printf %b)|after, and the calls
while IFS='|' read -r name before after; do
    printf '%b' "$before" >"$work/config/lldpd" && rm -f "$work/config/.calls"
    checks_run "uci-defaults: $name" 0 "status 0\n$after" '' defaults
done <<ROWS
an operator's class kept|lldpd.config=lldpd\nlldpd.config.lldp_class='2'\n|lldpd.config=lldpd\nlldpd.config.lldp_class='2'\n$cid\nuci add_list lldpd.config.cid_interface=eth0\nuci commit lldpd\n
no config section|lldpd.config.x='1'\n|lldpd.config.x='1'\nlldpd.config=lldpd\n$class\n$cid\nuci set lldpd.config=lldpd\n$calls
OpenWrt's own config|lldpd.config=lldpd\nlldpd.config.interface='loopback' 'lan'\n|lldpd.config=lldpd\nlldpd.config.interface='loopback' 'lan'\n$class\n$cid\n$calls
ROWS
# lldpd's options, as OpenWrt's init script makes them of the config: -M
# the class, -C the chassis interfaces joined by commas.
lldp_class=$(uci get lldpd.config.lldp_class) cid_interface=$(uci get lldpd.config.cid_interface | tr ' ' ,)

# 3. The switch and its peer. The peer's namespace is held by a process of
# its own, which also has its own view of /sys; eth1, made first, offers
# lldpd another MAC for the chassis ID than eth0's.
daemons=''
stop() {
    local pid
    for pid in $daemons; do kill "$pid" 2>/dev/null; done
    for pid in $daemons; do wait "$pid" 2>/dev/null; done
    daemons=''
}
unshare --net --mount sh -c 'mount -t sysfs sysfs /sys && exec sleep 300' &
holder=$!
trap 'stop; kill "$holder"' EXIT
i=0
while [ "$(readlink "/proc/$holder/ns/net")" = "$(readlink /proc/self/ns/net)" ] && [ $i -lt 50 ]; do
    sleep 0.1 && i=$((i + 1))
done
peer() { nsenter -t "$holder" -n -m "$@"; }
if ! { ip link add eth1 address 02:00:00:00:00:01 type veth peer name eth1 netns "$holder" &&
    ip link add eth0 address 02:11:22:33:44:55 type veth peer name eth0 netns "$holder" &&
    ip link set eth1 up && ip link set eth0 up && peer ip link set eth1 up && peer ip link set eth0 up; }; then
    checks_fail "the veth pairs"
    checks_done
    exit 1
fi
mkdir "$work/peer.d" && echo "configure lldp tx-interval 1" >"$work/lldpd.d/00-test.conf"

# neighbour: the switch's lldpd, started on the command files, and what the
# peer's lldpd hears of it on eth0 within ten seconds: its chassis ID and
# LLDP-MED inventory, one "lldp.eth0...=value" line each.
neighbour() {
    local i=0 heard=''
    rm -f "$work"/*.sock "$work"/*.pid
    timeout 60 lldpd -d -u "$work/switch.sock" -p "$work/switch.pid" -O "$work/lldpd.d" \
        -M "$lldp_class" -C "$cid_interface" >"$work/switch.log" 2>&1 &
    daemons="$daemons $!"
    # nsenter itself in the background, so that $! is the daemon.
    nsenter -t "$holder" -n -m timeout 60 lldpd -d -u "$work/peer.sock" -p "$work/peer.pid" -O "$work/peer.d" >"$work/peer.log" 2>&1 &
    daemons="$daemons $!"
    while [ -z "$heard" ] && [ $i -lt 100 ]; do
        sleep 0.1 && i=$((i + 1))
        heard=$(peer lldpcli -u "$work/peer.sock" -f keyvalue show neighbors ports eth0 details 2>/dev/null)
    done
    stop
    printf '%s\n' "$heard" | grep -E '^lldp\.eth0\.(chassis\.(mac|name)|lldp-med\.inventory\.[a-z]*)='
}
# heard UID HDV PRDT RELEASE: the peer's view of the switch on this record
# and release line ('-': no release file).
heard() {
    record "$1" "$2" "$3" && os "$4" && "$conf" "$cmd" "$release" && neighbour
}
# The system name lldpd makes of the PC's host name, as the first row, with
# no text of the record, hears it: no other row may change it.
host=$(heard '' '' '' - | sed -n 's/^lldp\.eth0\.chassis\.name=//p')
p=lldp.eth0.chassis i=lldp.eth0.lldp-med.inventory
# name|the record and release|what the peer hears (printf %b)
while IFS='|' read -r name rec want; do
    eval "set -- $rec"
    checks_run "peer: $name" 0 "$p.mac=02:11:22:33:44:55\n$p.name=$host\n$want" '' heard "$@"
done <<ROWS
fields blank|'' '' '' -|$i.software=$(uname -r | cut -c 1-32)\n
provisioned|SN1 rev-B QV-SW10 "$rel"|$i.hardware=rev-B\n$i.software=23.05.3\n$i.serial=SN1\n$i.model=QV-SW10\n
fields lldpcli cannot take, and one it takes in quotes|"S'N #1;x" 'rev\B' 'QV" configure system hostname E' "$rel"|$i.software=23.05.3\n$i.serial=S'N #1;x\n
ROWS

# 4. The file is not written on a boot that finds what it holds (here its
# folder is read-only), and is replaced by a new one when the record changed.
inode() { stat -c %i "$cmd"; }
record SN1 rev-B QV-SW10 && os "$rel" && "$conf" "$cmd" "$release"
before=$(inode)
if ! { mount --bind "$work/lldpd.d" "$work/lldpd.d" && mount -o remount,bind,ro "$work/lldpd.d"; }; then
    checks_fail "the read-only folder"
fi
checks_run "nothing changed: nothing written" 0 "status 0\n$header\n$kept" '' generate
umount "$work/lldpd.d"
record SN2 rev-B QV-SW10
checks_run "a new record: a new file" 0 \
    "status 0\n$header\n$r serial-number \"SN2\"\n$r hardware-revision \"rev-B\"\n$r model \"QV-SW10\"\n$r software-revision \"23.05.3\"\n" '' generate
checks_verdict "a new record: renamed over the old file" [ "$(inode)" != "$before" ]
# A temporary file that a power cut left goes; a link planted in the
# file's place stays, and so does the file it points to.
: >"$work/lldpd.d/.qv-identity.Ab12Cd"
# shellcheck disable=SC2317 # run by checks_run
listed() { generate && ls -A "$work/lldpd.d"; }
checks_run "a power cut's temporary file removed" 0 "status 0\n$(cat "$cmd")\n00-test.conf\nqv-identity.conf\n" '' listed
echo planted >"$work/planted" && rm "$cmd" && ln -s "$work/planted" "$cmd"
checks_run "a link in the file's place: left alone" 0 "status 1\nplanted\nqv_lldp: $cmd is not a plain file: left as it is\n" '' generate
checks_done
