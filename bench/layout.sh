#!/usr/bin/env bash
# Output paths planned for 10,000 tagged files in memory, under each layout, collisions
# numbered as the batch numbers them. Usage: bench/layout.sh [BUILD_DIR]   (FILES=, RUNS=)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
"$root/tools/setup-debian.sh" build
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARDUNE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target layout_bench >/dev/null
"$build/bin/layout_bench" "${FILES:-10000}" "${RUNS:-5}"
