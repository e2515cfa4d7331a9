# shellcheck shell=bash disable=SC2034
# Sourced by the board scripts.

say() { printf 'board: %s\n' "$*" >&2; }
fail() { printf 'board: %s\n' "$*" >&2; exit 1; }

# Downloads and unpacked packages live outside the checkout, shared by every
# worktree of the user (a user without a home keeps them in /var/tmp).
board_cache() {
    if [ -n "${QV_BOARD_CACHE:-}" ]; then
        echo "$QV_BOARD_CACHE"
    elif [ -n "${XDG_CACHE_HOME:-}" ]; then
        echo "$XDG_CACHE_HOME/qvboard"
    elif [ -n "${HOME:-}" ]; then
        echo "$HOME/.cache/qvboard"
    else
        echo "/var/tmp/qvboard-$(id -u)"
    fi
}

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
# the system tests' clients of STAGE's libqvf.so, and the helper that runs
# a program as a user other than root.
board_clients() {
    local tests
    tests=$(cd "$(dirname "${BASH_SOURCE[0]}")/../tests/system" && pwd)
    mkdir -p "$2"
    # shellcheck disable=SC2086
    $board_cc -std=c11 -O2 -Wall -Wextra -Werror -o "$2/as-user" "$tests/as-user.c"
    [ -e "$1/lib/libqvf.so" ] && [ -e "$1/include/qvf.h" ] || return 0
    for client in qvf-fields qvf-race; do
        # shellcheck disable=SC2086
        $board_cc -std=c11 -O2 -Wall -Wextra -Werror -I"$1/include" \
            -o "$2/$client" "$tests/$client.c" -L"$1/lib" -lqvf
    done
}
