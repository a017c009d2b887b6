#!/usr/bin/env bash
# Normalize, Filin, Remove constant shelf, Ln, Exp, eV<=>A and Undo on the
# sample spectra, checked against an independent computation.
source "$(dirname "$0")/../lib.bash"
F1=$SAMPLES/T010K.dat; F2=$SAMPLES/T300K.dat
run() { "$CLI" -c "load $F1 $F2; $1; dump"; }
check() { # NAME SCRIPT PYTHON-EXPRESSION-FOR-(slot, x, y, all)
  run "$2" >"$T/dump" || fail "$1 failed"
  python3 - "$F1" "$F2" "$T/dump" "$3" <<'PY' || fail "$1"
import math, sys
def read(p):
    return [tuple(map(float, l.split())) for l in open(p) if l[:1] in "0123456789.-"]
orig = [read(sys.argv[1]), read(sys.argv[2])]
slots, cur = [], None
for line in open(sys.argv[3]):
    if line.startswith("slot "):
        cur = []; slots.append(cur)
    elif line[:1] in "0123456789.-" and cur is not None and not line.startswith("count="):
        cur.append(tuple(map(float, line.split())))
expect = eval(sys.argv[4])
for s in range(2):
    want = expect(s, orig)
    got = slots[s]
    assert len(got) == len(want), (s, len(got), len(want))
    for (gx, gy), (wx, wy) in zip(got, want):
        assert math.isclose(gx, wx, rel_tol=1e-14, abs_tol=1e-300), (s, gx, wx)
        assert math.isclose(gy, wy, rel_tol=1e-14, abs_tol=1e-300), (s, gy, wy)
PY
}
M='max(y for g in o for _, y in g)'
check normalize "select 1; normalize" "lambda s, o: [(x, y * $M / max(v for _, v in o[1])) if s == 1 else (x, y) for x, y in o[s]]"
check filin "select all; filin" "lambda s, o: [(x, max(y, 1.0)) for x, y in o[s]]"
check shelf "select none; current 1; remove-shelf" "lambda s, o: [(x, y - (min(v for _, v in o[1]) if s == 1 else 0)) for x, y in o[s]]"
check ln-exp "select all; filin; ln; exp" "lambda s, o: [(x, math.exp(math.log(max(y, 1.0)))) for x, y in o[s]]"
check ev-a "select 0 1; ev-a" "lambda s, o: [(1 / (x * 8.065544e-5), y) for x, y in o[s]]"
check undo "select all; normalize; filin; undo" "lambda s, o: [(x, y * $M / max(v for _, v in o[s])) for x, y in o[s]]"
# Ln of a spectrum with a zero stops with the error and exit status 1.
printf '1 1\r\n2 0\r\n3 2\r\n' >"$T/z.dat"
if "$CLI" -c "load $T/z.dat; select 0; ln" 2>"$T/err" >/dev/null; then fail "ln of 0 succeeded"; fi
expect_eq "ln message" "$(cat "$T/err")" "Floating point division by zero."
echo ok
