#!/usr/bin/env bash
# Tidy the Player over 10,000 outputs of which 100 lost their sources: the look over the
# output folder and the removal, timed in the process, median of RUNS rounds. On a local
# folder, and on a FAT card image mounted by fusefat where one can be mounted.
# fusefat writes a folder of many entries slowly (FAT keeps no index): the card gets a smaller
# tree, CARD_FILES outputs with CARD_ORPHANS orphans.
# Usage: bench/tidy.sh [BUILD_DIR]
#   (env: FILES=10000 ORPHANS=100 RUNS=5 CARD=1 CARD_FILES=1000 CARD_ORPHANS=10)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
"$root/tools/setup-debian.sh" build
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARDUNE_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target tidy_bench >/dev/null
work=$(mktemp -d)
trap 'fusermount -u "$work/card" 2>/dev/null || true; rm -rf "$work"' EXIT
echo "local folder ($(stat -f -c %T "$work")), load $(cut -d' ' -f1-3 /proc/loadavg):"
"$build/bin/tidy_bench" "$work/local" "${FILES:-10000}" "${ORPHANS:-100}" "${RUNS:-5}"
if [ "${CARD:-1}" = 1 ] && command -v fusefat >/dev/null && command -v mkfs.vfat >/dev/null; then
    mkdir -p "$work/card"
    truncate -s 512M "$work/card.img"
    mkfs.vfat -F 32 "$work/card.img" >/dev/null
    # fusefat says success even where FUSE refused it: only a mount point is a card.
    if fusefat -o rw+ "$work/card.img" "$work/card" >/dev/null 2>&1 && mountpoint -q "$work/card"; then
        echo "FAT card by fusefat, load $(cut -d' ' -f1-3 /proc/loadavg):"
        "$build/bin/tidy_bench" "$work/card/bench" "${CARD_FILES:-1000}" "${CARD_ORPHANS:-10}" "${RUNS:-5}"
    fi
fi
