#!/usr/bin/env bash
# Math on y and x, the simple-math commands, Math on graphs, postfix and
# eval through varnix-cli.
source "$(dirname "$0")/../lib.bash"
expect_eq "postfix" "$("$CLI" -c 'postfix "sin(x)*y+1"; postfix "x^(-2)"; postfix "2sin(x)"')" \
"x sin y * 1 +
x 0 2 - ^
x sin"
expect_eq "eval" "$("$CLI" -c 'eval "x/y*2" 8 2; eval "2^3^2" 0 0; eval "-x^2" 3 0; eval "x^2" -3 0')" \
"2
64
-9
0"
if "$CLI" -c 'postfix "2*-x"' 2>"$T/err"; then fail "bad formula accepted"; fi
expect_eq "expression error" "$(cat "$T/err")" "error in expression: 2*."
for i in 0 1 2 3 4 5 6 7 8 9; do printf '0 1\r\n1 2\r\n' >"$T/g$i.dat"; done
out=$("$CLI" -c "load $(ls "$T"/g*.dat | tr '\n' ' '); select 2 5 9; simple-math-y 1 0 10 0; dump" | grep -A1 '^slot' | grep -v '^slot\|^--')
expect_eq "simple math on y" "$(echo "$out" | tr '\n' ' ')" "0 1 0 1 0 1 0 1 0 1 0 11 0 1 0 1 0 1 0 21 "
out=$("$CLI" -c "load $T/g0.dat $T/g1.dat; select 0; math-yx \"x+1\" \"y*x\"; simple-math-x -1 0; dump")
expect_eq "math on y and x" "$(echo "$out" | sed -n 2,3p)" "-1 0
-2 2"
printf '0 0\r\n10 10\r\n' >"$T/second.dat"
printf '2.5 1\r\n5 1\r\n' >"$T/sel.dat"
out=$("$CLI" -c "load $T/second.dat $T/sel.dat; select 1; math-graphs / 0; dump")
expect_eq "math on graphs" "$(echo "$out" | sed -n 5,6p)" "2.5 0.4
5 0.2"
out=$("$CLI" -c "load $T/second.dat $T/sel.dat; select 1; math-graphs + none" 2>&1)
expect_eq "second graph" "$out" "Second graph not selected"
echo ok
