#!/usr/bin/env bash
# Installs what is missing, builds the optimised tree and runs the console host.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)"
exec build/release/tools/rvo "$@"
