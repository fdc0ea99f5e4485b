#!/bin/sh
# Memcheck on the programs of a normal build: startlist once on the sample
# policy, and deskrunner through its first write and one live rewrite of the
# launchers, ended by SIGTERM. Fails on any memcheck error or definite leak.
#   tests/reliability/valgrind.sh BUILD_DIR
set -u
build=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d /tmp/hollin-valgrind-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
cp -r "$source/examples/store" "$scratch/store"
mkdir -p "$scratch/startlist-home" "$scratch/deskrunner-home/Desktop"
export VESK_POLICY_STORE="$scratch/store"
# The programs read and write below their HOME only.
unset XDG_CONFIG_HOME
memcheck="valgrind --tool=memcheck --error-exitcode=99 --leak-check=full
    --show-leak-kinds=definite --errors-for-leak-kinds=definite"
failed=0
report() { # name status log
    if [ "$2" -eq 0 ]; then
        echo "valgrind $1: no errors, no definite leaks"
    else
        echo "valgrind $1: FAILED (exit $2); log $3" >&2
        grep -E "ERROR SUMMARY|definitely lost|Invalid|uninitialised" "$3" | head -10 >&2
        failed=1
    fi
}

HOME=$scratch/startlist-home $memcheck --log-file="$scratch/startlist.log" "$build/bin/startlist"
status=$?
grep -q "xclock -digital" "$scratch/startlist-home/.gnome2/session-manual" 2>/dev/null ||
    { echo "valgrind startlist: session-manual not written" >&2; status=1; }
cp "$scratch/startlist.log" "$build/valgrind-startlist.log"
report startlist "$status" "$build/valgrind-startlist.log"

waitfor() { # seconds file text
    i=0
    while [ "$i" -lt $(($1 * 10)) ]; do
        grep -q "$3" "$2" 2>/dev/null && return 0
        sleep 0.1 # the poll interval of this deadline-bound wait
        i=$((i + 1))
    done
    return 1
}
launcher=$scratch/deskrunner-home/Desktop/MERXterminal.desktop
layer=$scratch/store/default/com.orvek.ferrun.applications.xml
HOME=$scratch/deskrunner-home $memcheck --log-file="$scratch/deskrunner.log" \
    "$build/bin/deskrunner" 2>"$scratch/deskrunner.err" &
pid=$!
status=0
if waitfor 60 "$launcher" "Exec=xterm"; then
    # The listener is registered only after the first write, so the edit is
    # repeated until one arrives after it (each is a change against the tree
    # read for the first write).
    sed 's|<value>xterm</value>|<value>xterm -ls</value>|' "$layer" >"$scratch/edited.xml"
    tries=0
    until waitfor 3 "$launcher" "Exec=xterm -ls"; do
        tries=$((tries + 1))
        if [ "$tries" -gt 20 ]; then
            echo "valgrind deskrunner: the live rewrite did not arrive" >&2
            status=1
            break
        fi
        cp "$scratch/edited.xml" "$layer.new" && mv "$layer.new" "$layer"
    done
else
    echo "valgrind deskrunner: no launcher written" >&2
    status=1
fi
kill -TERM "$pid"
wait "$pid"
exited=$?
[ "$status" -eq 0 ] && status=$exited
cp "$scratch/deskrunner.log" "$build/valgrind-deskrunner.log"
report deskrunner "$status" "$build/valgrind-deskrunner.log"
exit "$failed"
