#!/bin/sh
# SPDX-License-Identifier: MIT
# The demonstration page in a real browser (headless Chromium):
#   1. kestreld under vreader serves /demo; the page, opened with
#      ?autoread=1, presses Read and must show the demonstration cards;
#      a screenshot is saved.
#   2. A second kestreld (no reader) serves the same page from another
#      origin: from http://127.0.0.1:B, which the first allows, the page
#      reads the cards across origins; from http://localhost:B, which it
#      does not allow, the page must fail to read.
# Usage: browser_test.sh BUILD_DIR OUTPUT_DIR
# Exits 77 (skipped) when Chromium is missing, unless CI is set.
set -eu
build=$1
out=$2
chromium=$(command -v chromium || true)
if [ -z "$chromium" ]; then
    echo "chromium is not installed (scripts/deps installs it)"
    [ -n "${CI:-}" ] && exit 1
    exit 77
fi
mkdir -p "$out"
tmp=$(mktemp -d)
pids=""
cleanup() {
    for p in $pids; do kill "$p" 2>/dev/null || true; done
    for p in $pids; do wait "$p" 2>/dev/null || true; done
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*"
    for f in "$tmp"/*.log; do echo "== $f"; cat "$f"; done
    exit 1
}

# Waits for kestreld's "listening" line in FILE and prints the port.
port_of() {
    i=0
    while [ $i -lt 200 ]; do
        p=$(sed -n 's|^kestreld: listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$1")
        [ -n "$p" ] && { echo "$p"; return 0; }
        sleep 0.05
        i=$((i + 1))
    done
    return 1
}

# The page's origin: a kestreld without a reader.
: >"$tmp/page.out"
: >"$tmp/service.out"
"$build/kestreld" --no-config --port 0 --log-file "$tmp/page-service.log" >"$tmp/page.out" 2>&1 &
pids="$pids $!"
page_port=$(port_of "$tmp/page.out") || fail "the page's kestreld did not start"

# The service with the cards.
"$build/vreader" -- "$build/kestreld" --no-config --port 0 --allow-origin "http://127.0.0.1:$page_port" \
    --log-file "$tmp/service.log" >"$tmp/service.out" 2>&1 &
vreader_pid=$!
port=$(port_of "$tmp/service.out") || fail "kestreld under vreader did not start"
# vreader does not pass signals on: stop its kestreld by its own id.
pids="$(cat "/proc/$vreader_pid/task/$vreader_pid/children" 2>/dev/null) $vreader_pid $pids"

browse() {  # url, chromium action options...
    url=$1
    shift
    profile=$(mktemp -d "$tmp/profile.XXXXXX")
    timeout 120 "$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$profile" --virtual-time-budget=30000 "$@" "$url" 2>>"$tmp/chromium.log"
}

# field DOM NAME VALUE: the element of data-field NAME shows VALUE.
field() {
    printf '%s' "$1" | grep -q "data-field=\"$2\"[^>]*>$3<" || fail "field $2 is not '$3'"
}

check_cards() {  # DOM
    printf '%s' "$1" | grep -q 'data-state="done"' || fail "the read did not complete"
    field "$1" id.name 林晓岚
    field "$1" id.ethnicGroup 汉族
    field "$1" id.idNumber 320106199003072026
    field "$1" id.validTo 20400115
    field "$1" ss.name 张三
    field "$1" ss.cardNumber K43000042
    field "$1" ss.socialSecurityNumber 430105198001010042
    field "$1" bank.accountNumber 6217000000000000042
}

echo "== the page served by kestreld"
dom=$(browse "http://127.0.0.1:$port/demo?autoread=1" --dump-dom)
check_cards "$dom"

echo "== screenshot"
rm -f "$out/kestreld-demo.png"
browse "http://127.0.0.1:$port/demo?autoread=1" --window-size=1400,1000 --screenshot="$out/kestreld-demo.png" >/dev/null
[ -s "$out/kestreld-demo.png" ] || fail "no screenshot"
echo "saved $out/kestreld-demo.png"

echo "== the page from an allowed origin"
dom=$(browse "http://127.0.0.1:$page_port/demo?autoread=1&service=http://127.0.0.1:$port" --dump-dom)
check_cards "$dom"
grep -q "OPTIONS /v1/basic-info 204 origin http://127.0.0.1:$page_port" "$tmp/service.log" ||
    fail "no preflight from the allowed origin"

echo "== the page from an origin that is not allowed"
reads_before=$(grep -c ' 200 ' "$tmp/service.log")
dom=$(browse "http://localhost:$page_port/demo?autoread=1&service=http://127.0.0.1:$port" --dump-dom)
printf '%s' "$dom" | grep -q 'data-state="failed"' || fail "the page from a disallowed origin read the cards"
printf '%s' "$dom" | grep -q '林晓岚\|张三\|6217000000000000042' && fail "card data reached the disallowed page"
grep -q "origin 'http://localhost:$page_port' is not allowed" "$tmp/service.log" ||
    fail "the disallowed origin's requests were not refused"
[ "$(grep -c ' 200 ' "$tmp/service.log")" = "$reads_before" ] || fail "a request of the disallowed page was served"

echo "browser test: 4 passed, 0 failed"
