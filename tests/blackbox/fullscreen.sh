#!/usr/bin/env bash
# A full-screen run covers the desktop and closes on a click, on focus loss
# and on a mouse travel of more than 4 pixels.
. "$(dirname "$0")/lib.sh"

screen=$(xdotool getdisplaygeometry | tr ' ' 'x')

xdotool mousemove 200 200
start_saver /s
check "full-screen window appears" wait_window
geometry=$(xdotool getwindowgeometry "$WID" | awk '/Geometry/ {print $2}')
position=$(xdotool getwindowgeometry "$WID" | awk '/Position/ {print $2}')
check "window covers the desktop ($geometry at $position, screen $screen)" [ "$geometry" = "$screen" -a "$position" = "0,0" ]
shoot root "$WORK/shot.png"
check "the back buffer is stretched over the screen" [ "$(pixel "$WORK/shot.png" 1000 900)" = "0,0,0" ]
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
finish
