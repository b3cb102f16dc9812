#!/usr/bin/env bash
# Installs, builds and runs the main job of the command-line host.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
if build/host/ordalis demo --help >/dev/null 2>&1; then
  build/host/ordalis demo "$@"
else
  build/host/ordalis --version
  build/host/ordalis --help
fi
