#!/bin/sh
# Runs a test program in a private mount namespace, with tmpfs over /opt and
# /var/opt and the recording fake kiosk tools at their real paths, so the
# kiosk plug-in can be tested on its real paths without touching the host.
# The program's standard error, where the plug-in's messages arrive, goes to
# a file the tests read; it is shown when the program fails. Exit 77 (skip)
# where namespaces are unavailable, unless HOLLIN_REQUIRE_NAMESPACES=1 asks
# for a failure instead.
fake="$(cd "$(dirname "$0")" && pwd)/fake-kiosk-tool.sh"

unavailable() {
    if [ "${HOLLIN_REQUIRE_NAMESPACES:-}" = 1 ]; then
        echo "FAILED: $1, and HOLLIN_REQUIRE_NAMESPACES=1" >&2
        exit 1
    fi
    echo "SKIPPED: $1; the kiosk plug-in's real-path tests need a private mount namespace" >&2
    exit 77
}

if [ "${VELAPPS_IN_NAMESPACE:-}" != 1 ]; then
    unshare -m --propagation private true 2>/dev/null || unavailable "unshare -m is not permitted"
    VELAPPS_IN_NAMESPACE=1 exec unshare -m --propagation private sh "$0" "$@"
fi

mkdir -p /opt /var/opt &&
    mount -t tmpfs -o size=16m,mode=0755 velapps-opt /opt &&
    mount -t tmpfs -o size=2m,mode=0755 velapps-var-opt /var/opt ||
    unavailable "tmpfs cannot be mounted in the namespace"
mkdir -p /opt/MERXkx/lib /opt/MERXkx/sbin /opt/velapps-fake /var/opt/MERXkx/kiosk || exit 1
for tool in lib/kxadmingid lib/kxgentab lib/kxgenout sbin/kxkiosk; do
    cp "$fake" "/opt/MERXkx/$tool" && chmod 0755 "/opt/MERXkx/$tool" || exit 1
done
"$@" 2>>/opt/velapps-fake/stderr.log && exit 0
status=$?
cat /opt/velapps-fake/stderr.log >&2
exit $status
