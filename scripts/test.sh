#!/usr/bin/env bash
# Installs, builds and runs every test (SQLite and PostgreSQL through ODBC).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
cd build
ctest --output-on-failure -j2 --timeout 600
cd ..
# The installed package, as a host embedding the library sees it.
scripts/check-install.sh build
