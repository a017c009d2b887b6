#!/usr/bin/env bash
# Times one varnix-cli run that fits 41 spectra (2000 points each, two
# pseudo-Voigt peaks on a linear baseline, unweighted) against cfityk doing
# the same fits from the same starts, and checks that both reach the same
# chi-square. Usage: bench/fit_series_vs_fityk.sh [VARNIX_CLI] (default
# build/varnix-cli); needs python3 and cfityk (Debian package fityk).
set -euo pipefail
cd "$(dirname "$0")/.."
CLI=${1:-build/varnix-cli}
command -v cfityk >/dev/null || { echo "cfityk not found (apt install fityk)" >&2; exit 1; }
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
python3 - "$T" "$(realpath "$CLI")" <<'PY'
import math, os, random, resource, subprocess, sys, time
d, cli = sys.argv[1], sys.argv[2]
random.seed(21)

def pv(x, h, c, w, e):
    g = math.exp(-4 * math.log(2) * (x - c) ** 2 / w ** 2)
    return h * (e / (1 + 4 * (x - c) ** 2 / w ** 2) + (1 - e) * g)

files = []
for k in range(41):
    name = os.path.join(d, "T%03dK.dat" % (10 + 7 * k))
    with open(name, "w") as f:
        for i in range(2000):
            x = 1.8 + i * 0.0005
            y = (50 + 20 * x + pv(x, 1000 - 10 * k, 2.2 + 0.001 * k, 0.05 + 0.0005 * k, 0.3)
                 + pv(x, 400, 2.45 - 0.001 * k, 0.08, 0.6) + random.gauss(0, 5))
            f.write("%.6f %.6f\n" % (x, y))
    files.append(name)

formula = "a + b*x + pvoigt(x,h1,c1,w1,e1) + pvoigt(x,h2,c2,w2,e2)"
starts = "a=0 b=0 h1=900 c1=2.21 w1=0.06 e1=0.5 h2=300 c2=2.44 w2=0.1 e2=0.5"
vx = os.path.join(d, "series.vxs")
with open(vx, "w") as f:
    f.write("load " + " ".join(files) + "\nselect all\n")
    f.write('fit "%s" 1.8 2.8 %s\n' % (formula, starts))
fk = os.path.join(d, "series.fit")
with open(fk, "w") as f:
    f.write("set default_sigma = one\n")
    for name in files:
        f.write("@+ < '%s'\n" % name)
    for n in range(len(files)):
        f.write("@%d: F = Linear(a0=~0, a1=~0) + PseudoVoigt(height=~900, center=~2.21, "
                "hwhm=~0.03, shape=~0.5) + PseudoVoigt(height=~300, center=~2.44, hwhm=~0.05, "
                "shape=~0.5)\n" % n)
    f.write("@*: fit\n")

def run(cmd):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t = time.perf_counter()
    out = subprocess.run(cmd, capture_output=True, text=True, check=True).stdout
    wall = time.perf_counter() - t
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, out

best = {}
for _ in range(5):
    for tool, cmd in (("varnix-cli", [cli, vx]), ("cfityk", ["cfityk", "-n", "-q", "-I", fk])):
        wall, cpu, out = run(cmd)
        if tool not in best or wall < best[tool][0]:
            best[tool] = (wall, cpu, out)

vchi = [float(w.split("=")[1]) for line in best["varnix-cli"][2].splitlines()
        for w in line.split() if w.startswith("chi2=")]
fchi = [float(line.split()[1]) for line in best["cfityk"][2].splitlines()
        if line.startswith("WSSR:")]
print("41 fits of 2000 points, best of 5 runs")
for tool in ("varnix-cli", "cfityk"):
    print("%-10s wall %7.3f s   cpu %7.3f s" % (tool, best[tool][0], best[tool][1]))
print("ratio varnix-cli / cfityk (wall): %.2f" % (best["varnix-cli"][0] / best["cfityk"][0]))
print("converged fits: varnix-cli %d of 41" % best["varnix-cli"][2].count("status=converged"))
if len(fchi) == len(vchi) == 41:
    worst = max(abs(a - b) / b for a, b in zip(vchi, fchi))
    print("largest relative chi-square difference (fityk prints 6 digits): %.2g" % worst)
PY
