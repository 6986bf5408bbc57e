#!/usr/bin/env bash
# Frame rate of Glimmerwing against XScreenSaver's glschool (xscreensaver-gl)
# on the same virtual X server, the two taking turns: A B A B ...
#
#   bench/versus_glschool.sh [options]
#     --size WxH        screen size (default 1024x768); the saver runs full
#                       screen (/s) with the back buffer of that size where a
#                       display mode has it (640x480, 800x600, 1024x768), else
#                       1024x768 stretched over the screen
#     --rounds N        A B pairs (default 5)
#     --seconds S       measured seconds a run (default 10)
#     --warmup S        seconds a run settles before it is measured (default 8:
#                       the particle trails reach their steady length)
#     --saver PATH      the saver (default build/glimmerwing)
#     --settings LINES  extra registry lines for the saver's settings
#     --glschool PATH   default /usr/libexec/xscreensaver/glschool
#     --start-up        time the start instead: from exec to the first
#                       presented frame, for the saver, glschool and a bare
#                       GLX program (bench/glx_floor.c: one clear and swap, the
#                       floor under any OpenGL program here), each started once
#                       unmeasured first so that the shader caches are warm
#
# Both programs draw through Mesa (llvmpipe under Xvfb); GALLIUM_HUD=fps with
# a dump folder records each one's frame rate twice a second without drawing
# the HUD. A run's rate is the median of its samples after the warm-up; the
# ratio of a round is saver / glschool; the script prints every run and the
# median of the rounds' ratios. Hold the shared CPU lock while it runs.
#
# Start-up is taken the same way from every program: bench/first_frame_probe.c,
# preloaded, notes the wall clock when the program first hands the X server a
# picture (Mesa's software drivers present through XShmPutImage, XPutImage or
# xcb_put_image); the clock at exec is noted just before it. Both are built
# here with the C compiler (X11 and GL headers for the floor program).
set -euo pipefail

size=1024x768 rounds=5 seconds=10 warmup=8 settings="" startup=0
saver="$(cd "$(dirname "$0")/.." && pwd)/build/glimmerwing"
glschool=/usr/libexec/xscreensaver/glschool
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --warmup) warmup=$2; shift 2 ;;
    --saver) saver=$2; shift 2 ;;
    --settings) settings=$2; shift 2 ;;
    --glschool) glschool=$2; shift 2 ;;
    --start-up) startup=1; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
[ -x "$saver" ] || { echo "no saver at $saver" >&2; exit 2; }
[ -x "$glschool" ] || { echo "no glschool at $glschool (apt-get install xscreensaver-gl)" >&2; exit 2; }

case "$size" in
  640x480) mode=1 ;;
  800x600) mode=2 ;;
  *) mode=3 ;;
esac

work=$(mktemp -d "${TMPDIR:-/tmp}/glimmerwing-versus.XXXXXX")
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A virtual X server of its own, on the first free display number.
exec 3<> "$work/displayfd"
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
display=""
for _ in $(seq 100); do
  display=$(head -n 1 "$work/displayfd" 2>/dev/null || true)
  [ -n "$display" ] && break
  sleep 0.1
done
[ -n "$display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display"

# Private settings, state and lock folders for the saver.
export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME/glimmerwing" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
write_settings() {
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\varen-ot-u\\Glimmerwing\\1.0]\n"intDisMod"=dword:%08x\n%b' \
    "$mode" "$settings" > "$XDG_CONFIG_HOME/glimmerwing/user.reg"
}

# run NAME command...: prints the median of the frame rates sampled after the warm-up.
run() {
  local name=$1; shift
  local dump="$work/hud-$name"
  rm -rf "$dump"; mkdir -p "$dump"
  GALLIUM_HUD=fps GALLIUM_HUD_VISIBLE=false GALLIUM_HUD_PERIOD=0.5 GALLIUM_HUD_DUMP_DIR="$dump" \
    "$@" >/dev/null 2>&1 &
  local pid=$!
  sleep $((warmup + seconds))
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  # Samples come every half second: skip the warm-up's.
  tail -n +$((warmup * 2 + 1)) "$dump/fps" 2>/dev/null | head -n $((seconds * 2)) | sort -g |
    awk '{ v[NR] = $1 } END { if (NR == 0) { print "nan" } else if (NR % 2) { print v[(NR + 1) / 2] } else { print (v[NR / 2] + v[NR / 2 + 1]) / 2 } }'
}

# startup NAME command...: milliseconds from exec to the first presented frame.
startup() {
  local name=$1; shift
  local begin="$work/exec-$name" mark="$work/frame-$name"
  rm -f "$begin" "$mark"
  FIRST_FRAME_FILE="$mark" LD_PRELOAD="$work/first_frame_probe.so" \
    bash -c 'printf "%s\n" "$EPOCHREALTIME" > "$0"; exec "$@"' "$begin" "$@" >/dev/null 2>&1 &
  local pid=$!
  for _ in $(seq 3000); do
    [ -s "$mark" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.01
  done
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if [ -s "$begin" ] && [ -s "$mark" ]; then
    awk -v a="$(tr , . < "$begin")" -v b="$(cat "$mark")" 'BEGIN { printf "%.1f", (b - a) * 1000 }'
  else
    echo nan
  fi
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

if [ "$startup" = 1 ]; then
  here="$(cd "$(dirname "$0")" && pwd)"
  cc -O2 -shared -fPIC -o "$work/first_frame_probe.so" "$here/first_frame_probe.c" -ldl ||
    { echo "the probe did not build (a C compiler is needed)" >&2; exit 2; }
  floor=()
  if cc -O2 -o "$work/glx_floor" "$here/glx_floor.c" -lGL -lX11 2>/dev/null; then
    floor=("$work/glx_floor")
  else
    echo "(no X11 or GL headers: the bare GLX program is left out)"
  fi
  export MESA_SHADER_CACHE_DIR="$work/shader-cache"
  write_settings
  startup saver "$saver" /s >/dev/null
  startup glschool "$glschool" -root -delay 0 >/dev/null
  echo "screen $size (saver /s, intDisMod $mode): exec to the first presented frame, warm shader caches, $rounds rounds"
  ours=() theirs=() bare=()
  for r in $(seq "$rounds"); do
    a=$(startup saver "$saver" /s)
    b=$(startup glschool "$glschool" -root -delay 0)
    c=nan
    [ ${#floor[@]} -gt 0 ] && c=$(startup floor "${floor[@]}")
    printf 'round %d: glimmerwing %7s ms   glschool %7s ms   bare GLX %7s ms\n' "$r" "$a" "$b" "$c"
    ours+=("$a"); theirs+=("$b"); bare+=("$c")
  done
  printf 'median: glimmerwing %s ms   glschool %s ms   bare GLX %s ms\n' \
    "$(printf '%s\n' "${ours[@]}" | median)" "$(printf '%s\n' "${theirs[@]}" | median)" \
    "$(printf '%s\n' "${bare[@]}" | median)"
  exit 0
fi

echo "screen $size (saver /s, intDisMod $mode), $rounds rounds of ${seconds} s after ${warmup} s warm-up"
ratios=()
ours=()
theirs=()
for r in $(seq "$rounds"); do
  write_settings
  a=$(run saver "$saver" /s)
  b=$(run glschool "$glschool" -root -delay 0)
  ratio=$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", a / b }')
  printf 'round %d: glimmerwing %8.2f fps   glschool %8.2f fps   ratio %s\n' "$r" "$a" "$b" "$ratio"
  ours+=("$a"); theirs+=("$b"); ratios+=("$ratio")
done
printf 'median: glimmerwing %.2f fps   glschool %.2f fps   ratio %.3f\n' \
  "$(printf '%s\n' "${ours[@]}" | median)" "$(printf '%s\n' "${theirs[@]}" | median)" \
  "$(printf '%s\n' "${ratios[@]}" | median)"
