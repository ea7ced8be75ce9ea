#!/usr/bin/env bash
# A re-run of `vardune --convert` over a collection whose outputs are all up to date, from the
# start of the process to its exit: nothing is read but each source's size and time and each
# output's mark. Converts the collection once, then times RUNS re-runs and prints each, the
# median and the spread. With BASELINE=/path/to/another/vardune (a fastencc beside it), the
# two run in turn, A B A B ..., over the same outputs, and the ratio of each pair is printed.
# Usage: bench/rerun.sh [BUILD_DIR]   (env: FILES=10000 RUNS=5 BASELINE= KEEP=folder to reuse)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
files=${FILES:-10000}
runs=${RUNS:-5}
if [ ! -x "$build/bin/vardune" ]; then
  "$root/tools/setup-debian.sh" build
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARDUNE_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target vardune fastencc >/dev/null
fi
work=${KEEP:-$(mktemp -d)}
[ -n "${KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lib" "$work/out"
if [ ! -f "$work/lib/done" ]; then
  # One WAV of 0.2 s, 44.1 kHz stereo, in a hundred folders of a hundred: the length does not
  # matter to a re-run, which decodes nothing.
  python3 - "$work/lib" "$files" <<'PY'
import math, os, struct, sys
folder, count = sys.argv[1], int(sys.argv[2])
rate, n = 44100, 8820
data = b"".join(struct.pack("<hh", int(6000 * math.sin(i / 7)), int(6000 * math.sin(i / 9))) for i in range(n))
wav = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, 2, rate, rate * 4, 4, 16) \
    + b"data" + struct.pack("<I", len(data)) + data
for i in range(count):
    os.makedirs(f"{folder}/{i // 100:03d}", exist_ok=True)
    with open(f"{folder}/{i // 100:03d}/song{i:05d}.wav", "wb") as f:
        f.write(wav)
PY
  echo "converting $files files once..." >&2
  "$build/bin/vardune" --convert "$work/lib" --output "$work/out" --layout keep-folders >/dev/null
  touch "$work/lib/done"
fi

# One re-run: "WALL_MS CPU_MS" (CPU: user and system, the process and its children); its
# summary must say every file is up to date.
rerun() {
  local program=$1 summary
  summary=$(/usr/bin/time -f '%e %U %S' -o "$work/time" "$program" --convert "$work/lib" --output "$work/out" \
              --layout keep-folders | tail -1)
  case $summary in "0 done, $files up to date, 0 failed"*) ;; *) echo "unexpected: $summary" >&2; exit 1 ;; esac
  awk '{ printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000 }' "$work/time"
}
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }

rerun "$build/bin/vardune" >/dev/null  # warms the file cache
[ -z "${BASELINE:-}" ] || rerun "$BASELINE" >/dev/null
a=() ac=() b=() bc=() ratios=()
for _ in $(seq "$runs"); do
  read -r wall cpu < <(rerun "$build/bin/vardune"); a+=("$wall"); ac+=("$cpu")
  if [ -n "${BASELINE:-}" ]; then
    read -r wall cpu < <(rerun "$BASELINE"); b+=("$wall"); bc+=("$cpu")
    ratios+=("$(awk "BEGIN { printf \"%.3f\", ${a[-1]} / ${b[-1]} }")")
  fi
done
spread() { printf '%s\n' "$@" | sort -n | sed -n '1p;$p' | paste -sd- ; }
echo "re-run of $files files up to date, start to exit, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "  this build: wall ${a[*]} ms (median $(median "${a[@]}"), $(spread "${a[@]}")); CPU median $(median "${ac[@]}") ms ($(spread "${ac[@]}"))"
if [ -n "${BASELINE:-}" ]; then
  echo "  baseline:   wall ${b[*]} ms (median $(median "${b[@]}"), $(spread "${b[@]}")); CPU median $(median "${bc[@]}") ms ($(spread "${bc[@]}"))"
  echo "  wall ratio this/baseline, pair by pair: ${ratios[*]}; median $(median "${ratios[@]}")"
fi
