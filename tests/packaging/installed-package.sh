#!/bin/sh
# Installs libhollin's runtime and development files into a scratch prefix and
# builds a small program against them there, once through find_package(hollin)
# and once through pkg-config hollin, and each installed header on its own;
# then checks that libhollin.so exports nothing of vesk::legacy but what its
# installed headers mark HOLLIN_EXPORT.
#   tests/packaging/installed-package.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
scratch=$(mktemp -d /tmp/hollin-installed-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
for component in lib dev; do
    cmake --install "$build" --prefix "$prefix" --component $component >/dev/null
done
libdir=$(dirname "$(find "$prefix" -name 'libhollin.so' | head -n 1)")
# Headers only under include/hollin: a name of ours right in include/ could
# clash with another package's (papi.h did).
stray=$(cd "$prefix/include" && ls -A | grep -vx hollin || true)
[ -z "$stray" ] || { echo "FAILED: headers outside include/hollin: $stray"; exit 1; }

mkdir "$scratch/consumer"
cat >"$scratch/consumer/main.cpp" <<'CPP'
#include <cstdio>

#include <hollin/papi.h>

#include "access/ConfigurationAccess.h"
#include "change/INodeListener.h"
#include "model/Exception.h"
#include "model/NodePath.h"
#include "model/Tree.h"

using namespace vesk::legacy;

// Compiles only where the installed headers declare the listener interface.
class Printer : public INodeListener {};

int main() {
    PAPIStatus status = 0;  // the C interface, under its installed name
    NodePath path;
    path.setPath("org.example/a/key");
    std::printf("%s\n", path.getComponent().c_str());
    try {
        throw Exception("thrown by the consumer");
    } catch (const std::exception& e) {
        return e.what()[0] == 't' ? status : 1;
    }
}
CPP
cat >"$scratch/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.18)
project(consumer CXX)
set(CMAKE_CXX_STANDARD 17)
find_package(hollin REQUIRED)
add_executable(consumer main.cpp)
target_link_libraries(consumer PRIVATE hollin::hollin)
CMAKE
cmake -S "$scratch/consumer" -B "$scratch/with-cmake" -DCMAKE_PREFIX_PATH="$prefix" >"$scratch/log" 2>&1 ||
    { cat "$scratch/log"; echo "FAILED: find_package(hollin)"; exit 1; }
cmake --build "$scratch/with-cmake" >"$scratch/log" 2>&1 ||
    { cat "$scratch/log"; echo "FAILED: building with find_package(hollin)"; exit 1; }
LD_LIBRARY_PATH=$libdir "$scratch/with-cmake/consumer" >/dev/null ||
    { echo "FAILED: the program built with find_package(hollin) does not run"; exit 1; }
echo "ok: find_package(hollin)"

flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs hollin)
# The linker finds libvesk, which libhollin needs, where the loader would.
# shellcheck disable=SC2086
LD_LIBRARY_PATH=$libdir c++ -std=c++17 -o "$scratch/with-pkg-config" "$scratch/consumer/main.cpp" $flags ||
    { echo "FAILED: building with pkg-config hollin ($flags)"; exit 1; }
LD_LIBRARY_PATH=$libdir "$scratch/with-pkg-config" >/dev/null ||
    { echo "FAILED: the program built with pkg-config hollin does not run"; exit 1; }
echo "ok: pkg-config hollin"

# Every installed header compiles on its own: none includes one left out.
for header in $(cd "$prefix/include/hollin" && find . -name '*.h' | sed 's|^\./||'); do
    # shellcheck disable=SC2086
    echo "#include \"$header\"" | c++ -std=c++17 -fsyntax-only -x c++ - $flags ||
        { echo "FAILED: the installed $header does not compile on its own"; exit 1; }
done
echo "ok: every installed header compiles on its own"

# The names the installed headers export: classes and free functions.
sed -n -e 's/.*class HOLLIN_EXPORT \([A-Za-z_]*\).*/\1/p' \
    -e 's/^HOLLIN_EXPORT .*[ *&]\([A-Za-z_][A-Za-z_0-9]*\)[[(].*/\1/p' \
    $(find "$prefix/include/hollin" -name '*.h') | sort -u >"$scratch/public"
nm -D --defined-only "$libdir/libhollin.so" | awk '{print $3}' | c++filt |
    grep 'vesk::legacy::' |
    sed -e 's/^\(typeinfo name for\|typeinfo for\|vtable for\|VTT for\) //' |
    sed -n 's/^vesk::legacy::\([A-Za-z_][A-Za-z_0-9]*\).*/\1/p' | sort -u >"$scratch/exported"
leaked=$(comm -23 "$scratch/exported" "$scratch/public")
if [ -n "$leaked" ]; then
    echo "FAILED: libhollin.so exports names its installed headers do not:"
    echo "$leaked" | sed 's/^/    /'
    exit 1
fi
[ -s "$scratch/exported" ] || { echo "FAILED: libhollin.so exports nothing"; exit 1; }
echo "ok: libhollin.so exports only its public classes"
