#!/usr/bin/env bash
# Installs what is missing, builds a release build of Vardune and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup-debian.sh" build
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DVARDUNE_TESTS=OFF
cmake --build "$root/build/release" -j"$(nproc)"
exec "$root/build/release/bin/vardune"
