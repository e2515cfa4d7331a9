#!/bin/sh
# with-eth0.sh COMMAND...: runs COMMAND in a private network namespace that
# has an interface named eth0, the switch's management interface. Exits 77
# (skipped) where no such namespace can be made.
if ! unshare -rn true 2>/dev/null; then
    echo "skipped: cannot make a private network namespace (unshare -rn)" >&2
    exit 77
fi
# shellcheck disable=SC2016 # the inner sh expands them
exec unshare -rn sh -c '
    for kind in dummy bridge "veth peer name eth0-peer"; do
        ip link add eth0 type $kind 2>/dev/null && exec "$@"
    done
    echo "skipped: cannot add an interface eth0 in a private network namespace (ip link add)" >&2
    exit 77' with-eth0 "$@"
