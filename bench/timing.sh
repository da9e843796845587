# Sourced by the benchmark scripts: the best wall time of several runs of a
# command, in seconds. The output of every run must be the same as the
# first, or the times would be of different work.
# Use: best_time REPETITIONS COMMAND [ARGUMENTS...]

now() { date +%s.%N; }

best_time() {
  local repetitions=$1 best="" start end elapsed out first_out=""
  shift
  for ((k = 0; k < repetitions; ++k)); do
    start=$(now)
    out=$("$@")
    end=$(now)
    elapsed=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')
    if [ -z "$best" ] || awk -v a="$elapsed" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$elapsed; fi
    if [ "$k" -eq 0 ]; then first_out=$out; elif [ "$out" != "$first_out" ]; then
      echo "best_time: $* gave different output on repetition $k" >&2
      exit 1
    fi
  done
  echo "$best"
}
