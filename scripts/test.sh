#!/usr/bin/env bash
# Builds and runs the whole test suite on a fresh machine: the normal build, the ASan+UBSan
# build and the ThreadSanitizer build of the threaded parts, then the bounded fuzzing.
# QV_TEST_STAGES limits the stages (default: "release asan tsan fuzz").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

stages=${QV_TEST_STAGES:-release asan tsan fuzz}
jobs=$(nproc)

run_stage() {
  local preset=$1
  shift
  echo "=== ${preset}: build"
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}" -j "${jobs}"
  echo "=== ${preset}: test"
  ctest --test-dir "build/${preset}" --output-on-failure -j "${jobs}" "$@"
}

for stage in ${stages}; do
  case "${stage}" in
    release) run_stage release ;;
    asan)
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_stage asan ;;
    tsan)
      # Threads meet in the frame pipeline, the stand-ins and the host's worker pool.
      TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        run_stage tsan -L 'frame|win32|d3d9|chain|cli' ;;
    fuzz)
      if [ -x scripts/fuzz.sh ]; then scripts/fuzz.sh; fi ;;
    *) echo "unknown stage ${stage}" >&2; exit 2 ;;
  esac
done
