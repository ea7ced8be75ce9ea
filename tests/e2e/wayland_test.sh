#!/usr/bin/env bash
# The windows on Wayland, with no X display at all: under a headless weston compositor, through
# Qt's Wayland plugin, a user's first session (the window shows, dialogs open, a batch runs on
# the real encoder), then the real program comes up there and ends saving its settings.
# Usage: wayland_test.sh BIN_DIR JOURNEY_TEST_BINARY
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
e2e_setup "$1"
cp "$2" "$E2E_WORK/app/"
unset DISPLAY
weston --backend=headless-backend.so --socket=vardune-wayland --idle-time=0 >"$E2E_WORK/weston.log" 2>&1 &
E2E_PIDS+=("$!")
for _ in $(seq 200); do [ -S "$XDG_RUNTIME_DIR/vardune-wayland" ] && break; sleep 0.05; done
[ -S "$XDG_RUNTIME_DIR/vardune-wayland" ] || { cat "$E2E_WORK/weston.log"; fail "weston did not start"; }
# Named, the platform has no fallback: without the Wayland plugin the program does not start.
export WAYLAND_DISPLAY=vardune-wayland QT_QPA_PLATFORM=wayland
# Headless weston has no seat: Qt's Wayland input method then fails on the keys a test types,
# which go to the widgets directly instead.
export QT_IM_MODULE=none
"$E2E_WORK/app/$(basename "$2")" >"$E2E_WORK/journey.log" 2>&1 || { cat "$E2E_WORK/journey.log"; fail "the first session on Wayland"; }
grep -E '^(PASS|FAIL|Totals)' "$E2E_WORK/journey.log"
pass "the first session's windows, dialogs and batch on Wayland"

start_app
for _ in $(seq 200); do
  [ -e "$LOCK" ] && break
  kill -0 "$PID" 2>/dev/null || fail "the program ended at its start on Wayland"
  sleep 0.05
done
sleep 0.5
kill -0 "$PID" 2>/dev/null || fail "the program ended on Wayland"
rm -f "$INI"
kill -TERM "$PID"
wait_exit "$PID" || fail "SIGTERM: exit status $?"
[ -s "$INI" ] || fail "the program on Wayland saved no settings"
pass "the real program runs on Wayland and saves its settings"
