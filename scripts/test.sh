#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: first the normal
# build (with the Qt backend's offscreen test), then the whole suite again
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

bash scripts/build.sh build
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)")

bash scripts/build.sh build-asan -DTESS_SANITIZE=ON -DTESS_WITH_QT=OFF
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j "$(nproc)")
