#!/bin/sh
# Usage (on the device, as scripts/device-test's remote command): the
# words "set -- r|w" and then this file's text.
#
# Holds the device for one run of scripts/device-test, r for a run that
# only reads, w for one that writes: keeps an entry TYPE.PID.START in a
# folder of the device user's alone until its standard input is closed.
# Prints "locked" once it holds the device, "held r|w FROM" when another
# run holds it in a way this one may not share, or why it cannot lock.
type=${1:?r or w}
lock=/tmp/qv-device-test.lock
# started PID: when the process began, unless it is gone or a zombie.
started() {
    local s
    s=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    s=${s##*") "}
    # shellcheck disable=SC2086 # its fields as words: a state letter, then numbers
    set -- $s
    [ "$1" != Z ] && echo "${20}"
}
umask 077
mkdir -p $lock 2>/dev/null
# shellcheck disable=SC2046 # the listing's fields as words
set -- $(ls -ldn $lock 2>/dev/null)
if [ "${1:-}" != drwx------ ] || [ "${3:-}" != "$(id -u)" ]; then
    echo "$lock is not a folder of user $(id -u)'s alone"; exit 0
fi
start=$(started $$) || { echo "/proc/$$/stat cannot be read"; exit 0; }
me=$type.$$.$start
echo "${SSH_CLIENT%% *}" >"$lock/$me" || { echo "cannot write in $lock"; exit 0; }
other=''
for entry in "$lock"/[rw].*; do
    name=${entry##*/}
    pid=${name#?.} start=${name#?.*.}
    pid=${pid%%.*}
    case $pid in '' | *[!0-9]*) continue ;; esac
    case $start in '' | *[!0-9]*) continue ;; esac
    if [ "$name" = "$me" ]; then
        continue
    elif [ "$(started "$pid")" != "$start" ]; then
        rm -f "$entry"
    elif [ "$type" = w ] || [ "${name%%.*}" = w ]; then
        other=$name
    fi
done
if [ -n "$other" ]; then
    rm -f "$lock/$me"
    echo "held ${other%%.*} $(cat "$lock/$other")"
    exit 0
fi
trap 'rm -f "$lock/$me"; exit 0' HUP INT TERM PIPE
echo locked
while read -r _; do :; done
rm -f "$lock/$me"
