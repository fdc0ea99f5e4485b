#!/bin/sh
# hollin-dconf on the real parts: Debian's dconf, gsettings and the desktop
# schemas, two users with sessions of their own (runuser + dbus-run-session)
# and a private system bus, as root in a private mount namespace with tmpfs
# over /etc/dconf and /run and private passwd and group files.
#   live-settings-test.sh HOLLIN_DCONF
# The world it runs in: settings-world.sh.
. "$(dirname "$0")/settings-world.sh"

S=org.gnome.desktop.screensaver
I=org.gnome.desktop.interface

# --- a default layer with a locked screen lock and defaults; groups differ.
printf 'user-db:user\nsystem-db:site\n' >/etc/dconf/profile/user
mkdir -p /etc/dconf/db/site.d/locks &&
    printf '[org/gnome/desktop/interface]\nclock-format=%s\n' "'12h'" >/etc/dconf/db/site.d/00 &&
    dconf update || fail "the site database cannot be compiled"
layer default "$(path screensaver "$(prop lock-delay xs:int 300 'zel:finalized="true"')$(prop lock-enabled xs:boolean true 'zel:finalized="true"')")$(path interface "$(prop cursor-size xs:int 32)")"
layer groups/hxsstaff "$(path interface "$(prop gtk-theme xs:string Staff)$(prop clock-show-seconds xs:string notabool)")$(path screensaver "$(prop lock-delay xs:int 5)")"
layer groups/hxslab "$(path interface "$(prop gtk-theme xs:string Lab)$(prop text-scaling-factor xs:double 1.5)$(prop color-scheme xs:string prefer-dark)")"
apply
expect "per-user group value a" "'Staff'" "$(get hxsa "$I gtk-theme")"
expect "per-user group value b" "'Lab'" "$(get hxsb "$I gtk-theme")"
expect "uint32 schema type" "uint32 300" "$(get hxsa "$S lock-delay")"
grep -q '^lock-delay=uint32 300$' /etc/dconf/db/hollin_61001.d/hollin || fail "lock-delay not written as uint32"
expect "enum by nick" "'prefer-dark'" "$(get hxsb "$I color-scheme")"
expect "a locked key is not writable" "false" "$(get hxsa "" | true; in_session hxsa "gsettings writable $S lock-delay")"
in_session hxsa "gsettings set $S lock-delay 10" >"$work/set.out" && fail "gsettings set on a locked key succeeded"
grep -q "not writable" "$work/set.out" || fail "gsettings set on a locked key: $(cat "$work/set.out")"
expect "DCONF_PROFILE does not escape a lock" "uint32 300" "$(get hxsa "$S lock-delay" /dev/null)"
expect "a default may be changed" "42" "$(in_session hxsa "gsettings set $I cursor-size 42 && gsettings get $I cursor-size")"
expect "the group value below a default lock is refused" "uint32 300" "$(get hxsa "$S lock-delay")"
grep -q "clock-show-seconds (layer groups/hxsstaff of user hxsa) is left out" "$work/apply.log" ||
    fail "no warning for the wrong-typed value: $(cat "$work/apply.log")"
expect "the rest of the layer with a wrong value applies" "'Staff'" "$(get hxsa "$I gtk-theme")"
expect "site databases stay below the policy" "'12h'" "$(get hxsa "$I clock-format")"
expect "profile" "user-db:user system-db:hollin_61001 system-db:site" \
    "$(grep -v '^#' /run/dconf/user/61001 | tr '\n' ' ' | sed 's/ $//')"
expect "profile mode and owner" "644 0" "$(stat -c '%a %u' /run/dconf/user/61001)"

# --- nothing written when nothing changed.
before=$(stat -c %Y.%i /etc/dconf/db/hollin_61001)
"$DCONF_TOOL" apply --user hxsa | grep -q "up to date" || fail "an unchanged apply was not up to date"
expect "unchanged database kept" "$before" "$(stat -c %Y.%i /etc/dconf/db/hollin_61001)"

# --- a running session hears of an edit; follow applies it within 1 s.
VESKLEG_LOG=1 VESKLEG_LOG_LEVEL=Warning "$DCONF_TOOL" follow 2>"$work/follow.log" &
follow=$!
runuser -u hxsa -- env -i HOME="$work/home-hxsa" PATH=/usr/bin:/bin \
    DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS" \
    dbus-run-session -- gsettings monitor $S lock-delay >"$work/monitor.out" 2>&1 &
session=$!
screen() { # the default layer with lock-delay $1
    layer default "$(path screensaver "$(prop lock-delay xs:int "$1" 'zel:finalized="true"')$(prop lock-enabled xs:boolean true 'zel:finalized="true"')")$(path interface "$(prop cursor-size xs:int 32)")"
}
# wait_until SECONDS COMMAND: polls the command until it succeeds or time is up.
wait_until() {
    end=$(($(date +%s%N) + $1 * 1000000000))
    until sh -c "$2"; do
        [ "$(date +%s%N)" -lt "$end" ] || return 1
        sleep 0.02 # the poll interval of this deadline-bound wait
    done
}
# The monitor listens once it has heard one change: prime it until it does.
n=301
until wait_until 1 "grep -q 'uint32 $n' '$work/monitor.out'"; do
    [ $n -lt 320 ] || { fail "the running session never heard of a change"; break; }
    n=$((n + 1)) && screen $n
done
start=$(date +%s%N)
screen 600
wait_until 1 "grep -q 'uint32 600' '$work/monitor.out'" ||
    fail "gsettings monitor did not report the edit within 1 s: $(tail -2 "$work/monitor.out")"
echo "edit to monitor: $((($(date +%s%N) - start) / 1000000)) ms"
expect "an edit reaches gsettings get" "uint32 600" "$(get hxsa "$S lock-delay")"

# --- a broken layer and a stopped store leave every value and lock as it was.
printf '<zel:component-data xmlns:zel="urn:vesk:policy-layer" zel:name="com.orvek.ferrun.settings"><node' \
    >"$VESK_POLICY_STORE/groups/hxsstaff/com.orvek.ferrun.settings.xml"
mv "$VESK_POLICY_STORE" "$work/store.stopped"
"$DCONF_TOOL" apply --user hxsb >>"$work/apply.log" 2>&1 || fail "apply with the store stopped failed without a kept copy"
mv "$work/store.stopped" "$VESK_POLICY_STORE"
wait_until 2 "grep -q 'broken' '$work/follow.log'" || fail "follow did not notice the broken layer"
expect "a broken layer keeps the value" "uint32 600" "$(get hxsa "$S lock-delay")"
expect "a broken layer keeps the lock" "false" "$(in_session hxsa "gsettings writable $S lock-delay")"
expect "a stopped store keeps b's value" "'Lab'" "$(get hxsb "$I gtk-theme")"

# --- a key taken out gives the user's own value back; no layer left: no trace.
layer groups/hxsstaff "$(path interface "$(prop gtk-theme xs:string Staff)")"
screen 600
in_session hxsa "gsettings set $I cursor-size 24" >/dev/null
layer default "$(path screensaver "$(prop lock-delay xs:int 600)")"
wait_until 2 "grep -q 'lock-delay=uint32 600' /etc/dconf/db/hollin_61001.d/hollin && ! grep -q cursor-size /etc/dconf/db/hollin_61001.d/hollin" ||
    fail "follow did not apply the removal"
expect "the lock lifted" "true" "$(in_session hxsa "gsettings writable $S lock-delay")"
expect "the user's own value back" "24" "$(get hxsa "$I cursor-size")"
rm -r "$VESK_POLICY_STORE/default" "$VESK_POLICY_STORE/groups"
wait_until 2 "[ ! -e /run/dconf/user/61001 ] && [ ! -e /etc/dconf/db/hollin_61001 ]" ||
    fail "no layer left, but the profile or the database of a stays"
expect "every key writable without policy" "true true" \
    "$(in_session hxsa "gsettings writable $S lock-delay; gsettings writable $I gtk-theme" | tr '\n' ' ' | sed 's/ $//')"
expect "the user's settings are the user's" "uint32 7" \
    "$(in_session hxsa "gsettings set $S lock-delay 7 && gsettings get $S lock-delay")"
"$DCONF_TOOL" remove --user hxsb >/dev/null || fail "remove failed"
[ ! -e /run/dconf/user/61002 ] && [ ! -e /etc/dconf/db/hollin_61002.d ] || fail "remove left files"

# --- follow serves a user whose session appears, never a system account.
layer default "$(path screensaver "$(prop lock-delay xs:int 120)")"
mkdir /run/user/990 /run/user/61002
wait_until 2 "[ -e /run/dconf/user/61002 ]" || fail "follow did not serve a new session"
[ ! -e /run/dconf/user/990 ] || fail "a system account got a profile"
kill "$follow" && wait "$follow" 2>/dev/null
follow=

# --- the PAM hook acts at session open only, and not for system accounts.
"$DCONF_TOOL" remove --user hxsb >/dev/null
PAM_TYPE=close_session PAM_USER=hxsb "$DCONF_TOOL" apply --pam || fail "the hook failed at close"
[ ! -e /run/dconf/user/61002 ] || fail "the hook applied at session close"
PAM_TYPE=open_session PAM_USER=hxsys "$DCONF_TOOL" apply --pam || fail "the hook failed for hxsys"
[ ! -e /run/dconf/user/990 ] || fail "the hook gave a system account a profile"
PAM_TYPE=open_session PAM_USER=hxsb "$DCONF_TOOL" apply --pam >/dev/null || fail "the hook failed"
expect "the hook applies at session open" "uint32 120" "$(get hxsb "$S lock-delay")"

[ $failures = 0 ] || { echo "$failures failures; apply log:" >&2; cat "$work/apply.log" >&2; exit 1; }
echo "all settings cases passed"
