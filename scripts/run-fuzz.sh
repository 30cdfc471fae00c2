#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang in build-fuzz/ and runs each one for a
# bounded time: scripts/run-fuzz.sh [seconds per target, default 20].
# FUZZ_TARGETS="a b" limits the run to those targets; FUZZ_BUILD_DIR moves the build.
# Prints each target's executions and findings; exits non-zero when any target found one.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_EACH=${1:-20}
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}

if ! command -v clang++ >/dev/null; then
  echo "run-fuzz: clang++ not found (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
mkdir -p "$BUILD"
# The build's output is shown only when it fails, so that a broken target is not a silent exit.
if ! { CC=clang CXX=clang++ cmake -S fuzz -B "$BUILD" -G Ninja "${launcher[@]}" &&
       cmake --build "$BUILD" -j "$(nproc)"; } >"$BUILD/build.log" 2>&1; then
  cat "$BUILD/build.log" >&2
  echo "run-fuzz: building the fuzz targets failed" >&2
  exit 1
fi

if [ -n "${FUZZ_TARGETS:-}" ]; then
  read -r -a names <<<"$FUZZ_TARGETS"
else
  names=()
  for f in fuzz/targets/*.cpp; do names+=("$(basename "$f" .cpp)"); done
fi

failed=0
for name in "${names[@]}"; do
  bin="$BUILD/fuzz_$name"
  corpus="$BUILD/corpus/$name"
  findings="$BUILD/findings/$name"
  log="$BUILD/logs/$name.log"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  seeds=()
  if [ -d "fuzz/corpus/$name" ]; then seeds=("fuzz/corpus/$name"); fi
  before=$(find "$findings" -type f | wc -l)
  # -max_len bounds one input; -rss_limit_mb and -timeout turn runaway memory or time
  # into findings instead of a hung CI job.
  status=0
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$bin" "$corpus" "${seeds[@]}" -max_total_time="$SECONDS_EACH" -max_len=65536 \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$findings/" >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  units=$(find "$corpus" -type f | wc -l)
  after=$(find "$findings" -type f | wc -l)
  new=$((after - before))
  echo "run-fuzz: $name: ${execs:-?} executions (limit ${SECONDS_EACH}s), corpus $units inputs, $new new findings (exit $status)"
  if [ "$status" -ne 0 ] || [ "$new" -ne 0 ]; then
    failed=1
    grep -m 20 -E "ERROR|SUMMARY|runtime error|Test unit written" "$log" >&2 || true
    echo "run-fuzz: $name: full log in $log, inputs in $findings" >&2
  fi
done
exit "$failed"
