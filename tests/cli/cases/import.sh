# Import of instrument exports through varnix-cli: the layouts, the summary
# on standard error, the refusals and their exit status, saving beside the
# export, and the same spectrum as JCAMP-DX in AFFN and compressed form.
source "$(dirname "$0")/../lib.bash"

printf 'Wavelength (nm);T010K;T020K\r\n300;0,5;1,5\r\n301;0,75;2\r\n302;1;2,5\r\n' >"$T/uv.csv"
printf '# exported\n.wavelength, spc\n500,1\n501,2,\n502,3\n' >"$T/pl.csv"
"$CLI" -c "import $T/uv.csv $T/pl.csv; dump" >"$T/out" 2>"$T/err"
expect_eq "summary" "$(sed "s#$T/##" "$T/err")" \
  "uv.csv: 2 graphs, 6 points, separator semicolon, decimal comma, 1 line kept as comments
pl.csv: 1 graph, 3 points, separator comma, decimal point, 2 lines kept as comments"
grep -q "^slot 1 name=T020K path=$T/uv (2).dat points=3" "$T/out" || fail "second column"
grep -q "^301 2$" "$T/out" || fail "decimal comma"
grep -q "^slot 2 name=spc path=$T/pl.dat" "$T/out" || fail "title row"

# Saving writes beside the export, never over it.
cp "$T/uv.csv" "$T/uv.orig"
"$CLI" -c "import $T/uv.csv; current 0; save" 2>/dev/null
cmp -s "$T/uv.csv" "$T/uv.orig" || fail "the export was changed"
expect_eq "saved" "$(points "$T/uv.dat" | tr '\n' '|')" "300 0.5|301 0.75|302 1|"

# The same spectrum, plain and compressed.
head='##TITLE=film
##JCAMP-DX=5.01
##XUNITS=1/CM
##YUNITS=ABSORBANCE
##XFACTOR=1
##YFACTOR=0.001
##FIRSTX=400
##LASTX=410
##NPOINTS=11
##XYDATA=(X++(Y..Y))'
printf '%s\n400 1000 1200 1500 1500 1500\n405 2000 1800 1800 1700 1600\n410 1000\n##END=\n' \
  "$head" >"$T/affn.jdx"
printf '%s\n400A000K00L00%%T\n404A500N00k00%%j00j00o00\n410A000\n##END=\n' \
  "$head" >"$T/dif.jdx"
"$CLI" -c "import $T/affn.jdx; save-as $T/a.dat; import $T/dif.jdx; current 1; save-as $T/d.dat" \
  2>"$T/err"
cmp -s "$T/a.dat" "$T/d.dat" || fail "compressed and plain JCAMP-DX differ"
expect_eq "jcamp points" "$(points "$T/a.dat" | head -3 | tr '\n' '|')" "400 1|401 1.2|402 1.5|"
grep -q "dif.jdx: 1 graph, 11 points, JCAMP-DX 5.01, XYDATA SQZ/DIF/DUP" "$T/err" ||
  fail "jcamp layout: $(cat "$T/err")"

# Bad input: one line each, nothing enters the store, exit status 1.
: >"$T/empty.txt"
printf '\0\1\2\3binary' >"$T/blob.bin"
printf 'only\nwords here\n' >"$T/words.txt"
set +e
"$CLI" -c "import $T/empty.txt $T/blob.bin $T/words.txt $T/gone.csv; info; dump" >"$T/out" 2>"$T/err"
status=$?
set -e
expect_eq "status" "$status" "1"
expect_eq "refusals" "$(sed "s#$T/##" "$T/err")" \
  "empty.txt: not imported: the file is empty
blob.bin: not imported: not a text file (binary content)
words.txt: not imported: no rows of numbers
gone.csv: not imported: there is no such file"
grep -q "^count=0 " "$T/out" || fail "something entered the store"

# nan, inf and overflowing numbers give no point, counted in the summary; the
# saved file holds finite numbers only and loads back.
printf 'nm,a\n400,1\n401,nan\n402,inf\n403,-1e999\n404,5\n' >"$T/dark.csv"
"$CLI" -c "import $T/dark.csv; save-as $T/dark.dat; load $T/dark.dat; dump" >"$T/out" 2>"$T/err"
expect_eq "non-finite summary" "$(sed "s#$T/##" "$T/err")" \
  "dark.csv: 1 graph, 2 points, separator comma, decimal point, 1 line kept as comments, 3 values left out (nan, inf or beyond the number range)"
expect_eq "saved finite" "$(points "$T/dark.dat" | tr '\n' '|')" "400 1|404 5|"
grep -q "^slot 1 name=dark.dat path=$T/dark.dat points=2 " "$T/out" || fail "saved file not loaded"

# Twenty warnings per file, then the count of the rest: 23 columns blank in
# every row make no graph, each with a warning (8 rows: not a wide table).
{
  printf 'x'
  for k in $(seq 24); do printf ';c%s' "$k"; done
  printf '\n'
  for x in 1 2 3 4 5 6 7 8; do
    printf '%s' "$x"
    for k in $(seq 23); do printf ';'; done
    printf ';5\n'
  done
} >"$T/short.csv"
"$CLI" -c "import $T/short.csv" 2>"$T/err"
python3 - "$T/err" <<'PY' || fail "warnings cap: $(cat "$T/err")"
import sys
line = open(sys.argv[1]).read().strip()
assert line.count("; warning: ") == 20, line
assert line.endswith("; and 3 more"), line
PY

# Lines of numbers with different separators that leave no point: refused,
# naming what was found.
printf 'a;b\n;1\n;2\n;3\n1 2\n' >"$T/mixed.txt"
status=0
"$CLI" -c "import $T/mixed.txt" 2>"$T/err" || status=$?
expect_eq "mixed status" "$status" 1
expect_eq "mixed reason" "$(sed "s#$T/##" "$T/err")" \
  "mixed.txt: not imported: no points: the lines of numbers mix separators (3 lines with semicolon, 1 line with blanks; read with separator semicolon, decimal point)"

# One column in blocks under headers of their own: a graph per block, no
# header line a point; a PANalytical XRDML file by its content.
printf 'Region: C 1s\nStart: 280\nStep: 0.5\n5\n6\n7\nRegion: O 1s\n3 0 1\n8\n9\n' >"$T/blocks.txt"
"$CLI" -c "import $T/blocks.txt; dump" >"$T/out" 2>"$T/err"
expect_eq "blocks" "$(grep '^slot' "$T/out" | sed 's/ path=.* points=/ points=/; s/ mark=.*//' | tr '\n' '|')" \
  "slot 0 name=C 1s points=3|slot 1 name=O 1s points=2|"
grep -q "^281 7$" "$T/out" || fail "block x from start and step: $(cat "$T/out")"
cat >"$T/scan.data" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<xrdMeasurements xmlns="http://www.xrdml.com/XRDMeasurement/1.5"><sample><name>quartz</name></sample>
<xrdMeasurement measurementType="Scan"><scan><dataPoints>
<positions axis="2Theta" unit="deg"><startPosition>10</startPosition><endPosition>11</endPosition></positions>
<intensities unit="counts">4 8 16</intensities></dataPoints></scan></xrdMeasurement></xrdMeasurements>
XML
"$CLI" -c "import $T/scan.data; dump" >"$T/out" 2>"$T/err"
grep -q "PANalytical XRDML" "$T/err" || fail "xrdml: $(cat "$T/err")"
grep -q "^10.5 8$" "$T/out" || fail "xrdml points: $(cat "$T/out")"
