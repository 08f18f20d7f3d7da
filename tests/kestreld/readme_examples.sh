#!/bin/sh
# SPDX-License-Identifier: MIT
# The curl examples of the README work as shown: each "$ curl ..." line of
# its kestreld section is run against a fresh kestreld under vreader (on a
# free port instead of 7325, the holder's PIN typed three times and the
# debit enabled as the README starts it), in order, and must print exactly
# the line that follows it.
# Usage: readme_examples.sh BUILD_DIR README
set -eu
build=$1
readme=$2
command -v curl >/dev/null || { echo "curl is not installed (scripts/deps installs it)"; exit 77; }
tmp=$(mktemp -d)
: >"$tmp/out"
"$build/vreader" --keypad "123456 123456 123456" -- "$build/kestreld" --no-config --port 0 --enable debit >"$tmp/out" 2>"$tmp/log" &
vreader_pid=$!
cleanup() {
    for p in $(cat "/proc/$vreader_pid/task/$vreader_pid/children" 2>/dev/null) $vreader_pid; do
        kill "$p" 2>/dev/null || true
    done
    wait "$vreader_pid" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
i=0
port=""
while [ -z "$port" ] && [ $i -lt 200 ]; do
    port=$(sed -n 's|^kestreld: listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$tmp/out")
    sleep 0.05
    i=$((i + 1))
done
[ -n "$port" ] || { cat "$tmp/log"; echo "kestreld did not start"; exit 1; }

# The example lines: after the marker, inside the console block.
sed -n '/tests\/kestreld\/readme_examples.sh/,/^```$/p' "$readme" | sed '1,2d;$d' >"$tmp/examples"
passed=0
failed=0
while IFS= read -r command && IFS= read -r expected; do
    case "$command" in '$ curl '*) ;; *) echo "not an example: $command"; exit 1 ;; esac
    command=$(printf '%s' "${command#\$ }" | sed "s/:7325/:$port/g")
    got=$(sh -c "$command")
    if [ "$got" = "$expected" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAILED: %s\n  expected: %s\n  got:      %s\n' "$command" "$expected" "$got"
    fi
done <"$tmp/examples"
echo "README examples: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
