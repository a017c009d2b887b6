#!/usr/bin/env bash
# DISPO smoothing and Delete point at cursor on a sample spectrum.
source "$(dirname "$0")/../lib.bash"
F=$SAMPLES/T100K.dat
"$CLI" -c "load $F; select 0; smooth; dump" >"$T/dump"
python3 - "$F" "$T/dump" <<'PY' || fail "smoothing"
import sys
w = [-0.084, 0.021, 0.103, 0.161, 0.196, 0.207, 0.196, 0.161, 0.103, 0.021, -0.084]
src = [tuple(map(float, l.split())) for l in open(sys.argv[1]) if l[:1] in "0123456789.-"]
got = [tuple(map(float, l.split())) for l in open(sys.argv[2]) if l[:1] in "0123456789.-"]
y = [p[1] for p in src]
for i, (x, v) in enumerate(got):
    if 5 <= i < len(y) - 5:
        s = 0.0
        for k in range(11):
            s += w[k] * y[i - 5 + k]
        assert v == s, (i, v, s)
    else:
        assert v == y[i]
PY
# The cursor between points 10 and 11, nearer to 11.
x10=$(points "$F" | sed -n 11p | cut -d' ' -f1)
x11=$(points "$F" | sed -n 12p | cut -d' ' -f1)
cursor=$(python3 -c "print(($x10 + 3 * $x11) / 4)")
"$CLI" -c "load $F; delete-point $cursor; dump" >"$T/dump2"
grep -q "points=$(( $(points "$F" | wc -l) - 1 )) mark=1" "$T/dump2" || fail "point count"
grep -q "^$x11 " "$T/dump2" && fail "point 11 still there"
grep -q "^$x10 " "$T/dump2" || fail "point 10 deleted"
echo ok
