#!/bin/sh
# Runs bench_settings in the settings test's world: hollin-dconf follow
# serving hxsa, whose running session has gsettings monitor writing to a file.
#   settings-bench.sh HOLLIN_DCONF BENCH_SETTINGS
bench=$2
. "$(dirname "$0")/../plugins/settings/tests/settings-world.sh"
layer default "$(path screensaver "$(prop lock-delay xs:int 300 'zel:finalized="true"')")"
mkdir -p /etc/dconf/db/floor.d && "$DCONF_TOOL" apply --user hxsa >/dev/null || exit 1
"$DCONF_TOOL" follow 2>"$work/follow.log" &
follow=$!
runuser -u hxsa -- env -i HOME="$work/home-hxsa" PATH=/usr/bin:/bin \
    DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS" \
    dbus-run-session -- gsettings monitor org.gnome.desktop.screensaver lock-delay \
    >"$work/monitor.out" 2>&1 &
session=$!
# The session listens once it reports a change: prime it.
n=301
until grep -q "uint32 $n" "$work/monitor.out"; do
    [ $n -lt 400 ] || { echo "the session never heard of a change" >&2; exit 1; }
    n=$((n + 1))
    layer default "$(path screensaver "$(prop lock-delay xs:int $n 'zel:finalized="true"')")"
    sleep 0.3
done
HOLLIN_BENCH_MONITOR="$work/monitor.out" "$bench"
