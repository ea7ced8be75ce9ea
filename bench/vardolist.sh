#!/usr/bin/env bash
# The Vardo list at collection scale: add, remove and clear tens of thousands of entries
# through the main window (Qt's offscreen platform). Usage: bench/vardolist.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
"$root/tools/setup-debian.sh" build
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARDUNE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target vardolist_bench >/dev/null
"$build/bin/vardolist_bench"
