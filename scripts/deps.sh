# Sourced by the scripts in this folder.
#
# qv_need PACKAGE...: makes sure the Debian packages are installed. As root it
# installs the missing ones; otherwise it names them and fails.
qv_need() {
    missing=
    for pkg in "$@"; do
        dpkg-query -W -f='${db:Status-Status}\n' "$pkg" 2>/dev/null | grep -qx installed ||
            missing="$missing $pkg"
    done
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing Debian packages:$missing" >&2
        echo "install them with: sudo apt-get install$missing" >&2
        return 1
    fi
    echo "installing Debian packages:$missing"
    if [ -z "${QV_APT_UPDATED:-}" ]; then
        apt-get update -qq || return 1
        QV_APT_UPDATED=1
    fi
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null || return 1
}

# What a PC build with its tests needs.
QV_HOST_PACKAGES="cmake ninja-build g++ gcc binutils pkgconf libgtest-dev libgmock-dev iproute2 util-linux"

# qv_need_arch ARCH: makes sure dpkg takes packages of the architecture ARCH
# (for PACKAGE:ARCH in qv_need). As root it adds it; otherwise it names the
# commands and fails.
qv_need_arch() {
    [ "$(dpkg --print-architecture)" = "$1" ] && return 0
    dpkg --print-foreign-architectures | grep -qx "$1" && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "dpkg does not take $1 packages yet" >&2
        echo "add it with: sudo dpkg --add-architecture $1 && sudo apt-get update" >&2
        return 1
    fi
    echo "adding the $1 architecture to dpkg"
    # The package lists must be read again to know the new architecture.
    dpkg --add-architecture "$1" && apt-get update -qq || return 1
    QV_APT_UPDATED=1
}

# The cross build for the board (glibc) with its tests run by qemu-user, and
# GoogleTest's sources to build it for the board.
QV_ARMHF_PACKAGES="g++-arm-linux-gnueabihf binutils-arm-linux-gnueabihf qemu-user googletest"

# The build against musl, OpenWrt's C library (needs the armhf architecture:
# qv_need_arch armhf).
QV_MUSL_PACKAGES="musl-dev:armhf"

# The sanitizer build with its fuzz harnesses: clang, and its runtimes
# (AddressSanitizer, UndefinedBehaviorSanitizer, libFuzzer).
QV_SANITIZE_PACKAGES="clang libclang-rt-14-dev"

# --- Virtual boards (scripts/board, scripts/system-test) ---
# qemu for both boards, the cross compilers for the i.MX6UL, and what packs
# a board's root file system. The boards' kernels and busybox are not
# installed: board/fetch downloads Debian's packages into a cache, the armhf
# ones too, for which dpkg must know that architecture.
QV_BOARD_PACKAGES="qemu-system-arm qemu-system-x86 g++-arm-linux-gnueabihf cpio kmod xz-utils util-linux"

# --- Devices over SSH (scripts/device-test) ---
# The SSH client and its key generator. The virtual boards' SSH server is
# not installed: board/fetch downloads Debian's dropbear into its cache.
QV_DEVICE_PACKAGES="openssh-client"
