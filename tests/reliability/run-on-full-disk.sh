#!/bin/sh
# Runs a test program in a private mount namespace with a small tmpfs over
# /var/opt, which the tests fill up (the kiosk configuration lives there, and
# the tests put the programs' homes there too), and a tmpfs over /opt holding
# kiosk tools that succeed. With HOLLIN_EXTRA_GROUP set, the group file seen
# inside also gives the calling user a group of that name (which the name
# services may allow to hold "/"). Exit 77 (skip) where namespaces are
# unavailable, unless HOLLIN_REQUIRE_NAMESPACES=1 asks for a failure instead.
unavailable() {
    if [ "${HOLLIN_REQUIRE_NAMESPACES:-}" = 1 ]; then
        echo "FAILED: $1, and HOLLIN_REQUIRE_NAMESPACES=1" >&2
        exit 1
    fi
    echo "SKIPPED: $1; the disk fault tests need a private mount namespace" >&2
    exit 77
}

if [ "${HOLLIN_FULL_DISK:-}" != /var/opt ]; then
    unshare -m --propagation private true 2>/dev/null || unavailable "unshare -m is not permitted"
    HOLLIN_FULL_DISK=/var/opt exec unshare -m --propagation private sh "$0" "$@"
fi

mount -t tmpfs -o size=1m,mode=0755 full-disk /var/opt &&
    mount -t tmpfs -o size=1m,mode=0755 kiosk-tools /opt ||
    unavailable "tmpfs cannot be mounted in the namespace"
mkdir -p /opt/MERXkx/lib /opt/MERXkx/sbin || exit 1
for tool in lib/kxadmingid lib/kxgentab lib/kxgenout sbin/kxkiosk; do
    printf '#!/bin/sh\n[ "${0##*/}" = kxadmingid ] && echo 0\nexit 0\n' >"/opt/MERXkx/$tool" &&
        chmod 0755 "/opt/MERXkx/$tool" || exit 1
done
if [ -n "${HOLLIN_EXTRA_GROUP:-}" ]; then
    gid=59000
    while getent group "$gid" >/dev/null; do gid=$((gid + 1)); done
    { cat /etc/group && echo "$HOLLIN_EXTRA_GROUP:x:$gid:$(id -un)"; } >/var/opt/group &&
        mount --bind /var/opt/group /etc/group ||
        unavailable "the group file cannot be replaced in the namespace"
fi
exec "$@"
