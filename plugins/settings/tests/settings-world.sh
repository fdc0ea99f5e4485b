# Sourced by the settings test and benchmark: re-runs the caller as root in a
# private mount namespace with tmpfs over /etc/dconf and /run, private passwd
# and group files (users hxsa in hxsstaff, hxsb in hxslab, the system account
# hxsys), a private system bus, a store in $VESK_POLICY_STORE, and helpers
# to run commands in the users' sessions and write layers.
#   . settings-world.sh HOLLIN_DCONF
# Exit 77 (skip) where the namespace cannot be made, unless
# HOLLIN_REQUIRE_NAMESPACES=1 asks for a failure.
unavailable() {
    if [ "${HOLLIN_REQUIRE_NAMESPACES:-}" = 1 ]; then
        echo "FAILED: $1, and HOLLIN_REQUIRE_NAMESPACES=1" >&2
        exit 1
    fi
    echo "SKIPPED: $1; the settings test needs root and a private mount namespace" >&2
    exit 77
}
[ "$(id -u)" = 0 ] || unavailable "not root"
for tool in dconf gsettings dbus-daemon dbus-run-session runuser; do
    command -v $tool >/dev/null || unavailable "$tool is not installed"
done
if [ "${HOLLIN_IN_NAMESPACE:-}" != 1 ]; then
    unshare -m --propagation private true 2>/dev/null || unavailable "unshare -m is not permitted"
    HOLLIN_IN_NAMESPACE=1 exec unshare -m --propagation private sh "$0" "$@"
fi

DCONF_TOOL=$1
work=$(mktemp -d /tmp/hollin-settings.XXXXXX) && chmod 0755 "$work" || exit 1
mount -t tmpfs -o size=16m,mode=0755 hollin-dconf /etc/dconf &&
    mount -t tmpfs -o size=16m,mode=0755 hollin-run /run ||
    unavailable "tmpfs cannot be mounted in the namespace"
mkdir -p /etc/dconf/db /etc/dconf/profile /run/dconf /run/user || exit 1

# Users a and b, in different groups; c a system account below UID_MIN.
cp /etc/passwd "$work/passwd" && cp /etc/group "$work/group" || exit 1
for u in a:61001:61101 b:61002:61102; do
    name=hxs${u%%:*} rest=${u#*:}
    echo "$name:x:${rest%%:*}:${rest#*:}::$work/home-$name:/bin/sh" >>"$work/passwd"
    mkdir -p "$work/home-$name" && chown "${rest%%:*}" "$work/home-$name" || exit 1
done
printf 'hxsstaff:x:61101:hxsa\nhxslab:x:61102:hxsb\n' >>"$work/group"
echo "hxsys:x:990:990::/nonexistent:/bin/sh" >>"$work/passwd"
mount --bind "$work/passwd" /etc/passwd && mount --bind "$work/group" /etc/group ||
    unavailable "passwd and group cannot be replaced in the namespace"

cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/><allow own="*"/>
    <allow send_type="method_call"/><allow send_type="signal"/>
    <allow receive_type="signal"/><allow receive_type="method_return"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --fork --print-pid >"$work/bus.pid" || exit 1
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system_bus_socket"
export VESK_POLICY_STORE="$work/store" HOLLIN_CACHE_DIR="$work/cache"
cleanup() {
    [ -n "${follow:-}" ] && kill "$follow" 2>/dev/null
    [ -n "${session:-}" ] && kill "$session" 2>/dev/null
    kill "$(cat "$work/bus.pid")" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# expect WHAT EXPECTED ACTUAL
expect() {
    [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"
}
# in_session USER COMMAND: one command in a fresh session of the user.
in_session() {
    runuser -u "$1" -- env -i HOME="$work/home-$1" PATH=/usr/bin:/bin \
        DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS" ${3:+DCONF_PROFILE=$3} \
        dbus-run-session -- sh -c "exec 2>&1; $2" 2>/dev/null
}
get() { in_session "$1" "gsettings get $2" "${3:-}"; }
# layer SCOPE TEXT: the settings layer of a scope folder (TEXT inside the component).
layer() {
    mkdir -p "$VESK_POLICY_STORE/$1" &&
        printf '<zel:component-data xmlns:zel="urn:vesk:policy-layer" zel:name="com.orvek.ferrun.settings">%s</zel:component-data>\n' "$2" \
            >"$VESK_POLICY_STORE/$1/com.orvek.ferrun.settings.xml.new" &&
        mv "$VESK_POLICY_STORE/$1/com.orvek.ferrun.settings.xml.new" \
            "$VESK_POLICY_STORE/$1/com.orvek.ferrun.settings.xml"
}
prop() { # NAME TYPE VALUE [ATTRIBUTES]
    printf '<prop zel:name="%s" zel:type="%s" %s><value>%s</value></prop>' "$1" "$2" "${4:-}" "$3"
}
path() { # the groups org/gnome/desktop/NAME around CONTENT
    printf '<node zel:name="org"><node zel:name="gnome"><node zel:name="desktop"><node zel:name="%s" %s>%s</node></node></node></node>' "$1" "${3:-}" "$2"
}
apply() { for u in hxsa hxsb; do "$DCONF_TOOL" apply --user $u >>"$work/apply.log" 2>&1 || fail "apply $u: $(tail -3 "$work/apply.log")"; done; }
