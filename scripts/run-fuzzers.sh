#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a given time each, starting from its seed
# corpus (copied into the build folder, so the repository's seeds stay small), and prints the
# executions per target. Exits non-zero when a target finds a crash; the input that crashed is
# left in <build>/fuzz-artifacts/<target>/ and belongs in tests/fuzz/regressions/<target>/.
#   scripts/run-fuzzers.sh <fuzz build folder> <seconds per target>
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
seconds=${2:-60}
status=0
printf '%-22s %14s %10s %s\n' target executions exec/s result
for fuzzer in "$build"/tests/fuzz/*_fuzz; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  work="$build/fuzz-corpus/$name"
  artifacts="$build/fuzz-artifacts/$name/"
  mkdir -p "$work" "$artifacts"
  seeds=(tests/fuzz/corpus/"$name")
  [ -d tests/fuzz/regressions/"$name" ] && seeds+=(tests/fuzz/regressions/"$name")
  log="$build/fuzz-$name.log"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$artifacts" "$work" "${seeds[@]}" >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  speed=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  result=ok
  if [ $rc -ne 0 ]; then
    result="FAILED (see $log)"
    status=1
  fi
  printf '%-22s %14s %10s %s\n' "$name" "${runs:-?}" "${speed:-?}" "$result"
done
exit $status
