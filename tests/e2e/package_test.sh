#!/usr/bin/env bash
# The Debian package as a user meets it: CPack builds it from the build tree, lintian finds no
# error in it, its metainfo, menu entry and manual pages are valid, and unpacked into a scratch
# root (dpkg -x) it runs under Xvfb as a plain user: the window appears, Help opens the
# installed manual, a one-file batch converts with the installed encoder, and the settings go
# to the user's configuration folder. Run by the owner of the install folders (root for a real
# installation), it still writes nothing into them. Usage: package_test.sh BUILD_DIR
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
build=$1

cpack -G DEB -B "$E2E_WORK/package" --config "$build/CPackConfig.cmake" >"$E2E_WORK/log" 2>&1 || fail "cpack"
debs=("$E2E_WORK"/package/vardune_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -s "${debs[0]}" ] || fail "no package: ${debs[*]}"
deb=${debs[0]}
[ "$(dpkg-deb -f "$deb" Version)" = 03.00.01-1 ] || fail "version $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
# libvips42 and libqt6svg6 are loaded at run time (the cover scaler, Qt's SVG icon plugins),
# so only the package's own list can name them.
for lib in libc6 libqt6widgets6 libmp3lame0 libmpg123-0 libsndfile1 libtag1v5 libchm1 libvips42 libqt6svg6 libebur128-1; do
  [[ ", $depends," == *", $lib "* || ", $depends," == *", $lib,"* ]] || fail "Depends lacks $lib: $depends"
done
pass "the package depends on the libraries its binaries use: $depends"

# Errors only: the warnings that remain are listed, with their reasons, in the README.
lintian --fail-on error --tag-display-limit 0 "$deb" >"$E2E_WORK/log" 2>&1 || fail "lintian found errors"
grep -q '^E:' "$E2E_WORK/log" && fail "lintian found errors"
pass "lintian: no errors"

root=$E2E_WORK/root
dpkg -x "$deb" "$root"
for file in usr/bin/vardune usr/lib/vardune/fastencc usr/share/vardune/VarduneManual.chm \
            usr/share/doc/vardune/copyright usr/share/doc/vardune/changelog.Debian.gz; do
  [ -s "$root/$file" ] || fail "$file is not in the package"
done
[ "$(readlink "$root/usr/bin/fastencc")" = ../lib/vardune/fastencc ] || fail "no fastencc command in /usr/bin"
desktop-file-validate "$root/usr/share/applications/vardune.desktop" >"$E2E_WORK/log" 2>&1 || fail "menu entry"
grep -qx 'Exec=/usr/bin/vardune' "$root/usr/share/applications/vardune.desktop" || fail "menu entry's program"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >"$E2E_WORK/log" 2>&1 || fail "metainfo"
for page in vardune fastencc; do
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" \
    >"$E2E_WORK/page" 2>"$E2E_WORK/log" || fail "man $page"
  [ -s "$E2E_WORK/log" ] && fail "man $page warns"
  grep -q '^EXIT STATUS' "$E2E_WORK/page" || fail "man $page has no exit status"
done
pass "menu entry, metainfo and manual pages are valid"

# A plain user: nobody when the test runs as root.
user_home=$E2E_WORK/user
mkdir -p "$user_home/run"
chmod 700 "$user_home/run"
chmod 755 "$E2E_WORK"
become=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody "$user_home"
  become=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
# The plain user may not enter the checkout (a private folder, or /root): the sanitizers'
# suppressions it names are copied where that user can read them.
leak_options=${LSAN_OPTIONS:-}
if [[ $leak_options =~ suppressions=([^:]*) ]]; then
  cp "${BASH_REMATCH[1]}" "$E2E_WORK/lsan.supp"
  chmod 644 "$E2E_WORK/lsan.supp"
  leak_options=${leak_options/"${BASH_REMATCH[1]}"/"$E2E_WORK/lsan.supp"}
fi
# run_as WHO HOME PROGRAM ARGS...: WHO is user (the plain user) or owner (who owns the root).
run_as() {
  local who=$1 home=$2; shift 2
  local prefix=()
  [ "$who" = user ] && prefix=("${become[@]}")
  exec "${prefix[@]}" env -i HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/run" \
    DISPLAY="${DISPLAY:-}" PATH=/usr/bin:/bin ASAN_OPTIONS="${ASAN_OPTIONS:-}" \
    LSAN_OPTIONS="$leak_options" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" "$@"
}

for request in "vardune --version" "fastencc --version" "vardune --help" "fastencc --help"; do
  set -- $request
  out=$( (run_as user "$user_home" "$root/usr/bin/$1" "$2") 2>"$E2E_WORK/log") || fail "$request: exit status $?"
  [ -s "$E2E_WORK/log" ] && fail "$request wrote to standard error"
  case $2 in
    --version) [[ "$out" == *" 03.00.01" ]] || fail "$request: $out" ;;
    --help) [[ "$out" == *[Uu]sage:*"--version"* ]] || fail "$request: $out" ;;
  esac
done
pass "--help and --version answer and exit 0"

# The user's source: an MP3 in the home folder, which a first start shows in the file view.
le() { local v=$1 i; for ((i = 0; i < $2; i++)); do printf "\\$(printf %03o $((v & 255)))"; v=$((v >> 8)); done; }
bytes=$((2 * 88200))
{ printf RIFF; le $((36 + bytes)) 4; printf 'WAVEfmt '; le 16 4; le 1 2; le 1 2; le 44100 4; le 88200 4
  le 2 2; le 16 2; printf data; le $bytes 4; head -c $bytes /dev/urandom; } >"$E2E_WORK/source.wav"
"$root/usr/bin/fastencc" "$E2E_WORK/source.wav" "$user_home/song.mp3" -br 64000 >/dev/null || fail "making the source"
[ "$(id -u)" -eq 0 ] && chown nobody "$user_home/song.mp3"

e2e_display
(run_as user "$user_home" "$root/usr/bin/vardune") >>"$E2E_WORK/log" 2>&1 &
pid=$!
E2E_PIDS+=("$pid")
wait_window "$pid" >/dev/null || fail "the installed program showed no window"
sleep 0.5
# The splash may have been the first window of that name; the main window is the one shown now.
win=$(xdotool search --onlyvisible --pid "$pid" --name '^Vardune$' | head -n1)

# Help > Help: the manual window opens on the installed manual.
xdotool windowfocus --sync "$win"
sleep 0.2
xdotool key --clearmodifiers alt+h
sleep 0.3
xdotool key --clearmodifiers h
for _ in $(seq 100); do
  xdotool search --onlyvisible --pid "$pid" --name '^Vardune Help' >/dev/null 2>&1 && break
  sleep 0.05
done
xdotool search --onlyvisible --pid "$pid" --name '^Vardune Help' >/dev/null || fail "Help opened no window"
manual=$(readlink -f "$root/usr/share/vardune/VarduneManual.chm")
# Each descriptor is read on its own: the program opens and closes others meanwhile, and a
# listing of them all fails when one goes while it is read.
holds_open() {
  local fd
  for fd in /proc/"$1"/fd/*; do
    [ "$(readlink "$fd" 2>/dev/null)" = "$2" ] && return 0
  done
  return 1
}
for _ in $(seq 100); do holds_open "$pid" "$manual" && break; sleep 0.05; done
holds_open "$pid" "$manual" || fail "the help window did not open the installed manual"
pass "Help opens the installed manual"

# Click into the file view (the main window's lower left), pick the file by typing its name,
# add it with Enter, and run Action > Start Vardo.
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool windowraise "$win" windowfocus --sync "$win"
sleep 0.3
xdotool mousemove --sync $((X + WIDTH * 15 / 100)) $((Y + HEIGHT * 85 / 100))
sleep 0.2
xdotool click 1
sleep 0.3
xdotool type --delay 50 song
sleep 0.3
xdotool key Return
sleep 0.5
xdotool key --clearmodifiers alt+a
sleep 0.3
xdotool key --clearmodifiers s
output=$user_home/V_song.mp3
# A bound for a loaded machine and a sanitizer build, not a measure: a pass ends the wait.
for _ in $(seq 1200); do [ -s "$output" ] && break; sleep 0.05; done
[ -s "$output" ] || fail "the batch made no $output"
"$root/usr/bin/fastencc" "$output" "$E2E_WORK/again.mp3" >/dev/null 2>&1 || fail "the output is no MP3"
pass "a one-file batch converts with the installed encoder"

# File > Exit saves the settings into the user's configuration folder.
# The status board closes after the batch, and gives the main window back.
for _ in $(seq 600); do
  xdotool search --onlyvisible --pid "$pid" --name '^Vardune Status Board' >/dev/null 2>&1 || break
  sleep 0.05
done
sleep 0.3
xdotool windowfocus --sync "$win"
sleep 0.2
xdotool key --clearmodifiers alt+f
sleep 0.3
xdotool key --clearmodifiers x
wait_exit "$pid" || fail "Exit: exit status $?"
[ -s "$user_home/config/Vardune/Vardune.ini" ] || fail "no settings in the user's configuration folder"
pass "the settings are in the user's configuration folder"

# The owner of the install folders may write into them, and still nothing lands there.
owner_home=$E2E_WORK/owner
mkdir -p "$owner_home/run"
chmod 700 "$owner_home/run"
find "$root" -printf '%p %s %T@\n' | sort >"$E2E_WORK/before"
(run_as owner "$owner_home" "$root/usr/bin/vardune") >>"$E2E_WORK/log" 2>&1 &
pid=$!
E2E_PIDS+=("$pid")
wait_window "$pid" >/dev/null || fail "the installed program showed no window to its owner"
kill -TERM "$pid"
wait_exit "$pid" || fail "SIGTERM: exit status $?"
[ -s "$owner_home/config/Vardune/Vardune.ini" ] || fail "no settings in the owner's configuration folder"
find "$root" -printf '%p %s %T@\n' | sort | diff "$E2E_WORK/before" - || fail "the program wrote into its install folders"
pass "run by the owner of its folders (root), the installed copy writes nothing into them"
