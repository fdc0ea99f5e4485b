#!/usr/bin/env bash
# Set-up, build and test entry point. Run ./build.sh help for the commands.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}
# The project's own builds stop on a warning; a plain cmake configure does not.
WERROR=-DHOLLIN_WERROR=${HOLLIN_WERROR:-ON}

# Everything a fresh Debian 12 machine needs; only missing packages are installed.
# dex and libglib2.0-bin (gio) run the written autostart entries and launchers in
# the tests; scdoc makes the manual pages; dpkg-dev, file and lintian the packages;
# deskrunner follows its X display through xcb; dbus and xvfb give the tests a
# private session bus and X display, gvfs keeps the launchers' metadata;
# dconf-cli, dconf-service, gsettings-desktop-schemas and dbus-daemon carry the
# settings tests.
PACKAGES=(build-essential cmake ninja-build pkg-config git
          libxml2-dev libglib2.0-dev libglib2.0-bin libgtest-dev libgmock-dev libbenchmark-dev
          clang clang-format libclang-rt-14-dev valgrind util-linux
          desktop-file-utils dex scdoc python3 slapd ldap-utils libldap2-dev
          dpkg-dev file lintian libxcb1-dev dbus gvfs gvfs-daemons xvfb
          dconf-cli dconf-service gsettings-desktop-schemas dbus-daemon)

# What the steps print goes to this file; the terminal gets one line per step,
# and the end of the file when a step fails.
LOG=${HOLLIN_BUILD_LOG:-$ROOT/build.log}
: >"$LOG"

step() { # description command [arguments...]
    local what=$1; shift
    printf '%s ... ' "$what"
    local start=$SECONDS status=0
    "$@" >>"$LOG" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        echo "failed"
        tail -n 40 "$LOG" >&2
        echo "build.sh: '$what' failed with status $status; the full output is in $LOG" >&2
        exit "$status"
    fi
    echo "done ($((SECONDS - start)) s)"
}

deps() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        step "apt-get update" $sudo apt-get update -q
        step "installing ${missing[*]}" $sudo env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
}

configure_build() { # dir [cmake options...]
    local dir=$1; shift
    step "configuring $dir/" cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "$WERROR" "$@"
    step "compiling $dir/" cmake --build "$ROOT/$dir" -j "$JOBS"
}

run_ctest() { # dir [ctest options...]
    local dir=$1; shift
    (cd "$ROOT/$dir" && ctest --output-on-failure -j "$JOBS" "$@")
}

build()   { deps; configure_build build; }
asan()    {
    deps
    configure_build build-asan -DCMAKE_BUILD_TYPE=Debug -DHOLLIN_SANITIZE=ON
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        run_ctest build-asan "$@"
}
unit()    { build; run_ctest build "$@"; }
fuzz()    { # [seconds per target | ci | long [runs]]
    deps
    step "configuring build-fuzz/" env CC=clang CXX=clang++ cmake -S "$ROOT" \
        -B "$ROOT/build-fuzz" -G Ninja "$WERROR" -DHOLLIN_FUZZ=ON -DHOLLIN_TESTS=OFF
    step "compiling build-fuzz/" cmake --build "$ROOT/build-fuzz" -j "$JOBS" --target fuzz_targets
    "$ROOT/fuzz/run-all.sh" "$ROOT/build-fuzz" "${1:-60}" ${2:+"$2"}
}
tsan()    {
    deps
    step "configuring build-tsan/" cmake -S "$ROOT" -B "$ROOT/build-tsan" -G Ninja "$WERROR" -DHOLLIN_TSAN=ON
    step "compiling build-tsan/" cmake --build "$ROOT/build-tsan" -j "$JOBS" --target concurrency_tests
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest build-tsan -L concurrency "$@"
}
bench()   { # [benchmark program names...]; all when none
    deps
    configure_build build-bench -DCMAKE_BUILD_TYPE=Release -DHOLLIN_BENCH=ON -DHOLLIN_TESTS=OFF
    local programs=("$@")
    [ ${#programs[@]} -gt 0 ] || programs=(bench_layers bench_change bench_access bench_launchers bench_policy)
    for p in "${programs[@]}"; do
        echo "== $p"
        if [ "$p" = bench_settings ]; then  # needs root, a namespace, a bus and sessions
            sh "$ROOT/bench/settings-bench.sh" "$ROOT/build-bench/bin/hollin-dconf" \
                "$ROOT/build-bench/bin/$p"
        else
            "$ROOT/build-bench/bin/$p"
        fi
    done
}
memcheck() { build; "$ROOT/tests/reliability/valgrind.sh" "$ROOT/build"; }
# Debian packages in build-package/ (configured for /usr), checked by lintian
# and unpacked into a scratch root where the installed hollinctl must run.
package() {
    deps
    configure_build build-package -DCMAKE_INSTALL_PREFIX=/usr -DHOLLIN_TESTS=OFF \
        -DCMAKE_BUILD_TYPE=Release
    rm -f "$ROOT"/build-package/*.deb
    step "packaging (cpack -G DEB)" sh -c 'cd "$1" && cpack -G DEB' cpack "$ROOT/build-package"
    step "dropping the ldconfig calls dpkg's trigger makes" \
        "$ROOT/dist/drop-ldconfig-scripts.sh" "$ROOT/build-package"
    "$ROOT/tests/packaging/check-packages.sh" "$ROOT/build-package"
}
format_check() {
    deps
    git ls-files '*.cpp' '*.h' '*.c' | xargs -r clang-format --dry-run --Werror
}

case "${1:-help}" in
    deps)   deps ;;
    build)  build ;;
    demo)   build; "$ROOT/examples/demo.sh" "$ROOT/build" ;;
    test)   unit; asan ;;
    unit)   shift; unit "$@" ;;
    asan)   shift; asan "$@" ;;
    fuzz)   shift; fuzz "$@" ;;
    tsan)   shift; tsan "$@" ;;
    valgrind) memcheck ;;
    bench)  shift; bench "$@" ;;
    format) format_check ;;
    package) package ;;
    *)
        cat <<USAGE
usage: ./build.sh COMMAND
  demo     install what is missing, build, run the programs on the sample policy
  test     install what is missing, build, run all tests (normal and sanitizer builds)
  unit     normal build and its tests only
  asan     AddressSanitizer + UndefinedBehaviorSanitizer build and its tests only
  fuzz [s] clang fuzz build (build-fuzz/), every fuzz target for s seconds (default 60;
           "ci": the repeatable pass CI runs; "long": 10 million executions per target,
           some seven hours, see fuzz/run-all.sh)
  tsan     ThreadSanitizer build (build-tsan/) and the concurrency tests
  valgrind normal build, then startlist and deskrunner (with a live rewrite) under memcheck
  bench [names]  Release build with the benchmarks (build-bench/), then run them
           (bench_layers bench_change bench_access bench_launchers bench_policy by default)
  format   check the sources with clang-format
  package  Debian packages (build-package/*.deb), checked with lintian and
           installed into a scratch root
  deps     install missing packages only
  build    build only (build/)
Each step prints one line; the full output goes to build.log (HOLLIN_BUILD_LOG).
USAGE
        ;;
esac
