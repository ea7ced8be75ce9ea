#!/usr/bin/env bash
# Benchmark of one long file on every core: `fastencc -threads 0` (one encoder per core,
# segments joined) against `-threads 1` (one encoder), `ffmpeg -c:a libmp3lame` and `lame`, on
# the same music-like source at the same output rate. Prints the medians of CPU time (user +
# system, every thread), wall time and peak memory, and the ratios measured in this run; then
# the peak memory of -threads 0 on a source of HOURS hours (an MP3 made by stream copy).
# Usage: bench/threads.sh [BUILD_DIR]
#   env: RUNS=3 MINUTES=10 KBPS=96 HOURS=1 (0: skip the long run)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=${1:-$repo/build-bench}
mkdir -p "$build" && build=$(cd "$build" && pwd) # the runs happen in a folder of their own
runs=${RUNS:-3}
minutes=${MINUTES:-10}
kbps=${KBPS:-96}
hours=${HOURS:-1}

. "$here/encoder-common.sh"
build_fastencc

work=$(mktemp -d "${TMPDIR:-/tmp}/fastencc-threads.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# The music-like source that bench/encoder.sh measures.
seconds=$((minutes * 60))
make_music_source "$seconds"

time_once() {
  /usr/bin/time -f "%U %S %e %M" -o usage.txt "$@" >/dev/null 2>&1
  tail -1 usage.txt | awk '{ printf "%.3f %.3f %d\n", $1 + $2, $3, $4 }'
}
median() { sort -g | sed -n "$(( (runs + 1) / 2 ))p"; }
ratio() { echo "$1 / $2" | bc -l; }

"$fastencc" source.wav probe.mp3 -br $((kbps * 1000)) -threads 1 >/dev/null
rate=$(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate -of default=nw=1:nk=1 probe.mp3)
la_rate=$(echo "$rate / 1000" | bc -l | sed 's/0*$//; s/\.$//')

# Other work on the machine takes the cores the encoders would share: say how much there was.
load_before=$(cut -d' ' -f1 /proc/loadavg)
rm -f t-*
for _ in $(seq "$runs"); do
  read -r c w m < <(time_once "$fastencc" source.wav out-1.mp3 -br $((kbps * 1000)) -threads 1 -reencode)
  echo "$c" >>t-1-cpu; echo "$w" >>t-1-wall; echo "$m" >>t-1-mem
  read -r c w m < <(time_once "$fastencc" source.wav out-0.mp3 -br $((kbps * 1000)) -threads 0 -reencode)
  echo "$c" >>t-0-cpu; echo "$w" >>t-0-wall; echo "$m" >>t-0-mem
  read -r c w m < <(time_once ffmpeg -v error -y -i source.wav -c:a libmp3lame -b:a "${kbps}k" -ar "$rate" out-ff.mp3)
  echo "$c" >>t-ff-cpu; echo "$w" >>t-ff-wall
  read -r c w m < <(time_once lame --quiet --noreplaygain -b "$kbps" --resample "$la_rate" source.wav out-la.mp3)
  echo "$c" >>t-la-cpu; echo "$w" >>t-la-wall
done
for k in 1 0 ff la; do
  eval "cpu_$k=$(median <t-$k-cpu) wall_$k=$(median <t-$k-wall)"
done
mem_1=$(median <t-1-mem); mem_0=$(median <t-0-mem)

echo "fastencc: $fastencc"
echo "machine: $(nproc) cores, load average $load_before before the runs and $(cut -d' ' -f1 /proc/loadavg) after; source: $minutes min WAV, 44.1 kHz stereo -> $kbps kbit/s at $rate Hz; median of $runs runs, alternated"
printf '%-22s %9s %9s %9s\n' encoder "cpu s" "wall s" "peak MiB"
printf '%-22s %9.2f %9.2f %9.1f\n' "fastencc -threads 1" "$cpu_1" "$wall_1" "$(echo "$mem_1 / 1024" | bc -l)"
printf '%-22s %9.2f %9.2f %9.1f\n' "fastencc -threads 0" "$cpu_0" "$wall_0" "$(echo "$mem_0 / 1024" | bc -l)"
printf '%-22s %9.2f %9.2f\n' "ffmpeg libmp3lame" "$cpu_ff" "$wall_ff"
printf '%-22s %9.2f %9.2f\n' "lame" "$cpu_la" "$wall_la"
printf 'wall: -threads 0 / ffmpeg %.3f, / lame %.3f, / -threads 1 %.3f\n' \
  "$(ratio "$wall_0" "$wall_ff")" "$(ratio "$wall_0" "$wall_la")" "$(ratio "$wall_0" "$wall_1")"
printf 'cpu:  -threads 0 / -threads 1 %.3f\n' "$(ratio "$cpu_0" "$cpu_1")"
printf 'frames: -threads 1 %s, -threads 0 %s; bytes %s and %s\n' \
  "$(ffprobe -v error -count_frames -select_streams a:0 -show_entries stream=nb_read_frames -of default=nw=1:nk=1 out-1.mp3)" \
  "$(ffprobe -v error -count_frames -select_streams a:0 -show_entries stream=nb_read_frames -of default=nw=1:nk=1 out-0.mp3)" \
  "$(stat -c %s out-1.mp3)" "$(stat -c %s out-0.mp3)"
errors=$(ffmpeg -nostdin -v error -i out-0.mp3 -f null - 2>&1 | head -3)
echo "ffmpeg decoding -threads 0 output: ${errors:-no error}"

if [ "$hours" != 0 ]; then
  # Memory does not grow with the length: an MP3 of HOURS hours, made by stream copy of the
  # source's MP3 (decoded and encoded in full by fastencc).
  lame --quiet -b 128 source.wav source.mp3
  ffmpeg -v error -stream_loop $((hours * 60 / minutes - 1)) -i source.mp3 -c copy long.mp3
  read -r c w m < <(time_once "$fastencc" long.mp3 out-long.mp3 -br $((kbps * 1000)) -threads 0 -reencode)
  printf '%s h MP3 source at %s kbit/s, -threads 0: %.1f s cpu, %.1f s wall, peak memory %.1f MiB (%d cores)\n' \
    "$hours" "$kbps" "$c" "$w" "$(echo "$m / 1024" | bc -l)" "$(nproc)"
fi
