# Shared by the end-to-end tests: a private Xvfb display, a private copy of the programs and a
# private home, so a run touches nothing of the user's.
set -euo pipefail

E2E_WORK=$(mktemp -d)
E2E_PIDS=()
e2e_cleanup() {
  for pid in "${E2E_PIDS[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  # Wait for Xvfb to go: a server still shutting down would remove the socket of the next
  # run's server if that one got the same display number.
  if [ -n "${E2E_XVFB:-}" ]; then
    kill "$E2E_XVFB" 2>/dev/null || true
    wait "$E2E_XVFB" 2>/dev/null || true
  fi
  rm -rf "$E2E_WORK"
}
trap e2e_cleanup EXIT

fail() { echo "FAIL: $*" >&2; [ -f "$E2E_WORK/log" ] && sed 's/^/  log: /' "$E2E_WORK/log" >&2; exit 1; }
pass() { echo "ok: $*"; }

# e2e_setup BIN_DIR: copies vardune (and fastencc, when built) into a folder of their own.
e2e_setup() {
  mkdir -p "$E2E_WORK/app" "$E2E_WORK/home" "$E2E_WORK/config" "$E2E_WORK/run"
  chmod 700 "$E2E_WORK/run"
  cp "$1/vardune" "$E2E_WORK/app/"
  [ -x "$1/fastencc" ] && cp "$1/fastencc" "$E2E_WORK/app/"
  export HOME="$E2E_WORK/home" XDG_RUNTIME_DIR="$E2E_WORK/run" XDG_CONFIG_HOME="$E2E_WORK/config"
  unset QT_QPA_PLATFORM
  APP="$E2E_WORK/app/vardune"
  INI="$E2E_WORK/app/Vardune.ini"
  LOCK="$E2E_WORK/run/vardune-instance.lock"
  e2e_display
}

# e2e_display: starts a private Xvfb server and exports its DISPLAY; its screen is
# $E2E_SCREEN (WIDTHxHEIGHT) when set, else 1280x800.
e2e_display() {
  : > "$E2E_WORK/display"
  Xvfb -displayfd 3 -screen 0 "${E2E_SCREEN:-1280x800}x24" -nolisten tcp -noreset 3>"$E2E_WORK/display" >/dev/null 2>&1 &
  E2E_XVFB=$!
  for _ in $(seq 100); do [ -s "$E2E_WORK/display" ] && break; sleep 0.05; done
  [ -s "$E2E_WORK/display" ] || fail "Xvfb did not start"
  export DISPLAY=":$(head -n1 "$E2E_WORK/display")"
}

# start_app [ARG...]: starts vardune in the background with ARGs; its pid is in $PID.
start_app() {
  "$APP" "$@" >>"$E2E_WORK/log" 2>&1 &
  PID=$!
  E2E_PIDS+=("$PID")
}

# wait_named PID NAME: waits until PID shows a window whose name matches NAME (an extended
# regular expression); prints its id.
wait_named() {
  local id
  for _ in $(seq 200); do
    id=$(xdotool search --all --onlyvisible --pid "$1" --name "$2" 2>/dev/null | head -n1) || true
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# wait_window PID: waits until PID shows a window titled Vardune; prints its id.
wait_window() {
  wait_named "$1" '^Vardune$'
}

# wait_exit PID: waits up to 10 s for PID to end; fails the test with its status otherwise.
wait_exit() {
  for _ in $(seq 200); do
    kill -0 "$1" 2>/dev/null || { wait "$1"; return $?; }
    sleep 0.05
  done
  fail "process $1 did not end"
}

# above A B: true when X stacks window A over window B (ids as xdotool gives them). Without a
# window manager the program's windows are children of the root, which xwininfo lists from the
# top down.
above() {
  local order a b
  order=$(xwininfo -root -children | grep -oE '^ +0x[0-9a-f]+' | tr -d ' ')
  a=$(grep -nx "$(printf '0x%x' "$1")" <<<"$order" | cut -d: -f1)
  b=$(grep -nx "$(printf '0x%x' "$2")" <<<"$order" | cut -d: -f1)
  [ -n "$a" ] && [ -n "$b" ] && [ "$a" -lt "$b" ]
}

# encode TEXT: the configuration file's encoding of an ASCII text.
encode() {
  local s=$1 out="" i c
  for ((i = 0; i < ${#s}; i++)); do
    printf -v c '%d' "'${s:i:1}"
    printf -v c '%03d' $((500 + (i + 1) % 10 + c))
    out+=$c
  done
  printf '%s' "$out"
}

# ini_value KEY: the stored (encoded) value of KEY.
ini_value() {
  local key
  key=$(encode "$1")
  sed -n "s/^$key=//p" "$INI" | tr -d '\r' | head -n1
}

# ini_plain KEY: the stored value of KEY, decoded from the file's digit encoding.
ini_plain() {
  local s out="" k v
  s=$(ini_value "$1")
  for ((k = 1; k * 3 <= ${#s}; k++)); do
    v=$((10#${s:(k - 1) * 3:3} - 500 - k % 10))
    ((v >= 0 && v < 256)) && out+=$(printf "\\$(printf '%03o' "$v")")
  done
  printf '%s' "$out"
}

# expect_refused WHAT FIRST_PID: starts a second copy while FIRST_PID runs, answers its refusal
# message, and checks that it ended, that the configuration is as $before says and that the
# first copy still runs.
expect_refused() {
  start_app
  local box
  box=$(wait_window "$PID") || fail "$1 copy: no refusal message"
  sleep 0.2
  xdotool windowfocus --sync "$box" key --clearmodifiers Return
  wait_exit "$PID" || fail "$1 copy: exit status $?"
  [ "$(md5sum < "$INI")" = "$before" ] || fail "the $1 copy changed the configuration"
  kill -0 "$2" || fail "the first instance ended"
}
