#!/usr/bin/env bash
# Sound of fastencc's resampling (libsoxr before LAME) against LAME's own resampler, and of
# feeding LAME floats against integers. Usage: bench/resampler.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
"$root/tools/setup-debian.sh" bench
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARDUNE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target resampler_quality fastencc >/dev/null
"$build/bin/resampler_quality" "$build/bin/fastencc"
