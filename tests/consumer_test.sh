#!/usr/bin/env bash
# Installs this build into a fresh prefix, then configures, builds and runs a
# consumer project that finds the library with find_package(z80db CONFIG).
#
# usage: tests/consumer_test.sh BUILD_DIR CONSUMER_SOURCE_DIR CXX_COMPILER "CXX_FLAGS"
set -euo pipefail
build=$1 source=$2 compiler=$3 flags=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$source" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
    -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$work/build" >/dev/null
actual=$("$work/build/consumer")
expected=$'; Original Datas : memory\n\tdb\t#0,#a,#10,#7f,#80,#ff,#1,#2\n\tdb\t#3'
if [ "$actual" != "$expected" ]; then
    printf 'consumer printed:\n%s\n' "$actual"
    exit 1
fi
echo "consumer: found, built and ran against the installed library"
