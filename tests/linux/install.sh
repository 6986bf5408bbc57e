#!/usr/bin/env bash
# What a user gets: `cmake --install` into a staging folder puts every file
# where the desktop and XScreenSaver look for it (the hack runs through its
# link, the manual page renders without warnings, the description is
# well-formed XML, the icons are PNGs of their sizes), and `cpack -G DEB`
# packages the same files with the dependencies of the linked libraries.
set -u
BUILD="${GLIMMERWING_BUILD_DIR:?the build folder}"
PREFIX="${GLIMMERWING_PREFIX:?the configured install prefix}"
HACK="${GLIMMERWING_HACK:?the configured hack path}"
CONFIG="${GLIMMERWING_CONFIG:?the configured description path}"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/glimmerwing-install.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
FAILURES=0
PASSES=0
check() {  # check "what" command...
  local what=$1; shift
  if "$@"; then PASSES=$((PASSES + 1)); else FAILURES=$((FAILURES + 1)); echo "FAILED: $what"; fi
}

DESTDIR="$WORK/root" cmake --install "$BUILD" >"$WORK/install.log" 2>&1
check "cmake --install succeeds ($(tail -1 "$WORK/install.log"))" [ $? -eq 0 ]
R="$WORK/root"
check "the program is in bin" [ -x "$R$PREFIX/bin/glimmerwing" ]
check "the hack links to the program" [ "$(readlink -f "$R$HACK")" = "$(readlink -f "$R$PREFIX/bin/glimmerwing")" ]
"$R$HACK" --help >"$WORK/help" 2>&1
check "the hack runs (--help exits 0)" [ $? -eq 0 ]
check "the description is in XScreenSaver's folder" cmp -s "$R$CONFIG" "$(dirname "$0")/../../linux/glimmerwing.xml"
check "the description is well-formed XML" xmllint --noout "$R$CONFIG"
man="$R$PREFIX/share/man/man6/glimmerwing.6.gz"
check "the manual page is installed" [ -s "$man" ]
LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$man" >"$WORK/man.txt" 2>"$WORK/man.err"
check "the manual page renders ($(head -c 300 "$WORK/man.err"))" [ $? -eq 0 ] && [ ! -s "$WORK/man.err" ]
for option in $(grep -o -- '--[a-z][-a-z]*' "$WORK/help" | sort -u); do
  grep -q -- "${option#--}" "$WORK/man.txt" || { check "the manual page names $option" false; }
done
for section in NAME SYNOPSIS DESCRIPTION OPTIONS ENVIRONMENT FILES "SEE ALSO"; do
  grep -q "^$section" "$WORK/man.txt" || check "the manual page has $section" false
done
check "the manual page names the installed paths" grep -q "$CONFIG" "$WORK/man.txt"
entry="$R$PREFIX/share/applications/screensavers/glimmerwing.desktop"
check "the screensaver entry starts the hack on the root window" grep -qx "Exec=$HACK --root" "$entry"
check "the screensaver entry is a screensaver" grep -qx "Categories=Screensaver;" "$entry"
check "the settings launcher opens the dialog" \
  grep -qx "Exec=$PREFIX/bin/glimmerwing /c" "$R$PREFIX/share/applications/glimmerwing-settings.desktop"
for size in 32 48; do
  png="$R$PREFIX/share/icons/hicolor/${size}x${size}/apps/glimmerwing.png"
  check "a ${size}x${size} PNG icon" [ "$(identify -format '%m %wx%h' "$png" 2>/dev/null)" = "PNG ${size}x${size}" ]
done
check "the README is in the documentation folder" cmp -s "$R$PREFIX/share/doc/glimmerwing/README.md" \
  "$(dirname "$0")/../../README.md"

# The Debian package, from the same build.
if command -v dpkg-shlibdeps >/dev/null; then
  (cd "$WORK" && cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/package") >"$WORK/cpack.log" 2>&1
  check "cpack -G DEB succeeds ($(tail -3 "$WORK/cpack.log"))" [ $? -eq 0 ]
  deb=$(ls "$WORK"/package/glimmerwing_*.deb 2>/dev/null | head -1)
  check "the package is named glimmerwing_<version>_<arch>.deb" [ -n "$deb" ]
  if [ -n "$deb" ]; then
    depends=$(dpkg-deb -f "$deb" Depends)
    check "its dependencies come from the linked libraries ($depends)" \
      bash -c "grep -q libsdl2 <<<'$depends' && grep -q libepoxy <<<'$depends' && grep -q libgtk-3 <<<'$depends'"
    dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\.||' >"$WORK/contents"
    (cd "$R" && find . ! -type d | sed 's|^\.||') | sort >"$WORK/installed"
    check "it holds what the install puts down" bash -c "sort '$WORK/contents' | grep -v '/\$' | diff - '$WORK/installed'"
  fi
fi
echo "$PASSES passed, $FAILURES failed"
[ "$FAILURES" -eq 0 ]
