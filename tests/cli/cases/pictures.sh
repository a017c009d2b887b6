# Pictures drawn by varnix-cli: the graphs as Export picture draws them after
# Rescale, in the size asked for, PNG, SVG or PDF by the extension.
source "$(dirname "$0")/../lib.bash"

run_cli() {
  local want=$1 status=0
  shift
  timeout 60 "$CLI" "$@" >"$T/out" 2>"$T/err" || status=$?
  [ "$status" = "$want" ] || fail "status $status, expected $want for: $* ($(cat "$T/err"))"
}

# A straight line from (1000, 2000) to (1100, 2500): the axes must carry the
# data's numbers, not those of an empty chart.
python3 -c "
for i in range(101):
    print(f'{1000 + i} {2000 + 5 * i}', end='\r\n')
" >"$T/line.dat"
run_cli 0 -c "load $T/line.dat; picture $T/a.svg; picture $T/b.png 640 480; picture $T/c.PDF 300 200"
python3 - "$T/a.svg" <<'PY' || fail "the SVG's tick labels are not those of the data"
import re, sys
labels = [float(t) for t in re.findall(r'>(-?[0-9.]+)<', open(sys.argv[1]).read())]
xs = [v for v in labels if 1000 <= v <= 1100]
ys = [v for v in labels if 2000 <= v <= 2500 and v not in xs]
sys.exit(0 if len(xs) >= 3 and len(ys) >= 3 and not [v for v in labels if -1 <= v <= 1] else 1)
PY
head -c 8 "$T/b.png" | od -An -tx1 | grep -q '89 50 4e 47' || fail "not a PNG"
python3 - "$T/b.png" <<'PY' || fail "PNG size"
import struct, sys
d = open(sys.argv[1], 'rb').read(24)
w, h = struct.unpack('>II', d[16:24])
sys.exit(0 if (w, h) == (640, 480) else 1)
PY
head -c 5 "$T/c.PDF" | grep -q '%PDF-' || fail "not a PDF"

# The curve is drawn: a picture with the line has many more dark pixels than
# one of a store without graphs.
run_cli 0 -c "picture $T/empty.png 640 480"
python3 - "$T/b.png" "$T/empty.png" <<'PY' || fail "no curve in the PNG"
import sys, zlib, struct
def dark(path):
    data = open(path, 'rb').read()
    pos, idat, w, h, ct = 8, b'', 0, 0, 0
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b'IHDR':
            w, h, _, ct = struct.unpack('>IIBB', body[:10])
        elif kind == b'IDAT':
            idat += body
        pos += 12 + n
    bpp = {2: 3, 6: 4}[ct]
    raw, stride, prev, count = zlib.decompress(idat), w * bpp, bytearray(w * bpp), 0
    for r in range(h):
        f, line = raw[r * (stride + 1)], bytearray(raw[r * (stride + 1) + 1:(r + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            p = a + b - c
            pred = [0, a, b, (a + b) // 2, a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else (b if abs(p - b) <= abs(p - c) else c)][f]
            line[i] = (line[i] + pred) & 255
        for x in range(w):
            px = line[x * bpp:x * bpp + 3]
            if (bpp == 4 and line[x * bpp + 3] == 0):
                continue
            if max(px) < 80:
                count += 1
        prev = line
    return count
sys.exit(0 if dark(sys.argv[1]) > dark(sys.argv[2]) + 150 else 1)
PY

# Refusals: a size out of range or given half, a folder in the way.
run_cli 1 -c "load $T/line.dat; picture $T/d.png 10 10"
grep -q "whole numbers from 16 to 20000" "$T/err" || fail "size refusal"
run_cli 1 -c "load $T/line.dat; picture $T/d.png 640"
mkdir "$T/taken.png"
run_cli 1 -c "load $T/line.dat; picture $T/taken.png; info"
grep -qx "Could not write $T/taken.png: Is a directory" "$T/err" ||
  fail "unwritable picture: $(cat "$T/err")"
grep -q "files loaded" "$T/out" || fail "the run did not go on after the unwritable picture"

# Pictures are written as data files are: a FIFO at the name is refused at
# once (no reader waits for it), a read-only file is kept, and a picture
# killed while it is written leaves the old file and nothing else.
mkfifo "$T/fifo.png"
run_cli 1 -c "load $T/line.dat; picture $T/fifo.png; info"
grep -qx "Could not write $T/fifo.png: not a regular file" "$T/err" || fail "FIFO: $(cat "$T/err")"
printf 'old' >"$T/ro.svg"
chmod 444 "$T/ro.svg"
run_cli 1 -c "load $T/line.dat; picture $T/ro.svg"
grep -qx "Could not write $T/ro.svg: Existing file $T/ro.svg is not writable" "$T/err" ||
  fail "read-only picture: $(cat "$T/err")"
expect_eq "read-only picture kept" "$(cat "$T/ro.svg")" old
if command -v strace >/dev/null; then
  mkdir "$T/kill"
  printf 'old' >"$T/kill/k.png"
  status=$({
    strace -f -o /dev/null -e trace=pwrite64 -e inject=pwrite64:signal=KILL:when=1 \
      env ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
      "$CLI" -c "load $T/line.dat; picture $T/kill/k.png 2000 2000" >/dev/null 2>&1
    echo $?
  } 2>/dev/null)
  [ "$status" != 0 ] || fail "the picture was not killed"
  expect_eq "killed picture" "$(cat "$T/kill/k.png")" old
  expect_eq "left beside the killed picture" "$(ls -A "$T/kill")" k.png
fi
echo "pictures: ok"
