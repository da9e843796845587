#!/usr/bin/env bash
# Times A*B and A\b for 1000 x 1000 random matrices through the console host
# and through NumPy on the same OpenBLAS (Debian's python3-numpy, which reaches
# OpenBLAS through the libblas.so.3 and liblapack.so.3 alternatives), one
# thread for both, and prints each operation's best time and rvo's time over
# NumPy's. Each side times the operation alone, best of several runs in one
# process, so start-up and the random fill do not count.
# Use: bench/matrix.sh RVO [REPETITIONS]   (RVO: a release build of rvo)
set -euo pipefail

rvo=${1:?usage: matrix.sh RVO [REPETITIONS]}
repetitions=${2:-5}
n=${N:-1000}
python=${PYTHON:-/usr/bin/python3}
export OPENBLAS_NUM_THREADS=1

[ -x "$rvo" ] || { echo "matrix.sh: $rvo is not an executable" >&2; exit 2; }
"$python" -c 'import numpy' 2>/dev/null || { echo "matrix.sh: $python has no numpy (apt-get install python3-numpy)" >&2; exit 2; }

# Milliseconds, one line per operation: product, then solve.
rvo_times=$("$rvo" -e "
A = rand($n); B = rand($n); b = rand($n, 1);
p = inf; s = inf;
for k = 1:$repetitions
  tic; C = A * B; t = toc; if t < p, p = t; end
  tic; x = A \\ b; t = toc; if t < s, s = t; end
end
disp(p * 1000); disp(s * 1000);")

numpy_times=$("$python" - "$n" "$repetitions" <<'PY'
import sys, time
import numpy as np
n, repetitions = int(sys.argv[1]), int(sys.argv[2])
rng = np.random.default_rng(1)
A, B, b = rng.random((n, n)), rng.random((n, n)), rng.random((n, 1))
def best(f):
    t = float("inf")
    for _ in range(repetitions):
        start = time.perf_counter(); f(); t = min(t, time.perf_counter() - start)
    return t * 1000
print(best(lambda: A @ B))
print(best(lambda: np.linalg.solve(A, b)))
PY
)

printf '%-10s %12s %12s %8s\n' "${n}x${n}" "rvo ms" "numpy ms" ratio
paste <(printf 'A*B\nA\\b\n') <(echo "$rvo_times" | tr -s ' ' | sed 's/^ *//') <(echo "$numpy_times") |
  while read -r name mine theirs; do
    printf '%-10s %12.2f %12.2f %8.2f\n' "$name" "$mine" "$theirs" "$(awk -v a="$mine" -v b="$theirs" 'BEGIN { print a / b }')"
  done
