# Shared helpers of the black-box tests: each test runs the real executable
# with private settings, state and lock folders on the current X display.
set -u

GLIMMERWING="${GLIMMERWING:?path of the glimmerwing executable}"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/glimmerwing-blackbox.XXXXXX")
export XDG_CONFIG_HOME="$WORK/config" XDG_STATE_HOME="$WORK/state" XDG_RUNTIME_DIR="$WORK/run"
mkdir -p "$XDG_RUNTIME_DIR"
HIVE="$XDG_CONFIG_HOME/glimmerwing/user.reg"
LOG="$XDG_STATE_HOME/glimmerwing/GlimmerwingErrLog.txt"
PIDS=()
FAILURES=0
PASSES=0

cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  rm -rf "$WORK"
}
trap cleanup EXIT

check() {  # check "what" command...
  local what=$1; shift
  if "$@"; then
    PASSES=$((PASSES + 1))
  else
    FAILURES=$((FAILURES + 1))
    echo "FAILED: $what"
    [ -s "$WORK/stderr" ] && { echo "--- the saver's standard error:"; tail -n 30 "$WORK/stderr"; }
  fi
}

finish() {
  echo "$PASSES passed, $FAILURES failed"
  [ "$FAILURES" -eq 0 ]
}

# Starts the saver in the background; its pid is in $SAVER.
start_saver() {
  "$GLIMMERWING" "$@" 2>"$WORK/stderr" &
  SAVER=$!
  PIDS+=("$SAVER")
}

# Waits up to 15 s for the saver's window and puts its id into $WID.
wait_window() {
  WID=""
  for _ in $(seq 150); do
    WID=$(xdotool search --onlyvisible --name '^Glimmerwing Screen Saver$' 2>/dev/null | head -1)
    [ -n "$WID" ] && { sleep 1; return 0; }
    kill -0 "$SAVER" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Waits up to $2 seconds (default 30: a sanitised build checks its heap at exit) for process $1 to end; its status is in $STATUS.
wait_exit() {
  local pid=$1 limit=${2:-30}
  for _ in $(seq $((limit * 10))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      STATUS=$?
      return 0
    fi
    sleep 0.1
  done
  STATUS=timeout
  return 1
}

running() { kill -0 "$1" 2>/dev/null; }

# Starts a virtual X screen of size $1 (WxH) and makes it the display of what
# follows; the screen goes with the test.
use_screen() {
  local number="$WORK/display-$1"
  # -noreset: a server that resets when its last client leaves drops a
  # client connecting at that moment.
  Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp -noreset 3>"$number" 2>/dev/null &
  PIDS+=($!)
  for _ in $(seq 100); do
    [ -s "$number" ] && break
    sleep 0.1
  done
  [ -s "$number" ] || return 1
  export DISPLAY=":$(head -1 "$number")"
}

# Screenshot of window $1 into $2.
shoot() { import -window "$1" "$2" 2>/dev/null; }

# Pixel at x y of image $1 as "r,g,b".
pixel() {
  convert "$1" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:
}

# The rectangle "WxH+X+Y" holding every pixel of image $1 that differs from
# the colour $2 ("r,g,b").
extent_apart_from() {
  convert "$1" -fill white +opaque "rgb($2)" -fill black -opaque "rgb($2)" -bordercolor black -border 1 \
    -format %@ info: | awk -F'[x+]' '{print $1 "x" $2 "+" ($3 - 1) "+" ($4 - 1)}'
}

# Width and height of the largest patch of image $1 that differs from the
# colour $2 ("r,g,b"), as "W H".
largest_patch_apart_from() {
  convert "$1" -fill white +opaque "rgb($2)" -fill black -opaque "rgb($2)" -colorspace gray \
    -define connected-components:verbose=true -connected-components 8 null: |
    awk '$NF == "gray(255)" && $4 + 0 > best { best = $4 + 0; split($2, s, /[x+]/); size = s[1] " " s[2] }
         END { print size }'
}

# Largest channel value inside the rectangle x y w h of image $1.
brightest() {
  convert "$1" -crop "$4x$5+$2+$3" +repage -colorspace Gray -format "%[fx:int(255*maxima)]" info:
}

# The colour that covers most of image $1, as "r,g,b" (the sky behind the scene).
commonest() {
  convert "$1" -depth 8 -format %c histogram:info:- | sort -rn | head -1 |
    sed -E 's/.*\( *([0-9]+), *([0-9]+), *([0-9]+).*/\1,\2,\3/'
}

write_hive() {  # write_hive "line" ... : a hive with the program's key and these values
  mkdir -p "$(dirname "$HIVE")"
  {
    printf 'Windows Registry Editor Version 5.00\n\n'
    printf '[HKEY_CURRENT_USER\\Software\\varen-ot-u\\Glimmerwing\\1.0]\n'
    for line in "$@"; do printf '%s\n' "$line"; done
  } >"$HIVE"
}

hive_value() { grep -i "^\"$1\"=" "$HIVE" | head -1 | cut -d= -f2-; }
