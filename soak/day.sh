#!/usr/bin/env bash
# The day-long scene soak: 24 simulated hours (2.88 million frames of 0.03 s)
# in automatic mode, then in user mode with the scripted pilot, drawing every
# 1000th frame at 160 x 120, on a virtual X display when there is none.
# Takes some minutes per mode; run it with nice -n 19.
#
#   soak/day.sh [frames] [scene-soak executable]
set -uo pipefail
cd "$(dirname "$0")/.."
FRAMES=${1:-2880000}
SOAK=${2:-build/soak/glimmerwing-scene-soak}
status=0
for mode in auto user; do
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    "$SOAK" --mode $mode --frames "$FRAMES" --draw-every 1000 || status=1
  else
    xvfb-run -a -s "-screen 0 640x480x24 -nolisten tcp" "$SOAK" --mode $mode --frames "$FRAMES" --draw-every 1000 || status=1
  fi
done
exit $status
