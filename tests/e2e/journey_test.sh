#!/usr/bin/env bash
# A user's first session with the real windows and the real encoder under Xvfb, then the real
# program started on the settings that session left, and a second copy turned away.
# Usage: journey_test.sh BIN_DIR JOURNEY_TEST_BINARY
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
e2e_setup "$1"
cp "$2" "$E2E_WORK/app/"
"$E2E_WORK/app/$(basename "$2")" >"$E2E_WORK/journey.log" 2>&1 || { cat "$E2E_WORK/journey.log"; fail "the first session"; }
grep -E '^(PASS|FAIL|Totals)' "$E2E_WORK/journey.log"
[ -f "$INI" ] || fail "no configuration after the first session"
before=$(md5sum < "$INI")

# The real program on those settings: it comes up, and ending it writes back the same file.
start_app
first=$PID
wait_window "$first" >/dev/null || fail "main window did not appear"
expect_refused second "$first"
pass "a second copy is turned away while the first runs"
kill -TERM "$first"
wait_exit "$first" || fail "SIGTERM: exit status $?"
[ "$(md5sum < "$INI")" = "$before" ] || fail "the real program did not restore the session's settings: $(cat "$INI")"
pass "the real program restores the session's settings and writes them back unchanged"
