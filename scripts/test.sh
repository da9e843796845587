#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UBSan, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DRVO_SANITIZE=ON -DRVO_WERROR=ON >/dev/null
cmake --build build/test -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/test -j "$(nproc)" --output-on-failure
