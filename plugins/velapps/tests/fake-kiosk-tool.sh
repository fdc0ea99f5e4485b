#!/bin/sh
# Recording fake of a kiosk tool, installed at the tool paths (under a test's
# scratch folder, or at the real ones inside its mount namespace): logs each
# call with the configuration it saw, and fails when
# <root>/opt/velapps-fake/fail-<tool> holds an exit status or "signal" (which
# kills the shell that system() started, so the caller sees a signal).
root=${0%/opt/MERXkx/*}
state=$root/opt/velapps-fake
tool=$(basename "$0")
seen=$(ls -A "$root/var/opt/MERXkx/kiosk/config" 2>/dev/null | tr '\n' ' ')
echo "$tool $* [$seen]" >>"$state/calls.log"
if [ -f "$state/fail-$tool" ]; then
    read -r how <"$state/fail-$tool"
    if [ "$how" = signal ]; then kill -KILL "$PPID"; exit 1; fi
    exit "$how"
fi
if [ "$tool" = kxadmingid ]; then
    cat "$state/gid" 2>/dev/null || echo 0
fi
exit 0
