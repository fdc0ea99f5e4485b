#!/bin/sh
# Runs every fuzz target of a fuzz build and fails if any of them finds a
# crash, a leak, a timeout or a broken check. Usage:
#   fuzz/run-all.sh BUILD_DIR [SECONDS_PER_TARGET | ci | long [RUNS]]
# SECONDS (default 60): each target explores for that long.
# "ci" (./build.sh fuzz ci): a short, repeatable pass with a fixed seed and
# number of runs per target, about four minutes in all with the build.
# "long" (./build.sh fuzz long): the long run, 10 million executions per
# target (or RUNS), layer_merge with inputs up to 1 MiB, every target under
# the 2 GiB RSS limit. Reckoned on this 2-core machine from executions per
# second of the timed runs, going on from grown corpora: alone on an idle
# machine, hollinctl_dump some 3 200 to 3 400 per second (50 minutes: it reads
# each layer twice, once for its verdict and once merging it for the
# provenance, and compares snapshots of the tree), and the others 5 000 or
# more (half an hour each or less: hollinctl_check 5 400, layer_merge 5 300
# to 6 400, key_file 5 200, round_trip 6 100, tree_file 5 500, session_manual
# 8 100, kiosk 13 000, ldap_escape some 80 000). With two targets at a time, one per
# core, each runs about a fifth slower (hollinctl_dump 2 600 per second).
# About four hours in all on one core.
# The targets run one after another; to use both cores, run two copies of
# this script on separate build folders (copies of bin/ are enough) with the
# targets split between them.
# New inputs collect in BUILD_DIR/fuzz-corpus/<target>, so later runs go on
# from there; failing inputs land in BUILD_DIR/fuzz-artifacts/<target>/, to be
# copied into fuzz/regressions/<target>/ once fixed (fuzz/regressions/hollinctl/
# for both hollinctl targets).
set -u
build=$1
seconds=${2:-60}
long_runs=${3:-10000000}
source=$(cd "$(dirname "$0")" && pwd)
failed=""
for binary in "$build"/bin/fuzz_*; do
    target=${binary##*/fuzz_}
    dictionary=-dict=$source/layers.dict
    case $target in
        key_file | session_manual) dictionary=-dict=$source/key_file.dict ;;
        kiosk | ldap_escape) dictionary= ;;
    esac
    # One target takes inputs up to 1 MiB, so that a layer whose cost grows
    # faster than its size shows as a finding (a leak or the RSS limit).
    max_len=8192
    [ "$target" = layer_merge ] && max_len=1048576
    corpus=$build/fuzz-corpus/$target
    artifacts=$build/fuzz-artifacts/$target
    log=$build/fuzz-$target.log
    mkdir -p "$corpus" "$artifacts"
    # A target without findings yet has no regressions folder.
    # The two hollinctl targets share their seeds and findings.
    inputs=$target
    case $target in hollinctl_*) inputs=hollinctl ;; esac
    seeds=""
    for folder in "$source/corpus/$inputs" "$source/regressions/$inputs"; do
        [ -d "$folder" ] && seeds="$seeds $folder"
    done
    # Seeds and old findings first (libFuzzer runs every input it loads), then
    # mutation for the rest of the time.
    # "ci": a fixed seed and number of runs per target (about 20 s each
    # here), so that a CI run finds exactly what the same run finds on the
    # developer's machine; exploring is the timed runs' job.
    limit="-max_total_time=$seconds"
    if [ "$seconds" = ci ]; then
        case $target in
            hollinctl_dump) runs=40000 ;;
            hollinctl_check | key_file | layer_merge | session_manual) runs=80000 ;;
            round_trip | tree_file) runs=90000 ;;
            kiosk) runs=190000 ;;
            *) runs=1000000 ;;
        esac
        limit="-seed=1 -runs=$runs -max_total_time=300"
    elif [ "$seconds" = long ]; then
        limit="-runs=$long_runs"
    fi
    # -reload=0: only this run writes its corpus folder, and rereading the
    # folder every second cost some 2% of a long run.
    "$binary" $limit -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 -reload=0 \
        -print_final_stats=1 $dictionary -artifact_prefix="$artifacts/" \
        "$corpus" $seeds >"$log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    if [ "$status" -eq 0 ]; then
        echo "fuzz $target: ${runs:-?} executions (${seconds}), no findings"
    else
        echo "fuzz $target: FAILED (exit $status) after ${runs:-?} executions; log $log" >&2
        grep -E "FINDING|ERROR|SUMMARY" "$log" | head -5 >&2
        failed="$failed $target"
    fi
done
if [ -n "$failed" ]; then
    echo "fuzz targets with findings:$failed" >&2
    exit 1
fi
