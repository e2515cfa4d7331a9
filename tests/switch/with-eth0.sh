#!/bin/sh
# with-eth0.sh COMMAND...: runs COMMAND in a private network namespace that
# has an interface named eth0, the switch's management interface. Exits 77
# (skipped) where no such namespace can be made. Root needs no user
# namespace, and keeps the power to give files to other users in it.
userns=-r
[ "$(id -u)" != 0 ] || userns=
# shellcheck disable=SC2086 # none or one option
if ! unshare $userns -n true 2>/dev/null; then
    echo "skipped: cannot make a private network namespace (unshare -rn)" >&2
    exit 77
fi
# shellcheck disable=SC2016,SC2086 # the inner sh expands them; none or one option
exec unshare $userns -n sh -c '
    for kind in dummy bridge "veth peer name eth0-peer"; do
        ip link add eth0 type $kind 2>/dev/null && exec "$@"
    done
    echo "skipped: cannot add an interface eth0 in a private network namespace (ip link add)" >&2
    exit 77' with-eth0 "$@"
