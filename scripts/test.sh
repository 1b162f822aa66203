#!/usr/bin/env bash
# Builds and runs the whole test suite on a fresh machine: the normal build, the ASan+UBSan
# build and the ThreadSanitizer build of the threaded parts, then the bounded fuzzing.
# QV_TEST_STAGES limits the stages (default: "release asan tsan fuzz").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

stages=${QV_TEST_STAGES:-release asan tsan fuzz}
jobs=$(nproc)

# run_stage PRESET "BUILD TARGETS (empty: all)" [ctest arguments...]
run_stage() {
  local preset=$1 targets=$2
  shift 2
  echo "=== ${preset}: build"
  cmake --preset "${preset}" >/dev/null
  if [ -n "${targets}" ]; then
    cmake --build --preset "${preset}" -j "${jobs}" --target ${targets}
  else
    cmake --build --preset "${preset}" -j "${jobs}"
  fi
  echo "=== ${preset}: test"
  ctest --test-dir "build/${preset}" --output-on-failure -j "${jobs}" "$@"
}

for stage in ${stages}; do
  case "${stage}" in
    release) run_stage release "" ;;
    asan)
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_stage asan "" ;;
    tsan)
      # Threads meet in the worker pool, the frame pipeline, the stand-ins and the host.
      tsan_targets="" tsan_labels=""
      for t in common frame win32 d3d9 chain soak transfer; do
        if [ -d "tests/${t}" ]; then
          tsan_targets="${tsan_targets} qv_test_${t}"
          tsan_labels="${tsan_labels:+${tsan_labels}|}${t}"
        fi
      done
      TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        run_stage tsan "${tsan_targets}" -L "^(${tsan_labels})\$" ;;
    fuzz)
      if [ -x scripts/fuzz.sh ]; then scripts/fuzz.sh; fi ;;
    *) echo "unknown stage ${stage}" >&2; exit 2 ;;
  esac
done
