#!/bin/sh
# SPDX-License-Identifier: MIT
# Install test: installs the build into a temporary prefix, then builds a
# small host program against the installed copy twice, with pkg-config and
# with find_package(kestrel), and runs each under the installed vreader.
#
#   run.sh BUILD_DIR CC "CFLAGS" CROSS HARDENING
#     CFLAGS     extra compiler and linker flags for the consumer (the
#                sanitizer flags of a sanitizer build)
#     CROSS      1 when the build is for another machine: skipped (77)
#     HARDENING  1 when the build uses the hardening link flags
set -eu
build=$(cd "$1" && pwd)
cc=$2
cflags=$3
cross=$4
hardening=$5
here=$(cd "$(dirname "$0")" && pwd)

if [ "$cross" = 1 ]; then
    echo "install test skipped: cross build"
    exit 77
fi
for tool in pkg-config readelf cmake; do
    command -v $tool >/dev/null || { echo "install test skipped: no $tool"; exit 77; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {  # description, command...
    what=$1; shift
    if "$@" >/dev/null 2>&1; then echo "ok: $what"; else fail "$what"; fi
}

# -- install ---------------------------------------------------------------------
# Every component into the prefix, except the udev rule: its directory is
# absolute (udev reads no other), so it goes into a staging root instead
# of this machine's /usr/lib/udev.
for component in runtime development tools vreader kestreld Unspecified; do
    cmake --install "$build" --prefix "$prefix" --component $component >"$tmp/install.log" 2>&1 ||
        { cat "$tmp/install.log"; fail "install of component $component"; }
done
DESTDIR=$tmp/stage cmake --install "$build" --prefix "$prefix" --component udev >/dev/null
rule=$(find "$tmp/stage" -name '*.rules')
case "$rule" in
    "$tmp"/stage/usr/lib/udev/rules.d/70-*.rules) echo "ok: udev rule at ${rule#"$tmp"/stage}" ;;
    *) fail "udev rule not in /usr/lib/udev/rules.d with a number before 73: '$rule'" ;;
esac
# udev compares sysfs attributes as strings; sysfs writes idVendor in lower case.
check "udev rule tags vendor 163c for uaccess" \
    grep -Eq '^SUBSYSTEM=="usb".*ATTR\{idVendor\}=="163c".*TAG\+="uaccess"' "$rule"

# -- layout ----------------------------------------------------------------------
export PKG_CONFIG_PATH=
pc=$(find "$prefix" -name libkestrel.pc)
[ -n "$pc" ] || { fail "no libkestrel.pc installed"; exit 1; }
export PKG_CONFIG_PATH="${pc%/*}"
libdir=$(pkg-config --variable=libdir libkestrel)
check "pkg-config libdir lies in the prefix" test "$libdir" = "$prefix/${libdir#"$prefix"/}"
check "header in include/kestrel" test -f "$prefix/include/kestrel/kestrel.h"
check "libkestrel.so.1 installed" test -f "$libdir/libkestrel.so.1" -a -L "$libdir/libkestrel.so.1"
check "libkestrel.so links to the soname" test "$(readlink "$libdir/libkestrel.so")" = libkestrel.so.1
check "soname is libkestrel.so.1" \
    sh -c "readelf -d '$libdir/libkestrel.so.1' | grep -q 'SONAME.*\[libkestrel.so.1\]'"
check "CMake package installed" test -f "$libdir/cmake/kestrel/kestrelConfig.cmake"
check "vreader installed" test -x "$prefix/bin/vreader"
check "vreader(1) installed" test -f "$prefix/share/man/man1/vreader.1.gz"
check "vreader-hsm installed" test -x "$prefix/bin/vreader-hsm"
check "vreader-hsm(1) installed" test -f "$prefix/share/man/man1/vreader-hsm.1.gz"
if [ -f "$build/readertest" ]; then
    check "readertest installed" test -x "$prefix/bin/readertest"
    check "readertest(1) installed" test -f "$prefix/share/man/man1/readertest.1.gz"
fi
if [ -f "$build/kestreld" ]; then
    check "kestreld installed" test -x "$prefix/bin/kestreld"
    check "kestreld(8) installed" test -f "$prefix/share/man/man8/kestreld.8.gz"
    check "kestreld user unit names the installed program" \
        grep -qx "ExecStart=.*/bin/kestreld" "$prefix/lib/systemd/user/kestreld.service"
fi
if [ "$hardening" = 1 ]; then
    for elf in "$libdir/libkestrel.so.1" "$prefix"/bin/*; do
        check "${elf##*/}: full RELRO" \
            sh -c "readelf -lW '$elf' | grep -q GNU_RELRO && readelf -d '$elf' | grep -q 'BIND_NOW\|FLAGS.*NOW'"
    done
fi

# -- the consumer ----------------------------------------------------------------
vreader=$prefix/bin/vreader
run_consumer() {  # how, program, prefix
    how=$1 program=$2 where=$3
    lib=$(ldd "$program" | awk '/libkestrel/ {print $3}')
    case "$lib" in
        "$where"/*) echo "ok: $how consumer loads $lib" ;;
        *) fail "$how consumer loads libkestrel from '$lib', not from $where" ;;
    esac
    if "$where/bin/vreader" -- "$program" >"$tmp/out" 2>&1 &&
        grep -q 'reader, card and exchange OK' "$tmp/out"; then
        echo "ok: $how consumer ran against the virtual reader"
    else
        cat "$tmp/out"
        fail "$how consumer against the virtual reader"
    fi
}

# With pkg-config, as a Makefile would.
# shellcheck disable=SC2046,SC2086
if $cc $cflags -o "$tmp/consumer-pc" "$here/consumer/consumer.c" \
        $(pkg-config --cflags --libs libkestrel) -Wl,-rpath,"$libdir" 2>"$tmp/cc.log"; then
    run_consumer pkg-config "$tmp/consumer-pc" "$prefix"
    check "pkg-config consumer needs libkestrel.so.1" \
        sh -c "readelf -d '$tmp/consumer-pc' | grep -q 'NEEDED.*\[libkestrel.so.1\]'"
else
    cat "$tmp/cc.log"
    fail "building the consumer with pkg-config"
fi

# readertest loads ./libkestrel.so: from the library directory it finds the
# installed one.  Test 5 binds the functions and runs none.
if [ -x "$prefix/bin/readertest" ]; then
    if (cd "$libdir" && "$vreader" -- "$prefix/bin/readertest" 5) >"$tmp/out" 2>&1 &&
        ! grep -q 'Open Error' "$tmp/out"; then
        echo "ok: readertest loads the installed library"
    else
        cat "$tmp/out"
        fail "readertest from the library directory"
    fi
fi

# With find_package, after moving the installed tree: the CMake package
# must find its files relative to itself.
mv "$prefix" "$tmp/moved"
prefix=$tmp/moved
if cmake -S "$here/consumer" -B "$tmp/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags" >"$tmp/cmake.log" 2>&1 &&
    cmake --build "$tmp/cmake-build" >>"$tmp/cmake.log" 2>&1; then
    run_consumer find_package "$tmp/cmake-build/consumer" "$prefix"
else
    cat "$tmp/cmake.log"
    fail "building the consumer with find_package(kestrel)"
fi

if [ $failures -ne 0 ]; then
    echo "install test: $failures failed"
    exit 1
fi
echo "install test: all passed"
