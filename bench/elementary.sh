#!/usr/bin/env bash
# Times y = sin(x).*x + 2*x.^2 over a row of 1e6 doubles, twenty evaluations,
# through the console host: the best wall time of several runs, less the
# time of building the row alone.
# Use: bench/elementary.sh RVO [REPETITIONS]   (RVO: a release build of rvo)
set -euo pipefail

rvo=${1:?usage: elementary.sh RVO [REPETITIONS]}
repetitions=${2:-5}
programs_dir=$(cd "$(dirname "$0")/programs" && pwd)
[ -x "$rvo" ] || { echo "elementary.sh: $rvo is not an executable" >&2; exit 2; }

run() { printf "path('%s');\nuse elementary\nr = bench(%s)\n" "$programs_dir" "$1" | "$rvo"; }

# shellcheck source=timing.sh
source "$(dirname "$0")/timing.sh"

base=$(best_time "$repetitions" run 0)
t=$(best_time "$repetitions" run 1)
own=$(awk -v a="$t" -v b="$base" 'BEGIN { printf "%.4f", a - b }')
per=$(awk -v a="$own" 'BEGIN { printf "%.2f", a / 20 * 1000 }')
printf '%-10s %10s %10s %14s\n' expression "total s" "own s" "ms per 1e6"
printf '%-10s %10s %10s %14s\n' build "$base" - -
printf '%-10s %10s %10s %14s\n' sin-poly "$t" "$own" "$per"
