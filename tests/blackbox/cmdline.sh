#!/usr/bin/env bash
# Command lines that must not start the saver, and the dialog routes.
. "$(dirname "$0")/lib.sh"

for args in "-s" "x" "/p 1234" "P"; do
  # shellcheck disable=SC2086
  timeout 10 "$GLIMMERWING" $args 2>/dev/null
  check "'$args' exits with 0" [ $? -eq 0 ]
done
check "no settings written by those runs" [ ! -e "$HIVE" ]
check "no window left" [ -z "$(xdotool search --name '^Glimmerwing Screen Saver$' 2>/dev/null)" ]

# Without a display the dialog cannot open: -1 at once, nothing stored.
for args in "/c" "/c:1234" "C" ""; do
  # shellcheck disable=SC2086
  (unset DISPLAY WAYLAND_DISPLAY; timeout 10 "$GLIMMERWING" $args 2>"$WORK/err")
  status=$?
  check "'$args' without a display gives the dialog-failed result (got $status)" [ $status -eq 255 ]
  check "'$args' says the dialog cannot be shown" grep -q "dialog cannot be shown" "$WORK/err"
  check "'$args' prints one line" [ "$(wc -l <"$WORK/err")" -eq 1 ]
done
check "no settings stored without a dialog" [ -z "$(grep '^"int' "$HIVE" 2>/dev/null)" ]
finish
