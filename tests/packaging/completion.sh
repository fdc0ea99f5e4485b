#!/usr/bin/env bash
# The bash completion of hollinctl against the built hollinctl and the sample
# store: each line of the table is the words typed and the completions.
#   tests/packaging/completion.sh BIN_DIR
set -u
source "$(dirname "$0")/../../dist/completion/hollinctl"
export PATH=$1:$PATH
export VESK_POLICY_STORE=$(cd "$(dirname "$0")/../../examples/store" && pwd)
failed=0
while IFS='|' read -r typed expected; do
    read -r -a COMP_WORDS <<<"$typed"
    [[ $typed == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _hollinctl
    if [[ "${COMPREPLY[*]}" != "$expected" ]]; then
        echo "\"$typed\": \"${COMPREPLY[*]}\", not \"$expected\""
        failed=1
    fi
done <<'CASES'
hollinctl |list layers dump get watch check set unset lock unlock export-ldif cache help
hollinctl --v|--version
hollinctl --format = j|json
hollinctl dump |com.orvek.ferrun.applications
hollinctl --entity kiosk.default layers com.orvek.L|com.orvek.Lumora.Apps
hollinctl get com.orvek.f|com.orvek.ferrun.applications/
hollinctl dump com.orvek.ferrun.applications --locale |
CASES
exit $failed
