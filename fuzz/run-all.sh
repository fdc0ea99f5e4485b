#!/bin/sh
# Runs every fuzz target of a fuzz build and fails if any of them finds a
# crash, a leak, a timeout or a broken check. Usage:
#   fuzz/run-all.sh BUILD_DIR [SECONDS_PER_TARGET | ci | long [RUNS]]
# SECONDS (default 60): each target explores for that long.
# "ci" (./build.sh fuzz ci): a short, repeatable pass with a fixed seed and
# number of runs per target, about four minutes in all with the build.
# "long" (./build.sh fuzz long): the long run, 10 million executions per
# target (or RUNS), layer_merge with inputs up to 1 MiB, every target under
# the 2 GiB RSS limit. Reckoned from executions per CPU second over 10 000
# runs from the seeds (2 000 for hollinctl), the middle of three runs, on this
# 2-core machine under a load of 4 to 8: ldap_escape some 17 000 per second
# (minutes), kiosk 6 000 (half an hour), tree_file 3 800, key_file 3 500,
# session_manual 3 100 and round_trip 3 000 (under an hour each, most of it
# libxml2, the files the code under test writes and libFuzzer's own
# bookkeeping), layer_merge 2 400 with inputs up to 8 KiB (an hour and a
# quarter; more as its inputs grow towards 1 MiB), hollinctl 400 to 700 (four
# to seven hours: it runs the tool's check and dump in this process, and a
# third of its time is ASan's allocator and libFuzzer's feature counting;
# from a grown corpus it runs about 1 000 per second). About ten hours in all
# on one core.
# The targets run one after another; to use both cores, run two copies of
# this script on separate build folders (copies of bin/ are enough) with the
# targets split between them.
# New inputs collect in BUILD_DIR/fuzz-corpus/<target>, so later runs go on
# from there; failing inputs land in BUILD_DIR/fuzz-artifacts/<target>/, to be
# copied into fuzz/regressions/<target>/ once fixed.
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
            hollinctl_check | hollinctl_dump) runs=40000 ;;
            key_file | session_manual) runs=52000 ;;
            layer_merge) runs=32000 ;;
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
