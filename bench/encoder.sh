#!/usr/bin/env bash
# Benchmark of fastencc against `lame` and `ffmpeg -c:a libmp3lame` at the same bitrate and
# LAME quality, on WAV and MP3 sources, stereo and mono output; peak memory for a one-hour
# source. Usage: bench/encoder.sh [BUILD_DIR]   (env: RUNS=3 BITRATE=128 MINUTES=3 HOUR=1)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
build=${1:-$repo/build-bench}
runs=${RUNS:-3}
kbps=${BITRATE:-128}
minutes=${MINUTES:-3}
hour=${HOUR:-1}

for tool in lame ffmpeg /usr/bin/time cmake; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is needed (apt-get install ${tool##*/})" >&2; exit 1; }
done

# A Release build of fastencc: the project's own, or fastencc alone when the whole project
# does not configure on this machine.
fastencc=$build/bin/fastencc
if ! { cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARDUNE_TESTS=OFF >/dev/null 2>&1 \
       && cmake --build "$build" --target fastencc -j2 >/dev/null; }; then
  echo "bench: the project does not configure here; building fastencc alone" >&2
  build=$build/encoder-only
  cmake -S "$here/encoder-standalone" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target fastencc -j2 >/dev/null
  fastencc=$build/bin/fastencc
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/fastencc-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Sources: a music-like signal (two voices with vibrato and tremolo, a bright partial that
# comes and goes, and a pink noise floor), its MP3 made by lame at 192 kbit/s.
seconds=$((minutes * 60))
ffmpeg -v error -f lavfi -i "aevalsrc=exprs='0.22*sin(2*PI*220*t+2*sin(2*PI*5*t))*(0.7+0.3*sin(2*PI*0.25*t))+0.12*sin(2*PI*660*t)+0.08*sin(2*PI*2637*t)*abs(sin(2*PI*1.5*t))|0.22*sin(2*PI*277*t+2*sin(2*PI*4*t))*(0.7+0.3*cos(2*PI*0.2*t))+0.10*sin(2*PI*554*t)+0.08*sin(2*PI*3520*t)*abs(cos(2*PI*1.1*t))':s=44100:d=$seconds" \
  -f lavfi -i "anoisesrc=c=pink:a=0.06:r=44100:d=$seconds" \
  -filter_complex "[1]aformat=channel_layouts=stereo[n];[0][n]amix=inputs=2:normalize=0" \
  -c:a pcm_s16le source.wav
lame --quiet -b 192 source.wav source.mp3

# Times one command once: prints wall seconds and peak RSS (KiB).
time_once() {
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f "%M" -o mem.txt "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$(echo "$end - $start" | bc -l) $(tail -1 mem.txt)"
}

median() { sort -g | sed -n "$(( (runs + 1) / 2 ))p"; }

# Runs the four encoders in turn, RUNS rounds, so that a change of load on the machine hits
# all of them alike; sets fe la lanorg ff (median seconds) and fe_mem (median KiB).
measure_all() {
  local input=$1 output=$2
  local fe_mono=() lame_mono=() ff_mono=()
  if [ "$output" = mono ]; then fe_mono=(-dm); lame_mono=(-m m); ff_mono=(-ac 1); fi
  # The encoders are compared: fastencc encodes even where it would copy an MP3 already small.
  fe_mono+=(-reencode)
  : >t-fe; : >t-la; : >t-lanorg; : >t-ff; : >m-fe
  for _ in $(seq "$runs"); do
    read -r t m < <(time_once "$fastencc" "source.$input" out-fe.mp3 -br $((kbps * 1000)) "${fe_mono[@]}")
    echo "$t" >>t-fe; echo "$m" >>m-fe
    time_once lame --quiet -b "$kbps" "${lame_mono[@]}" "source.$input" out-lame.mp3 | cut -d' ' -f1 >>t-la
    time_once lame --quiet --noreplaygain -b "$kbps" "${lame_mono[@]}" "source.$input" out-norg.mp3 | cut -d' ' -f1 >>t-lanorg
    time_once ffmpeg -v error -y -i "source.$input" -c:a libmp3lame -b:a "${kbps}k" "${ff_mono[@]}" out-ff.mp3 | cut -d' ' -f1 >>t-ff
  done
  fe=$(median <t-fe); la=$(median <t-la); lanorg=$(median <t-lanorg); ff=$(median <t-ff); fe_mem=$(median <m-fe)
}

echo "fastencc: $fastencc"
echo "source: ${minutes} min, 44.1 kHz stereo; bitrate ${kbps} kbit/s CBR; LAME quality 3 everywhere; median of $runs runs"
printf '\n%-6s %-6s %10s %10s %10s %10s %9s %9s %9s\n' input output fastencc lame lame-noRG ffmpeg lame/fe ffmpeg/fe "fe MiB"
for input in wav mp3; do
  for output in stereo mono; do
    measure_all "$input" "$output"
    printf '%-6s %-6s %9.2fs %9.2fs %9.2fs %9.2fs %9.2f %9.2f %9.1f\n' "$input" "$output" "$fe" "$la" "$lanorg" "$ff" \
      "$(echo "$la / $fe" | bc -l)" "$(echo "$ff / $fe" | bc -l)" "$(echo "$fe_mem / 1024" | bc -l)"
  done
done

# Same encoder, same sound: fastencc's audio frames against lame --noreplaygain's (the Info
# frame differs only by the ReplayGain fields, so compare from the second frame on).
"$fastencc" source.wav out-fe.mp3 -br $((kbps * 1000)) >/dev/null
lame --quiet --noreplaygain -b "$kbps" source.wav out-lame.mp3
frame=$(( 144000 * kbps / 44100 ))
if cmp -s <(tail -c +$((frame + 2)) out-fe.mp3) <(tail -c +$((frame + 2)) out-lame.mp3); then
  echo; echo "audio frames of fastencc and lame --noreplaygain: identical"
else
  echo; echo "audio frames of fastencc and lame --noreplaygain: differ (see README)"
fi

if [ "$hour" = 1 ]; then
  # Peak memory does not grow with the length: a one-hour source (20 loops of the source).
  loops=$(( 60 / minutes ))
  ffmpeg -v error -stream_loop $((loops - 1)) -i source.wav -c copy hour.wav
  read -r t m < <(time_once "$fastencc" hour.wav out-hour.mp3 -br $((kbps * 1000)))
  printf '\none-hour WAV source (%d MiB): fastencc %.1f s, peak memory %.1f MiB\n' \
    $(( $(stat -c %s hour.wav) / 1048576 )) "$t" "$(echo "$m / 1024" | bc -l)"
  lame --quiet -b 192 hour.wav hour.mp3
  read -r t m < <(time_once "$fastencc" hour.mp3 out-hour.mp3 -br $((kbps * 1000)))
  printf 'one-hour MP3 source: fastencc %.1f s, peak memory %.1f MiB\n' "$t" "$(echo "$m / 1024" | bc -l)"
fi
