#!/usr/bin/env bash
# The bash completion of hollinctl against the built hollinctl and a copy of
# the sample store: each line of the table is the words typed and the
# completions. The entity "hostile" has components whose names hold a command
# substitution and backquotes: completing must offer them as they are and run
# nothing.
#   tests/packaging/completion.sh BIN_DIR
set -u
source "$(dirname "$0")/../../dist/completion/hollinctl"
export PATH=$(cd "$1" && pwd):$PATH
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -r "$(dirname "$0")/../../examples/store" "$scratch/store"
export VESK_POLICY_STORE=$scratch/store
mkdir -p "$scratch/store/entities/hostile" "$scratch/run/stores"
for name in 'c.$(touch${IFS}PWNED)' 'cn=`touch${IFS}PWNED`,dc=x'; do
    echo '<zel:component-data/>' >"$scratch/store/entities/hostile/$name.xml"
done
cd "$scratch/run"
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
hollinctl |list layers dump get watch check set unset lock unlock explain export export-ldif cache help
hollinctl --v|--version
hollinctl --format = j|json
hollinctl dump |com.orvek.ferrun.applications
hollinctl --entity kiosk.default layers com.orvek.L|com.orvek.Lumora.Apps
hollinctl get com.orvek.f|com.orvek.ferrun.applications/
hollinctl dump com.orvek.ferrun.applications --locale |
hollinctl se|set
hollinctl c|check cache
hollinctl help d|dump
hollinctl layers --a|--all
hollinctl dump x --format = l|layer
hollinctl get --user roo|root
hollinctl --store st|stores
hollinctl set --scope us|users/
hollinctl --entity hostile dump c|c.$(touch${IFS}PWNED) cn=`touch${IFS}PWNED`,dc=x com.orvek.ferrun.applications
hollinctl --entity hostile get c.|c.$(touch${IFS}PWNED)/
CASES
if [[ -e PWNED ]]; then
    echo "completing ran a command hidden in a component name"
    failed=1
fi
exit $failed
