#!/usr/bin/env bash
# The saver as an XScreenSaver hack in a window that a stand-in host owns, as
# the settings' preview runs it (--root with --window-id appended): it draws
# there at the pane's shape, follows a resize, leaves the settings file alone,
# ends quietly on SIGTERM and when the host's window is destroyed; and the
# command line's errors, help and own window.
. "$(dirname "$0")/lib.sh"
HOST="${GLIMMERWING_TEST_HOST:?path of the stand-in host}"

# Starts a host window of size $1 (more arguments go to the host); its id in $HWID, its pid in $HOSTPID.
start_host() {
  "$HOST" "$@" >"$WORK/host" &
  HOSTPID=$!
  PIDS+=("$HOSTPID")
  HWID=""
  for _ in $(seq 100); do
    HWID=$(head -1 "$WORK/host" 2>/dev/null)
    [ -n "$HWID" ] && return 0
    sleep 0.1
  done
  return 1
}

# The share of pixels of image $1 that are the host's grey background.
grey_share() {
  convert "$1" -fill black +opaque "rgb(128,128,128)" -fill white -opaque "rgb(128,128,128)" \
    -colorspace Gray -format "%[fx:int(100*mean)]" info:
}

write_hive '"intChkCol"=dword:00000001' '"intBrdNumCur"=dword:00000031'
hive_before=$(md5sum <"$HIVE")

check "the host window appears" start_host 565x317
start_saver --root --window-id "$HWID" --fps
sleep 4
shoot "$HWID" "$WORK/pane.png"
check "the scene covers the host's window (grey left: $(grey_share "$WORK/pane.png")%)" \
  [ "$(grey_share "$WORK/pane.png")" -eq 0 ]
# The built-in settings, not the stored ones: a black sky.
check "the sky is black (got $(commonest "$WORK/pane.png"))" [ "$(commonest "$WORK/pane.png")" = "0,0,0" ]
check "the flock is in the picture" [ "$(brightest "$WORK/pane.png" 100 50 365 217)" -gt 150 ]
check "the frame-rate text is at the top left" [ "$(brightest "$WORK/pane.png" 0 0 60 14)" -gt 100 ]
check "no window of its own" [ -z "$(xdotool search --name '^Glimmerwing Screen Saver$' 2>/dev/null)" ]
sleep 1
shoot "$HWID" "$WORK/later.png"
check "the scene moves" [ "$(compare -metric AE "$WORK/pane.png" "$WORK/later.png" null: 2>&1 | cut -d' ' -f1)" -gt 300 ]

# The smallest preview pane.
xdotool windowsize "$HWID" 200 112
sleep 1.5
shoot "$HWID" "$WORK/small.png"
check "a resized window is filled again (grey left: $(grey_share "$WORK/small.png")%)" \
  [ "$(grey_share "$WORK/small.png")" -eq 0 ]
check "the screenshot has the window's new size" [ "$(identify -format %wx%h "$WORK/small.png")" = "200x112" ]

started=$(date +%s%N)
kill -TERM "$SAVER"
wait_exit "$SAVER" 5
took=$((($(date +%s%N) - started) / 1000000))
check "SIGTERM ends it with 0 (got $STATUS)" [ "$STATUS" = 0 ]
# A sanitised build checks its heap on the way out, which takes its time.
limit=1000
ldd "$GLIMMERWING" | grep -q libasan && limit=15000
check "SIGTERM ends it within a second (took $took ms)" [ "$took" -lt "$limit" ]
check "nothing on standard error" [ ! -s "$WORK/stderr" ]
check "the settings file is untouched" [ "$(md5sum <"$HIVE")" = "$hive_before" ]
check "no start-up log" [ ! -e "$LOG" ]
rm -f "$HIVE"

# Every setting away from its default, the way the description's widgets
# write them, on a window of a visual that is not the screen's default.
kill "$HOSTPID"
check "a second host window appears" start_host 400x300 --deep-visual || { finish; exit 1; }
start_saver --root --delay 20000 --birds 50 --particle-size 1 --particle-texture ring --resolution 800x600 \
  --no-loops --no-animate --no-planets --no-long-trails --random-colors --blue-sky --fps -visual default \
  --window-id "$HWID"
sleep 4
shoot "$HWID" "$WORK/all.png"
check "every option at once draws (a dark blue sky: $(commonest "$WORK/all.png"))" \
  [ "$(commonest "$WORK/all.png")" = "0,0,50" ]
check "-visual is ignored with one line" grep -q "visual is ignored" "$WORK/stderr"

# The host destroys its window: the hack ends quietly.
kill "$HOSTPID"
wait_exit "$SAVER" 5
check "a destroyed window ends it with 0 (got $STATUS)" [ "$STATUS" = 0 ]
check "no settings file written" [ ! -e "$HIVE" ]

# A window of its own, resizable; SIGINT ends it.
start_saver --window --no-fps
check "its own window appears" wait_window
xdotool windowsize "$WID" 480 200
sleep 1.5
shoot "$WID" "$WORK/own.png"
check "its own window follows a resize ($(identify -format %wx%h "$WORK/own.png"))" \
  [ "$(identify -format %wx%h "$WORK/own.png")" = "480x200" ]
check "the flock is in its own window" [ "$(brightest "$WORK/own.png" 120 50 240 100)" -gt 150 ]
kill -INT "$SAVER"
wait_exit "$SAVER" 5
check "SIGINT ends it with 0 (got $STATUS)" [ "$STATUS" = 0 ]

# The command line's errors and help.
"$GLIMMERWING" --window-id not-a-window >/dev/null 2>"$WORK/err"
check "a window id that is no number exits 1" [ $? -eq 1 ]
check "and says why" grep -q "takes a window number" "$WORK/err"
check "and prints the usage" grep -q "^Usage: glimmerwing" "$WORK/err"
"$GLIMMERWING" --no-such-option /s >/dev/null 2>&1
check "an unknown option exits 1" [ $? -eq 1 ]
"$GLIMMERWING" --help >"$WORK/out" 2>&1
check "--help exits 0" [ $? -eq 0 ]
check "--help lists every setting" grep -q "random-colors" "$WORK/out"
timeout 10 "$GLIMMERWING" --window-id 0x7ffffff0 >/dev/null 2>"$WORK/err"
check "a window that does not exist exits 1" [ $? -eq 1 ]
check "and says so" grep -q "there is no window" "$WORK/err"
check "still no settings file" [ ! -e "$HIVE" ]
finish
