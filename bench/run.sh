#!/usr/bin/env bash
# Every benchmark in one run, so the figures belong together: start-up, the Vardo list at
# scale, the forecast of a collection, output paths planned for a collection, a whole batch
# against a shell loop, a second batch over outputs up to date, a re-run of 10,000 files from
# the command line, Tidy the Player over 10,000
# outputs, the encoder against ffmpeg and
# lame, and the sound of its resampling
# against LAME's own.
# Usage: bench/run.sh [BUILD_DIR]   (the encoder benchmark keeps its own build in build-bench)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/release}
"$here/../tools/setup-debian.sh" bench
echo "== machine: $(nproc) cores, $(uname -m), $(date -u +%Y-%m-%d)"
echo "== start-up";          "$here/startup.sh" "$build" 9
echo "== the Vardo list";    "$here/vardolist.sh" "$build" 2>/dev/null | grep -v 'does not support'
echo "== the forecast";      "$here/forecast.sh" "$build" 2>/dev/null | grep -v 'does not support'
echo "== output paths";      "$here/layout.sh" "$build"
echo "== a whole batch";     "$here/batch.sh" "$build" 2>/dev/null | grep -v 'does not support'
echo "== even loudness";     "$here/level.sh" "$build" 2>/dev/null | grep -v 'does not support'
echo "== outputs up to date"; "$here/uptodate.sh" "$build" 2>/dev/null | grep -v 'does not support'
echo "== a re-run from the command line"; "$here/rerun.sh" "$build"
echo "== tidy the player";   CARD=0 "$here/tidy.sh" "$build"
echo "== the encoder";       "$here/encoder.sh"
echo "== resampling";        "$here/resampler.sh" "$build"
