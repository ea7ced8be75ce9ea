#!/usr/bin/env bash
# Renews the README's screenshots: builds the program and its screenshot tool, and takes them
# of the real windows under Xvfb into docs/screenshots/. Usage: tools/screenshots.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
"$root/tools/setup-debian.sh" test
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARDUNE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target vardune_screenshots vardune fastencc >/dev/null
source "$root/tests/e2e/lib.sh"
e2e_setup "$build/bin"
cp "$build/bin/vardune_screenshots" "$build/bin/VarduneManual.chm" "$E2E_WORK/app/"
mv "$E2E_WORK/app/fastencc" "$E2E_WORK/app/fastencc.real"
# The last file takes its time, and says how far it is, while the board is taken.
printf '#!/bin/sh\ncase "$1" in *"06 Home Again"*) echo 12; sleep 1; echo 37; sleep 4 ;; esac\nexec "$(dirname "$0")/fastencc.real" "$@"\n' > "$E2E_WORK/app/fastencc"
chmod +x "$E2E_WORK/app/fastencc"
"$E2E_WORK/app/vardune_screenshots" "$root/docs/screenshots"
