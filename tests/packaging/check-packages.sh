#!/bin/sh
# Checks the Debian packages of a package build: lintian finds no error, and
# unpacked into a scratch root they hold everything an installation needs,
# with the installed hollinctl running from there.
#   tests/packaging/check-packages.sh BUILD_DIR
set -u
build=$(cd "$1" && pwd)
scratch=$(mktemp -d /tmp/hollin-packages-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
passed=0
failed=0
check() { # description command...
    what=$1
    shift
    if "$@" >"$scratch/out" 2>&1; then
        passed=$((passed + 1))
        echo "ok: $what"
    else
        failed=$((failed + 1))
        echo "FAILED: $what"
        sed 's/^/    /' "$scratch/out"
    fi
}

set -- "$build"/*.deb
[ -e "$1" ] || { echo "no packages in $build"; exit 1; }
for deb in "$@"; do
    dpkg -x "$deb" "$scratch/root"
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
libdir=$scratch/root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)

lintian_clean() {
    lintian --tag-display-limit 0 "$@" >"$scratch/lintian" 2>&1
    cat "$scratch/lintian"
    ! grep -q '^E: ' "$scratch/lintian"
}
check "lintian reports no error" lintian_clean "$@"
grep -v '^running with root' "$scratch/lintian" | sed 's/^/    lintian: /'
check "lintian finds the libraries, scripts and hardening in order" sh -c \
    '! grep -E "maintscript-calls-ldconfig|package-name-doesnt-match-sonames|hardening-no-|custom-library-search-path" "$1"' \
    check "$scratch/lintian"
check "the installed hollinctl runs: hollinctl $version" sh -c \
    '[ "$(LD_LIBRARY_PATH="$1" "$2/usr/bin/hollinctl" --version)" = "hollinctl $3" ]' \
    check "$libdir" "$scratch/root" "$version"
check "the desktop programs find all their libraries" sh -c \
    '! LD_LIBRARY_PATH="$1:$1/hollin" ldd "$2/usr/bin/startlist" "$2/usr/bin/deskrunner" | grep "not found"' \
    check "$libdir" "$scratch/root"
check "the private libraries are found through the programs' run path" sh -c \
    'readelf -d "$1/usr/bin/deskrunner" | grep -q "RUNPATH.*/usr/lib/$2/hollin"' \
    check "$scratch/root" "$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
check "the store setting names the empty store" sh -c \
    '[ "$(cat "$1/etc/vesk/store.conf")" = /etc/vesk/store ] && [ -d "$1/etc/vesk/store/default" ]' \
    check "$scratch/root"
check "the autostart entries pass desktop-file-validate" sh -c \
    'out=$(desktop-file-validate "$1"/etc/xdg/autostart/*.desktop 2>&1); echo "$out"; [ -z "$out" ]' \
    check "$scratch/root"
check "the user unit, the manual pages and the completion are there" sh -c \
    'cd "$1" && ls usr/lib/systemd/user/deskrunner.service usr/share/man/man1/hollinctl.1.gz \
        usr/share/man/man1/deskrunner.1.gz usr/share/man/man1/startlist.1.gz \
        usr/share/man/man5/hollin-layers.5.gz usr/share/bash-completion/completions/hollinctl \
        usr/share/vesk/ldap/vesk.schema' check "$scratch/root"
check "hollin-dconf, its system unit, PAM profile and manual page are there" sh -c \
    'cd "$1" && ls usr/sbin/hollin-dconf usr/lib/systemd/system/hollin-dconf.service \
        usr/share/pam-configs/hollin-dconf usr/share/man/man8/hollin-dconf.8.gz' check "$scratch/root"
check "the manual pages read without a warning" sh -c \
    'for page in "$1"/usr/share/man/man*/*.gz; do
         out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
         [ -z "$out" ] || { echo "$page: $out"; exit 1; }
     done' check "$scratch/root"
echo "packages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
