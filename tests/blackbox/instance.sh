#!/usr/bin/env bash
# Only one saver runs at a time.
. "$(dirname "$0")/lib.sh"

start_saver /w
check "first saver shows its window" wait_window
first=$SAVER
start=$(date +%s%N)
timeout 10 "$GLIMMERWING" /w
status=$?
elapsed=$((($(date +%s%N) - start) / 1000000))
check "second saver exits with 0 (got $status)" [ $status -eq 0 ]
check "second saver exits at once (${elapsed} ms)" [ $elapsed -lt 3000 ]
check "only one saver window" [ "$(xdotool search --onlyvisible --name '^Glimmerwing Screen Saver$' | wc -l)" -eq 1 ]
check "first saver still runs" running "$first"
kill -TERM "$first"
wait_exit "$first" 30
check "a termination request closes the saver normally (got $STATUS)" [ "$STATUS" = 0 ]
check "settings written at the close" [ -s "$HIVE" ]
finish
