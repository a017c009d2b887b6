#!/usr/bin/env bash
# Rename then Save writes the new path and leaves the old file alone; the
# written file has CR LF lines and 7 significant digits; Save As adds .dat;
# a failed save keeps the old file and says so.
source "$(dirname "$0")/../lib.bash"
cp "$SAMPLES/T050K.dat" "$T/a.dat"
"$CLI" -c "load $T/a.dat; rename b.dat; save; save-as $T/c; dump" >"$T/dump"
cmp -s "$SAMPLES/T050K.dat" "$T/a.dat" || fail "a.dat changed"
[ -f "$T/b.dat" ] || fail "b.dat not written"
[ -f "$T/c.dat" ] || fail "c.dat not written"
grep -q "^slot 0 name=b.dat path=$T/b.dat points=1999 mark=0$" "$T/dump" || fail "renamed slot"
[ "$(grep -c $'\r$' "$T/b.dat")" = "$(wc -l <"$T/b.dat")" ] || fail "not CR LF"
python3 - "$SAMPLES/T050K.dat" "$T/b.dat" <<'PY' || fail "written values"
import sys
def fmt(v):
    if v == 0: return "0"
    t = "%.7g" % v
    if "e" in t:
        m, e = t.split("e")
        return "%sE%d" % (m, int(e))
    return t
src = [l.split() for l in open(sys.argv[1]) if l[:1] in "0123456789.-"]
out = open(sys.argv[2], newline="").read().split("\r\n")
assert out[0] == '"PL spectrum, sample A-17, T = 50 K', out[0]
body = [l for l in out[2:] if l]
assert body == ["%s %s" % (fmt(float(x)), fmt(float(y))) for x, y in src], body[:3]
PY
# A folder in the way: the save fails, the message names it, nothing is lost,
# the run goes on and ends with status 1.
mkdir "$T/folder.dat"
status=0
"$CLI" -c "load $T/a.dat; save-as $T/folder.dat; info" >"$T/out" 2>"$T/err" || status=$?
expect_eq "failed save status" "$status" 1
grep -q "folder.dat" "$T/err" || fail "no message for the failed save"
grep -q "files loaded" "$T/out" || fail "the run stopped at the failed save"
[ -d "$T/folder.dat" ] || fail "folder replaced"
# Save Selected writes the selected graphs only and deselects them.
cp "$SAMPLES/T010K.dat" "$T/x.dat"; cp "$SAMPLES/T020K.dat" "$T/y.dat"
"$CLI" -c "load $T/x.dat $T/y.dat; select 1; filin; save-selected; undo; dump" >"$T/dump2"
python3 - "$T/y.dat" <<'PY' || fail "save-selected content"
import sys
ys = [float(l.split()[1]) for l in open(sys.argv[1]) if l[:1] in "0123456789.-"]
assert min(ys) >= 1.0
PY
cmp -s "$SAMPLES/T010K.dat" "$T/x.dat" || fail "unselected graph written"
echo ok
