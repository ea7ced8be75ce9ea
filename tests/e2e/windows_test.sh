#!/usr/bin/env bash
# The windows on a real X display as a user meets them (window names, the pixels at the
# skinned corners, the folder picker, a drop from another program), then the real program
# keeping its window's size and place from one start to the next, its first start on a large
# screen, and its Vardo list from one run to the next.
# Usage: windows_test.sh BIN_DIR WINDOWS_TEST_BINARY DRAG_SOURCE_BINARY
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
E2E_SCREEN=1600x1000
e2e_setup "$1"
cp "$2" "$3" "$E2E_WORK/app/"
"$E2E_WORK/app/$(basename "$2")" >"$E2E_WORK/windows.log" 2>&1 || { cat "$E2E_WORK/windows.log"; fail "the windows on X"; }
grep -E '^(PASS|FAIL|Totals)' "$E2E_WORK/windows.log"

# The first start on a 1600 x 1000 screen uses about two thirds of it, in the designed
# proportions, and the folder tree grows with it.
rm -f "$INI"
start_app
win=$(wait_window "$PID") || fail "main window did not appear"
sleep 0.3
eval "$(xdotool getwindowgeometry --shell "$win")"
((WIDTH >= 1060 && WIDTH <= 1075 && HEIGHT >= 600 && HEIGHT <= 660)) || fail "first start at ${WIDTH}x$HEIGHT on 1600x1000"
pass "the first start opens at ${WIDTH}x$HEIGHT on a 1600x1000 screen"

# A folder dropped from another program gives its WAV and FLAC files and leaves its picture
# out, a file named in Latin-1 by an old archive comes by its very bytes; the list outlives
# the program.
album="$HOME/drop/album"
latin1="$HOME/drop/"$'Caf\xe9.wav'
mkdir -p "$album"
printf 'RIFF' >"$latin1"
printf 'RIFF' >"$album/01 intro.wav"
printf 'fLaC' >"$album/02 song.flac"
printf 'JFIF' >"$album/folder.jpg"
"$3" 20 20 "$latin1" "$album" >"$E2E_WORK/drag.out" 2>>"$E2E_WORK/log" &
E2E_PIDS+=("$!")
for _ in $(seq 200); do grep -q ready "$E2E_WORK/drag.out" && break; sleep 0.05; done
grep -q ready "$E2E_WORK/drag.out" || fail "the drag source did not come up"
tx=$((X + WIDTH * 3 / 4)) ty=$((Y + HEIGHT / 2))
xdotool mousemove 80 80 sleep 0.3 mousedown 1 sleep 0.3 mousemove 100 100 sleep 0.3 \
  mousemove "$tx" "$ty" sleep 0.3 mousemove $((tx + 5)) "$ty" sleep 0.5 mouseup 1
box=$(wait_named "$PID" '^Folder Added$') || fail "the dropped folder brought no message"
xdotool windowfocus --sync "$box" key --clearmodifiers Return
sleep 0.3
kill -TERM "$PID"
wait_exit "$PID" || fail "SIGTERM: exit status $?"
list="$HOME/.local/share/Vardune/VardoList.txt"
entries() { LC_ALL=C grep -c -e $'\t01 intro.wav\t' -e $'\t02 song.flac\t' -e "$HOME/drop/"$'\tCaf\xe9.wav\t' "$list"; }
[ "$(entries)" = 3 ] || fail "the list kept is not the three audio files: $(cat -v "$list")"
grep -q folder.jpg "$list" && fail "the picture entered the list"
tree=$(ini_plain TREEHEI)
((tree >= 2700)) || fail "the folder tree is $tree twips tall at the first start"
start_app
wait_window "$PID" >/dev/null || fail "main window did not appear with the kept list"
sleep 0.3
kill -TERM "$PID"
wait_exit "$PID" || fail "SIGTERM: exit status $?"
[ "$(entries)" = 3 ] || fail "the list did not come back at the next start: $(cat -v "$list")"
pass "a dropped folder gives its audio files, a Latin-1 name comes by its bytes, and the list outlives the program"

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
