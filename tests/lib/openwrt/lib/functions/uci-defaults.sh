# shellcheck shell=dash
# Stand-in of OpenWrt's /lib/functions/uci-defaults.sh for the /etc/board.d
# scripts, which board_detect sources with CFG naming the board.json being
# written, and for our init script, which names it itself: the functions
# they call. The real ones keep board.json as JSON through jshn; here
# board_config_update takes what CFG holds, each ucidef_ call sets a line
# "section.option=value" under the real file's names (replacing the
# option's line, as jshn replaces a key's value), and board_config_flush
# writes it all to CFG, in place.

board_config_update() {
    board_config=''
    [ ! -f "$CFG" ] || board_config=$(cat "$CFG")
}

# board_config_set OPTION VALUE: OPTION's line, set to VALUE.
board_config_set() {
    board_config=$(printf '%s\n' "$board_config" | grep -v "^$1=")
    board_config="${board_config:+$board_config
}$1=$2"
}

ucidef_set_interface_lan() { board_config_set network.lan.device "$1"; }
ucidef_set_label_macaddr() { board_config_set system.label_macaddr "$1"; }

board_config_flush() {
    printf '%s\n' "$board_config" >"$CFG"
}
