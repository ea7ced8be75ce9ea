#!/usr/bin/env bash
# Checks the house's rooms against its includes (docs/architecture.md says why they are so):
#  - a file includes only from its own room and the rooms below it that the table names;
#  - no two units include each other, through any number of others (a unit is a header and
#    its source: forms/form1.h with forms/form1.cpp).
# Tests, benchmarks and tools are not rooms: they may include anything.
# Prints each fault and exits 1 when there is one; prints the rooms' sizes otherwise.
set -euo pipefail
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
cd "$root"

# Each room (a folder, or one file) and the rooms it may include, besides itself. A file
# belongs to the longest room that holds it.
rooms='
core:
batch:            core
app:              core batch
widgets:          core batch app
forms:            core batch app widgets
console:          core batch app
app/main.cpp:     core batch app widgets forms console
encoder/common:   core
encoder/mpeg:     core encoder/common
encoder/sources:  core encoder/common encoder/mpeg
encoder/output:   core encoder/common encoder/mpeg encoder/sources
encoder/facts:    core encoder/common encoder/mpeg encoder/sources encoder/output
encoder:          core encoder/common encoder/mpeg encoder/sources encoder/output encoder/facts
'
# The rooms' folders; a quoted include is looked for in the including file's own folder,
# then in these, as the build's include folders give them.
folders='core batch app widgets forms console encoder'
# The files a checkout holds (a copy without git: every file there).
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    files=$(git ls-files --cached --others --exclude-standard -- $folders | grep -E '\.(h|cpp)$' || true)
else
    files=$(find $folders -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
fi

# Every include as "file<TAB>included file", resolved as the compiler would find it: beside
# the including file first, then in the include folders.
edges=$(awk -v files="$files" -v searched="$folders" '
    BEGIN {
        n = split(files, list, "\n")
        for (i = 1; i <= n; i++) known[list[i]] = 1
        m = split(searched, dirs, " ")
    }
    FNR == 1 { dir = FILENAME; sub(/\/[^\/]*$/, "", dir) }
    /^[ \t]*#[ \t]*include[ \t]*"/ {
        inc = $0; sub(/^[^"]*"/, "", inc); sub(/".*$/, "", inc)
        if ((dir "/" inc) in known) { print FILENAME "\t" dir "/" inc; next }
        for (j = 1; j <= m; j++)
            if ((dirs[j] "/" inc) in known) { print FILENAME "\t" dirs[j] "/" inc; next }
    }' $files)

faults=$(printf '%s\n' "$edges" | awk -v rooms="$rooms" -F'\t' '
    BEGIN {
        n = split(rooms, line, "\n")
        for (i = 1; i <= n; i++) {
            if (split(line[i], w, " ") < 1) continue
            r = w[1]; sub(/:$/, "", r); isroom[r] = 1
            for (j = 2; j in w; j++) may[r, w[j]] = 1
        }
    }
    function room(path,   best, r) {
        best = ""
        for (r in isroom)
            if ((path == r || index(path, r "/") == 1) && length(r) > length(best)) best = r
        return best
    }
    NF == 2 {
        a = room($1); b = room($2)
        if (a == "" || b == "" || a == b || (a, b) in may) next
        printf "%s (%s) includes %s (%s), a room it may not include\n", $1, a, $2, b
    }')

# Units that include each other: tsort names the units of every loop it finds.
loops=$(printf '%s\n' "$edges" | awk -F'\t' 'NF == 2 {
        a = $1; b = $2; sub(/\.(h|cpp)$/, "", a); sub(/\.(h|cpp)$/, "", b)
        if (a != b) print a, b
    }' | tsort 2>&1 >/dev/null | awk '
        /input contains a loop/ { if (loop != "") print loop; loop = ""; next }
        /^tsort: / { sub(/^tsort: /, ""); loop = loop (loop == "" ? "" : " -> ") $0 }
        END { if (loop != "") print loop }' || true)

status=0
if [ -n "$faults" ]; then
    printf '%s\n' "$faults"
    status=1
fi
if [ -n "$loops" ]; then
    printf 'units that include each other, in a circle:\n%s\n' "$loops"
    status=1
fi
if [ $status -eq 0 ]; then
    printf 'rooms hold: every include stays in its room or goes to one below it; no circles\n'
fi
exit $status
