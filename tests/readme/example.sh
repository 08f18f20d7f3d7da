#!/bin/sh
# SPDX-License-Identifier: MIT
# The README's host program ("Using the library from your program"),
# taken from the README itself: compiled against the source tree's header,
# run under the build's vreader with the build's library, and its output
# compared with the output the README shows.
#
#   example.sh BUILD_DIR SOURCE_DIR CC "CFLAGS"
#     CFLAGS  extra compiler and linker flags (the sanitizer flags of a
#             sanitizer build, whose library needs its runtime in the host)
set -eu
build=$1 src=$2 cc=$3 cflags=$4
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$here/extract.sh" "$src/README.md" "tests/readme/example.sh" >"$tmp/read_basic_info.c"
"$here/extract.sh" "$src/README.md" "the output below is what the test expects" >"$tmp/expected"
[ -s "$tmp/read_basic_info.c" ] && [ -s "$tmp/expected" ] ||
    { echo "FAIL: the README has no example program or no output after it"; exit 1; }

# shellcheck disable=SC2086
$cc $cflags -Wall -Wextra -Werror -I"$src/include" -o "$tmp/read_basic_info" \
    "$tmp/read_basic_info.c" -ldl
if ! "$build/vreader" -- "$tmp/read_basic_info" "$build/libkestrel.so" >"$tmp/out" 2>"$tmp/err"; then
    cat "$tmp/out" "$tmp/err"
    echo "FAIL: the example failed"
    exit 1
fi
if ! diff -u "$tmp/expected" "$tmp/out"; then
    cat "$tmp/err"
    echo "FAIL: the example's output differs from the README's"
    exit 1
fi
echo "ok: the README's example prints what the README shows"
