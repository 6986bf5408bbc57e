#!/usr/bin/env bash
# Glimmerwing's set-up on Debian 12: installs what the build needs, builds,
# then runs the saver in a window, the tests or the benchmarks.
#
#   ./setup.sh run     install, build, start the saver in a 640 x 480 window (/w)
#   ./setup.sh test    install, build, run every test (under xvfb-run without a display)
#   ./setup.sh bench   install, build, run the benchmarks
#
# SANITIZE=1 builds into build-asan with AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libsdl2-dev libx11-dev libepoxy-dev libjpeg-dev libfreetype-dev libfontconfig-dev
  libgtk-3-dev fonts-noto-cjk
  libgl1-mesa-dri fonts-dejavu-core
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool x11-utils imagemagick
  libxml2-utils man-db
  xscreensaver xscreensaver-gl
)

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

BUILD_DIR=build
CMAKE_ARGS=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMERWING_WERROR=ON)
# A developer's machine with ccache rebuilds other checkouts from its cache.
if command -v ccache >/dev/null 2>&1; then
  CMAKE_ARGS+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
if [ "${SANITIZE:-0}" = 1 ]; then
  BUILD_DIR=build-asan
  CMAKE_ARGS+=(-DGLIMMERWING_SANITIZE=ON -DGLIMMERWING_BENCH=OFF)
fi

build() {
  cmake -S . -B "$BUILD_DIR" "${CMAKE_ARGS[@]}"
  cmake --build "$BUILD_DIR" -j2
}

# Runs a command on the display, or on a virtual one when there is none.
# -noreset: by default the X server resets itself whenever its last client
# disconnects, and drops a client that is connecting at that moment; with
# tests starting and ending two at a time, a test would now and then find no
# display.
on_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    "$@"
  else
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" "$@"
  fi
}

case "${1:-}" in
  run)
    install_packages
    build
    exec "./$BUILD_DIR/glimmerwing" /w
    ;;
  test)
    install_packages
    build
    # intercept_tls_get_addr=0: with the GL driver's libraries loaded, the
    # sanitiser's record of dynamically loaded thread-local storage can hold a
    # stale entry, and the leak check at exit then crashes while scanning it.
    export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0}"
    export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0}"
    export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
    on_display ctest --test-dir "$BUILD_DIR" --output-on-failure --timeout 300 -j2
    ;;
  bench)
    install_packages
    build
    on_display "./$BUILD_DIR/bench/glimmerwing_bench"
    ;;
  *)
    echo "usage: $0 run | test | bench" >&2
    exit 2
    ;;
esac
