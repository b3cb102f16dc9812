#!/usr/bin/env bash
# Installs, builds and runs every test (SQLite and PostgreSQL through ODBC),
# then the same tests built with AddressSanitizer and UndefinedBehaviorSanitizer
# (build-sanitize/) and a short run of each fuzz target (build-fuzz/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
(cd build && ctest --output-on-failure -j2 --timeout 600)
# The installed package, as a host embedding the library sees it.
scripts/check-install.sh build
scripts/sanitize.sh build-sanitize
scripts/fuzz.sh "${ORDALIS_FUZZ_SECONDS:-20}" build-fuzz
