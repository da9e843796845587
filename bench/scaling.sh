#!/usr/bin/env bash
# Times each growth program of programs/ at its own count and at ten times
# that count, best of several runs, and prints the ratio of the two: about 10
# for growth in amortised constant time, about 100 for a quadratic one.
# Use: bench/scaling.sh RVO [REPETITIONS]   (RVO: a release build of rvo)
# ENTRIES="program:count ..." times other programs or counts.
set -euo pipefail

rvo=${1:?usage: scaling.sh RVO [REPETITIONS]}
repetitions=${2:-3}
programs_dir=$(cd "$(dirname "$0")/programs" && pwd)
# Ten million doubles need a larger block than the host starts with, and the
# block does not yet grow under a running command.
export RVO_BLOCK_BYTES=${RVO_BLOCK_BYTES:-1000000000}
[ -x "$rvo" ] || { echo "scaling.sh: $rvo is not an executable" >&2; exit 2; }

run() { printf "path('%s');\nuse %s\nr = bench(%s)\n" "$programs_dir" "$1" "$2" | "$rvo"; }
# shellcheck source=timing.sh
source "$(dirname "$0")/timing.sh"

printf '%-14s %10s %10s %10s %10s %7s\n' program n "time s" "10n" "time s" ratio
for entry in ${ENTRIES:-append_end:1e6 append_index:1e6 append_cell:1e5 append_field:1e5}; do
  program=${entry%%:*}
  n=${entry##*:}
  small=$(best_time "$repetitions" run "$program" "$n")
  tenfold=$(awk -v n="$n" 'BEGIN { printf "%d", 10 * n }')
  large=$(best_time "$repetitions" run "$program" "$tenfold")
  ratio=$(awk -v a="$large" -v b="$small" 'BEGIN { if (b > 0) printf "%.1f", a / b; else print "-" }')
  printf '%-14s %10s %10s %10s %10s %7s\n' "$program" "$n" "$small" "$tenfold" "$large" "$ratio"
done
