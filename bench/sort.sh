#!/usr/bin/env bash
# Times sort of 1e6 uniform random doubles through the console host against
# std::sort of as many in the same run: the best wall time of several runs of
# each, the host's time less that of building the row alone.
# Use: bench/sort.sh RVO [REPETITIONS]   (RVO: a release build of rvo)
set -euo pipefail

rvo=${1:?usage: sort.sh RVO [REPETITIONS]}
repetitions=${2:-5}
[ -x "$rvo" ] || { echo "sort.sh: $rvo is not an executable" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/peer.cpp" <<'CPP'
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>
int main(int argc, char**) {
  std::mt19937_64 g(1);
  std::uniform_real_distribution<double> u;
  std::vector<double> x(1000000);
  for (double& v : x) v = u(g);
  if (argc > 1) std::sort(x.begin(), x.end());
  std::printf("%g\n", x[0]);
}
CPP
g++ -O2 -std=c++20 -o "$work/peer" "$work/peer.cpp"

run_rvo() { "$rvo" -e "x = rand(1, 1000000); $1 y = x(1);" > /dev/null; }
run_peer() { "$work/peer" "$@" > /dev/null; }

# shellcheck source=timing.sh
source "$(dirname "$0")/timing.sh"

rvo_base=$(best_time "$repetitions" run_rvo "")
rvo_sort=$(best_time "$repetitions" run_rvo "x = sort(x);")
peer_base=$(best_time "$repetitions" run_peer)
peer_sort=$(best_time "$repetitions" run_peer sort)
printf '%-10s %10s\n' who "sort s"
printf '%-10s %10s\n' rvo "$(awk -v a="$rvo_sort" -v b="$rvo_base" 'BEGIN { printf "%.4f", a - b }')"
printf '%-10s %10s\n' std::sort "$(awk -v a="$peer_sort" -v b="$peer_base" 'BEGIN { printf "%.4f", a - b }')"
