# shellcheck shell=dash
# Stand-in of OpenWrt's /lib/functions/system.sh: the one function our
# init script calls. get_mac_label_json prints the label MAC that
# /etc/board.json holds (system.label_macaddr), nothing where it holds
# none or is missing. The real one reads board.json's JSON through jshn;
# here board.json is the lines of the stand-in uci-defaults.sh, under
# IPKG_INSTROOT.

get_mac_label_json() {
    local cfg="${IPKG_INSTROOT:-}/etc/board.json"
    [ -s "$cfg" ] || return
    sed -n 's/^system\.label_macaddr=//p' "$cfg"
}
