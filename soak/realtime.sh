#!/usr/bin/env bash
# The real-time soak: the saver in its 640 x 480 window on a virtual X
# display for a given time (default 60 minutes), reporting every minute its
# resident memory and the OpenGL buffers, textures and programs alive in its
# context. Passes when, after the first minute, the memory grows by less than
# 2 MB and the object counts do not change.
#
#   soak/realtime.sh [minutes] [saver executable]     (run it with nice -n 19)
set -uo pipefail
cd "$(dirname "$0")/.."
MINUTES=${1:-60}
SAVER=${2:-build/glimmerwing}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/glimmerwing-soak.XXXXXX")
export XDG_CONFIG_HOME="$WORK/config" XDG_STATE_HOME="$WORK/state" XDG_RUNTIME_DIR="$WORK/run"
mkdir -p "$XDG_RUNTIME_DIR"
LOG="$WORK/stats.log"

# The saver runs on a display of its own for the whole soak, then gets a
# SIGTERM like any host would send.
xvfb-run -a -s "-screen 0 800x600x24 -nolisten tcp" bash -c '
  GLIMMERWING_STATS_EVERY=60 "$1" /w 2>"$2" &
  pid=$!
  sleep $(($3 * 60 + 5))
  kill -TERM $pid
  wait $pid
  echo "exit status $?" >>"$2"' _ "$SAVER" "$LOG" "$MINUTES"

cat "$LOG"
awk '
  /^stats/ {
    for (i = 2; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
    n++
    if (n == 2) { rss0 = v["rss_kb"]; gl0 = v["gl_buffers"] " " v["gl_textures"] " " v["gl_programs"] " " v["gl_shaders"] }
    if (n >= 2) {
      rss = v["rss_kb"]; if (rss > max) max = rss
      gl = v["gl_buffers"] " " v["gl_textures"] " " v["gl_programs"] " " v["gl_shaders"]
      if (gl != gl0) changed = 1
    }
  }
  /^exit status/ { status = $3 }
  END {
    if (n < 3) { print "soak: too few reports (" n ")"; exit 1 }
    growth = max - rss0
    printf "soak: %d reports; resident memory after the first minute %d kB, at most %d kB (growth %d kB); GL objects %s\n", n, rss0, max, growth, changed ? "CHANGED" : "flat (" gl0 ")"
    if (growth > 2048 || changed || status != 0) exit 1
  }' "$LOG"
result=$?
rm -rf "$WORK"
exit $result
