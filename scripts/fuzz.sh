#!/usr/bin/env bash
# Builds the fuzzing tree (clang with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every harness for SECONDS each
# (default 60): scripts/fuzz.sh [SECONDS]. Each starts from its seeds (made
# by the build from the test fixtures) and the inputs it found before.
# Fails when any harness finds a crash, a leak, undefined behaviour, an
# allocation out of bounds or an input that takes too long; the input is
# kept in build-fuzz/fuzz/findings/. Once the fault is mended, copy it to
# tests/fixtures/fuzz/NAME/: the replay test then runs it in every build.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
bash scripts/build.sh build-fuzz -DTESS_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

# The harnesses write every input to a file and save with syncs: a folder in
# memory keeps them fast.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

findings=build-fuzz/fuzz/findings
mkdir -p "$findings"
status=0
for fuzzer in build-fuzz/bin/fuzz_*; do
  name=${fuzzer##*/fuzz_}
  work=build-fuzz/fuzz/work/$name
  mkdir -p "$work"
  echo "fuzz: $name for ${seconds} s"
  if ! "$fuzzer" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$findings/$name-" "$work" "build-fuzz/fuzz/seeds/$name" >"$findings/$name.log" 2>&1; then
    echo "fuzz: $name found a fault; its input is in $findings/ (log: $findings/$name.log)"
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written' "$findings/$name.log" | head -20 || true
    status=1
  else
    grep -E '^stat::number_of_executed_units' "$findings/$name.log" | sed "s/^/fuzz: $name /" || true
  fi
done
exit "$status"
