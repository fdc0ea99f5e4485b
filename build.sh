#!/usr/bin/env bash
# Set-up, build and test entry point. Run ./build.sh help for the commands.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}

# Everything a fresh Debian 12 machine needs; only missing packages are installed.
PACKAGES=(build-essential cmake ninja-build pkg-config git
          libxml2-dev libglib2.0-dev libgtest-dev libgmock-dev libbenchmark-dev
          clang clang-format libclang-rt-14-dev valgrind util-linux
          desktop-file-utils python3 slapd ldap-utils libldap2-dev)

deps() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get update -qq
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

configure_build() { # dir [cmake options...]
    local dir=$1; shift
    cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "$@" >/dev/null
    cmake --build "$ROOT/$dir" -j "$JOBS"
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
fuzz()    { # [seconds per target]
    deps
    CC=clang CXX=clang++ cmake -S "$ROOT" -B "$ROOT/build-fuzz" -G Ninja \
        -DHOLLIN_FUZZ=ON -DHOLLIN_TESTS=OFF >/dev/null
    cmake --build "$ROOT/build-fuzz" -j "$JOBS" --target fuzz_targets
    "$ROOT/fuzz/run-all.sh" "$ROOT/build-fuzz" "${1:-60}"
}
tsan()    {
    deps
    cmake -S "$ROOT" -B "$ROOT/build-tsan" -G Ninja -DHOLLIN_TSAN=ON >/dev/null
    cmake --build "$ROOT/build-tsan" -j "$JOBS" --target concurrency_tests
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest build-tsan -L concurrency "$@"
}
bench()   { # [benchmark program names...]; all when none
    deps
    cmake -S "$ROOT" -B "$ROOT/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DHOLLIN_BENCH=ON -DHOLLIN_TESTS=OFF >/dev/null
    cmake --build "$ROOT/build-bench" -j "$JOBS"
    local programs=("$@")
    [ ${#programs[@]} -gt 0 ] || programs=(bench_layers bench_change bench_access bench_launchers)
    for p in "${programs[@]}"; do
        echo "== $p"
        "$ROOT/build-bench/bin/$p"
    done
}
memcheck() { build; "$ROOT/tests/reliability/valgrind.sh" "$ROOT/build"; }
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
    *)
        cat <<USAGE
usage: ./build.sh COMMAND
  demo     install what is missing, build, run the programs on the sample policy
  test     install what is missing, build, run all tests (normal and sanitizer builds)
  unit     normal build and its tests only
  asan     AddressSanitizer + UndefinedBehaviorSanitizer build and its tests only
  fuzz [s] clang fuzz build (build-fuzz/), every fuzz target for s seconds (default 60;
           CI runs 30, the long run of about ten million executions per target is 7200)
  tsan     ThreadSanitizer build (build-tsan/) and the concurrency tests
  valgrind normal build, then startlist and deskrunner (with a live rewrite) under memcheck
  bench [names]  Release build with the benchmarks (build-bench/), then run them
           (bench_layers bench_change bench_access bench_launchers by default)
  format   check the sources with clang-format
  deps     install missing packages only
  build    build only (build/)
USAGE
        ;;
esac
