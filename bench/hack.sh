#!/usr/bin/env bash
# What a hack costs: frames per second and processor seconds per minute of
# `glimmerwing --root` at its default --delay on a 1024 x 768 virtual screen
# (Mesa's software OpenGL), next to XScreenSaver's glschool at its defaults.
#
#   bench/hack.sh [build/glimmerwing] [seconds, default 60]
#
# Run it under the CPU lock and with nothing else busy. Frame rates come from
# Mesa's heads-up display, dumped once a second (the same count for both
# programs); processor time from /proc (every thread, the driver's included).
set -euo pipefail
GLIMMERWING=$(readlink -f "${1:-build/glimmerwing}")
SECONDS_MEASURED=${2:-60}
WARMUP=5
GLSCHOOL=/usr/libexec/xscreensaver/glschool
WORK=$(mktemp -d)
PIDS=()
trap 'for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$WORK"' EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$WORK/display" 2>/dev/null &
PIDS+=($!)
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$WORK/display")"
TICKS=$(getconf CLK_TCK)

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# measure NAME COMMAND...: prints one line of results.
measure() {
  local name=$1; shift
  local hud="$WORK/hud-$name"
  mkdir -p "$hud"
  GALLIUM_HUD=fps GALLIUM_HUD_PERIOD=1 GALLIUM_HUD_DUMP_DIR="$hud" "$@" >/dev/null 2>&1 &
  local pid=$!
  PIDS+=("$pid")
  sleep "$WARMUP"
  local skip before after
  skip=$(wc -l <"$hud/fps" 2>/dev/null || echo 0)
  before=$(cpu_ticks "$pid")
  sleep "$SECONDS_MEASURED"
  after=$(cpu_ticks "$pid")
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  local fps cpu
  fps=$(tail -n +"$((skip + 1))" "$hud/fps" | awk '{ s += $1; n++ } END { if (n) printf "%.1f", s / n; else print "?" }')
  cpu=$(awk -v t="$((after - before))" -v hz="$TICKS" -v s="$SECONDS_MEASURED" 'BEGIN { printf "%.1f", t / hz * 60 / s }')
  printf '%-40s %8s fps %8s CPU s/min\n' "$name" "$fps" "$cpu"
}

echo "1024 x 768, $SECONDS_MEASURED s each after $WARMUP s, $(nproc) cores"
measure "glimmerwing --root" "$GLIMMERWING" --root
measure "glimmerwing --root --delay 0" "$GLIMMERWING" --root --delay 0
if [ -x "$GLSCHOOL" ]; then
  measure "glschool --root" "$GLSCHOOL" --root
else
  echo "glschool: not installed (apt-get install xscreensaver-gl)"
fi
