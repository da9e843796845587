#!/bin/sh
# Inputs without end and outputs that cannot be written: a source longer than
# the engine can take is refused before it is all read, and output lost on a
# full device fails the run; each with status 1 and a message.
rvo="$1"
fail() { echo "$1"; exit 1; }
expect() {  # status, expected stderr, actual stderr
  [ "$1" -eq 1 ] || fail "exit status $1, expected 1 ($3)"
  [ "$3" = "$2" ] || fail "stderr: '$3', expected '$2'"
}
message=$(RVO_MAX_BYTES=1000000 "$rvo" /dev/zero 2>&1 >/dev/null)
expect $? "rvo: /dev/zero is longer than the 1000000 bytes a source may have" "$message"
message=$(RVO_MAX_BYTES=1000000 "$rvo" 2>&1 >/dev/null </dev/zero)
expect $? "rvo: a command of the input is longer than the 1000000 bytes a source may have" "$message"
if [ -w /dev/full ]; then
  message=$("$rvo" -e "disp(1)" 2>&1 >/dev/full)
  expect $? "rvo: the output could not be written" "$message"
fi
message=$("$rvo" -e "disp(1)" 2>&1 >&-)
expect $? "rvo: the output could not be written" "$message"
exit 0
