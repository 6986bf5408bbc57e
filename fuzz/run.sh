#!/usr/bin/env bash
# Runs the fuzz targets, one after the other, each for a given time, and
# prints the executions and the coverage each reached.
#
#   fuzz/run.sh [seconds per target] [target ...]      (default: 60 s, all)
#
# Builds the targets first (clang with libFuzzer, ASan and UBSan, into
# build-fuzz). Inputs the fuzzer finds go to $FUZZ_WORK/<target> (default
# build-fuzz/fuzz-work); the seeds of fuzz/corpus/<target> are read, never
# written. A crash, a leak, undefined behaviour or an input that takes more
# than a second (FUZZ_TIMEOUT, in seconds) stops that target and leaves the input in
# $FUZZ_WORK/artifacts; copy it into fuzz/corpus/<target>/ once fixed, so
# that the ordinary test run replays it. The exit status is 1 when any
# target found something.
set -uo pipefail
cd "$(dirname "$0")/.."

SECONDS_EACH=${1:-60}
shift || true
ALL=(xfile texture pathfile placement settings rcscript vsasm dialog options)
TARGETS=("${@:-${ALL[@]}}")
[ $# -eq 0 ] && TARGETS=("${ALL[@]}")
BUILD=${FUZZ_BUILD:-build-fuzz}
TIMEOUT=${FUZZ_TIMEOUT:-1}
WORK=${FUZZ_WORK:-$BUILD/fuzz-work}
# Targets that need an OpenGL device, so an X display.
DISPLAY_TARGETS=" xfile texture placement "

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DGLIMMERWING_FUZZ=ON -DGLIMMERWING_BENCH=OFF "${launcher[@]}" >/dev/null || exit 2
cmake --build "$BUILD" -j2 --target "${TARGETS[@]/#/fuzz_}" || exit 2

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:intercept_tls_get_addr=0}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

on_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    "$@"
  else
    xvfb-run -a -s "-screen 0 640x480x24 -nolisten tcp" "$@"
  fi
}

mkdir -p "$WORK/artifacts"
found=0
summary=()
for t in "${TARGETS[@]}"; do
  mkdir -p "$WORK/$t"
  seeds=()
  [ -d "fuzz/corpus/$t" ] && seeds=("fuzz/corpus/$t")
  dict=()
  [ -f "fuzz/dict/$t.dict" ] && dict=("-dict=fuzz/dict/$t.dict")
  run=("$BUILD/fuzz/fuzz_$t" -max_total_time="$SECONDS_EACH" -timeout="$TIMEOUT" -rss_limit_mb=2560
       -max_len=65536 -print_final_stats=1 -artifact_prefix="$WORK/artifacts/$t-" "${dict[@]}"
       "$WORK/$t" "${seeds[@]}")
  log="$WORK/$t.log"
  echo "== $t (${SECONDS_EACH} s)"
  if [[ "$DISPLAY_TARGETS" == *" $t "* ]]; then on_display "${run[@]}" >"$log" 2>&1; else "${run[@]}" >"$log" 2>&1; fi
  status=$?
  execs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | awk '{print $2}')
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | awk '{print $2}')
  units=$(find "$WORK/$t" -type f | wc -l)
  result=ok
  if [ "$status" -ne 0 ]; then
    result="FOUND SOMETHING (status $status), see $log"
    found=1
    grep -m3 -E "ERROR|SUMMARY|fuzz check failed|runtime error" "$log"
  fi
  summary+=("$(printf '%-10s %12s execs  cov %6s  ft %6s  corpus %5s  %s' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$units" "$result")")
done
echo
printf '%s\n' "${summary[@]}"
exit $found
