# import-with: settings given instead of the guess, refused settings, and a
# reload that reads the export again with the same settings.
source "$(dirname "$0")/../lib.bash"

# Three numbers in the header would start the data; the comma is a decimal
# comma between blank-separated columns.
printf '100 200\n300 400\n500 600\nnm y\n1,5 2\n2,5 3\n3,5 4\n' >"$T/h.txt"
"$CLI" -c "import-with skip=3 header=4 separator=blanks decimal=comma $T/h.txt; dump" \
  >"$T/out" 2>"$T/err"
expect_eq "summary" "$(sed "s#$T/##" "$T/err")" \
  "h.txt: 1 graph, 3 points, separator blanks, decimal comma, 4 lines kept as comments"
grep -q "^slot 0 name=y path=$T/h.dat points=3" "$T/out" || fail "settings not applied: $(cat "$T/out")"
grep -q "^2.5 3$" "$T/out" || fail "decimal comma"

# Reload reads the file again with the settings of the import.
printf '100 200\n300 400\n500 600\nnm y\n1,5 7\n2,5 8\n3,5 9\n' >"$T/h.txt"
"$CLI" -c "import-with skip=3 header=4 separator=blanks decimal=comma $T/h.txt; current 0; reload; dump" \
  >"$T/out" 2>/dev/null
grep -q "^2.5 8$" "$T/out" || fail "reload without the settings: $(cat "$T/out")"

# A bad word is named, nothing is imported and the run ends with status 1.
for words in "sep=tab" "rows=5:2" "layout=pairs" "skip=-1"; do
  status=0
  "$CLI" -c "import-with $words $T/h.txt; dump" >"$T/out" 2>"$T/err" || status=$?
  expect_eq "$words status" "$status" 1
  grep -q "\"$words\"" "$T/err" || fail "$words not named: $(cat "$T/err")"
  grep -q "^slot" "$T/out" && fail "$words: something was imported"
done
status=0
"$CLI" -c "import-with rows=1:2" 2>"$T/err" || status=$?
expect_eq "no file status" "$status" 1
grep -q "import-with needs a file after its settings" "$T/err" || fail "no file: $(cat "$T/err")"

# No settings at all: the guess, as import makes it.
"$CLI" -c "import-with $T/h.txt; dump" >"$T/with" 2>/dev/null || fail "import-with FILE failed"
"$CLI" -c "import $T/h.txt; dump" >"$T/plain" 2>/dev/null
cmp -s "$T/with" "$T/plain" || fail "import-with FILE differs from import FILE: $(diff "$T/with" "$T/plain")"

# A file whose name holds "=" after a folder is a file, not a setting.
printf '1 2\n2 3\n' >"$T/a=b.txt"
"$CLI" -c "import-with rows=2:2 $T/a=b.txt; dump" >"$T/out" 2>/dev/null
grep -q "points=1 " "$T/out" || fail "a=b.txt: $(cat "$T/out")"

# One spectrum per row: a map of 400 rows is refused with the count; rows=
# takes part of it.
python3 - "$T/map.csv" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    f.write("," + ",".join(str(500 + k) for k in range(5)) + "\n")
    for r in range(400):
        f.write("P%d," % (r + 1) + ",".join(str(r + k) for k in range(5)) + "\n")
PY
status=0
"$CLI" -c "import $T/map.csv; dump" >"$T/out" 2>"$T/err" || status=$?
expect_eq "map status" "$status" 1
expect_eq "map refusal" "$(sed "s#$T/##" "$T/err")" \
  "map.csv: not imported: it needs 400 graph slots and only 301 of 301 are free; import-with rows=FROM:TO[:STEP] takes part of the rows"
"$CLI" -c "import-with rows=10:400:100 $T/map.csv; dump" >"$T/out" 2>"$T/err"
expect_eq "map rows" "$(grep -o '^slot [0-9]* name=[^ ]*' "$T/out" | tr '\n' '|')" \
  "slot 0 name=P10|slot 1 name=P110|slot 2 name=P210|slot 3 name=P310|"
grep -q "^502 111$" "$T/out" || fail "map values: $(cat "$T/out")"

# One column: start and step given over the header's; x and y on alternate
# lines read as pairs, or as one column when asked.
printf 'Start: 1\nStep: 1\n7\n8\n9\n' >"$T/col.txt"
"$CLI" -c "import-with layout=start-step start=-2.5 step=0.5 $T/col.txt; dump" >"$T/out" 2>/dev/null
expect_eq "start and step given" "$(grep -E '^-?[0-9.]+ [0-9]+$' "$T/out" | tr '\n' '|')" \
  "-2.5 7|-2 8|-1.5 9|"
printf '380\n0.25\n381\n0.5\n382\n0.125\n383\n0.75\n' >"$T/alt.txt"
"$CLI" -c "import $T/alt.txt; dump" >"$T/out" 2>"$T/err"
grep -q "x and y on alternate lines" "$T/err" || fail "alternate lines: $(cat "$T/err")"
grep -q "points=4 " "$T/out" || fail "alternate pairs: $(cat "$T/out")"
"$CLI" -c "import-with layout=first-column-x $T/alt.txt; dump" >"$T/out" 2>/dev/null
grep -q "points=8 " "$T/out" || fail "one column asked: $(cat "$T/out")"
