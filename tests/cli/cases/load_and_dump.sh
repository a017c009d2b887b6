#!/usr/bin/env bash
# Add Files with a three-column file, a spectrum and a bad file; the dump
# matches the files' lines, the column graph and the messages.
source "$(dirname "$0")/../lib.bash"
printf '"bad file\r\n1 2\r\n2 3\r\n3 x\r\n4 5\r\n' >"$T/bad.dat"
out=$("$CLI" -c "load $SAMPLES/two_detectors.dat $SAMPLES/T010K.dat $T/bad.dat; info; dump" 2>"$T/err")
expect_eq "info line" "$(echo "$out" | sed -n 1p)" " 4 files loaded. Press <R> to rescale"
expect_eq "message" "$(cat "$T/err")" "Wrong data in $T/bad.dat;String \"3 x\" is invalid"
expect_eq "slot lines" "$(echo "$out" | grep '^slot')" \
"slot 0 name=two_detectors.dat path=$SAMPLES/two_detectors.dat points=2000 mark=0
slot 1 name=1 path=1 points=2000 mark=0
slot 2 name=T010K.dat path=$SAMPLES/T010K.dat points=1000 mark=0
slot 3 name=bad.dat path=$T/bad.dat points=2 mark=0"
expect_eq "last line" "$(echo "$out" | tail -n 1)" "count=4 undo=off highlighted=0"
# Every value of the third column is in the column graph, in file order.
python3 - "$SAMPLES/two_detectors.dat" <<PY || fail "column graph values"
import sys
dump = """$out"""
lines = dump.splitlines()
start = lines.index("slot 1 name=1 path=1 points=2000 mark=0") + 1
got = [tuple(map(float, l.split())) for l in lines[start:start + 2000]]
want = []
for line in open(sys.argv[1]):
    f = line.split()
    if f and f[0][0] in "0123456789.-":
        want.append((float(f[0]), float(f[2])))
assert got == want, (got[:3], want[:3])
PY
expect_eq "comments" "$(echo "$out" | grep '^# ')" '# "two detectors: column 2 at 10 K, column 3 at 300 K
# "PL spectrum, sample A-17, T = 10 K
# "excitation 325 nm, 2 mW; integration 1 s
# "bad file'
# Delete from list and Delete All.
out=$("$CLI" -c "load $SAMPLES/T010K.dat $SAMPLES/T020K.dat $SAMPLES/T030K.dat; current 1; delete; info; dump; delete-all; info; dump")
expect_eq "delete" "$(echo "$out" | grep -v '^[-0-9.]' )" " T020K.dat deleted from memory
slot 0 name=T010K.dat path=$SAMPLES/T010K.dat points=1000 mark=0
# \"PL spectrum, sample A-17, T = 10 K
# \"excitation 325 nm, 2 mW; integration 1 s
slot 1 name=T030K.dat path=$SAMPLES/T030K.dat points=1666 mark=0
# \"PL spectrum, sample A-17, T = 30 K
# \"excitation 325 nm, 2 mW; integration 1 s
count=2 undo=off highlighted=0
No Data loaded
count=0 undo=off highlighted=0"
echo ok
