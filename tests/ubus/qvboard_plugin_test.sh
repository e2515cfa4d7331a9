#!/bin/sh
# qvboard_plugin_test.sh PLUGIN: runs the rpcd plugin as rpcd does ("list";
# "call identity" with {} on stdin) over a stand-in qv_info whose record is
# provisioned, blank or unreadable, and compares stdout, status and stderr.
set -u
plugin=$1 work=$(mktemp -d) failed=0
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cat >"$work/bin/qv_info" <<'STUB'
#!/bin/sh
case $QV_RECORD:$* in
unreadable:*) echo "qv_info: /dev/mtd3: Input/output error" >&2; exit 255 ;;
provisioned:"show -j") echo '{"mac":"02:11:22:33:44:55","uid":"SN0001","hdv":"rev-B","prdt":"QV-SW10"}' ;;
blank:"show -j") echo '{"mac":"02:11:22:33:44:55","uid":"","hdv":"","prdt":""}' ;;
blank:verify) printf 'uid: not set\nhdv: not set\nprdt: not set\n'; exit 1 ;;
esac
STUB
chmod +x "$work/bin/qv_info"

# check NAME RECORD EXPECTED ARGS...: EXPECTED is stdout, "status N", stderr.
check() {
    name=$1 want=$3
    { echo '{}' | QV_RECORD=$2 PATH="$work/bin:$PATH" "$plugin" "$4" ${5+"$5"} 2>"$work/err"
      echo "status $?"; cat "$work/err"; } >"$work/got"
    printf '%s' "$want" >"$work/want"
    if diff -u "$work/want" "$work/got" >"$work/diff"; then echo "ok   $name"; else
        echo "FAIL $name"; cat "$work/diff"; failed=1; fi
}

check "list names the one method" provisioned '{"identity":{}}
status 0
' list
check "a provisioned record" provisioned '{"mac":"02:11:22:33:44:55","uid":"SN0001","hdv":"rev-B","prdt":"QV-SW10","provisioned":true}
status 0
' call identity
check "a blank record" blank '{"mac":"02:11:22:33:44:55","uid":"","hdv":"","prdt":"","provisioned":false}
status 0
' call identity
check "an unreadable record: no reply at all" unreadable 'status 255
qv_info: /dev/mtd3: Input/output error
' call identity
exit "$failed"
