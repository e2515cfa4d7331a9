# shellcheck shell=dash disable=SC2034 # snmpd_port is the callers'
# Debian's snmpd with qv_entity behind it, on the PC, for the SNMP test
# (tests/entity/snmpd_test.sh) and the walk's benchmark
# (benchmark/snmp-walk.sh). Sourced; every name it defines starts with
# snmpd_.
#
# snmpd_start DIR HANDLER IMAGE RELEASE: starts snmpd on a free UDP port of
# 127.0.0.1, with a configuration of its own (no default files, no AgentX
# or SMUX, its log in DIR), whose pass_persist section runs HANDLER
# (qv_entity) on IMAGE and RELEASE, and waits until it answers. Community
# "public" reads the system group and the entity table, nothing else, so a
# walk ends where the table does; "private" may write (snmpd then asks the
# handler, which refuses). Run as root, snmpd runs as nobody: DIR, HANDLER,
# IMAGE and RELEASE must then be for nobody to read (DIR: and to enter).
# Bounded by timeout; snmpd_stop ends it. Sets snmpd_port.
#
# snmpd_client COMMAND ARG...: an snmp client command (snmpwalk, snmpget...)
# with -v2c -On and a short timeout, against that snmpd, with no host
# configuration or MIB files of its own; ARG... are the command's own
# (-c COMMUNITY first).

snmpd_pid='' snmpd_port='' snmpd_dir=''

snmpd_client() {
    local command="$1"
    shift
    SNMPCONFPATH=$snmpd_dir/client SNMP_PERSISTENT_DIR=$snmpd_dir/client MIBS='' \
        timeout 20 "$command" -v2c -On -t 2 -r 1 "$@"
}

snmpd_start() {
    local dir="$1" handler="$2" image="$3" release="$4" tries=0 port waited
    snmpd_dir=$dir
    # As nobody when run as root. setpriv and timeout each exec what they
    # run, so the background job's pid is timeout's, which passes a signal
    # on to snmpd.
    set --
    [ "$(id -u)" != 0 ] || set -- setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups
    mkdir -p "$dir/snmpd" "$dir/client" || return 1
    [ "$(id -u)" != 0 ] || chown nobody "$dir/snmpd" || return 1
    while [ $tries -lt 10 ]; do
        tries=$((tries + 1))
        port=$(($(od -An -N2 -tu2 /dev/urandom) % 30000 + 20000))
        [ -z "$(ss -Hlun "sport = :$port" 2>/dev/null)" ] || continue
        cat >"$dir/snmpd/snmpd.conf" <<EOF || return 1
agentaddress udp:127.0.0.1:$port
view readable included .1.3.6.1.2.1.1
view readable included .1.3.6.1.2.1.47.1.1.1
rocommunity public 127.0.0.1 -V readable
rwcommunity private 127.0.0.1 -V readable
sysDescr QV test agent
dontLogTCPWrappersConnects yes
pass_persist .1.3.6.1.2.1.47.1.1.1 $handler -d $image -r $release
EOF
        SNMP_PERSISTENT_DIR=$dir/snmpd/state MIBS='' "$@" \
            timeout 600 snmpd -f -C -c "$dir/snmpd/snmpd.conf" -I -smux -Lf "$dir/snmpd/log" \
            </dev/null >/dev/null 2>"$dir/snmpd/stderr" &
        snmpd_pid=$!
        waited=0
        while [ $waited -lt 50 ]; do
            kill -0 "$snmpd_pid" 2>/dev/null || break
            if snmpd_client snmpget -c public -t 1 -r 0 "127.0.0.1:$port" .1.3.6.1.2.1.1.1.0 >/dev/null 2>&1; then
                snmpd_port=$port
                return 0
            fi
            sleep 0.1
            waited=$((waited + 1))
        done
        snmpd_stop
    done
    echo "snmpd did not start; its log and standard error:" >&2
    cat "$dir/snmpd/log" "$dir/snmpd/stderr" >&2
    return 1
}

# Ends the snmpd started last (timeout passes the signal on); its handler
# sees its input end and exits.
snmpd_stop() {
    [ -n "$snmpd_pid" ] || return 0
    kill "$snmpd_pid" 2>/dev/null
    wait "$snmpd_pid" 2>/dev/null
    snmpd_pid=''
}
