#!/usr/bin/env bash
# A whole batch through the program: one encoder at a time against a plain shell loop of the
# encoder, one per core against ffmpeg on every core and against vardune --convert, the program's CPU time while it waits,
# and 2,000 entries through an instant fake encoder for leaks.
# Usage: bench/batch.sh [BUILD_DIR]   (env: FILES=12 SECONDS_EACH=60 RUNS=3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
"$root/tools/setup-debian.sh" build
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARDUNE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target batch_bench fastencc vardune >/dev/null
"$build/bin/batch_bench" speed "${FILES:-12}" "${SECONDS_EACH:-60}" "${RUNS:-3}"
echo
"$build/bin/batch_bench" long "${RUNS:-3}"
echo
# The leak run needs a fake encoder beside the program: a copy of it in a folder of its own.
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
cp "$build/bin/batch_bench" "$fake/"
printf '#!/bin/sh\nprintf x > "$2"\n' > "$fake/fastencc"
chmod +x "$fake/fastencc"
"$fake/batch_bench" leak 2100
