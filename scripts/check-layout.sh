#!/usr/bin/env bash
# Checks that each folder under src/ includes only headers of its own folder,
# of the folders before it, or public ones (README, "Source layout").
# Usage: scripts/check-layout.sh [source-dir]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
layers=(platform support data numbering tariffs reference call engine import demo)
status=0
for ((i = 0; i < ${#layers[@]}; i++)); do
  layer=${layers[i]}
  [[ -d src/$layer ]] || continue
  allowed="ordalis"
  for ((j = 0; j <= i; j++)); do allowed+="|${layers[j]}"; done
  # demo is not part of the library: it uses the public headers only.
  [[ $layer == demo ]] && allowed="ordalis|demo"
  while IFS= read -r line; do
    echo "layout: $line (src/$layer may include only: ${allowed//|/, })"
    status=1
  done < <(grep -rnE '^\s*#\s*include\s+"' "src/$layer" | grep -vE "#\s*include\s+\"($allowed)/" || true)
done
exit $status
