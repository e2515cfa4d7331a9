#!/bin/sh
# qvboard_plugin_test.sh PLUGIN QV_INFO: runs the rpcd plugin as rpcd does
# ("list"; "call identity" with {} on stdin) under this system's sh, over
# the PC build of qv_info reading an image, and compares stdout, status and
# stderr (tests/lib/checks.sh).
set -u
plugin=$1 qv_info=$2 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=tests/lib/checks.sh
. "$(dirname "$0")/../lib/checks.sh"
checks_start "$work"
image=$work/image
mkdir "$work/bin"
# The plugin's qv_info reads the image; with QV_THEN it runs that command
# after its read, as another program's store would fall between two reads.
cat >"$work/bin/qv_info" <<STUB
#!/bin/sh
"$qv_info" -d "$image" "\$@"
status=\$?
[ -z "\${QV_THEN-}" ] || "$qv_info" -d "$image" \$QV_THEN >/dev/null
exit \$status
STUB
chmod +x "$work/bin/qv_info"

# rpcd [VAR=VALUE...] ARGS...: the plugin as rpcd runs it, with {} on its
# standard input.
rpcd() { echo '{}' | env PATH="$work/bin:$PATH" "$@"; }
store() { "$qv_info" -d "$image" set "$@" >/dev/null; }
plugin_call() { rpcd "$@" "$plugin" call identity; }

checks_run "list names the one method" 0 '{"identity":{}}\n' '' rpcd "$plugin" list
store mac=02:11:22:33:44:55 uid=SN0001 hdv=rev-B prdt=QV-SW10
checks_run "a provisioned record" 0 \
    '{"mac":"02:11:22:33:44:55","uid":"SN0001","hdv":"rev-B","prdt":"QV-SW10","provisioned":true}\n' '' plugin_call
checks_run "a record stored between two reads: the reply is the first read's" 0 \
    '{"mac":"02:11:22:33:44:55","uid":"SN0001","hdv":"rev-B","prdt":"QV-SW10","provisioned":true}\n' '' \
    plugin_call QV_THEN="set uid="
# shellcheck disable=SC1003 # the backslashes are the values' own
store 'uid=a\nb\tc\' 'hdv=' 'prdt=\'
checks_run "backslashes in the fields, and a blank one" 1 \
    '{"mac":"02:11:22:33:44:55","uid":"a\\\\nb\\\\tc\\\\","hdv":"","prdt":"\\\\","provisioned":false}\n' '' plugin_call
if command -v flock >/dev/null 2>&1; then
    flock "$image" sleep 8 &
    sleep 1
    checks_run "a record locked by another program: no reply once the wait is over" 255 '' \
        "$image: still locked by another program after 5 s\nqv_info: the record on $image could not be read\n" plugin_call
    wait
else
    checks_skip "a record locked by another program" "no flock here"
fi
rm "$image"
mkdir "$image"
checks_run "no record at all: no reply" 255 '' "$image: not a character device or a regular file\n" plugin_call
checks_done
