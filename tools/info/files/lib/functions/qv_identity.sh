# shellcheck shell=dash
# /lib/functions/qv_identity.sh: what the boot's two users of the identity
# record share, the preinit hook /lib/preinit/01_qv_identity and the init
# script /etc/init.d/qv_identity: one read of the record and one line in
# the kernel log. Sourced by both; it works the same under a caller's
# set -e and set -u, and nothing it runs writes to the console.

# qv_identity_read: one read of the record (one qv_info), waiting at most
# two seconds for its lock: a store running at power-on must not hold up
# the boot. Sets qv_mac, qv_uid, qv_hdv and qv_prdt to qv_info's lines for
# the four fields, each FIELD=VALUE when provisioned or FIELD: REASON when
# not; when the record could not be read, all are empty and qv_why says
# why. qv_info's own messages, and the shell's word on a qv_info killed
# by a signal, go into qv_why or nowhere.
# shellcheck disable=SC2034 # the callers read them
qv_identity_read() {
    local nl='
' out status=0 rest
    qv_mac='' qv_uid='' qv_hdv='' qv_prdt='' qv_why=''
    out=$({ qv_info -w 2 show -p; } 2>&1) || status=$?
    # Status 0 or 1: four lines, mac, uid, hdv, prdt. Otherwise qv_info's
    # complaint: its first and last lines say what and where.
    case $status:$out in
    [01]:mac*"$nl"uid*"$nl"hdv*"$nl"prdt*)
        qv_mac=${out%%"$nl"*} rest=${out#*"$nl"}
        qv_uid=${rest%%"$nl"*} rest=${rest#*"$nl"}
        qv_hdv=${rest%%"$nl"*} qv_prdt=${rest#*"$nl"}
        ;;
    127:*) qv_why="no qv_info" ;;
    *)
        qv_why=${out%%"$nl"*}
        [ "${out##*"$nl"}" = "$qv_why" ] || qv_why="$qv_why; ${out##*"$nl"}"
        # 255 is qv_info's own failure; 129 to 254 a signal's end.
        if [ "$status" -gt 128 ] && [ "$status" -lt 255 ]; then
            qv_why="qv_info: killed by signal $((status - 128))"
        fi
        [ -n "$qv_why" ] || qv_why="qv_info: status $status"
        ;;
    esac
    case $qv_mac in
    mac=[0-9a-f][0-9a-f]:[0-9a-f][0-9a-f]:[0-9a-f][0-9a-f]:[0-9a-f][0-9a-f]:[0-9a-f][0-9a-f]:[0-9a-f][0-9a-f]) ;;
    mac=*) qv_mac="mac: not an address: ${qv_mac#mac=}" ;;
    esac
    return 0
}

# qv_kmsg TEXT: TEXT as one line of the kernel log, cut to 400 bytes:
# /dev/kmsg refuses a write longer than a log record and then logs nothing
# at all. Where /dev/kmsg cannot be opened or written, the line is lost and
# the boot goes on, without a word on the console.
qv_kmsg() {
    { printf '%.400s\n' "$1" >>/dev/kmsg; } 2>/dev/null || :
}

# qv_identity_log TEXT: "qv_identity: TEXT" in the kernel log.
qv_identity_log() { qv_kmsg "qv_identity: $1"; }
