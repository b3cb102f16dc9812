#!/usr/bin/env bash
# Installs what Ordalis needs from Debian's archive and builds it.
# Usage: scripts/setup.sh [build-dir]   (run as root on Debian 12)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${1:-build}"
PACKAGES=(build-essential cmake ninja-build pkg-config libsqlite3-dev sqlite3 unixodbc-dev unixodbc
          odbc-postgresql postgresql-15 libgtest-dev googletest libbenchmark-dev libcli11-dev
          help2man clang-14 libclang-rt-14-dev llvm-14 nlohmann-json3-dev chromium)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" -j"$(nproc)"
