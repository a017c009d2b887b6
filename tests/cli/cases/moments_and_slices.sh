#!/usr/bin/env bash
# Calculate Moments, the moment files and the Slicer on the temperature
# series, against a trapezoid computation in Python.
source "$(dirname "$0")/../lib.bash"
files=$(ls "$SAMPLES"/T*K.dat | tr '\n' ' ')
"$CLI" -c "load $files; select all; moments 1.9 2.6; moments-save 0 $T/m0.dat; moments-save 2 $T/d" >"$T/out"
python3 - "$T/out" $files <<'PY' || fail "moments"
import math, sys
def read(p):
    return [tuple(map(float, l.split())) for l in open(p) if l[:1] in "0123456789.-"]
def walk(pts, k, c, L, U):
    s = 0.0
    for i in range(1, len(pts)):
        (x0, y0), (x1, y1) = pts[i - 1], pts[i]
        if x1 >= L:
            s += ((x0 + x1) / 2 - c) ** k * (y0 + y1) * abs(x1 - x0) * 0.5
        if x1 > U:
            break
    return s
lines = open(sys.argv[1]).read().splitlines()
assert lines[0] == "1.9 2.6", lines[0]
for path, line in zip(sys.argv[2:], lines[1:]):
    name, value, m0, m1, d, a = line.split("\t")
    pts = read(path)
    L, U = 1.9, 2.6
    M0 = walk(pts, 0, 0, L, U)
    M1 = walk(pts, 1, 0, L, U) / M0
    D = math.sqrt(walk(pts, 2, M1, L, U) / M0)
    A = walk(pts, 3, M1, L, U) / M0 / D ** 3
    assert name == path.split("/")[-1]
    assert value == "".join(ch for ch in name if ch.isdigit()), value
    for text, want in ((m0, M0), (m1, M1), (d, D), (a, A)):
        assert math.isclose(float(text), want, rel_tol=2e-6), (name, text, want)
PY
[ "$(wc -l <"$T/m0.dat")" = 12 ] || fail "m0 file lines"
expect_eq "m0 first line" "$(head -n 1 "$T/m0.dat" | tr -d '\r')" "010 $(sed -n 2p "$T/out" | cut -f3)"
expect_eq "d file" "$(tr -d '\r' <"$T/d.dat" | cut -d' ' -f2 | head -n 3)" "$(sed -n 2,4p "$T/out" | cut -f5)"
# Normalize integral: every selected spectrum gets the largest area of the
# selection in the frame; the unselected one keeps its own.
"$CLI" -c "load $files; select 0 3 5; moments 1.9 2.6; normalize-integral 1.9 2.6; select 0 1 3 5; moments 1.9 2.6" >"$T/ni"
python3 - "$T/ni" <<'PY' || fail "normalize integral"
import math, sys
lines = open(sys.argv[1]).read().splitlines()
before = [float(l.split("\t")[2]) for l in lines[1:4]]
after = {l.split("\t")[0]: float(l.split("\t")[2]) for l in lines[5:9]}
target = max(before)
names = [l.split("\t")[0] for l in lines[1:4]]
for n in names:
    assert math.isclose(after[n], target, rel_tol=1e-6), (n, after[n], target)
other = [n for n in after if n not in names][0]
assert not math.isclose(after[other], target, rel_tol=1e-3), other
PY
# Slices 1.5 .. 3.0 in steps of 0.25 with an empty suffix.
"$CLI" -c "load $files; slice 1.5 3 0.25 s \"\" $T" || fail "slice"
expect_eq "slice files" "$(cd "$T" && ls s*.Dat | sort -V | tr '\n' ' ')" "s2.Dat s3.Dat "
python3 - "$T" $files <<'PY' || fail "slice values"
import math, sys, os
def read(p):
    return [tuple(map(float, l.split())) for l in open(p) if l[:1] in "0123456789.-"]
def sv(pts, p, w):
    s = 0.0
    for i in range(1, len(pts)):
        (x0, y0), (x1, y1) = pts[i - 1], pts[i]
        if x1 >= p:
            s += (y0 + y1) * abs(x1 - x0) * 0.5
        if x1 > p + w:
            break
    return s
# Windows 1.5, 1.75, 2.0 and 2.25 round to 2 (the last wins); 2.5 and 2.75
# to 2 and 3; the file s2 holds window 2.5, s3 window 2.75.
for name, p in (("s2.Dat", 2.5), ("s3.Dat", 2.75)):
    rows = open(os.path.join(sys.argv[1], name), newline="").read().split("\r\n")[:-1]
    assert len(rows) == 12
    for row, path in zip(rows, sys.argv[2:]):
        value, area = row.split(" ")
        assert value == "".join(c for c in path.split("/")[-1] if c.isdigit())
        assert math.isclose(float(area), sv(read(path), p, 0.25), rel_tol=1e-6), (row, path)
PY
echo ok
