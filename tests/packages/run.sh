#!/bin/sh
# SPDX-License-Identifier: MIT
# Packages test: builds the Debian packages (scripts/package), runs lintian
# on them, installs them into a minimal Debian 12 root made for the test,
# and there builds two host programs against libkestrel-dev with
# pkg-config and runs them under the installed vreader: the install test's
# consumer (linked) and the README's example (dlopen by soname).
#
#   run.sh SOURCE_DIR WORK_DIR
#
# KESTREL_PACKAGES_BUILT=DIR checks the packages already in DIR (as
# scripts/package left them) instead of building them anew.
#
# WORK_DIR keeps the base root (minbase with a compiler and pkg-config)
# and apt's downloads between runs, so only the first run on a machine
# fetches them.  Needs root (chroot, mounts) and, for that first run, the
# Debian mirror; skipped (77) without either.
set -eu
src=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
suite=bookworm

skip() { echo "packages test skipped: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root, for the chroot and its mounts"
for tool in mmdebstrap lintian dpkg-buildpackage dh unshare chroot; do
    command -v $tool >/dev/null || skip "no $tool (scripts/deps installs it)"
done

# The host's own apt sources, when they are Debian's; else mmdebstrap's
# default mirror.
sources=
for f in /etc/apt/sources.list.d/debian.sources /etc/apt/sources.list; do
    if [ -s "$f" ] && grep -q "^[^#]*$suite" "$f"; then sources=$f; break; fi
done
mirror_reachable() {
    uri=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p; s/^deb  *\(\[[^]]*\] *\)\{0,1\}\(http[^ ]*\).*/\2/p' \
          ${sources:-/dev/null} | head -n 1)
    uri=${uri:-http://deb.debian.org/debian}
    command -v curl >/dev/null || return 0
    curl -sfI --max-time 20 "${uri%/}/dists/$suite/Release" >/dev/null
}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
started=$(date +%s)
elapsed() { echo "$(($(date +%s) - started)) s"; }

# -- packages and lintian ------------------------------------------------------
if [ -n "${KESTREL_PACKAGES_BUILT:-}" ]; then
    debs=$(cd "$KESTREL_PACKAGES_BUILT" && pwd)
else
    debs=$work/debs
    "$src/scripts/package" "$debs" >"$work/package.log" 2>&1 ||
        { tail -n 30 "$work/package.log"; echo "FAIL: scripts/package"; exit 1; }
fi
echo "ok: packages ($(elapsed)): $(cd "$debs" && ls -- *.deb | tr '\n' ' ')"
if lintian --fail-on error,warning --info --pedantic --tag-display-limit 0 "$debs"/*.deb \
        >"$work/lintian.log" 2>&1; then
    echo "ok: lintian reports no error or warning ($(elapsed))"
else
    fail "lintian"
fi
grep -E '^[EWIP]: ' "$work/lintian.log" | sed 's/^/    lintian: /' || true

# -- the root ------------------------------------------------------------------
base=$work/root-base
if [ ! -f "$base/.complete" ]; then
    mirror_reachable || skip "the Debian mirror cannot be reached"
    rm -rf "$base"
    echo "creating the base root ($suite minbase, gcc, pkgconf) in $base"
    # shellcheck disable=SC2086
    mmdebstrap --mode=root --variant=minbase --include=gcc,libc6-dev,pkgconf \
        --skip=cleanup/apt/lists $suite "$base" $sources >"$work/mmdebstrap.log" 2>&1 ||
        { tail -n 20 "$work/mmdebstrap.log"; echo "FAIL: mmdebstrap"; exit 1; }
    touch "$base/.complete"
    echo "ok: base root created ($(elapsed))"
fi
root=$work/root
rm -rf "$root"
cp -a "$base" "$root"
mkdir -p "$root/tmp/debs" "$root/tmp/src" "$work/archives/partial"
for deb in "$debs"/*.deb; do
    case "$deb" in *-dbgsym_*) ;; *) cp "$deb" "$root/tmp/debs/" ;; esac
done
cp "$src/tests/install/consumer/consumer.c" "$root/tmp/src/"
"$src/tests/readme/extract.sh" "$src/README.md" "tests/readme/example.sh" >"$root/tmp/src/read_basic_info.c"
"$src/tests/readme/extract.sh" "$src/README.md" "the output below is what the test expects" \
    >"$root/tmp/src/expected"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

# Everything inside the root runs in a mount namespace of its own, so its
# mounts vanish with it whatever happens.
cat >"$root/tmp/inside.sh" <<'INSIDE'
set -u
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 PATH=/usr/sbin:/usr/bin:/sbin:/bin
failures=0
ok() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
install() { apt-get install -y -q --no-install-recommends /tmp/debs/*.deb >/tmp/apt.log 2>&1; }
# The lists kept in the base root may be stale: on a failure, update once.
if install || { apt-get update -q >>/tmp/apt.log 2>&1 && install; }; then
    ok "the packages install into a clean $(. /etc/os-release; echo "$PRETTY_NAME") root with their dependencies"
else
    tail -n 20 /tmp/apt.log; fail "apt-get install of the packages"; exit 1
fi
ldconfig -p | grep -q 'libkestrel.so.1 ' && ok "ldconfig knows libkestrel.so.1" ||
    fail "libkestrel.so.1 not in the ldconfig cache"
missing=
for f in /usr/share/man/man3/iReadCardBas.3.gz /usr/share/man/man1/vreader.1.gz \
         /usr/share/man/man1/readertest.1.gz /usr/share/doc/libkestrel-dev/html/index.html \
         /usr/lib/udev/rules.d/70-kestrel.rules; do
    [ -e "$f" ] || missing="$missing $f"
done
[ -z "$missing" ] && ok "man pages, API reference and udev rule installed" || fail "not installed:$missing"

cd /tmp/src
if cc -o consumer consumer.c $(pkg-config --cflags --libs libkestrel) 2>cc.log &&
    vreader -- ./consumer >out 2>&1 && grep -q 'reader, card and exchange OK' out; then
    ok "a consumer linked with pkg-config runs under the installed vreader"
else
    cat cc.log out 2>/dev/null; fail "pkg-config consumer"
fi
if cc -o read_basic_info read_basic_info.c $(pkg-config --cflags libkestrel) 2>cc.log &&
    vreader -- ./read_basic_info >out 2>err && diff -u expected out; then
    ok "the README's example loads libkestrel.so.1 and prints the card's basic information"
else
    cat cc.log err 2>/dev/null; fail "README example"
fi
libdir=$(pkg-config --variable=libdir libkestrel)
if (cd "$libdir" && vreader -- readertest 5) >out 2>&1 && ! grep -q 'Open Error' out; then
    ok "readertest loads the installed library"
else
    cat out; fail "readertest"
fi
timeout 20 kestreld --version >/dev/null 2>&1 && ok "kestreld runs" || fail "kestreld --version"
apt-get purge -y -q libkestrel1 kestrel-vreader kestreld >/tmp/apt.log 2>&1 &&
    ! ls /usr/lib/*/libkestrel.so* >/dev/null 2>&1 && ok "the packages purge cleanly" ||
    { tail -n 20 /tmp/apt.log; fail "purge"; }
exit $failures
INSIDE
unshare --mount --propagation private sh -c '
    root=$1 archives=$2
    mount -t proc proc "$root/proc" &&
    mount --rbind /dev "$root/dev" &&
    mount --rbind /sys "$root/sys" &&
    mount --bind "$archives" "$root/var/cache/apt/archives" &&
    chroot "$root" sh /tmp/inside.sh' sh "$root" "$work/archives" || failures=$((failures + $?))

rm -rf "$root"
echo "packages test took $(elapsed)"
if [ "$failures" -ne 0 ]; then
    echo "packages test: $failures failed"
    exit 1
fi
echo "packages test: all passed"
