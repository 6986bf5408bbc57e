#!/usr/bin/env bash
# User mode seen from outside: the whale in the middle of the picture, the
# arrow keys bring the camera closer, W sends the whale off with the camera
# turning after it, and Escape still closes the run.
. "$(dirname "$0")/lib.sh"

# Pixels of the blue-grey whale (blue well above red) in image $1, and their
# centre "x y".
whale_pixels() { convert "$1" -fx "b > r + 0.08 && b > 0.25 ? 1 : 0" -format "%[fx:int(mean*w*h)]" info:; }
whale_centre() {
  convert "$1" -fx "b > r + 0.08 && b > 0.25 ? 1 : 0" -trim -format "%[fx:int(page.x + w/2)] %[fx:int(page.y + h/2)]" info:
}
inside() {  # inside X Y LEFT RIGHT TOP BOTTOM
  [ -n "$1" ] && [ -n "$2" ] && [ "$1" -gt "$3" ] && [ "$1" -lt "$4" ] && [ "$2" -gt "$5" ] && [ "$2" -lt "$6" ]
}
hold() {  # hold KEY SECONDS
  xdotool keydown "$1"; sleep "$2"; xdotool keyup "$1"
}

write_hive '"intMode"=dword:00000001' '"intChkFPS"=dword:00000000' '"intBakGnd"=dword:00000000'
start_saver /w
check "window appears" wait_window
xdotool windowfocus --sync "$WID" 2>/dev/null
sleep 0.5
shoot "$WID" "$WORK/start.png"
far=$(whale_pixels "$WORK/start.png")
check "the whale shows ($far pixels)" [ "$far" -gt 30 ]
read -r x y <<<"$(whale_centre "$WORK/start.png")"
check "the camera looks at the whale (centre $x $y)" inside "$x" "$y" 220 420 140 340

# The scene runs on the real clock with at most 30 ms a frame, so a slow
# (sanitised) build moves less per second: keys are held a second at a time
# until the picture shows their effect, for 20 s at the most.
near=0
for _ in $(seq 20); do
  hold Up 1
  shoot "$WID" "$WORK/closer.png"
  near=$(whale_pixels "$WORK/closer.png")
  [ "$near" -gt $((far * 3 / 2)) ] && break
done
check "the up arrow brings the camera closer ($far -> $near pixels)" [ "$near" -gt $((far * 3 / 2)) ]

changed=0
for _ in $(seq 20); do
  hold w 1
  shoot "$WID" "$WORK/away.png"
  changed=$(compare -metric AE "$WORK/closer.png" "$WORK/away.png" null: 2>&1 | cut -d' ' -f1)
  [ "$changed" -gt 300 ] && break
done
check "W sends the whale off (the picture changes in $changed pixels)" [ "$changed" -gt 300 ]
read -r x y <<<"$(whale_centre "$WORK/away.png")"
check "the camera turns after the whale (centre $x $y)" inside "$x" "$y" 160 480 100 380

xdotool key --clearmodifiers Escape
wait_exit "$SAVER" 30
check "Escape ends a user-mode run with 0 (got $STATUS)" [ "$STATUS" = 0 ]
finish
