#!/usr/bin/env bash
# Installs what is missing, builds the optimised tree and runs the console host:
# on the demonstration program, or with the arguments given.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)"
if [ $# -eq 0 ]; then
  exec build/release/tools/rvo tools/demo.rvl
fi
exec build/release/tools/rvo "$@"
