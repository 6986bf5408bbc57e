#!/usr/bin/env bash
# Stop signals end a run like its close box whenever they come; SIGHUP and
# closed standard descriptors change nothing; a display that goes away ends
# the run at once with one line.
. "$(dirname "$0")/lib.sh"

# SIGTERM and SIGINT at moments spread over start-up, the first frames and
# the running scene, in both modes.
bad=""
for delay in 1.0 1.8 3.0; do
  for mode in /w /s; do
    for sig in TERM INT; do
      rm -f "$HIVE"
      start_saver "$mode"
      sleep "$delay"
      kill -"$sig" "$SAVER"
      wait_exit "$SAVER" 30
      [ "$STATUS" = 0 ] && [ -s "$HIVE" ] || bad+=" $mode/$sig@$delay:$STATUS"
    done
  done
done
check "every stopped run ends with 0 and its settings written (failed:${bad:- none})" [ -z "$bad" ]

# SIGHUP is ignored; closed standard input, output and error are reopened on
# /dev/null, so the run goes on and still ends normally.
"$GLIMMERWING" /w <&- >&- 2>&- &
SAVER=$!
PIDS+=("$SAVER")
wait_window
kill -HUP "$SAVER"
sleep 0.5
check "SIGHUP with closed standard descriptors keeps the saver" running "$SAVER"
kill -TERM "$SAVER"
wait_exit "$SAVER" 30
check "then SIGTERM ends it with 0 (got $STATUS)" [ "$STATUS" = 0 ]

# The X server goes away under a running saver: it ends within 2 s with one
# line on standard error and no core.
for n in $(seq 150 199); do [ -e "/tmp/.X$n-lock" ] || break; done
Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xserver=$!
PIDS+=("$xserver")
for _ in $(seq 50); do DISPLAY=":$n" xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
DISPLAY=":$n" "$GLIMMERWING" /s 2>"$WORK/stderr" &
SAVER=$!
PIDS+=("$SAVER")
sleep 3
kill -TERM "$xserver"
wait_exit "$SAVER" 2
check "a lost display ends the run within 2 s with 1 (got $STATUS)" [ "$STATUS" = 1 ]
check "with one line on standard error" [ "$(wc -l < "$WORK/stderr")" -eq 1 ]
finish
