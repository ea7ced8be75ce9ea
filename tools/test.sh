#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice: a release build,
# and a build with AddressSanitizer and UndefinedBehaviorSanitizer.
# Optional: a ctest label (core, encoder, gui, e2e) to run only those tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
label=${1:-}
"$root/tools/setup-debian.sh" test
# CI treats every compiler warning as an error.
werror=OFF
[ -n "${CI:-}" ] && werror=ON
jobs=$(nproc)

run_suite() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -DVARDUNE_WERROR="$werror" "$@"
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" ${label:+-L "$label"}
}

run_suite "$root/build/test" -DCMAKE_BUILD_TYPE=Release
# Qt and the font libraries keep caches to the end of the process; leaks are checked in the
# tests of our own code only (see tests/lsan.supp).
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DVARDUNE_SANITIZE=ON
