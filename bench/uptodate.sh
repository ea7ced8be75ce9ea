#!/usr/bin/env bash
# A second batch over a collection whose outputs are all up to date: nothing is encoded. Times
# it through the status board and its driver (from Vardo to the board's close), and a plain
# shell loop of fastencc over the same outputs, one file after the other.
# Usage: bench/uptodate.sh [BUILD_DIR]   (env: FILES=1000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
"$root/tools/setup-debian.sh" build
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARDUNE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target batch_bench fastencc >/dev/null
"$build/bin/batch_bench" uptodate "${FILES:-1000}"
