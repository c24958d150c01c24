#!/usr/bin/env bash
# Builds and runs the whole test suite three times: plain, under AddressSanitizer +
# UndefinedBehaviorSanitizer, and the threaded programs' tests under ThreadSanitizer; after the
# plain run the Debian package is built in a Release tree and checked (scripts/package_test.sh);
# then the fuzzing stage.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
run() { # build-dir label-filter cmake-args...
  local dir=$1 labels=$2; shift 2
  cmake -S . -B "$dir" -DQUELVAN_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" ${labels:+-L "$labels"})
}

run build "" 
bash scripts/package_test.sh build-pkg
run build-asan "" -DQUELVAN_SANITIZE="address;undefined"
run build-tsan threaded -DQUELVAN_SANITIZE=thread -DQUELVAN_DIRS="testing;report;platform;matpulse;xferclock;vidprobe"
# Every parser of outside input under libFuzzer for a short fixed time (build-fuzz, clang).
bash scripts/fuzz.sh
echo "test: all suites passed"
