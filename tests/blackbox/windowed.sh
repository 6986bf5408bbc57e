#!/usr/bin/env bash
# A windowed run: 640 x 480 client area with the flock in a black sky and the
# frame-rate text at the top left, the settings created with their defaults,
# Escape ends it with 0.
. "$(dirname "$0")/lib.sh"

start_saver /w
check "window appears" wait_window
geometry=$(xdotool getwindowgeometry "$WID" | awk '/Geometry/ {print $2}')
check "client area is 640x480 (got $geometry)" [ "$geometry" = "640x480" ]

sleep 1.5  # the rate is refreshed after the first second
shoot "$WID" "$WORK/shot.png"
# The automatic camera looks at the flock's centre: white birds in the middle
# of a black sky.
check "background is black (got $(commonest "$WORK/shot.png"))" [ "$(commonest "$WORK/shot.png")" = "0,0,0" ]
check "frame-rate text at the top left" [ "$(brightest "$WORK/shot.png" 0 0 120 24)" -gt 100 ]
check "the flock in the middle of the picture" [ "$(brightest "$WORK/shot.png" 160 120 320 240)" -gt 150 ]
sleep 2
shoot "$WID" "$WORK/later.png"
check "the scene moves" [ "$(compare -metric AE "$WORK/shot.png" "$WORK/later.png" null: 2>&1 | cut -d' ' -f1)" -gt 500 ]

# Mouse and clicks do not close a windowed run.
xdotool mousemove --window "$WID" 100 100 click 1 mousemove_relative 40 40
sleep 0.5
check "mouse and click keep a windowed run" running "$SAVER"

xdotool windowfocus --sync "$WID" 2>/dev/null
xdotool key --clearmodifiers Escape
wait_exit "$SAVER" 30
check "Escape ends the run with 0 (got $STATUS)" [ "$STATUS" = 0 ]

expected=$(mktemp)
cat >"$expected" <<'HIVE'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\varen-ot-u\Glimmerwing\1.0]
"intChkFPS"=dword:00000001
"intChkCol"=dword:00000000
"intDisMod"=dword:00000001
"intAspMod"=dword:00000000
"intChkAnim"=dword:00000001
"intChkLoop"=dword:00000001
"intMode"=dword:00000000
"intBakGnd"=dword:00000001
"intBrdNumCur"=dword:00000014
"intPtlSizCur"=dword:00000064
"intPtlLngLif"=dword:00000001
"intPtlTexIdx"=dword:00000001
"intPtlRndCol"=dword:00000000

HIVE
check "first run stores the thirteen defaults" diff -u "$expected" "$HIVE"
rm -f "$expected"
check "a successful start writes no log" [ ! -e "$LOG" ]
finish
