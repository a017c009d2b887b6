#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds every target and runs every test:
# formatting, one optimised build (GCC -O3, warnings are errors) with
# clang-tidy over its sources, the unit, desktop and end-to-end tests in the C
# locale and under a decimal-comma locale, the install rules and the package,
# one clang build with AddressSanitizer and UndefinedBehaviorSanitizer that
# runs the tests again and holds the fuzz targets, and a short run of each
# fuzz target. Prints the time of every stage and the slowest tests at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
jobs=$(nproc)

stage_names=()
stage_seconds=()
stage_start=$SECONDS
current_stage=""
# Starts the next stage; the one before it is timed.
stage() {
  if [ -n "$current_stage" ]; then
    stage_names+=("$current_stage")
    stage_seconds+=($((SECONDS - stage_start)))
  fi
  current_stage=$1
  stage_start=$SECONDS
  [ -n "$1" ] && echo "== $1"
  return 0
}
report_times() {
  stage ""
  echo "== time per stage (seconds)"
  local total=0 i
  for i in "${!stage_names[@]}"; do
    printf '%6d  %s\n' "${stage_seconds[$i]}" "${stage_names[$i]}"
    total=$((total + stage_seconds[i]))
  done
  printf '%6d  %s\n' "$total" "total, set-up excluded"
}
# The ten slowest tests of a build folder's last run.
slowest_tests() {
  local costs=$1/Testing/Temporary/CTestCostData.txt
  [ -f "$costs" ] || return 0
  echo "-- ten slowest tests (seconds):"
  awk 'NF == 3 { printf "%8.2f  %s\n", $3, $1 }' "$costs" | sort -rn | head -n 10
}

stage "formatting (clang-format)"
find src tests bench fuzz \( -name '*.cpp' -o -name '*.h' \) -print0 |
  xargs -0 clang-format --dry-run --Werror

stage "build (Release, GCC -O3, warnings are errors)"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNIX_WERROR=ON \
  -DVARNIX_BUILD_FUZZ=OFF >/dev/null
cmake --build build-release -j "$jobs"

stage "clang-tidy (bugprone, performance, naming; .clang-tidy)"
# The build's compile commands without GCC's precompiled headers, which clang
# cannot read: every source is checked with the includes it names itself.
mkdir -p build-release/tidy
python3 - <<'EOF_PY'
import json, re
commands = json.load(open("build-release/compile_commands.json"))
for c in commands:
    c["command"] = re.sub(r" -Winvalid-pch| -include \S*cmake_pch\.hxx", "", c["command"])
json.dump(commands, open("build-release/tidy/compile_commands.json", "w"), indent=1)
EOF_PY
if ! run-clang-tidy -j "$jobs" -p build-release/tidy -quiet -extra-arg=-Wno-unknown-warning-option \
  "$PWD/src/" >build-release/clang-tidy.log 2>&1; then
  grep -E -A3 'warning:|error:' build-release/clang-tidy.log | head -n 200
  echo "clang-tidy found problems" >&2
  exit 1
fi

stage "tests"
(cd build-release && ctest --output-on-failure -j "$jobs")
slowest_tests build-release
stage "tests under LC_ALL=de_DE.UTF-8"
(cd build-release && LC_ALL=de_DE.UTF-8 ctest --output-on-failure -j "$jobs")

stage "install rules and the Debian package"
./scripts/check_install.sh build-release

stage "build with AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz targets (clang)"
CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNIX_SANITIZE=ON \
  -DVARNIX_WERROR=ON -DVARNIX_BUILD_BENCH=OFF -DVARNIX_BUILD_FUZZ=ON -DVARNIX_BUILD_GUI=ON >/dev/null
cmake --build build-asan -j "$jobs"

stage "sanitizer tests"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs")
slowest_tests build-asan

stage "fuzz targets (libFuzzer, $jobs at a time)"
fuzz_targets=(fuzz_data_file_reader fuzz_load_path fuzz_data_file_writer fuzz_expression
  fuzz_settings_file fuzz_cli_script fuzz_import fuzz_fit_model)
fuzz_logs=$(mktemp -d)
trap 'rm -rf "$fuzz_logs"' EXIT
# Runs one target for its time on a copy of its corpus; its last lines are
# printed in order once all have run.
fuzz_one() {
  local target=$1 corpus
  corpus=$(mktemp -d)
  cp fuzz/corpus/"${target#fuzz_}"/* "$corpus"/ 2>/dev/null || true
  local status=0
  build-asan/"$target" -max_total_time="${FUZZ_SECONDS:-20}" -max_len=4096 -timeout=5 \
    -rss_limit_mb=2048 "$corpus" >"$fuzz_logs/$target.log" 2>&1 || status=$?
  rm -rf "$corpus"
  echo "$status" >"$fuzz_logs/$target.status"
}
export -f fuzz_one
export fuzz_logs FUZZ_SECONDS
printf '%s\n' "${fuzz_targets[@]}" | xargs -P "$jobs" -I{} bash -c 'fuzz_one {}'
fuzz_failed=0
for target in "${fuzz_targets[@]}"; do
  echo "-- $target"
  if [ "$(cat "$fuzz_logs/$target.status")" != 0 ]; then
    tail -n 40 "$fuzz_logs/$target.log"
    fuzz_failed=1
  else
    tail -n 2 "$fuzz_logs/$target.log"
  fi
done
[ "$fuzz_failed" = 0 ] || {
  echo "a fuzz target failed" >&2
  exit 1
}

report_times
echo "== all tests passed"
