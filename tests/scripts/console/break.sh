#!/bin/sh
# Ctrl-C breaks a loop that never ends: the engine reports the halt and the
# host exits with 130 (a host killed by the signal would print nothing).
# A loop over a range without end whose body is empty is broken the same way.
rvo="$1"
for loop in "while true, end" "for k = 1:Inf, end"; do
  err=$(mktemp)
  "$rvo" -e "$loop" 2>"$err" &
  pid=$!
  sleep 1
  kill -INT "$pid"
  wait "$pid"
  status=$?
  message=$(cat "$err")
  rm -f "$err"
  [ "$status" -eq 130 ] || { echo "$loop: exit status $status, expected 130"; exit 1; }
  [ "$message" = "Execution halted" ] || { echo "$loop: stderr: '$message', expected 'Execution halted'"; exit 1; }
done
