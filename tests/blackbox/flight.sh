#!/usr/bin/env bash
# The automatic mode seen from outside: on a fixed clock a run is the same
# frame for frame, the flock flies, trails glow, and the settings that change
# the picture change it.
. "$(dirname "$0")/lib.sh"

# Runs the saver in a window on a 30 ms fake clock and writes every 40th
# frame, 4 frames (4.8 s of flight) into folder $1; the run closes itself.
fly() {
  local folder=$1
  GLIMMERWING_FAKE_CLOCK_STEP_US=30000 GLIMMERWING_CAPTURE_DIR="$folder" GLIMMERWING_CAPTURE_EVERY=40 \
    GLIMMERWING_CAPTURE_COUNT=4 timeout 120 "$GLIMMERWING" /w 2>"$WORK/stderr"
  STATUS=$?
}

# Number of pixels brighter than a dark grey in image $1.
lit() { convert "$1" -colorspace Gray -threshold 10% -format "%[fx:int(mean*w*h)]" info:; }

write_hive '"intChkFPS"=dword:00000000'
fly "$WORK/a"
check "a captured run ends by itself with 0 (got $STATUS)" [ "$STATUS" = 0 ]
check "four frames written" [ -s "$WORK/a/frame_00004.ppm" ]
fly "$WORK/b"
for i in 1 2 3 4; do
  check "frame $i is the same in both runs" cmp -s "$WORK/a/frame_0000$i.ppm" "$WORK/b/frame_0000$i.ppm"
done
check "the scene moves from frame to frame" \
  [ "$(compare -metric AE "$WORK/a/frame_00001.ppm" "$WORK/a/frame_00004.ppm" null: 2>&1 | cut -d' ' -f1)" -gt 500 ]
check "birds and trails are drawn" [ "$(lit "$WORK/a/frame_00004.ppm")" -gt 400 ]

# Static birds, no loops, no background, random tints: still a flock in the picture.
write_hive '"intChkFPS"=dword:00000000' '"intChkAnim"=dword:00000000' '"intChkLoop"=dword:00000000' \
  '"intBakGnd"=dword:00000000' '"intPtlRndCol"=dword:00000001'
fly "$WORK/c"
check "static birds run and end with 0 (got $STATUS)" [ "$STATUS" = 0 ]
check "static birds and trails are drawn" [ "$(lit "$WORK/c/frame_00004.ppm")" -gt 400 ]
check "static birds look different from animated ones" \
  [ "$(compare -metric AE "$WORK/a/frame_00004.ppm" "$WORK/c/frame_00004.ppm" null: 2>&1 | cut -d' ' -f1)" -gt 500 ]

# Mode 2: nothing moves, the frame still renders.
write_hive '"intChkFPS"=dword:00000000' '"intMode"=dword:00000002'
fly "$WORK/d"
check "mode 2 runs and ends with 0 (got $STATUS)" [ "$STATUS" = 0 ]
# Only the light turns: the far moon's shading changes, but nothing moves.
box() { convert "$1" -colorspace Gray -threshold 1% -format "%@" info:; }
# Boxes "WxH+X+Y" of $1 and $2 within 3 pixels of each other in every number.
near_boxes() {
  echo "$1 $2" | tr 'x+' '  ' | awk '{ for (i = 1; i <= 4; ++i) { d = $i - $(i + 4); if (d > 3 || d < -3) exit 1 } }'
}
check "mode 2 stands still ($(box "$WORK/d/frame_00002.ppm") and $(box "$WORK/d/frame_00004.ppm"))" \
  near_boxes "$(box "$WORK/d/frame_00002.ppm")" "$(box "$WORK/d/frame_00004.ppm")"
finish
