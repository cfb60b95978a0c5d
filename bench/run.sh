#!/bin/sh
# Builds the benchmarks in release mode in their own build directory, then runs each one.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=$(for source in "$root"/bench/bench_*.cpp; do basename "$source" .cpp; done)
cmake --build "$build" -j2 --target $targets >/dev/null
export QT_QPA_PLATFORM=offscreen
for target in $targets; do
    echo "== $target"
    "$build/bench/$target" 2>/dev/null
done
