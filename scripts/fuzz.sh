#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60).
# New inputs go to the build folder's working corpus, seeded from the
# committed corpus; a crash leaves its input in <build>/artifacts and fails.
set -euo pipefail
seconds=${1:-60}
build=${FUZZ_BUILD:-build-fuzz}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQB_FUZZ=ON -DQB_BUILD_GUI=OFF -DQB_BUILD_BENCH=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzzers >/dev/null

mkdir -p "$build/artifacts"
status=0
shopt -s nullglob
for fuzzer in "$build"/fuzz/*Fuzzer; do
  name=$(basename "$fuzzer" Fuzzer)
  work="$build/corpus/$name"
  mkdir -p "$work"
  args=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-")
  [ -f "fuzz/dict/$name.dict" ] && args+=(-dict="fuzz/dict/$name.dict")
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  echo "== $name: ${seconds}s"
  if ! "$fuzzer" "${args[@]}" "$work" "${seeds[@]}" 2>"$build/$name.log"; then
    echo "$name failed; see $build/$name.log and $build/artifacts/" >&2
    tail -n 40 "$build/$name.log" >&2
    status=1
  fi
  grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec' "$build/$name.log" | sed 's/^/   /'
done
exit $status
