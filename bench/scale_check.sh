#!/usr/bin/env bash
# Loads and imports two-column files of 10^3 to 10^7 points (10^8 with
# --large: about 2 GB of text and 3 GB of memory) with varnix-cli and prints,
# per size, the CPU time per point and the peak memory per point of each, so a
# step (a reservation run short, a copy that appears at some size) shows as
# a jump in a column. Usage: bench/scale_check.sh [--large] [VARNIX_CLI]
# (default build/varnix-cli).
set -euo pipefail
cd "$(dirname "$0")/.."
top=7
if [ "${1:-}" = "--large" ]; then
  top=8
  shift
fi
CLI=$(realpath "${1:-build/varnix-cli}")
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
# CPU seconds (user + system: the machine may be busy) and peak kB.
measure() {
  /usr/bin/time -f "%U %S %M" "$CLI" -c "$1" 2>&1 >/dev/null | tail -1 |
    awk '{ print $1 + $2, $3 }'
}
# The process with nothing loaded: its time and memory are taken off.
read -r base_s base_kb <<<"$(measure "info")"
printf "%12s %12s %12s %12s %12s\n" points "load ns/pt" "load B/pt" "import ns/pt" "import B/pt"
for ((k = 3; k <= top; ++k)); do
  n=$((10 ** k))
  f="$T/n$k.dat"
  # x grows in steps of 0.001 with up to 7 digits; y repeats a pattern.
  awk -v n="$n" 'BEGIN { for (i = 0; i < n; ++i) printf "%.3f %.4f\r\n", 1 + i * 0.001, 1000 + (i % 977) * 0.123457 }' >"$f"
  cp "$f" "$T/n$k.csv"
  read -r ls lkb <<<"$(measure "load $f; info")"
  read -r is ikb <<<"$(measure "import $T/n$k.csv; info")"
  awk -v n="$n" -v ls="$ls" -v lkb="$lkb" -v is="$is" -v ikb="$ikb" -v bs="$base_s" -v bkb="$base_kb" \
    'BEGIN { printf "%12d %12.1f %12.1f %12.1f %12.1f\n", n, (ls - bs) * 1e9 / n, (lkb - bkb) * 1024 / n, (is - bs) * 1e9 / n, (ikb - bkb) * 1024 / n }'
  rm -f "$f" "$T/n$k.csv"
done
