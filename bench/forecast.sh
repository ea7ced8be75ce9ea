#!/usr/bin/env bash
# The forecast beside the Vardo list for a collection of 10,000 MP3 files: time to the first
# and to the complete figure, and the largest gap between two event-loop turns meanwhile (Qt's
# offscreen platform). Usage: bench/forecast.sh [BUILD_DIR]   (FILES= changes the count)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
files=${FILES:-10000}
"$root/tools/setup-debian.sh" bench
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARDUNE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target forecast_bench fastencc >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Four kinds of MP3 as a collection holds them, 8 s each: constant bitrate with an Info frame
# (fastencc), without one (that frame cut off), variable bitrate (lame --abr) and one with tags
# and a cover; each copied to a quarter of the files.
ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=8" -ac 2 -ar 44100 "$work/tone.wav"
ffmpeg -loglevel error -f lavfi -i "testsrc=size=300x300" -frames:v 1 "$work/cover.jpg"
"$build/bin/fastencc" "$work/tone.wav" "$work/cbr.mp3" -br 128000 >/dev/null
# The first frame of a 128 kbit/s 44.1 kHz stream is 417 bytes: without it the file has no Info frame.
tail -c +418 "$work/cbr.mp3" > "$work/noinfo.mp3"
lame --quiet --abr 96 "$work/tone.wav" "$work/vbr.mp3"
lame --quiet -b 160 --tt "A Song" --ta "An Artist" --tl "An Album" --ti "$work/cover.jpg" "$work/tone.wav" "$work/tagged.mp3"
mkdir "$work/music"
kinds=(cbr noinfo vbr tagged)
for ((i = 0; i < files; i++)); do
  cp "$work/${kinds[i % 4]}.mp3" "$(printf '%s/music/song%05d.mp3' "$work" "$i")"
done
sync
"$build/bin/forecast_bench" "$work/music"
