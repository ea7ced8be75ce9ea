#!/usr/bin/env bash
# Benchmark of fastencc against `ffmpeg -c:a libmp3lame` and `lame` at the program's own
# bitrates, on WAV and MP3 sources, stereo and mono output. Every peer is told the output
# sample rate that fastencc picks, so all do the same work. Prints CPU time (user + system,
# every thread) and wall time, medians, runs alternated, as ratios measured in this run; then
# bit-identity with lame where nothing resamples, and peak memory for a one-hour source.
# Usage: bench/encoder.sh [BUILD_DIR]
#   env: RUNS=3 BITRATES="96 32 128" OUTPUTS="stereo mono" MINUTES=3 HOUR=1
#        BASELINE=/path/to/an/earlier/fastencc  (adds its CPU time as a column)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=${1:-$repo/build-bench}
runs=${RUNS:-3}
bitrates=${BITRATES:-96 32 128}
outputs=${OUTPUTS:-stereo mono}
minutes=${MINUTES:-3}
hour=${HOUR:-1}
baseline=${BASELINE:-}

. "$here/encoder-common.sh"
build_fastencc

work=$(mktemp -d "${TMPDIR:-/tmp}/fastencc-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Sources: a music-like signal (two voices with vibrato and tremolo, a bright partial that
# comes and goes, and a pink noise floor), its MP3 made by lame at 192 kbit/s.
seconds=$((minutes * 60))
make_music_source "$seconds"
lame --quiet -b 192 source.wav source.mp3

# Runs one command once: prints CPU seconds (user + system), wall seconds and peak RSS (KiB).
time_once() {
  /usr/bin/time -f "%U %S %e %M" -o usage.txt "$@" >/dev/null 2>&1
  tail -1 usage.txt | awk '{ printf "%.3f %.3f %d\n", $1 + $2, $3, $4 }'
}

median() { sort -g | sed -n "$(( (runs + 1) / 2 ))p"; }
ratio() { echo "$1 / $2" | bc -l; }

rate_of() { ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate -of default=nw=1:nk=1 "$1"; }

# Runs the encoders in turn, RUNS rounds, so that a change of load on the machine hits all of
# them alike. Sets fe_cpu fe_wall fe_mem ff_cpu ff_wall la_cpu la_wall bl_cpu (medians).
measure_all() {
  local input=$1 output=$2 kbps=$3 rate=$4
  local fe_mono=() la_mono=() ff_mono=()
  if [ "$output" = mono ]; then fe_mono=(-dm); la_mono=(-m m); ff_mono=(-ac 1); fi
  local la_rate
  la_rate=$(echo "$rate / 1000" | bc -l | sed 's/0*$//; s/\.$//')
  rm -f t-*
  for _ in $(seq "$runs"); do
    # The encoders are compared: fastencc encodes even where it would copy an MP3 already small.
    read -r c w m < <(time_once "$fastencc" "source.$input" out-fe.mp3 -br $((kbps * 1000)) "${fe_mono[@]}" -reencode -threads 1)
    echo "$c" >>t-fe-cpu; echo "$w" >>t-fe-wall; echo "$m" >>t-fe-mem
    read -r c w m < <(time_once ffmpeg -v error -y -i "source.$input" -c:a libmp3lame -b:a "${kbps}k" -ar "$rate" "${ff_mono[@]}" out-ff.mp3)
    echo "$c" >>t-ff-cpu; echo "$w" >>t-ff-wall
    read -r c w m < <(time_once lame --quiet --noreplaygain -b "$kbps" --resample "$la_rate" "${la_mono[@]}" "source.$input" out-la.mp3)
    echo "$c" >>t-la-cpu; echo "$w" >>t-la-wall
    if [ -n "$baseline" ]; then
      read -r c w m < <(time_once "$baseline" "source.$input" out-bl.mp3 -br $((kbps * 1000)) "${fe_mono[@]}")
      echo "$c" >>t-bl-cpu
    fi
  done
  fe_cpu=$(median <t-fe-cpu); fe_wall=$(median <t-fe-wall); fe_mem=$(median <t-fe-mem)
  ff_cpu=$(median <t-ff-cpu); ff_wall=$(median <t-ff-wall)
  la_cpu=$(median <t-la-cpu); la_wall=$(median <t-la-wall)
  bl_cpu=$([ -n "$baseline" ] && median <t-bl-cpu || echo 0)
  [ "$(rate_of out-ff.mp3)" = "$rate" ] && [ "$(rate_of out-la.mp3)" = "$rate" ] \
    || echo "bench: a peer wrote another sample rate than $rate Hz" >&2
}

echo "fastencc: $fastencc"
[ -n "$baseline" ] && echo "baseline: $baseline"
echo "source: ${minutes} min, 44.1 kHz stereo; CBR, LAME quality 3 everywhere; median of $runs runs, alternated"
echo "peers: ffmpeg -c:a libmp3lame -b:a Nk -ar RATE; lame --noreplaygain -b N --resample RATE"
echo "cpu = user + system time of all threads; a ratio below 1 means fastencc is cheaper"
printf '\n%-5s %-5s %-6s %6s | %8s %8s %8s | %9s %9s %9s' kbps input output rate "fe cpu" "ff cpu" "lame cpu" "fe/ff cpu" "fe/la cpu" "fe/ff wall"
[ -n "$baseline" ] && printf ' %9s' "fe/base"
printf ' %7s\n' "fe MiB"
for kbps in $bitrates; do
  for input in wav mp3; do
    for output in $outputs; do
      mono=(); [ "$output" = mono ] && mono=(-dm)
      "$fastencc" "source.$input" probe.mp3 -br $((kbps * 1000)) "${mono[@]}" >/dev/null
      rate=$(rate_of probe.mp3)
      measure_all "$input" "$output" "$kbps" "$rate"
      printf '%-5s %-5s %-6s %6s | %7.2fs %7.2fs %7.2fs | %9.3f %9.3f %9.3f' "$kbps" "$input" "$output" "$rate" \
        "$fe_cpu" "$ff_cpu" "$la_cpu" "$(ratio "$fe_cpu" "$ff_cpu")" "$(ratio "$fe_cpu" "$la_cpu")" "$(ratio "$fe_wall" "$ff_wall")"
      [ -n "$baseline" ] && printf ' %9.3f' "$(ratio "$fe_cpu" "$bl_cpu")"
      printf ' %7.1f\n' "$(echo "$fe_mem / 1024" | bc -l)"
    done
  done
done

# Same encoder, same sound where nothing resamples: fastencc's audio frames against lame
# --noreplaygain's (the Info frames differ in the ReplayGain fields, so compare from the
# second frame on). Where the output rate differs from the source's, each resamples with its
# own filter and the frames differ by design.
echo
for kbps in $bitrates; do
  "$fastencc" source.wav out-fe.mp3 -br $((kbps * 1000)) -threads 1 >/dev/null
  lame --quiet --noreplaygain -b "$kbps" source.wav out-la.mp3
  rate=$(rate_of out-fe.mp3)
  frame=$(( 144000 * kbps / rate ))
  if [ "$rate" != 44100 ]; then
    echo "${kbps} kbit/s (44.1 kHz -> $rate Hz, resampled): audio frames differ from lame's by design"
  elif cmp -s <(tail -c +$((frame + 2)) out-fe.mp3) <(tail -c +$((frame + 2)) out-la.mp3); then
    echo "${kbps} kbit/s (no resampling): audio frames of fastencc and lame --noreplaygain identical"
  else
    echo "${kbps} kbit/s (no resampling): audio frames of fastencc and lame --noreplaygain DIFFER"
  fi
done

if [ "$hour" = 1 ]; then
  # Peak memory does not grow with the length: a one-hour source, at the default 96 kbit/s
  # (resampled to 32 kHz).
  loops=$(( 60 / minutes ))
  ffmpeg -v error -stream_loop $((loops - 1)) -i source.wav -c copy hour.wav
  read -r c w m < <(time_once "$fastencc" hour.wav out-hour.mp3 -br 96000 -threads 1)
  printf '\none-hour WAV source (%d MiB) at 96 kbit/s: fastencc %.1f s cpu, %.1f s wall, peak memory %.1f MiB\n' \
    $(( $(stat -c %s hour.wav) / 1048576 )) "$c" "$w" "$(echo "$m / 1024" | bc -l)"
  lame --quiet -b 192 hour.wav hour.mp3
  read -r c w m < <(time_once "$fastencc" hour.mp3 out-hour.mp3 -br 96000 -threads 1)
  printf 'one-hour MP3 source at 96 kbit/s: fastencc %.1f s cpu, %.1f s wall, peak memory %.1f MiB\n' \
    "$c" "$w" "$(echo "$m / 1024" | bc -l)"
fi
