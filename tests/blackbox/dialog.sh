#!/usr/bin/env bash
# The settings dialog on the desktop: every control drawn at its place, a
# check box and OK store the settings, Escape stores nothing.
# GLIMMERWING_SHOTS=<folder> keeps the screenshot for a look.
. "$(dirname "$0")/lib.sh"

# Starts the dialog; its window id is in $DWID, the dialog font's base units
# in $BX and $BY, the stretch that makes the captions fit in $SX and $SY.
start_dialog() {
  GLIMMERWING_DIALOG_TRACE=1 "$GLIMMERWING" "$@" 2>"$WORK/stderr" &
  SAVER=$!
  PIDS+=("$SAVER")
  DWID=""
  for _ in $(seq 150); do
    DWID=$(xdotool search --onlyvisible --name '^Glimmerwing$' 2>/dev/null | head -1)
    [ -n "$DWID" ] && break
    running "$SAVER" || return 1
    sleep 0.1
  done
  [ -n "$DWID" ] || return 1
  sleep 1
  read -r BX BY < <(sed -nE 's/.*base units ([0-9]+) x ([0-9]+).*/\1 \2/p' "$WORK/stderr")
  read -r SX SY < <(sed -nE 's/.*stretched ([0-9.]+) x ([0-9.]+).*/\1 \2/p' "$WORK/stderr")
  [ -n "${BX:-}" ] && [ -n "${BY:-}" ] && [ -n "${SX:-}" ] && [ -n "${SY:-}" ]
}

# Pixels of a horizontal and of a vertical length in dialog units.
ux() { awk -v u="$1" -v b="$BX" -v s="$SX" 'BEGIN { printf "%d", int(u * b * s / 4 + 0.5) }'; }
uy() { awk -v u="$1" -v b="$BY" -v s="$SY" 'BEGIN { printf "%d", int(u * b * s / 8 + 0.5) }'; }

# Pixels of a rectangle given in dialog units: "x y w h".
px() { echo "$(ux "$1") $(uy "$2") $(ux "$3") $(uy "$4")"; }

# Clicks the middle of the control rectangle x y w h (dialog units).
click_control() {
  xdotool mousemove --window "$DWID" "$(ux $(($1 + $3 / 2)))" "$(uy $(($2 + $4 / 2)))" click 1
  sleep 0.3
}

# Darkest grey level inside the rectangle x y w h (dialog units) of image $1.
darkest() {
  local r
  read -r -a r < <(px "$2" "$3" "$4" "$5")
  convert "$1" -crop "${r[2]}x${r[3]}+${r[0]}+${r[1]}" +repage -colorspace Gray -format "%[fx:int(255*minima)]" info:
}

# Number of colours inside the rectangle x y w h (dialog units) of image $1.
colours() {
  local r
  read -r -a r < <(px "$2" "$3" "$4" "$5")
  convert "$1" -crop "${r[2]}x${r[3]}+${r[0]}+${r[1]}" +repage -format "%k" info:
}

write_hive '"intChkCol"=dword:00000000' '"intBrdNumCur"=dword:00000050' '"intChkFPS"=dword:00000007'
cp "$HIVE" "$WORK/before.reg"

check "the dialog opens for /c" start_dialog /c
geometry=$(xdotool getwindowgeometry "$DWID" | awk '/Geometry/ {print $2}')
check "the client area is 332 dialog units high (got $geometry for base units $BX x $BY stretched $SX x $SY)" \
  [ "${geometry#*x}" -eq "$(uy 332)" ]
check "the client area is at least 211 dialog units wide (got $geometry)" [ "${geometry%x*}" -ge "$(ux 211)" ]
shoot "$DWID" "$WORK/dialog.png"
[ -n "${GLIMMERWING_SHOTS:-}" ] && mkdir -p "$GLIMMERWING_SHOTS" && cp "$WORK/dialog.png" "$GLIMMERWING_SHOTS/"

# Captions and faces where the layout puts them: dark text or frames inside
# each rectangle, and nothing where there is no control.
while read -r what x y w h; do
  check "$what is drawn at $x,$y" [ "$(darkest "$WORK/dialog.png" "$x" "$y" "$w" "$h")" -lt 110 ]
done <<'LAYOUT'
OK 138 7 50 14
Cancel 138 24 50 14
about-text 11 8 119 32
group-動作 9 45 30 8
radio-自動モード 16 58 45 15
check-宙返り 16 76 35 10
check-アニメーション 16 92 85 10
check-おまけ 16 109 37 10
group-解像度 135 45 30 8
radio-1024*768 140 86 45 20
check-ワイド対応 140 107 46 10
group-鳥の数 9 133 120 8
value-50 149 144 25 25
text-テクスチャー 15 197 51 10
list-丸 14 210 102 14
check-ランダムな色 119 225 54 10
value-100 149 263 25 25
text-カンパ 7 306 134 19
button-詳しくはこちら 145 307 45 14
LAYOUT
check "an empty margin stays empty" [ "$(colours "$WORK/dialog.png" 193 140 15 35)" -eq 1 ]
check "the track bars are drawn" [ "$(colours "$WORK/dialog.png" 15 149 130 20)" -gt 4 ]

before_box=$(convert "$WORK/dialog.png" -crop "$(px 16 109 12 10 | awk '{print $3"x"$4"+"$1"+"$2}')" +repage -format %# info:)
click_control 16 109 37 10   # おまけ
shoot "$DWID" "$WORK/clicked.png"
after_box=$(convert "$WORK/clicked.png" -crop "$(px 16 109 12 10 | awk '{print $3"x"$4"+"$1"+"$2}')" +repage -format %# info:)
check "the check box shows the click" [ "$before_box" != "$after_box" ]
check "nothing is stored before OK" cmp -s "$WORK/before.reg" "$HIVE"
click_control 138 7 50 14    # OK
wait_exit "$SAVER" 30
check "OK ends the dialog with 1 (got $STATUS)" [ "$STATUS" = 1 ]
check "the check box is stored" [ "$(hive_value intChkCol)" = "dword:00000001" ]
check "the clamped bird count is stored" [ "$(hive_value intBrdNumCur)" = "dword:00000032" ]
check "the frame-rate flag keeps its value" [ "$(hive_value intChkFPS)" = "dword:00000007" ]
check "thirteen values stored" [ "$(grep -c '^"int' "$HIVE")" -eq 13 ]

# Escape cancels: the click is forgotten.
cp "$HIVE" "$WORK/before.reg"
check "the dialog opens for an empty command line" start_dialog
click_control 16 109 37 10
xdotool windowfocus --sync "$DWID" 2>/dev/null
xdotool key --clearmodifiers Escape
wait_exit "$SAVER" 30
check "Escape ends the dialog with 2 (got $STATUS)" [ "$STATUS" = 2 ]
check "Escape stores nothing" cmp -s "$WORK/before.reg" "$HIVE"
finish
