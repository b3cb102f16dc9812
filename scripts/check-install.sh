#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and checks what a host gets:
# the shared library exports only names of the public API, the example builds
# against the installed CMake package and the pkg-config file, and rates a
# call of a demo installation to the cost the installed host gives for it.
# Usage: scripts/check-install.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="$(realpath "${1:-build}")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$BUILD_DIR" --prefix "$prefix" >/dev/null

lib="$(find "$prefix" -name 'libordalis.so.*.*' | head -1)"
[[ -n $lib ]] || { echo "install: no libordalis.so.X.Y.Z under $prefix" >&2; exit 1; }
readelf -d "$lib" | grep -q 'SONAME.*libordalis\.so\.[0-9]' || { echo "install: $lib has no SONAME" >&2; exit 1; }
stray="$(nm -DC --defined-only "$lib" | grep -v ' ordalis::' || true)"
[[ -z $stray ]] || { echo "install: symbols outside the public API are exported:" >&2; echo "$stray" >&2; exit 1; }
for f in bin/ordalis include/ordalis/clsChiamate.h include/ordalis/RateCall.h share/man/man1/ordalis.1; do
  [[ -s $prefix/$f ]] || { echo "install: $f missing" >&2; exit 1; }
done

cmake -S examples -B "$work/example" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/example" >/dev/null
pc_dir="$(dirname "$(find "$prefix" -name ordalis.pc)")"
# shellcheck disable=SC2046
g++ -o "$work/rate_call_pc" examples/rate_call.cpp $(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs ordalis) \
  -Wl,-rpath,"$(dirname "$lib")"

export ORDALIS_HOME="$work/demo" ORDALIS_REGISTRY="$work/demo/registry.reg"
"$prefix/bin/ordalis" demo --dir "$work/demo" --calls 0 >/dev/null 2>&1
call=("$work/demo/ordalis.db" MI 200 0612345678 "2024-01-15 10:00:00" 120)
expected="$("$prefix/bin/ordalis" run --db "${call[0]}" --site MI --extension 200 --number 0612345678 \
  --date 2024-01-15 --time 10:00:00 --duration 120 | awk '$1 == "cCosto1_c" { print $2 }')"
for program in "$work/example/rate_call" "$work/rate_call_pc"; do
  out="$("$program" "${call[@]}")"
  echo "example: $out"
  [[ $out == "cost $expected "* && $expected != 0 ]] || { echo "install: expected cost $expected" >&2; exit 1; }
done
echo "install: ok"
