#!/usr/bin/env bash
# The real program as a screen reader meets it: on a private session bus with its own
# accessibility bus, the main window's controls are read through AT-SPI, each with a name.
# Usage: accessible_test.sh BIN_DIR
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
e2e_setup "$1"
dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$E2E_WORK/bus" 4>"$E2E_WORK/bus.pid"
E2E_PIDS+=("$(cat "$E2E_WORK/bus.pid")")
export DBUS_SESSION_BUS_ADDRESS
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$E2E_WORK/bus")
/usr/libexec/at-spi-bus-launcher --launch-immediately >>"$E2E_WORK/log" 2>&1 &
E2E_PIDS+=("$!")
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
start_app
wait_window "$PID" >/dev/null || fail "main window did not appear"
# The launcher's own bus goes with the test too (the launcher ends it only when ended gently).
for bus in $(pgrep -f -- "--address=unix:path=$XDG_RUNTIME_DIR/at-spi/" || true); do E2E_PIDS+=("$bus"); done
sleep 0.5
/usr/bin/python3 "$here/atspi_tree.py" Vardune "Folders" "Files of the folder" "Vardo list" "Output folder" \
  "Choose the output folder" "Type" "Add New" "Vardo" >"$E2E_WORK/tree.log" 2>&1 || { cat "$E2E_WORK/tree.log"; fail "the accessible tree"; }
cat "$E2E_WORK/tree.log"
kill -TERM "$PID"
wait_exit "$PID" || fail "SIGTERM: exit status $?"
pass "every control of the main window has a name on the accessibility bus"
