#!/bin/sh
# Ctrl-C breaks a loop that never ends: the engine reports the halt and the
# host exits with 130 (a host killed by the signal would print nothing).
rvo="$1"
err=$(mktemp)
"$rvo" -e "while true, end" 2>"$err" &
pid=$!
sleep 1
kill -INT "$pid"
wait "$pid"
status=$?
message=$(cat "$err")
rm -f "$err"
[ "$status" -eq 130 ] || { echo "exit status $status, expected 130"; exit 1; }
[ "$message" = "Execution halted" ] || { echo "stderr: '$message', expected 'Execution halted'"; exit 1; }
