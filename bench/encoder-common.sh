# Sourced by bench/encoder.sh and bench/threads.sh: the tools they need, a Release build of
# fastencc, and the music-like source both measure.

# Sets fastencc (and build, when it falls back): the project's own build, or fastencc alone
# when the whole project does not configure on this machine.
build_fastencc() {
  for tool in lame ffmpeg ffprobe /usr/bin/time cmake bc; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is needed (tools/setup-debian.sh bench)" >&2; exit 1; }
  done
  fastencc=$build/bin/fastencc
  if ! { cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARDUNE_TESTS=OFF >/dev/null 2>&1 \
         && cmake --build "$build" --target fastencc -j2 >/dev/null; }; then
    echo "bench: the project does not configure here; building fastencc alone" >&2
    build=$build/encoder-only
    cmake -S "$here/encoder-standalone" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" --target fastencc -j2 >/dev/null
    fastencc=$build/bin/fastencc
  fi
}

# source.wav in the current folder, of $1 seconds: two voices with vibrato and tremolo, a
# bright partial that comes and goes, a pink noise floor.
make_music_source() {
  ffmpeg -v error -f lavfi -i "aevalsrc=exprs='0.22*sin(2*PI*220*t+2*sin(2*PI*5*t))*(0.7+0.3*sin(2*PI*0.25*t))+0.12*sin(2*PI*660*t)+0.08*sin(2*PI*2637*t)*abs(sin(2*PI*1.5*t))|0.22*sin(2*PI*277*t+2*sin(2*PI*4*t))*(0.7+0.3*cos(2*PI*0.2*t))+0.10*sin(2*PI*554*t)+0.08*sin(2*PI*3520*t)*abs(cos(2*PI*1.1*t))':s=44100:d=$1" \
    -f lavfi -i "anoisesrc=c=pink:a=0.06:r=44100:d=$1" \
    -filter_complex "[1]aformat=channel_layouts=stereo[n];[0][n]amix=inputs=2:normalize=0" \
    -c:a pcm_s16le source.wav
}
