#!/usr/bin/env bash
# Times the language-level benchmark programs through the console host and
# their Lua twins through lua5.4 in one run, and prints one table: the best
# wall time of several repetitions for each, and rvo's time over Lua's.
# Use: bench/compare.sh RVO [REPETITIONS]   (RVO: a release build of rvo)
set -euo pipefail

rvo=${1:?usage: compare.sh RVO [REPETITIONS]}
repetitions=${2:-5}
lua=${LUA:-lua5.4}
programs_dir=$(cd "$(dirname "$0")/programs" && pwd)

command -v "$lua" >/dev/null || { echo "compare.sh: $lua not found (scripts/setup.sh installs it)" >&2; exit 2; }
[ -x "$rvo" ] || { echo "compare.sh: $rvo is not an executable" >&2; exit 2; }

# Each program is a library whose function bench does the work once; the
# host reads it through its search path and shows the result as r.
run_rvo() { printf "path('%s');\nuse %s\nr = bench\n" "$programs_dir" "$1" | "$rvo"; }
run_lua() { "$lua" "$programs_dir/$1.lua"; }

# shellcheck source=timing.sh
source "$(dirname "$0")/timing.sh"

status=0
printf '%-12s %12s %12s %8s\n' program "rvo s" "lua s" ratio
for program in ${PROGRAMS:-scalarloop calls fib append_end append_index append_cell append_field}; do
  rvo_time=$(best_time "$repetitions" run_rvo "$program")
  rvo_out=$(run_rvo "$program")
  lua_time=$(best_time "$repetitions" run_lua "$program")
  lua_out=$(run_lua "$program")
  ratio=$(awk -v a="$rvo_time" -v b="$lua_time" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')
  printf '%-12s %12s %12s %8s\n' "$program" "$rvo_time" "$lua_time" "$ratio"
  if [ "$rvo_out" != "$lua_out" ]; then
    printf '  outputs differ:\n  rvo: %s\n  lua: %s\n' "$rvo_out" "$lua_out" >&2
    status=1
  fi
done
exit $status
