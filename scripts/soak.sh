#!/bin/bash
# Kill-at-random soak: scripts/soak.sh RUNS [sqlite|postgres] [KILLS_PER_RUN] [CALLS]
# Rates a generated installation, SIGKILLs the rating at random instants,
# resumes, and compares every row and statistics table with an undisturbed
# run. Builds build/ when needed.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
backend=${2:-sqlite}
case "$backend" in
  sqlite|postgres) ;;
  *) echo "usage: scripts/soak.sh RUNS [sqlite|postgres] [KILLS_PER_RUN] [CALLS]" >&2; exit 2 ;;
esac
[ -d build ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target kill_soak ordalis_host >/dev/null
# The soak runs a copy of the binary, so that a rebuild meanwhile does not disturb it.
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
cp build/host/ordalis "$bin/ordalis"
ORDALIS_BINARY="$bin/ordalis" build/tests/kill_soak "$runs" "$backend" "${3:-3}" "${4:-3000}"
