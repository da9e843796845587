#!/bin/sh
# Ctrl-C breaks a loop that never ends: the engine reports the halt and the
# host exits with 130 (a host killed by the signal would print nothing).
# A loop over a range without end whose body is empty is broken the same way.
rvo="$1"

. "$(dirname "$0")/../ready.sh"

for loop in "while true, end" "for k = 1:Inf, end"; do
  err=$(mktemp)
  "$rvo" -e "fprintf(2, 'ready\\n'); $loop" 2>"$err" &
  pid=$!
  wait_ready "$err"
  kill -INT "$pid"
  wait "$pid"
  status=$?
  message=$(cat "$err")
  rm -f "$err"
  [ "$status" -eq 130 ] || { echo "$loop: exit status $status, expected 130"; exit 1; }
  [ "$message" = "$(printf 'ready\nExecution halted')" ] || { echo "$loop: stderr: '$message', expected 'Execution halted'"; exit 1; }
done

# Ctrl-C at the prompt, however often, neither ends the session nor breaks
# the next command: its variables are still there.
fifo=$(mktemp -u)
mkfifo "$fifo"
out=$(mktemp)
"$rvo" <"$fifo" >"$out" 2>&1 &
pid=$!
exec 3>"$fifo"
echo "x = 5;" >&3
sleep 0.5
for k in 1 2 3; do
  kill -INT "$pid"
  sleep 0.2
done
echo "disp(x)" >&3
exec 3>&-
wait "$pid"
status=$?
printed=$(cat "$out")
rm -f "$fifo" "$out"
[ "$status" -eq 0 ] || { echo "idle Ctrl-C: exit status $status, expected 0 ($printed)"; exit 1; }
[ "$printed" = "         5" ] || { echo "idle Ctrl-C: printed '$printed', expected x"; exit 1; }

# Work that does not ask the break test (compiling a text of 15 MB) cannot
# hold the console: a second Ctrl-C while the first waits ends the process
# by the signal, with nothing more printed.
err=$(mktemp)
"$rvo" -e "fprintf(2, 'ready\\n'); eval(['x = [' sprintf('%d ', 1:2000000) '];'])" 2>"$err" &
pid=$!
wait_ready "$err"
kill -INT "$pid"
sleep 0.1
kill -INT "$pid"
wait "$pid"
status=$?
message=$(cat "$err")
rm -f "$err"
[ "$status" -eq 130 ] || { echo "second Ctrl-C: exit status $status, expected 130"; exit 1; }
[ "$message" = "ready" ] || { echo "second Ctrl-C: stderr '$message', expected nothing after the mark"; exit 1; }
exit 0
