#!/usr/bin/env bash
# Where no OpenGL 3.3 core context can be had, device creation fails: the log
# file holds exactly the start-up lines up to the failure, and the run ends.
. "$(dirname "$0")/lib.sh"

MESA_GL_VERSION_OVERRIDE=3.0 timeout 20 "$GLIMMERWING" /w 2>/dev/null
status=$?
check "run ends promptly (status $status)" [ $status -ne 124 ]
expected=$(printf 'InitiateD3D...\n\tDirect3DCreate8...\n\tGetAdapterDisplayMode...\n\tChecking VertexShaderVersion...\n\tCreateDevice...\n\tFailed hr=8876086a\nFailed\n')
check "log file written" [ -f "$LOG" ]
check "log holds exactly the device-creation failure" [ "$(cat "$LOG")" = "$expected" ]
check "no window left" [ -z "$(xdotool search --onlyvisible --name '^Glimmerwing Screen Saver$' 2>/dev/null)" ]

# A later successful start leaves the log file as it was.
cp "$LOG" "$WORK/log.before"
start_saver /w
wait_window
xdotool windowfocus --sync "$WID" 2>/dev/null
xdotool key --clearmodifiers Escape
wait_exit "$SAVER" 30
check "successful start leaves the old log untouched" cmp -s "$WORK/log.before" "$LOG"
finish
