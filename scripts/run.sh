#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Varnix and starts it on the
# bundled sample spectra. A data file named as argument is loaded instead.
set -euo pipefail
start_dir=$PWD
cd "$(dirname "$0")/.."
top=$PWD
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
if [ $# -gt 0 ]; then
  # Paths given by the user are taken from the folder the script was run in.
  case $1 in
    /*) file=$1 ;;
    *) file=$start_dir/$1 ;;
  esac
  cd "$start_dir"
  exec "$top/build/varnix" "$file"
fi
# Started in the samples folder with the first spectrum loaded: Add Files
# (key A) opens there, so "Add All" and OK bring in the whole series.
cd data/samples
exec "$top/build/varnix" T010K.dat
