#!/usr/bin/env bash
# Stored settings steer the run and survive it.
. "$(dirname "$0")/lib.sh"

run_and_close() {
  STATUS="no window"
  start_saver /w
  wait_window || return 1
  sleep 0.5
  shoot "$WID" "$WORK/shot.png"
  xdotool windowfocus --sync "$WID" 2>/dev/null
  xdotool key --clearmodifiers Escape
  wait_exit "$SAVER" 30
}

# Dark blue background; the other values keep their defaults and are added.
write_hive '"intChkCol"=dword:00000001' '; a comment the program does not know' '"intMode"="text"'
printf '\n[HKEY_CURRENT_USER\\Software\\Other]\n"keep"=dword:00000005\n' >>"$HIVE"
run_and_close
check "dark blue background (got $(commonest "$WORK/shot.png"))" [ "$(commonest "$WORK/shot.png")" = "0,0,50" ]
check "stored value kept" [ "$(hive_value intChkCol)" = "dword:00000001" ]
check "missing value added with its default" [ "$(hive_value intBrdNumCur)" = "dword:00000014" ]
check "string value rewritten as a dword" [ "$(hive_value intMode)" = "dword:00000000" ]
check "unknown line kept" grep -q '^; a comment the program does not know$' "$HIVE"
check "other section kept" grep -q '^"keep"=dword:00000005$' "$HIVE"
check "thirteen values in the key" [ "$(grep -c '^"int' "$HIVE")" -eq 13 ]

# The frame-rate text is drawn only for intChkFPS = 1. Mode 2 keeps the flock
# standing where it starts, out of the start camera's sight.
write_hive '"intChkFPS"=dword:00000002' '"intBakGnd"=dword:00000000' '"intMode"=dword:00000002'
run_and_close
check "nothing at all drawn for intChkFPS 2 without the background" [ "$(brightest "$WORK/shot.png" 0 0 640 480)" -eq 0 ]

# Out-of-range values start normally.
write_hive '"intBrdNumCur"=dword:00000050' '"intPtlSizCur"=dword:000186a0' '"intDisMod"=dword:00000009' \
  '"intPtlTexIdx"=dword:00000009'
run_and_close
check "out-of-range values start and end normally (got $STATUS)" [ "$STATUS" = 0 ]
check "out-of-range values stored back unchanged" [ "$(hive_value intBrdNumCur)" = "dword:00000050" ]
check "the flock flies with the clamped count" [ "$(brightest "$WORK/shot.png" 160 120 320 240)" -gt 60 ]
write_hive '"intBrdNumCur"=dword:fffffffb' '"intPtlSizCur"=dword:00000000' '"intPtlTexIdx"=dword:ffffffff'
run_and_close
check "negative and zero counts start and end normally (got $STATUS)" [ "$STATUS" = 0 ]
check "negative count stored back unchanged" [ "$(hive_value intBrdNumCur)" = "dword:fffffffb" ]

# Without a display the window cannot be created: the stored settings stay as they were.
write_hive '"intChkCol"=dword:00000001' '"intBrdNumCur"=dword:00000007'
cp "$HIVE" "$WORK/before.reg"
(unset DISPLAY WAYLAND_DISPLAY; timeout 20 "$GLIMMERWING" /w 2>/dev/null)
check "a run without a window leaves the settings untouched" cmp -s "$WORK/before.reg" "$HIVE"
finish
