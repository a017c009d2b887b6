#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds every target and runs every test:
# the unit and end-to-end tests (also under a decimal-comma locale), the same
# tests built with AddressSanitizer and UndefinedBehaviorSanitizer, and a
# short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
jobs=$(nproc)

echo "== formatting (clang-format)"
find src tests bench fuzz \( -name '*.cpp' -o -name '*.h' \) -print0 |
  xargs -0 clang-format --dry-run --Werror

echo "== build (RelWithDebInfo, warnings are errors)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNIX_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
echo "== clang-tidy (bugprone, performance, naming; .clang-tidy)"
if ! run-clang-tidy -p build -quiet -extra-arg=-Wno-unknown-warning-option "$PWD/src/" \
  >build/clang-tidy.log 2>&1; then
  grep -E -A3 'warning:|error:' build/clang-tidy.log | head -n 200
  echo "clang-tidy found problems" >&2
  exit 1
fi
echo "== tests"
(cd build && ctest --output-on-failure -j "$jobs")
echo "== tests under LC_ALL=de_DE.UTF-8"
(cd build && LC_ALL=de_DE.UTF-8 ctest --output-on-failure -j "$jobs")

echo "== Release build (GCC, -O3, warnings are errors) and its tests"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNIX_WERROR=ON \
  -DVARNIX_BUILD_FUZZ=OFF >/dev/null
cmake --build build-release -j "$jobs"
(cd build-release && ctest --output-on-failure -j "$jobs")
echo "== install rules and the Debian package"
./scripts/check_install.sh build-release

echo "== build with AddressSanitizer and UndefinedBehaviorSanitizer (clang)"
CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNIX_SANITIZE=ON \
  -DVARNIX_WERROR=ON -DVARNIX_BUILD_BENCH=OFF -DVARNIX_BUILD_FUZZ=OFF -DVARNIX_BUILD_GUI=ON >/dev/null
cmake --build build-asan -j "$jobs"
echo "== sanitizer tests"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs")

echo "== fuzz targets (clang, libFuzzer)"
fuzz_targets=(fuzz_data_file_reader fuzz_load_path fuzz_data_file_writer fuzz_expression
  fuzz_settings_file fuzz_cli_script fuzz_import fuzz_fit_model)
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNIX_WERROR=ON \
  -DVARNIX_BUILD_BENCH=OFF -DVARNIX_BUILD_GUI=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target "${fuzz_targets[@]}"
for target in "${fuzz_targets[@]}"; do
  corpus=$(mktemp -d)
  cp fuzz/corpus/"${target#fuzz_}"/* "$corpus"/ 2>/dev/null || true
  build-fuzz/"$target" -max_total_time="${FUZZ_SECONDS:-20}" -max_len=4096 -timeout=5 \
    -rss_limit_mb=2048 "$corpus" 2>&1 | tail -n 2
  rm -rf "$corpus"
done
echo "== all tests passed"
