#!/usr/bin/env bash
# Start-up time: from starting the process to the main window shown, under Xvfb, with a
# configuration file in place as after a first run. Prints each run and the median.
# Usage: bench/startup.sh [BUILD_DIR] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
runs=${2:-9}
if [ ! -x "$build/bin/vardune" ]; then
  "$root/tools/setup-debian.sh" test
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARDUNE_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" >/dev/null
fi
source "$root/tests/e2e/lib.sh"
e2e_setup "$build/bin"

times=()
for i in $(seq 0 "$runs"); do
  start=$(date +%s%N)
  start_app
  until xdotool search --all --onlyvisible --pid "$PID" --name '^Vardune$' >/dev/null 2>&1; do :; done
  shown=$(date +%s%N)
  kill -TERM "$PID"
  wait_exit "$PID"
  # The first run writes the configuration and warms the file cache; it is not counted.
  [ "$i" -gt 0 ] && times+=($(( (shown - start) / 1000000 )))
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
median=${sorted[$(( ${#sorted[@]} / 2 ))]}
echo "start-up to main window shown (ms): ${times[*]}"
echo "median: ${median} ms over ${#times[@]} runs (aim: under 500 ms)"
