#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: first the normal
# build (with the Qt backend's offscreen test), then the whole suite again
# under AddressSanitizer and UndefinedBehaviorSanitizer, then a Release build
# of the command-line program with one trace of the bundled sample, which
# must give the same art as the normal build, then every fuzzing harness for
# about 30 s (any finding fails the run).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

bash scripts/build.sh build
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)")

bash scripts/build.sh build-asan -DTESS_SANITIZE=ON -DTESS_WITH_QT=OFF
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j "$(nproc)")

cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTESS_WITH_QT=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target tessary-cli
trace="$(mktemp -d)"
trap 'rm -rf "$trace"' EXIT
for b in build build-release; do
  "$b/bin/tessary-cli" -q samples/sample.tif -o "$trace/$b.eps"
  # The title and date lines differ from run to run.
  tr '\r' '\n' < "$trace/$b.eps" | grep -av '^%%Title\|^%%CreationDate' > "$trace/$b.txt"
done
grep -aq ' [cC]$' "$trace/build-release.txt"
cmp "$trace/build.txt" "$trace/build-release.txt"
echo "release build: the sample traces to the same art"

bash scripts/fuzz.sh 30
