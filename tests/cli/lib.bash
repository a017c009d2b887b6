# Helpers for the end-to-end scripts: $CLI is varnix-cli, $ROOT the source
# tree, $T a fresh temporary folder.
set -euo pipefail
CLI=$1
ROOT=$2
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
SAMPLES=$ROOT/data/samples

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# expect_eq NAME ACTUAL EXPECTED
expect_eq() {
  if [ "$2" != "$3" ]; then
    printf 'FAIL: %s\n--- actual\n%s\n--- expected\n%s\n' "$1" "$2" "$3" >&2
    exit 1
  fi
}

# The points of a file's data lines, as awk reads them.
points() { tr -d '\r' <"$1" | awk '$1 ~ /^[-0-9.]/'; }
