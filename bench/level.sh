#!/usr/bin/env bash
# Even loudness: the batch of 12 MP3s with levelling per album against the same batch without,
# on every core, and the measuring pass alone.
# Usage: bench/level.sh [BUILD_DIR]   (env: FILES=12 SECONDS_EACH=60 RUNS=3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
"$root/tools/setup-debian.sh" build
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARDUNE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target batch_bench fastencc >/dev/null
"$build/bin/batch_bench" level "${FILES:-12}" "${SECONDS_EACH:-60}" "${RUNS:-3}"
