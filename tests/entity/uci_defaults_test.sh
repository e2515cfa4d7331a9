#!/bin/sh
# uci_defaults_test.sh TOP: qv-info-snmp's /etc/uci-defaults script, sourced
# in a subshell as OpenWrt's boot and opkg source it, over the stand-in of
# uci (TOP/tests/lib/openwrt/sbin/uci) and a /etc/config/snmpd of its own.
# Each row compares the run's status and output, and the config it
# leaves committed.
set -u
top=$1
script=$top/tools/entity/files/etc/uci-defaults/90_qv-info-snmp
# shellcheck source=tests/lib/checks.sh
. "$top/tests/lib/checks.sh"
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
checks_start "$work"
config=$work/config
mkdir "$config" "$work/bin"
# The script calls plain uci: this one keeps its configs in the test's folder.
printf '#!/bin/sh\nexec "%s" -c "%s" "$@"\n' "$top/tests/lib/openwrt/sbin/uci" "$config" >"$work/bin/uci"
chmod 755 "$work/bin/uci"

# What snmpd's package ships, in part: it must stay as it is.
shipped="snmpd.general=snmpd
snmpd.general.enabled='1'"
added="snmpd.qv_entity=pass
snmpd.qv_entity.miboid='1.3.6.1.2.1.47.1.1.1'
snmpd.qv_entity.prog='/usr/sbin/qv_entity'
snmpd.qv_entity.persist='1'
snmpd.qv_serial=extend
snmpd.qv_serial.name='serial'
snmpd.qv_serial.prog='/usr/sbin/qv_info'
snmpd.qv_serial.args='-w 1 get uid'
snmpd.qv_hardware=extend
snmpd.qv_hardware.name='hardware'
snmpd.qv_hardware.prog='/usr/sbin/qv_info'
snmpd.qv_hardware.args='-w 1 get prdt'"

# defaults: the script as OpenWrt runs it; then what is committed.
defaults() {
    (
        PATH=$work/bin:$PATH
        # shellcheck source=tools/entity/files/etc/uci-defaults/90_qv-info-snmp
        . "$script"
    )
    status=$?
    cat "$config/snmpd" 2>/dev/null
    return $status
}

printf '%s\n' "$shipped" >"$config/snmpd"
checks_run "the first run adds the pass section and the two extends" 0 "$shipped\n$added\n" '' defaults
checks_run "a second run adds nothing" 0 "$shipped\n$added\n" '' defaults
"$work/bin/uci" set 'snmpd.qv_serial.args=-w 3 get uid'
"$work/bin/uci" commit snmpd
checks_run "an administrator's change stays" 0 \
    "$shipped\n$(printf '%s\n' "$added" | sed "s/^snmpd.qv_serial.args=.*/snmpd.qv_serial.args='-w 3 get uid'/")\n" '' defaults
rm "$config/snmpd"
checks_run "no snmpd config: nothing made, and the script stays for the next boot" 1 '' 'uci: Entry not found\n' defaults
checks_done
