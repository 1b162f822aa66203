#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset: clang with ASan and UBSan) and runs each from
# its seed corpus for a bounded time, several at once. Fails on any crash, hang, leak, memory
# blow-up or sanitizer report, and prints each target's executions and coverage.
#   QV_FUZZ_SECONDS    seconds per target (default 60)
#   QV_FUZZ_BUILD_DIR  build folder (default build/fuzz, the preset's)
#   QV_FUZZ_JOBS       targets run at the same time (default: the number of cores)
#   QV_FUZZ_TARGETS    which targets (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${QV_FUZZ_SECONDS:-60}
build=${QV_FUZZ_BUILD_DIR:-build/fuzz}
jobs=${QV_FUZZ_JOBS:-$(nproc)}
targets=${QV_FUZZ_TARGETS:-y4m_reader ycp_reader settings_file effect_source options}

echo "=== fuzz: build"
cmake --preset fuzz -B "${build}" >/dev/null
cmake --build "${build}" -j "$(nproc)" --target qv_fuzz_targets

work="${build}/fuzz-run"
rm -rf "${work}"
mkdir -p "${work}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# One target: new inputs go to a scratch corpus, the seeds in the repository stay as they are.
run_target() {
  local name=$1 dir="${work}/$1"
  mkdir -p "${dir}/corpus" "${dir}/artifacts"
  # The filter's own effect source seeds the effect parser from where it lives.
  if [ "${name}" = effect_source ]; then cp src/effect/*.fx "${dir}/corpus/"; fi
  local options=(-max_total_time="${seconds}" -timeout=10 -rss_limit_mb=2048 -max_len=65536
                 -print_final_stats=1 -detect_leaks=1 -artifact_prefix="${dir}/artifacts/")
  if [ -f "fuzz/dict/${name}.dict" ]; then options+=(-dict="fuzz/dict/${name}.dict"); fi
  local status=0
  "${build}/fuzz/${name}_fuzzer" "${options[@]}" "${dir}/corpus" "fuzz/corpus/${name}" >"${dir}/log" 2>&1 || status=$?
  echo "${status}" >"${dir}/status"
}

echo "=== fuzz: ${seconds} s per target, ${jobs} at a time"
running=0
for name in ${targets}; do
  if [ ! -d "fuzz/corpus/${name}" ]; then echo "no seed corpus fuzz/corpus/${name}" >&2; exit 2; fi
  if [ "${running}" -ge "${jobs}" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_target "${name}" &
  running=$((running + 1))
done
wait || true

# A clean run ends with status 0 and no report of any kind in its log.
failed=0
printf '%-16s %12s %8s %8s %8s  %s\n' target executions cov ft corpus result
for name in ${targets}; do
  dir="${work}/${name}"
  status=$(cat "${dir}/status" 2>/dev/null || echo missing)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "${dir}/log" | tail -1)
  last=$(grep -E '^#[0-9]+' "${dir}/log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"${last}")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"${last}")
  corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"${last}")
  result=ok
  if [ "${status}" != 0 ] ||
     grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|deadly signal|fuzz property broken|ALARM: working on the last Unit' \
       "${dir}/log"; then
    result="FAILED (status ${status}; see ${dir}/log and ${dir}/artifacts)"
    failed=1
  fi
  printf '%-16s %12s %8s %8s %8s  %s\n' "${name}" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "${result}"
done
if [ "${failed}" != 0 ]; then
  for name in ${targets}; do
    if [ "$(cat "${work}/${name}/status" 2>/dev/null)" != 0 ]; then
      echo "--- ${name}: end of log"
      tail -40 "${work}/${name}/log"
    fi
  done
  exit 1
fi
