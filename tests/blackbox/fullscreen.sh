#!/usr/bin/env bash
# A full-screen run covers the desktop and closes on a click, on focus loss
# and on a mouse travel of more than 4 pixels. Its picture keeps the
# projection's shape on a desktop of another shape.
. "$(dirname "$0")/lib.sh"

screen=$(xdotool getdisplaygeometry | tr ' ' 'x')

xdotool mousemove 200 200
start_saver /s
check "full-screen window appears" wait_window
geometry=$(xdotool getwindowgeometry "$WID" | awk '/Geometry/ {print $2}')
position=$(xdotool getwindowgeometry "$WID" | awk '/Position/ {print $2}')
check "window covers the desktop ($geometry at $position, screen $screen)" [ "$geometry" = "$screen" -a "$position" = "0,0" ]
shoot root "$WORK/shot.png"
check "the frame is shown" [ "$(pixel "$WORK/shot.png" 1000 900)" = "0,0,0" ]
xdotool mousemove_relative 3 1
sleep 0.7
check "a travel of 4 pixels keeps the saver" running "$SAVER"
xdotool mousemove_relative 1 0
wait_exit "$SAVER" 20
check "a travel of 5 pixels closes it (status $STATUS)" [ "$STATUS" = 0 ]

start_saver /s
wait_window
xdotool click 1
wait_exit "$SAVER" 20
check "a click closes it (status $STATUS)" [ "$STATUS" = 0 ]

start_saver /s
wait_window
xdotool windowfocus --sync "$WID" 2>/dev/null
sleep 0.3
check "focus on itself keeps it" running "$SAVER"
xev -geometry 50x50+0+0 -name glimmerwing-other >/dev/null 2>&1 &
PIDS+=($!)
for _ in $(seq 50); do
  other=$(xdotool search --name '^glimmerwing-other$' 2>/dev/null | head -1)
  [ -n "$other" ] && break
  sleep 0.1
done
xdotool windowfocus "$other"
wait_exit "$SAVER" 20
check "focus loss closes it (status $STATUS)" [ "$STATUS" = 0 ]

# The picture on desktops of other sizes, with the blue sky (the clear colour)
# and a frozen scene (the clock barely moves). In the user's mode the frame
# reaches every edge of the picture (the earth fills its bottom and sides, a
# moon touches its top), so what differs from the sky is the picture, and
# every pixel around it (the bars) has the clear colour.
sky="0,0,50"
# show_frame WxH mode aspect: a full-screen run on a new screen of that size;
# its screenshot is in $WORK/frame.png.
show_frame() {
  use_screen "$1" || return 1
  write_hive '"intChkCol"=dword:00000001' '"intChkFPS"=dword:00000000' '"intBrdNumCur"=dword:00000005' \
    "\"intMode\"=dword:0000000$2" "\"intAspMod\"=dword:0000000$3"
  xdotool mousemove 10 10
  GLIMMERWING_FAKE_CLOCK_STEP_US=1 start_saver /s
  wait_window || return 1
  for _ in $(seq 100); do  # until a frame with sky in it is on the screen
    import -window root "$WORK/frame.png" 2>/dev/null
    [ "$(convert "$WORK/frame.png" -fill white +opaque "rgb($sky)" -format '%[fx:minima]' info:)" = 0 ] && break
    sleep 0.2
  done
  xdotool click 1
  wait_exit "$SAVER" 20
}

show_frame 1920x1080 1 0
extent=$(extent_apart_from "$WORK/frame.png" "$sky")
check "4:3 on 1920 x 1080: a 1440 x 1080 picture between two bars (got $extent)" [ "$extent" = "1440x1080+240+0" ]
show_frame 1920x1080 0 0
read -r mw mh < <(largest_patch_apart_from "$WORK/frame.png" "$sky")
check "a moon is round on the screen (got ${mw:-?} x ${mh:-?})" \
  awk -v w="${mw:-0}" -v h="${mh:-0}" 'BEGIN { exit !(w > 100 && h > 100 && w / h > 0.98 && w / h < 1.02) }'
show_frame 1920x1080 1 1
extent=$(extent_apart_from "$WORK/frame.png" "$sky")
check "16:9 on 1920 x 1080 fills the screen (got $extent)" [ "$extent" = "1920x1080+0+0" ]
show_frame 1024x768 1 0
extent=$(extent_apart_from "$WORK/frame.png" "$sky")
check "4:3 on 1024 x 768 fills the screen (got $extent)" [ "$extent" = "1024x768+0+0" ]
finish
