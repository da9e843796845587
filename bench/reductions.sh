#!/usr/bin/env bash
# Times sum, cumsum and max over a row of 1e7 doubles through the console host:
# the best wall time of several runs of each, less the time of building the
# row alone.
# Use: bench/reductions.sh RVO [REPETITIONS]   (RVO: a release build of rvo)
set -euo pipefail

rvo=${1:?usage: reductions.sh RVO [REPETITIONS]}
repetitions=${2:-5}
programs_dir=$(cd "$(dirname "$0")/programs" && pwd)
[ -x "$rvo" ] || { echo "reductions.sh: $rvo is not an executable" >&2; exit 2; }

run() { printf "path('%s');\nuse reductions\nr = bench(%s)\n" "$programs_dir" "$1" | "$rvo"; }

# shellcheck source=timing.sh
source "$(dirname "$0")/timing.sh"

base=$(best_time "$repetitions" run 0)
printf '%-8s %10s %10s\n' op "total s" "own s"
printf '%-8s %10s %10s\n' build "$base" -
for op in 1:sum 2:cumsum 3:max; do
  t=$(best_time "$repetitions" run "${op%%:*}")
  own=$(awk -v a="$t" -v b="$base" 'BEGIN { printf "%.4f", a - b }')
  printf '%-8s %10s %10s\n' "${op#*:}" "$t" "$own"
done
