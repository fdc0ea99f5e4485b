#!/usr/bin/env bash
# Runs the example programs of a build folder: demo.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: demo.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)

model_demo() {
    VESKLEG_LOG=1 VESKLEG_LOG_LEVEL=Info "$build/bin/model_demo"
}

# startlist on the bundled sample policy: a scratch copy of the store with a
# layer for the current user, a scratch HOME holding one entry of the user's
# own, and two runs to show that the second replaces what the first wrote.
# Runs in a subshell so that its clean-up trap stays its own.
startlist_demo() (
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    user=$(id -un)
    cp -r "$here/store" "$scratch/store"
    mkdir -p "$scratch/store/users/$user" "$scratch/home/.gnome2"
    cat >"$scratch/store/users/$user/com.orvek.ferrun.applications.xml" <<'LAYER'
<?xml version="1.0" encoding="UTF-8"?>
<zel:component-data xmlns:zel="urn:vesk:policy-layer" zel:name="com.orvek.ferrun.applications">
  <node zel:name="startup_list">
    <node zel:name="mail">
      <prop zel:name="command" zel:type="xs:string"><value>xbiff</value></prop>
      <prop zel:name="order" zel:type="xs:string"><value>30</value></prop>
    </node>
  </node>
</zel:component-data>
LAYER
    cat >"$scratch/home/.gnome2/session-manual" <<'SESSION'
[Default]
num_clients=1
0,RestartCommand=xterm -geometry 80x24
0,Priority=60
0,RestartStyleHint=3
0,CurrentDirectory=/tmp
SESSION

    echo "== startlist: first run (sample policy plus a layer for $user)"
    HOME="$scratch/home" VESK_POLICY_STORE="$scratch/store" VESKLEG_LOG=1 "$build/bin/startlist"
    cat "$scratch/home/.gnome2/session-manual"

    echo "== startlist: second run after the user layer is removed"
    rm "$scratch/store/users/$user/com.orvek.ferrun.applications.xml"
    HOME="$scratch/home" VESK_POLICY_STORE="$scratch/store" VESKLEG_LOG=1 "$build/bin/startlist"
    cat "$scratch/home/.gnome2/session-manual"
)

model_demo
startlist_demo
