#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Varnix and starts it on the
# bundled sample spectra. Extra arguments are passed to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
if [ -x build/varnix ]; then
  # Started in the samples folder with the first spectrum loaded: Add Files
  # (key A) opens there, so "Add All" and OK bring in the whole series.
  cd data/samples
  if [ $# -eq 0 ]; then set -- T010K.dat; fi
  exec ../../build/varnix "$@"
fi
# Until the desktop program is built: load every sample with the batch runner
# and show what the workspace holds.
files=(data/samples/*.dat)
build/varnix-cli -c "load ${files[*]}; info; moments 1.2 3.2" | awk -F'\t' '
  NR == 1 { print; next }
  NR == 2 { print "frame " $0; printf "%-22s %6s %12s %10s %10s %10s\n", "graph", "value", "M0", "M1", "D", "A"; next }
  { printf "%-22s %6s %12s %10s %10s %10s\n", $1, $2, $3, $4, $5, $6 }'
