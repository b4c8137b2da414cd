#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60), as
# many at once as there are processors (FUZZ_JOBS).
# New inputs go to the build folder's working corpus, seeded from the
# committed corpus; a crash leaves its input in <build>/artifacts and fails.
set -euo pipefail
seconds=${1:-60}
build=${FUZZ_BUILD:-build-fuzz}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# A build folder of its own leaves the tests out; one shared with the
# sanitizer tests (make test) keeps what it has.
if [ -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DQB_FUZZ=ON >/dev/null
else
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQB_FUZZ=ON -DQB_BUILD_GUI=OFF -DQB_BUILD_BENCH=OFF -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target fuzzers >/dev/null

mkdir -p "$build/artifacts"
status=0
shopt -s nullglob
# The targets run side by side, one per processor: each still gets SECONDS.
jobs=${FUZZ_JOBS:-$(nproc)}
fuzz() {
  local fuzzer=$1 name=$2
  local work="$build/corpus/$name"
  mkdir -p "$work"
  local args=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-")
  [ -f "fuzz/dict/$name.dict" ] && args+=(-dict="fuzz/dict/$name.dict")
  local seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  "$fuzzer" "${args[@]}" "$work" "${seeds[@]}" 2>"$build/$name.log"
}
names=()
pids=()
reported=0
# Waits for the oldest target still running and reports it; they all run
# equally long, so it is the next to end.
report() {
  local name=${names[$reported]}
  echo "== $name: ${seconds}s"
  if ! wait "${pids[$reported]}"; then
    echo "$name failed; see $build/$name.log and $build/artifacts/" >&2
    tail -n 40 "$build/$name.log" >&2
    status=1
  fi
  grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec' "$build/$name.log" | sed 's/^/   /'
  reported=$((reported + 1))
}
for fuzzer in "$build"/fuzz/*Fuzzer; do
  name=$(basename "$fuzzer" Fuzzer)
  fuzz "$fuzzer" "$name" &
  names+=("$name")
  pids+=($!)
  while [ $((${#pids[@]} - reported)) -ge "$jobs" ]; do report; done
done
while [ "$reported" -lt "${#pids[@]}" ]; do report; done

# quillbend-cli killed at random moments of a large load and save, many
# times: the data file must load as the old or the new model after every
# kill, and the next run must leave no temporary file.
kill_build=${KILL_BUILD:-build}
rounds=${QB_KILLED_SAVE_ROUNDS:-50}
[ -f "$kill_build/CMakeCache.txt" ] ||
  cmake -S . -B "$kill_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$kill_build" -j "$(nproc)" --target quillbend_core_tests >/dev/null
echo "== killed saves: $rounds kills"
if ! QB_KILLED_SAVE_ROUNDS=$rounds "$kill_build/tests/quillbend_core_tests" \
    --gtest_filter='KilledSaveTest.*' >"$build/killed-saves.log" 2>&1; then
  echo "killed saves failed; see $build/killed-saves.log" >&2
  tail -n 40 "$build/killed-saves.log" >&2
  status=1
fi
grep -E '^\[ killed' "$build/killed-saves.log" | sed 's/^/   /' || true
exit $status
