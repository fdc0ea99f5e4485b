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
    HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" VESK_POLICY_STORE="$scratch/store" \
        VESKLEG_LOG=1 "$build/bin/startlist"
    cat "$scratch/home/.gnome2/session-manual"
    show_autostart

    echo "== startlist: second run after the user layer is removed"
    rm "$scratch/store/users/$user/com.orvek.ferrun.applications.xml"
    HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" VESK_POLICY_STORE="$scratch/store" \
        VESKLEG_LOG=1 "$build/bin/startlist"
    cat "$scratch/home/.gnome2/session-manual"
    show_autostart
)

# The autostart entries of the scratch HOME, each with its name.
show_autostart() {
    for entry in "$scratch"/home/.config/autostart/*.desktop; do
        [ -e "$entry" ] || continue
        echo "-- ${entry#"$scratch/home/"}"
        cat "$entry"
    done
}

# deskrunner on the bundled sample policy, for a few seconds: a scratch copy of
# the store and a scratch HOME whose desktop holds a file of the user's own and
# a launcher hollin wrote in an earlier session. It writes the launchers, rewrites
# them live after an edit of the launcher policy, and stops on SIGTERM.
launchers_demo() (
    scratch=$(mktemp -d)
    pid=
    trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$scratch"' EXIT
    cp -r "$here/store" "$scratch/store"
    mkdir -p "$scratch/home/Desktop"
    echo "my own notes" >"$scratch/home/Desktop/notes.txt"
    printf "[Desktop Entry]\nX-MERX-Managed=true\n" >"$scratch/home/Desktop/MERXold.desktop"
    layer="$scratch/store/default/com.orvek.ferrun.applications.xml"

    show_desktop() {
        for f in "$scratch/home/Desktop"/*; do
            echo "--- ${f##*/}"
            cat "$f"
        done
    }

    echo "== deskrunner: started on the sample policy"
    HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/.config" VESK_POLICY_STORE="$scratch/store" \
        VESKLEG_LOG=1 VESKLEG_LOG_LEVEL=Info \
        "$build/bin/deskrunner" &
    pid=$!
    sleep 2
    show_desktop

    echo "== deskrunner: the launcher policy edited (terminal renamed, helpdesk removed, editor added)"
    sed -e 's|<value>Terminal</value>|<value>Console</value>|' \
        -e '/<node zel:name="helpdesk"/,/<\/node>/d' "$layer" >"$scratch/layer.xml"
    # The editor goes in as the last launcher of the list.
    awk '/<\/node>/ { last = NR } { lines[NR] = $0 }
         END { for (i = 1; i <= NR; i++) {
                 if (i == last) {
                   print "    <node zel:name=\"editor\">"
                   print "      <prop zel:name=\"Name\" zel:type=\"xs:string\"><value>Editor</value></prop>"
                   print "      <prop zel:name=\"Exec\" zel:type=\"xs:string\"><value>xedit</value></prop>"
                   print "    </node>"
                 }
                 print lines[i] } }' "$scratch/layer.xml" >"$scratch/layer.new"
    mv "$scratch/layer.new" "$layer"
    sleep 1
    show_desktop

    echo "== deskrunner: SIGTERM"
    kill -TERM "$pid"
    status=0
    wait "$pid" || status=$?
    pid=
    echo "deskrunner ended with status $status"
)

model_demo
startlist_demo
launchers_demo
