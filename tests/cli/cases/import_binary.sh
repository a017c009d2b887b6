# Import of binary instrument files through varnix-cli: a WiRE WDF spectrum
# and map, a Thermo Galactic SPC file, a map too large for the free slots,
# and the refusal of binary formats that are not read, by name.
source "$(dirname "$0")/../lib.bash"

python3 - "$T" <<'PY'
import struct, sys
t = sys.argv[1]

def wdf(spectra, x, origins=(), title=b""):
    n, cap = len(x), len(spectra)
    h = bytearray(512)
    h[0:4] = b"WDF1"
    struct.pack_into("<Q", h, 8, 512)
    struct.pack_into("<IQQ", h, 60, n, cap, cap)
    struct.pack_into("<III", h, 84, 1, n, len(origins))
    h[240:240 + len(title)] = title
    out = bytes(h)
    body = struct.pack("<II", 1, 1) + struct.pack("<%df" % n, *x)
    out += b"XLST" + struct.pack("<IQ", 0, 16 + len(body)) + body
    if origins:
        body = struct.pack("<I", len(origins))
        for kind, values in origins:
            body += struct.pack("<II16s", kind, 5, b"pos") + struct.pack("<%dd" % cap, *values)
        out += b"ORGN" + struct.pack("<IQ", 0, 16 + len(body)) + body
    body = b"".join(struct.pack("<%df" % n, *s) for s in spectra)
    out += b"DATA" + struct.pack("<IQ", 0, 16 + len(body)) + body
    return out

open(t + "/si.wdf", "wb").write(wdf([[1, 2, 3]], [100, 200, 300], title=b"Si"))
open(t + "/map.wdf", "wb").write(
    wdf([[1, 2], [3, 4]], [10, 20], [(3, [0, 1.5]), (4, [2, 2])]))
open(t + "/big.wdf", "wb").write(wdf([[1, 2]] * 302, [10, 20]))
# SPC, new format, even x from 10 to 20, float values, no memo.
spc = bytearray(512)
spc[1] = 0x4B
spc[3] = 0x80
struct.pack_into("<Idd", spc, 4, 2, 10.0, 20.0)
sub = bytearray(32)
sub[1] = 0x80
open(t + "/s.spc", "wb").write(bytes(spc) + bytes(sub) + struct.pack("<2f", 1.5, -2))
open(t + "/x.0", "wb").write(b"\x0a\x0a\xfe\xfe\0\0\0\0")
PY

"$CLI" -c "import $T/si.wdf $T/map.wdf $T/s.spc; dump" >"$T/out" 2>"$T/err"
expect_eq "summary" "$(sed "s#$T/##" "$T/err")" \
  "si.wdf: 1 graph, 3 points, Renishaw WiRE WDF, 1 spectrum, 2 lines kept as comments
map.wdf: 2 graphs, 4 points, Renishaw WiRE WDF, 2 spectra, 2 lines kept as comments
s.spc: 1 graph, 2 points, Thermo Galactic SPC, even x"
grep -q "^slot 0 name=Si path=$T/si.dat points=3" "$T/out" || fail "wdf spectrum: $(cat "$T/out")"
grep -q "^200 2$" "$T/out" || fail "wdf x axis"
grep -q "^slot 1 name=map.wdf, x=0 y=2 path=$T/map.dat points=2" "$T/out" || fail "map name"
grep -q "^slot 2 name=map.wdf, x=1.5 y=2 " "$T/out" || fail "second map spectrum"
grep -q "^slot 3 name=s.spc path=$T/s.dat points=2" "$T/out" || fail "spc"
grep -q "^20 -2$" "$T/out" || fail "spc values"

# Saving writes beside the binary file, never over it.
cp "$T/s.spc" "$T/s.orig"
"$CLI" -c "import $T/s.spc; current 0; save" 2>/dev/null
cmp -s "$T/s.spc" "$T/s.orig" || fail "the SPC file was changed"
expect_eq "saved" "$(points "$T/s.dat" | tr '\n' '|')" "10 1.5|20 -2|"

status=0
"$CLI" -c "import $T/big.wdf $T/x.0; info; dump" >"$T/out" 2>"$T/err" || status=$?
expect_eq "status" "$status" 1
expect_eq "refusals" "$(sed "s#$T/##" "$T/err")" \
  "big.wdf: not imported: it needs 302 graph slots and only 301 of 301 are free
x.0: not imported: a Bruker OPUS file (binary), which cannot be imported; export it as text or JCAMP-DX"
grep -q "^count=0 " "$T/out" || fail "something entered the store"
