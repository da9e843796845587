#!/bin/sh
# Ctrl-C stops a transform of prime length 1e6 + 3 (one combination of 10^12
# multiply-adds) with "Execution halted", and the session goes on.
rvo="$1"
. "$(dirname "$0")/../ready.sh"
fifo=$(mktemp -u)
mkfifo "$fifo"
out=$(mktemp)
"$rvo" <"$fifo" >"$out" 2>&1 &
pid=$!
exec 3>"$fifo"
printf '%s\n' "fprintf(2, 'ready\\n'); y = fft(ones(1000003, 1));" >&3
wait_ready "$out" "$pid"
# Well inside the transform: its setup takes milliseconds, the work hours.
sleep 1
kill -INT "$pid"
echo "disp(real(fft([1 2 3])))" >&3
exec 3>&-
wait "$pid"
status=$?
text=$(cat "$out")
rm -f "$fifo" "$out"
[ "$status" -eq 0 ] || { echo "exit status $status: $text"; exit 1; }
case "$text" in
  *"Execution halted"*"6  "*) ;;
  *) echo "unexpected output: '$text'"; exit 1 ;;
esac
