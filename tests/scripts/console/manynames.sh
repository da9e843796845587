#!/bin/sh
# The most variables a script or a function can name: an instruction names a
# variable by a 16-bit word, so one more is a full table, never another
# variable's value or a wrong error. The texts are generated: tens of
# thousands of lines.
rvo="$1"
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; exit 1; }
names() {  # count: "v1 = 1;" ... one per line
  awk -v n="$1" 'BEGIN { for (i = 1; i <= n; ++i) printf "v%d = %d;\n", i, i }'
}

# "ans" takes the base frame's first slot.
{ names 32766; echo "disp(v1 + v32766)"; } >"$dir/full.rvl"
out=$("$rvo" "$dir/full.rvl" 2>&1) || fail "32766 names: status $?: $out"
[ "$(echo $out)" = "32767" ] || fail "32766 names printed '$out'"

{ names 32767; echo "disp(v1)"; } >"$dir/over.rvl"
out=$("$rvo" "$dir/over.rvl" 2>&1)
[ $? -eq 1 ] || fail "32767 names: status not 1"
[ "$out" = "Variable table overflow (32767)" ] || fail "32767 names printed '$out'"

{ echo "f()"; echo "function f"; names 32767; echo "disp(v32767)"; } >"$dir/function.rvl"
out=$("$rvo" "$dir/function.rvl" 2>&1) || fail "a function of 32767 names: status $?: $out"
[ "$(echo $out)" = "32767" ] || fail "a function of 32767 names printed '$out'"

{ echo "f()"; echo "function f"; names 32768; echo "disp(v1)"; } >"$dir/function_over.rvl"
out=$("$rvo" "$dir/function_over.rvl" 2>&1)
[ $? -eq 1 ] || fail "a function of 32768 names: status not 1"
case "$out" in
  "Variable table overflow (_cli/f;"*) ;;
  *) fail "a function of 32768 names printed '$out'" ;;
esac
exit 0
