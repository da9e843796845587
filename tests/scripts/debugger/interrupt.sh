#!/bin/sh
# With "-interrupt" on, Ctrl-C stops an endless loop in the debugger, where
# the loop's variable can be read and dbquit ends the code; rvo goes on and
# exits with 0. With it off again, Ctrl-C halts with 130.
rvo="$1"
fifo=$(mktemp -u)
mkfifo "$fifo"
out=$(mktemp)
err=$(mktemp)
. "$(dirname "$0")/../ready.sh"
"$rvo" <"$fifo" >"$out" 2>"$err" &
pid=$!
exec 3>"$fifo"
echo "dbstop -interrupt" >&3
printf '%s\n' "k = 0; fprintf(2, 'ready\\n'); while true, k = 1; end" >&3
wait_ready "$err"
kill -INT "$pid"
sleep 0.5
echo "disp(k)" >&3
echo "dbquit" >&3
echo "disp('quit')" >&3
exec 3>&-
wait "$pid"
status=$?
printed=$(cat "$out")
rm -f "$fifo" "$out" "$err"
[ "$status" -eq 0 ] || { echo "interrupt on: exit status $status, expected 0"; exit 1; }
want=$(printf '         1\nquit')
[ "$printed" = "$want" ] || { echo "interrupt on: printed '$printed', expected '$want'"; exit 1; }

err=$(mktemp)
"$rvo" -e "dbstop -interrupt; dbclear -interrupt; fprintf(2, 'ready\\n'); while true, end" 2>"$err" &
pid=$!
wait_ready "$err"
kill -INT "$pid"
wait "$pid"
status=$?
rm -f "$err"
[ "$status" -eq 130 ] || { echo "interrupt off: exit status $status, expected 130"; exit 1; }
exit 0
