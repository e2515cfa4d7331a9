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

# --- Virtual boards (scripts/board, scripts/system-test) ---
# qemu for both boards, the cross compilers for the i.MX6UL, and what packs
# a board's root file system. The boards' kernels and busybox are not
# installed: board/fetch downloads Debian's packages into a cache, the armhf
# ones too, for which dpkg must know that architecture.
QV_BOARD_PACKAGES="qemu-system-arm qemu-system-x86 g++-arm-linux-gnueabihf cpio kmod xz-utils util-linux"

# qv_need_arch ARCH: makes dpkg and apt know the foreign architecture ARCH.
# As root it adds it; otherwise it says how and fails.
qv_need_arch() {
    dpkg --print-foreign-architectures | grep -qx "$1" && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "dpkg does not know the $1 architecture" >&2
        echo "add it with: sudo dpkg --add-architecture $1 && sudo apt-get update" >&2
        return 1
    fi
    echo "adding the Debian architecture $1"
    dpkg --add-architecture "$1" && apt-get update -qq || return 1
    QV_APT_UPDATED=1
}
