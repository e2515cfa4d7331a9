#!/bin/sh
# status_include_test.sh: LuCI's status include of the identity record
# (tools/info/luci), run in Debian's headless Chromium on a page that
# stands for the Status page's overview (status_page.html) over stand-ins
# of luci.js and rpc.js, one case a canned ubus reply of qvboard identity.
# Compares the boxes the page shows, described as text (tests/lib/checks.sh).
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=tests/lib/checks.sh
. "$here/../lib/checks.sh"
checks_start "$work"

# show REPLY: what the page shows when ubus's JSON-RPC endpoint answers the
# call to qvboard identity with REPLY (nothing: there is no such object).
# Chromium runs with a profile of its own and nothing that reaches out; its
# messages stay in a file, printed only when it fails.
show() {
    ubus=$(if [ -n "$1" ]; then printf '{"qvboard.identity":%s}' "$1"; else printf '{}'; fi | base64 -w 0)
    profile=$(mktemp -d "$work/profile.XXXXXX") || return 1
    timeout -k 5 30 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --allow-file-access-from-files --user-data-dir="$profile" \
        --dump-dom "file://$here/status_page.html#$ubus" >"$work/dom" 2>"$work/chromium.err" || {
        status=$?
        cat "$work/chromium.err" >&2
        return $status
    }
    # The description's lines, between its element's opening and closing
    # tags, as text again (the DOM's text escapes &, < and >).
    sed -n '/^<div id="qv-result">$/,/^<\/div>$/p' "$work/dom" | sed -e '1d' -e '$d' \
        -e 's/&lt;/</g' -e 's/&gt;/>/g' -e 's/&amp;/\&/g'
}

if ! checks_have chromium "the Status page's box"; then
    checks_done
    exit
fi
checks_run "a provisioned unit" 0 \
'box "Board identity": table
"Product" | "QV-SW10"
"Hardware version" | "rev-B"
"Serial number" | "SN1"
"MAC address" | "02:11:22:33:44:55"
"Provisioned" | "yes"\n' '' \
    show '{"jsonrpc":"2.0","id":1,"result":[0,{"mac":"02:11:22:33:44:55","uid":"SN1","hdv":"rev-B","prdt":"QV-SW10","provisioned":true}]}'
checks_run "a unit not provisioned: blank fields are said to be blank" 0 \
'box "Board identity": table
"Product" | <em>"not set"</em>
"Hardware version" | <em>"not set"</em>
"Serial number" | "SN1"
"MAC address" | "00:00:00:00:00:00"
"Provisioned" | "no"\n' '' \
    show '{"jsonrpc":"2.0","id":1,"result":[0,{"mac":"00:00:00:00:00:00","uid":"SN1","hdv":"","prdt":"","provisioned":false}]}'
# The fields' markup and bytes arrive as the plugin escapes them (\u00XX).
checks_run "fields holding markup and control bytes are text" 0 \
'box "Board identity": table
"Product" | "<img src=x onerror=window.injected=1>"
"Hardware version" | "</td><td>&amp;"
"Serial number" | "a\\u0007b\\nc"
"MAC address" | "02:11:22:33:44:55"
"Provisioned" | "no"\n' '' \
    show '{"jsonrpc":"2.0","id":1,"result":[0,{"mac":"02:11:22:33:44:55","uid":"a\u0007b\nc","hdv":"</td><td>&amp;","prdt":"<img src=x onerror=window.injected=1>","provisioned":false}]}'
checks_run "no plugin (no such object on ubus): no box" 0 '' '' show ''
checks_run "a record that cannot be read (the plugin prints no reply): no box" 0 '' '' \
    show '{"jsonrpc":"2.0","id":1,"result":[7]}'
checks_done
