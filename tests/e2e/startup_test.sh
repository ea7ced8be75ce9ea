#!/usr/bin/env bash
# The real program under Xvfb: it starts, a second copy is turned away, and every way of
# ending it saves the settings.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
e2e_setup "$(dirname "$1")"

# First start without a configuration: the window comes up; SIGTERM saves all seven keys.
start_app
wait_window "$PID" >/dev/null || fail "main window did not appear"
[ -e "$INI" ] && fail "configuration written before the program ended"
kill -TERM "$PID"
wait_exit "$PID" || fail "SIGTERM: exit status $?"
[ "$(head -n1 "$INI" | tr -d '\r')" = "[$(encode CONFIG)]" ] || fail "section missing: $(cat "$INI")"
for key in VERSION SOURCE_ TARGET_ MCHANNE MQUALIT MKBPS__ MDEVICE; do
  [ -n "$(ini_value "$key")" ] || fail "key $key missing"
done
[ "$(ini_value VERSION)" = "$(encode 03.00.01)" ] || fail "VERSION"
[ "$(ini_value TARGET_)" = "$(encode "$HOME/")" ] || fail "TARGET_ is not the home folder"
[ "$(ini_value MDEVICE)" = "$(encode "1- MP3 Potable Player")" ] || fail "MDEVICE"
grep -q '[^0-9=]' <(grep -v '^\[' "$INI") && fail "a plain-text character in the file"
pass "first start saves the defaults on SIGTERM"

# Exit from the menu keeps the folder the file view shows and the values it does not use.
mkdir -p "$HOME/music"
printf '[%s]\n%s=%s\n%s=%s\n%s=%s\n' "$(encode CONFIG)" "$(encode SOURCE_)" "$(encode "$HOME/music")" \
  "$(encode MKBPS__)" "$(encode 128)" "$(encode VERSION)" "$(encode 01.00.00)" > "$INI"
start_app
win=$(wait_window "$PID") || fail "main window did not appear"
xdotool windowfocus --sync "$win" key --clearmodifiers alt+f
sleep 0.3
xdotool key --clearmodifiers x
wait_exit "$PID" || fail "Exit: exit status $?"
[ "$(ini_value SOURCE_)" = "$(encode "$HOME/music")" ] || fail "SOURCE_ is not the file view's folder"
[ "$(ini_value MKBPS__)" = "$(encode 128)" ] || fail "MKBPS__ changed"
[ "$(ini_value VERSION)" = "$(encode 01.00.00)" ] || fail "VERSION changed"
pass "Exit from the menu saves the file view's folder and keeps the rest"

# A second copy shows the refusal and ends; the first runs on and the file is untouched.
start_app
first=$PID
wait_window "$first" >/dev/null || fail "main window did not appear"
before=$(md5sum < "$INI")
for attempt in second stale-looking; do
  # A long-running instance keeps its lock however old the lock file is.
  [ "$attempt" = stale-looking ] && touch -d '2 hours ago' "$LOCK"
  expect_refused "$attempt" "$first"
done
pass "a second copy is turned away and touches nothing"

# Once its message is answered, the copy turned away brings the running window to the front:
# here from under the first copy's own help window.
main=$(wait_window "$first")
xdotool windowfocus --sync "$main" key --clearmodifiers alt+h
sleep 0.3
xdotool key --clearmodifiers h
help=$(wait_named "$first" '^Vardune Help$') || fail "Help > Help showed no help window"
sleep 0.3
above "$help" "$main" || fail "the help window is not over the main window to begin with"
expect_refused raising "$first"
for _ in $(seq 100); do above "$main" "$help" && break; sleep 0.05; done
above "$main" "$help" || fail "the running window did not come to the front: $(xwininfo -root -children | head -20)"
for _ in $(seq 100); do [ "$(xdotool getwindowfocus)" = "$main" ] && break; sleep 0.05; done
[ "$(xdotool getwindowfocus)" = "$main" ] || fail "the running window does not have the focus"
pass "a second start brings the running window to the front"

# Files named on the command line, as a file manager's "Open With" names them: the first
# start adds them to its list; a copy started with files while one runs hands them over (a
# relative path read in its own folder), says nothing and ends, and the running copy adds them
# and comes to the front with its message about the folder.
kill -9 "$first"
wait "$first" 2>/dev/null || true
open="$HOME/open folder"
mkdir -p "$open/album"
printf 'RIFF' >"$open/one.wav"
printf 'fLaC' >"$open/album/two.flac"
printf 'ID3' >"$open/three.mp3"
list="$HOME/.local/share/Vardune/VardoList.txt"
rm -f "$list"
start_app "$open/one.wav"
first=$PID
main=$(wait_window "$first") || fail "main window did not appear with a file named"
(cd "$open" && exec "$APP" album three.mp3 >>"$E2E_WORK/log" 2>&1) &
handing=$!
E2E_PIDS+=("$handing")
wait_exit "$handing" || fail "the copy with files: exit status $?"
[ -z "$(xdotool search --all --onlyvisible --pid "$handing" --name . 2>/dev/null)" ] || fail "the copy with files showed a window"
box=$(wait_named "$first" '^Folder Added$') || fail "the running copy said nothing of the folder handed over"
for _ in $(seq 100); do above "$box" "$main" && break; sleep 0.05; done
above "$box" "$main" || fail "the running copy's message is not in front"
xdotool windowfocus --sync "$box" key --clearmodifiers Return
sleep 0.3
kill -TERM "$first"
wait_exit "$first" || fail "SIGTERM: exit status $?"
for name in one.wav two.flac three.mp3; do
  grep -q $'\t'"$name"$'\t' "$list" || fail "$name is not in the list kept: $(cat "$list")"
done
pass "files named at the start and handed to the running copy reach its Vardo list"
start_app
first=$PID
wait_window "$first" >/dev/null || fail "main window did not appear"

# A crashed instance does not block the next start; SIGINT and SIGHUP save like SIGTERM.
kill -9 "$first"
wait "$first" 2>/dev/null || true
for signal in INT HUP; do
  rm -f "$INI"
  start_app
  wait_window "$PID" >/dev/null || fail "start after a crash: main window did not appear"
  kill -"$signal" "$PID"
  wait_exit "$PID" || fail "SIG$signal: exit status $?"
  [ -n "$(ini_value TARGET_)" ] || fail "SIG$signal did not save"
done
pass "a dead instance's lock is taken over; SIGINT and SIGHUP save"
