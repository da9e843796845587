#!/usr/bin/env bash
# Times s = sprintf('%08x,', k) and then sscanf(s, '%x,') over 1e5 values
# through the console host: the best wall time of several runs of each, less
# the time of building the values alone.
# Use: bench/textio.sh RVO [REPETITIONS]   (RVO: a release build of rvo)
set -euo pipefail

rvo=${1:?usage: textio.sh RVO [REPETITIONS]}
repetitions=${2:-5}
programs_dir=$(cd "$(dirname "$0")/programs" && pwd)
[ -x "$rvo" ] || { echo "textio.sh: $rvo is not an executable" >&2; exit 2; }

run() { printf "path('%s');\nuse textio\nr = bench(%s)\n" "$programs_dir" "$1" | "$rvo"; }

# shellcheck source=timing.sh
source "$(dirname "$0")/timing.sh"

base=$(best_time "$repetitions" run 0)
print=$(best_time "$repetitions" run 1)
both=$(best_time "$repetitions" run 2)
printf '%-8s %10s %10s\n' step "total s" "own s"
printf '%-8s %10s %10s\n' build "$base" -
printf '%-8s %10s %10s\n' sprintf "$print" "$(awk -v a="$print" -v b="$base" 'BEGIN { printf "%.4f", a - b }')"
printf '%-8s %10s %10s\n' sscanf "$both" "$(awk -v a="$both" -v b="$print" 'BEGIN { printf "%.4f", a - b }')"
