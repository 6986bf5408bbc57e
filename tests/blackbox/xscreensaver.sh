#!/usr/bin/env bash
# The saver under the real XScreenSaver daemon, run by an ordinary user (the
# daemon starts no hack as root; CI runs as root, so the test makes a user when
# it has to), on a display of two screens: activating it starts one of our
# processes on each screen, each drawing a moving scene on the daemon's own
# window ($XSCREENSAVER_WINDOW) and opening none of its own; deactivating ends
# them, and nothing is stored.
. "$(dirname "$0")/lib.sh"
if ! command -v xscreensaver >/dev/null || ! command -v xscreensaver-command >/dev/null; then
  echo "SKIPPED: xscreensaver is not installed (./setup.sh installs it)"
  exit 77
fi

# Who runs the daemon, and with which home.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  user=glimmerwing-test
  id "$user" >/dev/null 2>&1 ||
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user" ||
    { echo "FAILED: cannot create the user $user"; exit 1; }
  as_user=(runuser -u "$user" --)
  chmod 711 "$WORK"
fi
HOME_DIR="$WORK/home"
mkdir -p "$HOME_DIR"
# The executable where that user can run it.
cp "$GLIMMERWING" "$HOME_DIR/glimmerwing"
[ ${#as_user[@]} -gt 0 ] && chown -R "$user" "$HOME_DIR"

cat >"$HOME_DIR/.xscreensaver" <<EOT
mode:		one
selected:	0
timeout:	1:00:00
lock:		False
fade:		False
unfade:		False
splash:		False
dpmsEnabled:	False
captureStderr:	True
programs:	GL: "Glimmerwing" $HOME_DIR/glimmerwing --root \\n\\

EOT
[ ${#as_user[@]} -gt 0 ] && chown "$user" "$HOME_DIR/.xscreensaver"

# A display of two screens of different sizes.
Xvfb -displayfd 3 -screen 0 640x480x24 -screen 1 480x360x24 -nolisten tcp -noreset 3>"$WORK/display" 2>/dev/null &
PIDS+=($!)
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$WORK/display")"
ENVIRONMENT=(env -i PATH="$PATH" HOME="$HOME_DIR" DISPLAY="$DISPLAY" XDG_CONFIG_HOME="$HOME_DIR/.config"
  XDG_STATE_HOME="$HOME_DIR/.state" ASAN_OPTIONS="${ASAN_OPTIONS:-}" LSAN_OPTIONS="${LSAN_OPTIONS:-}"
  UBSAN_OPTIONS="${UBSAN_OPTIONS:-}")
"${as_user[@]}" "${ENVIRONMENT[@]}" xscreensaver -no-splash -verbose >"$WORK/daemon" 2>&1 &
DAEMON=$!
PIDS+=("$DAEMON")
answered=false
for _ in $(seq 100); do
  xscreensaver-command -time >/dev/null 2>&1 && { answered=true; break; }
  sleep 0.1
done
check "the daemon answers" $answered

# Our processes, one per screen.
hacks() { pgrep -f "^$HOME_DIR/glimmerwing --root" | sort; }
xscreensaver-command -activate >/dev/null 2>&1
for _ in $(seq 100); do [ "$(hacks | wc -l)" -ge 2 ] && break; sleep 0.1; done
mapfile -t pids < <(hacks)
check "two hacks run, one per screen (got ${#pids[@]}; the daemon says: $(grep -i glimmerwing "$WORK/daemon" | tail -2))" \
  [ ${#pids[@]} -eq 2 ]
sleep 4
screens=""
for pid in "${pids[@]}"; do
  environment=$(tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null)
  window=$(sed -n 's/^XSCREENSAVER_WINDOW=//p' <<<"$environment")
  display=$(sed -n 's/^DISPLAY=//p' <<<"$environment")
  screens+="${display##*.} "
  import -display "$display" -window "$window" "$WORK/first-$pid.png" 2>/dev/null
  sleep 1
  import -display "$display" -window "$window" "$WORK/second-$pid.png" 2>/dev/null
  check "the hack on $display draws its flock on the daemon's window $window" \
    [ "$(brightest "$WORK/first-$pid.png" 0 0 "$(identify -format %w "$WORK/first-$pid.png")" \
      "$(identify -format %h "$WORK/first-$pid.png")")" -gt 150 ]
  check "and it moves" \
    [ "$(compare -metric AE "$WORK/first-$pid.png" "$WORK/second-$pid.png" null: 2>&1 | cut -d' ' -f1)" -gt 300 ]
  check "no window of its own on $display" \
    [ -z "$(DISPLAY=$display xdotool search --name '^Glimmerwing Screen Saver$' 2>/dev/null)" ]
done
check "the hacks are on screens 0 and 1 (got $screens)" [ "$(tr ' ' '\n' <<<"$screens" | sort -n | xargs)" = "0 1" ]

xscreensaver-command -deactivate >/dev/null 2>&1
# (a sanitised build checks its heap on the way out, which takes its time)
for _ in $(seq 300); do [ -z "$(hacks)" ] && break; sleep 0.1; done
check "deactivating ends the hacks" [ -z "$(hacks)" ]
check "no hack ended abnormally ($(grep -iE 'abnormal|signal|crash' "$WORK/daemon" | head -2))" \
  bash -c "! grep -qiE 'abnormal|crash|core dump' '$WORK/daemon'"
check "nothing is stored" [ ! -e "$HOME_DIR/.config/glimmerwing/user.reg" ]
xscreensaver-command -exit >/dev/null 2>&1
wait_exit "$DAEMON" 10
finish || { echo "--- the daemon's log:"; tail -n 30 "$WORK/daemon"; false; }
