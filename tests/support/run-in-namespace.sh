#!/bin/sh
# Runs a test program in a private mount namespace with a tmpfs over /opt and
# a small one over /var/opt (which tests may fill up), and kiosk tools at their
# real paths under /opt/MERXkx, so that tests use the real paths without
# touching the host. Inside, HOLLIN_IN_NAMESPACE=1.
#   run-in-namespace.sh [--var-opt=SIZE] [--kiosk-tool=SCRIPT] [--stderr-to=FILE] PROGRAM...
# The kiosk tools succeed (kxadmingid prints 0) unless SCRIPT stands in for
# them. With --stderr-to, the program's standard error goes to FILE, shown
# when the program fails. With HOLLIN_EXTRA_GROUP set, the group file seen
# inside also gives the calling user a group of that name. Exit 77 (skip)
# where namespaces are unavailable, unless HOLLIN_REQUIRE_NAMESPACES=1 asks
# for a failure instead.
unavailable() {
    if [ "${HOLLIN_REQUIRE_NAMESPACES:-}" = 1 ]; then
        echo "FAILED: $1, and HOLLIN_REQUIRE_NAMESPACES=1" >&2
        exit 1
    fi
    echo "SKIPPED: $1; these tests need a private mount namespace" >&2
    exit 77
}

if [ "${HOLLIN_IN_NAMESPACE:-}" != 1 ]; then
    unshare -m --propagation private true 2>/dev/null || unavailable "unshare -m is not permitted"
    HOLLIN_IN_NAMESPACE=1 exec unshare -m --propagation private sh "$0" "$@"
fi

size=1m tool= errors=
while :; do
    case "$1" in
    --var-opt=*) size=${1#*=} ;;
    --kiosk-tool=*) tool=${1#*=} ;;
    --stderr-to=*) errors=${1#*=} ;;
    *) break ;;
    esac
    shift
done

mkdir -p /opt /var/opt &&
    mount -t tmpfs -o size=16m,mode=0755 hollin-opt /opt &&
    mount -t tmpfs -o "size=$size,mode=0755" hollin-var-opt /var/opt ||
    unavailable "tmpfs cannot be mounted in the namespace"
mkdir -p /opt/MERXkx/lib /opt/MERXkx/sbin /var/opt/MERXkx/kiosk || exit 1
for name in lib/kxadmingid lib/kxgentab lib/kxgenout sbin/kxkiosk; do
    if [ -n "$tool" ]; then
        cp "$tool" "/opt/MERXkx/$name"
    else
        printf '#!/bin/sh\n[ "${0##*/}" = kxadmingid ] && echo 0\nexit 0\n' >"/opt/MERXkx/$name"
    fi && chmod 0755 "/opt/MERXkx/$name" || exit 1
done
if [ -n "${HOLLIN_EXTRA_GROUP:-}" ]; then
    gid=59000
    while getent group "$gid" >/dev/null; do gid=$((gid + 1)); done
    { cat /etc/group && echo "$HOLLIN_EXTRA_GROUP:x:$gid:$(id -un)"; } >/var/opt/group &&
        mount --bind /var/opt/group /etc/group ||
        unavailable "the group file cannot be replaced in the namespace"
fi
[ -n "$errors" ] || exec "$@"
mkdir -p "$(dirname "$errors")" || exit 1
"$@" 2>>"$errors" && exit 0
status=$?
cat "$errors" >&2
exit $status
