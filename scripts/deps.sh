# shellcheck shell=dash disable=SC2034 # the lists are read by the scripts
# Sourced by the scripts in this folder.
#
# qv_need [--arch ARCH]... PACKAGES...: makes sure dpkg takes packages of
# each ARCH (for PACKAGE:ARCH, and for the boards' downloads) and that the
# Debian packages are installed; each of PACKAGES is one package or a list
# of them, separated by spaces (the lists below). As root it adds and installs what is missing;
# otherwise it names all of it, with the one command that installs it, and
# fails before anything else is done.
qv_need() {
    archs='' missing=''
    while [ "${1:-}" = --arch ]; do
        if [ "$(dpkg --print-architecture)" != "$2" ] &&
            ! dpkg --print-foreign-architectures | grep -qx "$2"; then
            archs="$archs $2"
        fi
        shift 2
    done
    packages="$*"
    for pkg in $packages; do
        case " $missing " in *" $pkg "*) continue ;; esac
        dpkg-query -W -f='${db:Status-Status}\n' "$pkg" 2>/dev/null | grep -qx installed ||
            missing="$missing $pkg"
    done
    [ -z "$archs$missing" ] && return 0

    add_archs=''
    for arch in $archs; do
        add_archs="${add_archs}dpkg --add-architecture $arch && "
    done
    install="apt-get install -y --no-install-recommends$missing"
    [ -n "$missing" ] || install=true
    if [ "$(id -u)" -ne 0 ]; then
        [ -z "$archs" ] || echo "dpkg does not take these architectures' packages yet:$archs" >&2
        [ -z "$missing" ] || echo "missing Debian packages:$missing" >&2
        echo "install them with: sudo sh -c '${add_archs}apt-get update && $install'" >&2
        return 1
    fi
    for arch in $archs; do
        echo "adding the $arch architecture to dpkg"
        dpkg --add-architecture "$arch" || return 1
    done
    [ -n "$missing" ] || { apt-get update -qq || return 1; return 0; }
    echo "installing Debian packages:$missing"
    # The package lists are read again when an architecture was added, and
    # on a new machine, which may have none yet.
    apt-get update -qq || return 1
    # shellcheck disable=SC2086 # the missing packages, as words
    DEBIAN_FRONTEND=noninteractive apt-get install -o DPkg::Lock::Timeout=300 \
        -y -qq --no-install-recommends $missing >/dev/null || return 1
}

# What configures and builds the tool set for this PC.
QV_BUILD_PACKAGES="cmake ninja-build gcc g++ binutils"

# The PC build's tests: GoogleTest, the link checks' pkg-config, the
# network namespaces that the case tables' kez-tool rows and the LLDP test
# run in, the LLDP daemons (lldpd, with lldpcli) on the switch's side and its
# peer's, and shellcheck over the shell files that git lists (scripts/lint).
QV_HOST_TEST_PACKAGES="pkgconf libgtest-dev libgmock-dev iproute2 util-linux lldpd shellcheck git"

# The PC build's test of LuCI's Status page include: the page runs in
# headless Chromium (tests/luci).
QV_LUCI_TEST_PACKAGES="chromium"

# The SNMP test and the walk's benchmark: Debian's snmpd, the clients that
# ask it (snmpwalk, snmpget, snmpset), setpriv, which runs it as nobody for
# root, and ss, which finds it a free port.
QV_SNMP_TEST_PACKAGES="snmpd snmp util-linux iproute2"

# The cross build for the board (glibc).
QV_ARMHF_PACKAGES="g++-arm-linux-gnueabihf binutils-arm-linux-gnueabihf"

# Its tests: GoogleTest built for the board from Debian's sources, and
# qemu-user to run them on the PC (only where they run).
QV_ARMHF_TEST_PACKAGES="googletest"
QV_ARMHF_RUN_PACKAGES="qemu-user"

# The build against musl, OpenWrt's C library (needs --arch armhf).
QV_MUSL_PACKAGES="musl-dev:armhf"

# The sanitizer build with its fuzz harnesses: clang, and its runtimes
# (AddressSanitizer, UndefinedBehaviorSanitizer, libFuzzer).
QV_SANITIZE_PACKAGES="clang libclang-rt-14-dev"

# OpenWrt's package build over Debian's cross compiler (scripts/openwrt-feed):
# the host tools its makefiles call, beside the cross build's packages.
QV_OPENWRT_PACKAGES="make perl gawk fakeroot patchelf file pkgconf util-linux"

# --- Virtual boards (scripts/board, scripts/system-test) ---
# qemu for both boards, and what packs a board's root file system. The
# boards' kernels and busybox are not installed: board/fetch downloads
# Debian's packages into a cache, the armhf ones too, for which dpkg must
# take that architecture (--arch armhf).
QV_BOARD_PACKAGES="qemu-system-arm qemu-system-x86 cpio kmod xz-utils util-linux"

# --- Devices over SSH (scripts/device-test) ---
# The SSH client and its key generator, setsid, which keeps the session
# that holds a device out of the terminal's reach, and ss, which finds a
# free port for a virtual board's SSH server. That server is not installed:
# board/fetch downloads Debian's dropbear into its cache.
QV_DEVICE_PACKAGES="openssh-client util-linux iproute2"
