# shellcheck shell=dash
# Stand-in of OpenWrt's /lib/functions/uci-defaults.sh for the /etc/board.d
# scripts, which board_detect sources with CFG naming the board.json being
# written: the three functions our board.d script calls. The real ones keep
# board.json as JSON through jshn; here board_config_update takes what CFG
# holds, each ucidef_ call adds a line "section.option=value" under the real
# file's names, and board_config_flush writes it all back to CFG.

board_config_update() {
    board_config=''
    [ ! -f "$CFG" ] || board_config=$(cat "$CFG")
}

ucidef_set_label_macaddr() {
    board_config="${board_config:+$board_config
}system.label_macaddr=$1"
}

board_config_flush() {
    printf '%s\n' "$board_config" >"$CFG"
}
