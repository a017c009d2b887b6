#!/usr/bin/env bash
# Escapes in quoted words keep a hostile file name one argument; a file to
# load that is not there and a Slicer run that writes nothing fail the run.
source "$(dirname "$0")/../lib.bash"
cd "$T"
hostile='x"; select all; simple-math-y 0 0 0 0; save-selected; "y.csv'
printf '1,10\n2,20\n3,30\n' >"$T/$hostile"
cp "$SAMPLES/T010K.dat" "$T/victim.dat"
# The name as the session history writes it: " and \ escaped.
quoted=$(printf '%s' "$T/$hostile" | sed 's/\\/\\\\/g; s/"/\\"/g')
cat >"$T/s.vxs" <<VXS
load "$T/victim.dat"
import "$quoted"
dump
VXS
status=0
"$CLI" "$T/s.vxs" >"$T/out" 2>"$T/err" || status=$?
expect_eq "hostile name status" "$status" 0
cmp -s "$SAMPLES/T010K.dat" "$T/victim.dat" || fail "the other file was written"
grep -qF "$hostile: 1 graph, 3 points, separator comma" "$T/err" || fail "hostile file not imported"
expect_eq "graphs" "$(grep -c '^slot ' "$T/out")" 2
[ "$(ls "$T" | wc -l)" = 5 ] || fail "files appeared: $(ls "$T")"

# A backslash before anything but " and \ is itself.
status=0
"$CLI" -c 'load "C:\data\t.dat"; info' >"$T/out" 2>"$T/err" || status=$?
expect_eq "missing file status" "$status" 1
grep -qF 'Warning: C:\data\t.dat does not exist; it was added as an empty graph' "$T/err" ||
  fail "no warning for the missing file: $(cat "$T/err")"
grep -q "1 files loaded" "$T/out" || fail "the run stopped at the missing file"
# With another failure in the same run the status stays 1.
mkdir "$T/folder"
status=0
"$CLI" -c "load \"$T/none.dat\" \"$T/folder\"" >"$T/out" 2>"$T/err" || status=$?
expect_eq "missing file and folder status" "$status" 1
rmdir "$T/folder"
# A file that is there loads without a word.
status=0
"$CLI" -c "load \"$T/victim.dat\"" >"$T/out" 2>"$T/err" || status=$?
expect_eq "present file status" "$status" 0
[ ! -s "$T/err" ] || fail "message for a file that is there: $(cat "$T/err")"

# The Slicer: refused fields write nothing and fail; a good run succeeds.
mkdir "$T/slices"
status=0
"$CLI" -c "load \"$T/victim.dat\"; slice 1 2 0 s \"\" \"$T/slices\"" 2>"$T/err" || status=$?
expect_eq "slicer without slices" "$status" 1
grep -q "The interval must be greater than 0" "$T/err" || fail "no Slicer message"
[ -z "$(ls "$T/slices")" ] || fail "slices written"
mkdir "$T/folder"
status=0
"$CLI" -c "load \"$T/folder\"; slice 1 2 0 s \"\" \"$T/slices\"" 2>"$T/err" || status=$?
expect_eq "slicer without slices after another failure" "$status" 1
rmdir "$T/folder"
status=0
"$CLI" -c "load \"$T/victim.dat\"; slice 1 3 1 s \"\" \"$T/slices\"" 2>"$T/err" || status=$?
expect_eq "slicer status" "$status" 0
expect_eq "slices" "$(ls "$T/slices" | wc -l)" 2
echo ok
