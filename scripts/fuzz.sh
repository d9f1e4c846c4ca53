#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# into build-fuzz/ and runs each one for SECONDS (default 60) from its seed corpus
# in fuzz/corpus/<target>/. Prints the executions per target; a broken property,
# a crash or memory an input leaves allocated stops the run with the input saved
# as build-fuzz/crash-* or build-fuzz/leak-* and exit 1.
# New inputs found go to build-fuzz/corpus/<target>/, never into the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
root=$PWD
dir=$root/build-fuzz
if [ ! -f "$dir/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTK_FUZZ=ON -DTK_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$dir" -j2 --target fuzz_targets >/dev/null
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
printf '%-14s %14s %10s\n' target executions exec/s
for exe in "$dir"/bin/fuzz_*; do
  target=${exe##*/fuzz_}
  work=$dir/corpus/$target
  mkdir -p "$work"
  log=$dir/fuzz_$target.log
  if (cd "$dir" && "$exe" -max_total_time="$seconds" -print_final_stats=1 -max_len=8192 \
        -rss_limit_mb=1024 -timeout=10 "$work" "$root/fuzz/corpus/$target") >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    printf '%-14s %14s %10s\n' "$target" "${runs:-?}" "${rate:-?}"
  else
    printf '%-14s FAILED (see %s)\n' "$target" "$log"
    tail -n 30 "$log" >&2
    status=1
  fi
done
exit $status
