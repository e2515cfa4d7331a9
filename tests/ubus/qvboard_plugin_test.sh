#!/bin/sh
# qvboard_plugin_test.sh PLUGIN: runs the rpcd plugin as rpcd does ("list";
# "call identity" with {} on stdin) over a stand-in qv_info whose record is
# provisioned, blank or unreadable, and compares stdout, status and stderr
# (tests/lib/checks.sh).
set -u
plugin=$1 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=tests/lib/checks.sh
. "$(dirname "$0")/../lib/checks.sh"
checks_start "$work"
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

# rpcd RECORD ARGS...: the plugin as rpcd runs it, with {} on its standard
# input, over the stand-in whose record is RECORD.
rpcd() {
    record=$1
    shift
    echo '{}' | QV_RECORD=$record PATH="$work/bin:$PATH" "$plugin" "$@"
}

checks_run "list names the one method" 0 '{"identity":{}}\n' '' rpcd provisioned list
checks_run "a provisioned record" 0 \
    '{"mac":"02:11:22:33:44:55","uid":"SN0001","hdv":"rev-B","prdt":"QV-SW10","provisioned":true}\n' '' \
    rpcd provisioned call identity
checks_run "a blank record" 0 '{"mac":"02:11:22:33:44:55","uid":"","hdv":"","prdt":"","provisioned":false}\n' '' \
    rpcd blank call identity
checks_run "an unreadable record: no reply at all" 255 '' 'qv_info: /dev/mtd3: Input/output error\n' \
    rpcd unreadable call identity
checks_done
