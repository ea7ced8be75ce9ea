#!/usr/bin/env bash
# Installs the build into a temporary prefix as a desktop program, checks what lands where,
# and runs the installed program as a user who cannot write to it: the settings then go to
# that user's configuration folder. Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/vardune bin/fastencc lib/vardune/fastencc share/vardune/VarduneManual.chm \
            share/applications/vardune.desktop share/icons/hicolor/scalable/apps/vardune.svg \
            share/man/man1/vardune.1.gz share/man/man1/fastencc.1.gz \
            share/metainfo/example.vardune.vardune.metainfo.xml; do
  [ -s "$prefix/$file" ] || fail "$file was not installed"
done
[ "$(readlink "$prefix/bin/fastencc")" = ../lib/vardune/fastencc ] || fail "bin/fastencc is not a relative link to the encoder"
for size in 16 32 48 64 128 256; do
  [ -s "$prefix/share/icons/hicolor/${size}x${size}/apps/vardune.png" ] || fail "no ${size}px icon"
done
desktop-file-validate "$prefix/share/applications/vardune.desktop" || fail "the menu entry is not valid"
grep -q '^Icon=vardune$' "$prefix/share/applications/vardune.desktop" || fail "the menu entry names no icon"
grep -qx "Exec=$prefix/bin/vardune %F" "$prefix/share/applications/vardune.desktop" || fail "the menu entry does not start the installed program with the files"
# A file manager offers "Open With Vardune" for the audio types the encoder reads.
for type in audio/mpeg audio/x-wav audio/flac audio/x-vorbis+ogg audio/x-opus+ogg audio/x-aiff; do
  grep -q "^MimeType=.*$type;" "$prefix/share/applications/vardune.desktop" || fail "the menu entry does not take $type"
done
echo "ok: program, encoder, manual, menu entry, icons, manual pages and metainfo are installed"

# The installed folder belongs to root and nobody may write to it; a plain user runs it.
chmod -R a-w "$prefix"
chmod 755 "$work"
user_home=$work/home
mkdir -p "$user_home/run" "$user_home/music"
chmod 700 "$user_home/run"
printf 'RIFF' >"$user_home/music/one.wav"
printf 'fLaC' >"$user_home/music/two.flac"
# root may write anywhere: it runs the program as nobody. Anyone else is a plain user already.
become=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody "$user_home"
  become=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
# exec: in the background the function runs in a subshell, which must become the program.
as_user() {
  exec "${become[@]}" env -i HOME="$user_home" XDG_CONFIG_HOME="$user_home/config" XDG_DATA_HOME="$user_home/data" \
    XDG_RUNTIME_DIR="$user_home/run" QT_QPA_PLATFORM=offscreen PATH=/usr/bin:/bin "$@"
}
as_user "$prefix/bin/vardune" >"$work/log" 2>&1 &
pid=$!
for _ in $(seq 200); do
  [ -e "$user_home/run/vardune-instance.lock" ] && break
  kill -0 "$pid" 2>/dev/null || { cat "$work/log"; fail "the installed program ended at start"; }
  sleep 0.05
done
sleep 0.3
# "Open With Vardune" as a file manager does it: the installed menu entry launched with two
# files, its %F expanded by GLib. The copy it starts hands them to the running one.
(as_user gio launch "$prefix/share/applications/vardune.desktop" "$user_home/music/one.wav" "$user_home/music/two.flac") \
  >>"$work/log" 2>&1 || { cat "$work/log"; fail "gio launch of the menu entry"; }
list="$user_home/data/Vardune/VardoList.txt"
runner=$(id -u)
[ ${#become[@]} -gt 0 ] && runner=$(id -u nobody)
kill -0 "$pid" 2>/dev/null || { cat "$work/log"; fail "the running program ended"; }
launched=""
for _ in $(seq 200); do
  launched=$(pgrep -u "$runner" -f "^$prefix/bin/vardune $user_home/music" || true)
  [ -z "$launched" ] && break
  sleep 0.05
done
[ -z "$launched" ] || fail "the copy started from the menu entry did not end"
sleep 0.3
kill -TERM "$pid"
wait "$pid" || fail "exit status $?"
for name in one.wav two.flac; do
  grep -q $'\t'"$name"$'\t' "$list" 2>/dev/null || { cat "$work/log"; ls -R "$user_home"; fail "$name opened with the menu entry is not in the list"; }
done
echo "ok: files opened with the installed menu entry reach the running program's list"
[ -s "$user_home/config/Vardune/Vardune.ini" ] || { ls -R "$user_home"; fail "no settings in the user's configuration folder"; }
[ -e "$prefix/bin/Vardune.ini" ] && fail "settings written into the installed folder"
echo "ok: run from a folder it cannot write, the program keeps its settings in ~/.config/Vardune"
