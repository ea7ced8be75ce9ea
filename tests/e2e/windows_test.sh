#!/usr/bin/env bash
# The windows on a real X display as a user meets them (window names, the pixels at the
# skinned corners, the folder picker, a drop from another program), then the real program
# keeping its window's size and place from one start to the next.
# Usage: windows_test.sh BIN_DIR WINDOWS_TEST_BINARY DRAG_SOURCE_BINARY
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
e2e_setup "$1"
cp "$2" "$3" "$E2E_WORK/app/"
"$E2E_WORK/app/$(basename "$2")" >"$E2E_WORK/windows.log" 2>&1 || { cat "$E2E_WORK/windows.log"; fail "the windows on X"; }
grep -E '^(PASS|FAIL|Totals)' "$E2E_WORK/windows.log"

# The user moves and sizes the window; the next start puts it back there.
rm -f "$INI"
start_app
win=$(wait_window "$PID") || fail "main window did not appear"
xdotool windowsize --sync "$win" 900 600 windowmove --sync "$win" 50 40
sleep 0.3
kill -TERM "$PID"
wait_exit "$PID" || fail "SIGTERM: exit status $?"
[ -n "$(ini_value WINWIDT)" ] || fail "the window's width was not kept: $(cat "$INI")"
start_app
win=$(wait_window "$PID") || fail "main window did not appear the second time"
sleep 0.3
geometry=$(xdotool getwindowgeometry "$win")
grep -q 'Position: 50,40 ' <<<"$geometry" || fail "the window is not where it was left: $geometry"
grep -q 'Geometry: 900x600' <<<"$geometry" || fail "the window is not the size it was left: $geometry"
kill -TERM "$PID"
wait_exit "$PID" || fail "SIGTERM: exit status $?"
pass "the window comes back where and as large as it was left"
