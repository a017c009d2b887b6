# eV<=>nm keeps the area, the series parameter from a name pattern, and the
# Measure table, through varnix-cli.
source "$(dirname "$0")/../lib.bash"

# A dense Gaussian in eV: its area in nm (trapezoids over |dx|) equals its
# area in eV within 1e-9.
python3 - "$T/g.dat" <<'PY'
import math, sys
with open(sys.argv[1], "w") as f:
    for i in range(200001):
        x = 2.0 + i * 1e-5
        f.write("%.17g %.17g\n" % (x, 1000 * math.exp(-(x - 2.5) ** 2 / (2 * 0.05 ** 2))))
PY
"$CLI" -c "load $T/g.dat; dump; ev-nm; dump; ev-nm; dump" >"$T/dump"
python3 - "$T/dump" <<'PY' || fail "ev-nm area"
import sys
blocks, cur = [], None
for line in open(sys.argv[1]):
    if line.startswith("slot "):
        cur = []; blocks.append(cur)
    elif line.startswith("count="):
        cur = None
    elif cur is not None and not line.startswith("# "):
        x, y = map(float, line.split()); cur.append((x, y))
def area(p):
    return sum((p[i - 1][1] + p[i][1]) * abs(p[i][0] - p[i - 1][0]) / 2 for i in range(1, len(p)))
ev, nm, back = blocks
assert abs(nm[0][0] - 1239.84198 / 2.0) < 1e-9, nm[0]
assert abs(area(nm) / area(ev) - 1) < 1e-9, (area(ev), area(nm))
assert all(abs(a[0] - b[0]) <= 1e-12 * abs(a[0]) and abs(a[1] - b[1]) <= 1e-9 * max(1, abs(a[1]))
           for a, b in zip(ev, back)), "ev-nm twice is not the identity"
PY

# The parameter from a name pattern.
for t in 10 20 300; do cp "$SAMPLES/T$(printf %03d $t)K.dat" "$T/run_${t}K_b7.dat"; done
"$CLI" -c "load $T/run_10K_b7.dat $T/run_20K_b7.dat $T/run_300K_b7.dat; select all;
           moments 1.9 2.6 \"run_(\\d+)K\"; moments-save 0 $T/m0.dat" >"$T/out"
expect_eq "pattern values" "$(tr -d '\r' <"$T/m0.dat" | cut -d' ' -f1 | tr '\n' ' ')" "10 20 300 "
"$CLI" -c "load $T/run_10K_b7.dat $T/run_20K_b7.dat; select all; moments 1.9 2.6;
           moments-save 0 $T/digits.dat" >/dev/null
expect_eq "digits values" "$(tr -d '\r' <"$T/digits.dat" | cut -d' ' -f1 | tr '\n' ' ')" "107 207 "
status=0
"$CLI" -c "load $T/run_10K_b7.dat; select all; slice 2 2.1 0.5 d \"\" $T 0 \"x(\\d+)y\"" \
  2>"$T/err" || status=$?
expect_eq "pattern without a match" "$status" 1
grep -q "does not give a number for run_10K_b7.dat" "$T/err" || fail "pattern message"
[ ! -e "$T/d2.Dat" ] || fail "slice written despite the refusal"
status=0
"$CLI" -c "load $T/run_10K_b7.dat; select all; moments 1.9 2.6 \"(\"" 2>"$T/err" || status=$?
expect_eq "bad pattern" "$status" 1
grep -q "is not a regular expression" "$T/err" || fail "bad pattern message"

# Measure: a triangle between its feet.
printf '0 0\r\n1 4\r\n2 0\r\n' >"$T/tri.dat"
"$CLI" -c "load $T/tri.dat; measure 0 2" >"$T/m"
expect_eq "measure row" "$(sed -n 3p "$T/m")" "$(printf 'tri.dat\t0\t0\t1\t4\t0\t0\t1\t4\t4\t1')"
echo ok
