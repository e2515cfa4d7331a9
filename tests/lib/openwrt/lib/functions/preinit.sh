# shellcheck shell=dash
# Stand-in of OpenWrt's /lib/functions/preinit.sh: the two functions with
# which /etc/preinit and the files of /lib/preinit queue and run the boot's
# hooks. boot_hook_add HOOK FUNCTION appends FUNCTION to HOOK's list;
# boot_run_hook HOOK runs the list's functions in the order they were added,
# each once, with HOOK as the argument. (The real file also splices lists
# and keeps them out of the environment of the programs run.)

boot_hook_add() {
    eval "${1}_hook=\"\${${1}_hook:+\${${1}_hook} }\$2\""
}

boot_run_hook() {
    local func
    for func in $(eval "echo \"\${${1}_hook:-}\""); do
        "$func" "$1"
    done
    eval "${1}_hook="
}
