#!/usr/bin/env bash
# The fuzzing stage: builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in their own tree, build-fuzz, and runs each for a short fixed time,
# two at a time. Fails when a target crashes, hangs or runs out of memory; the input that did it
# is left in build-fuzz/artifacts/<target>/ and belongs in fuzz/regressions/<target>/ once the
# fault is fixed (the ordinary test fuzz_replay.<target> then replays it in every tree).
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 14: the whole run about 2.5 minutes)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-14}
tree=build-fuzz

cmake -S . -B "$tree" -DQUELVAN_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DQUELVAN_DIRS="testing;report;platform;gputuner;installer;matpulse;xferclock;vidprobe;fuzz" >/dev/null
cmake --build "$tree" -j "$(nproc)" --target fuzz_targets

targets=$(cd fuzz && ls ./*.cpp | sed 's|^\./||; s|\.cpp$||' | grep -v '^replay_main$')
run_one() {
  local name=$1 log="$tree/logs/$1.log" opts=()
  mkdir -p "$tree/corpus/$name" "$tree/artifacts/$name" "$tree/logs"
  [ -f "fuzz/dict/$name.dict" ] && opts+=("-dict=fuzz/dict/$name.dict")
  [ "$name" = register_window ] && opts+=(-max_len=65536)  # the registers lie up to 0x9190
  local dirs=("$tree/corpus/$name" "fuzz/corpus/$name")
  [ -d "fuzz/regressions/$name" ] && dirs+=("fuzz/regressions/$name")
  if "$tree/bin/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$tree/artifacts/$name/" \
       "${opts[@]}" "${dirs[@]}" >"$log" 2>&1; then
    echo "fuzz: $name: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs in ${seconds}s, corpus $(ls "$tree/corpus/$name" | wc -l) + $(ls "fuzz/corpus/$name" | wc -l) seeds"
  else
    echo "fuzz: $name FAILED, input kept in $tree/artifacts/$name/:"
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5
    return 1
  fi
}
export -f run_one
export tree seconds
start=$(date +%s)
echo "$targets" | xargs -P 2 -I{} bash -c 'run_one {}'
echo "fuzz: all targets passed in $(( $(date +%s) - start ))s"
