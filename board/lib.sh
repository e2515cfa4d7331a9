# shellcheck shell=bash disable=SC2034
# Sourced by the board scripts and scripts/device-test.

say() { printf 'board: %s\n' "$*" >&2; }
fail() { printf 'board: %s\n' "$*" >&2; exit 1; }

# user_folder VARIABLE FOLDER: where the user keeps files of one kind: the
# XDG variable VARIABLE (XDG_CACHE_HOME, XDG_STATE_HOME), or else FOLDER
# (.cache, .local/state) in the home. Without HOME (cron, env -i, some
# service managers) the home is the password database's, as ssh finds it:
# never a folder that other users can write to, such as /tmp.
user_folder() {
    local home=${HOME:-}
    if [ -n "${!1:-}" ]; then
        printf '%s\n' "${!1}"
        return 0
    fi
    [ -n "$home" ] || home=$(getent passwd "$(id -u)" | cut -d: -f6)
    case $home in
    /*) printf '%s/%s\n' "$home" "$2" ;;
    *) fail "user $(id -u) has no home folder" ;;
    esac
}

# private_dir DIR: makes DIR open to its owner only, and refuses it unless
# it is a folder of the caller's alone: the caller's own, no link, and one
# that no other user could have written to. What is kept there is read back
# and trusted.
private_dir() {
    # shellcheck disable=SC2174 # the folders above it are the user's own
    mkdir -p -m 700 -- "$1" 2>/dev/null || true
    if [ -L "$1" ] || [ ! -d "$1" ] || [ ! -O "$1" ] || (($(stat -c 0%a -- "$1") & 022)); then
        fail "$1 is not a folder of user $(id -u)'s alone: nothing is kept there"
    fi
    chmod 700 -- "$1"
}

# read_back FILE FORM: the one line FILE holds when it is exactly that line
# and the line has the whole of FORM (an extended regular expression);
# otherwise nothing, and status 1. The scripts wrote the file, so anything
# else in it came from somewhere else.
read_back() {
    local value
    [ -f "$1" ] || return 1
    value=$(head -c 4096 -- "$1" | tr -d '\0')
    [[ $value =~ ^($2)$ ]] && printf '%s\n' "$value" | cmp -s - "$1" || return 1
    printf '%s\n' "$value"
}

# sh_quote WORD...: the words on one line, as a POSIX shell reads them back:
# each in single quotes, unless it is made only of characters that no shell
# treats specially.
sh_quote() {
    local word quoted=() IFS=' '
    for word in "$@"; do
        if [[ $word =~ ^[A-Za-z0-9_@%+=:,./-]+$ ]]; then
            quoted+=("$word")
        else
            quoted+=("'${word//\'/\'\\\'\'}'")
        fi
    done
    printf '%s\n' "${quoted[*]}"
}

# Downloads and unpacked packages live outside the checkout, shared by every
# worktree of the user.
board_cache() {
    if [ -n "${QV_BOARD_CACHE:-}" ]; then
        echo "$QV_BOARD_CACHE"
    else
        local folder
        folder=$(user_folder XDG_CACHE_HOME .cache) || return 1
        echo "$folder/qvboard"
    fi
}

# kernel_version KDIR: the version of the kernel unpacked in KDIR, the one
# whose modules it holds.
kernel_version() { find "$1/root/lib/modules" -mindepth 1 -maxdepth 1 -printf '%f\n' | sort | head -n 1; }

# board_arch BOARD: what a board is built from.
board_arch() {
    case $1 in
    imx6ul)
        deb_arch=armhf kernel_meta=linux-image-armmp
        board_cc="arm-linux-gnueabihf-gcc -mcpu=cortex-a7 -mfpu=neon-vfpv4 -mfloat-abi=hard"
        ;;
    x86) deb_arch=amd64 kernel_meta=linux-image-amd64 board_cc=gcc ;;
    *) fail "unknown board '$1' (imx6ul or x86)" ;;
    esac
}

# board_clients STAGE DIR: built for the board (board_arch first) into DIR:
# the clients of STAGE's libqvf.so (the library's test client, which the
# device checks take too, and the system tests' race), and the helper that
# runs a program as a user other than root.
board_clients() {
    local tests
    tests=$(cd "$(dirname "${BASH_SOURCE[0]}")/../tests" && pwd)
    mkdir -p "$2"
    # shellcheck disable=SC2086 # the compiler and its options, as words
    $board_cc -std=c11 -O2 -Wall -Wextra -Werror -o "$2/as-user" "$tests/system/as-user.c"
    [ -e "$1/lib/libqvf.so" ] && [ -e "$1/include/qvf.h" ] || return 0
    for client in qvf-client/qvf-fields system/qvf-race; do
        # shellcheck disable=SC2086 # the compiler and its options, as words
        $board_cc -std=c11 -O2 -Wall -Wextra -Werror -I"$1/include" \
            -o "$2/${client#*/}" "$tests/$client.c" -L"$1/lib" -lqvf
    done
}
