#!/bin/sh
# check-install.sh BUILD_DIR C_SOURCE CC PROGRAM...: installs into a scratch
# prefix, finds each PROGRAM (the build's list of them) in sbin, and builds
# a C program against the library the way another package would, through
# pkg-config.
set -eu
build=$1 source=$2 cc=$3
shift 3
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage" >/dev/null
[ $# -gt 0 ] || { echo "no programs to look for" >&2; exit 1; }
for program in "$@"; do
    if [ ! -f "$stage/sbin/$program" ] || [ ! -x "$stage/sbin/$program" ]; then
        echo "not installed: sbin/$program" >&2
        exit 1
    fi
done
for f in lib/libqvf.so lib/libqvf.so.1 include/qvf.h lib/pkgconfig/qvf.pc; do
    [ -e "$stage/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
[ "$(readlink "$stage/lib/libqvf.so")" = libqvf.so.1 ] || { echo "libqvf.so does not link to its SONAME" >&2; exit 1; }
flags=$(PKG_CONFIG_PATH="$stage/lib/pkgconfig" PKG_CONFIG_SYSROOT_DIR='' pkg-config --define-prefix --cflags --libs qvf)
# shellcheck disable=SC2086 # pkg-config's options, as words
"$cc" -std=c99 -Wall -Wextra -pedantic -Werror -o "$stage/c_api" "$source" $flags
echo "installed tree builds a C program: ok"
