#!/usr/bin/env bash
# Runs every benchmark area's comparison (ours beside the well-known tool, in
# one run) and prints the ratios. Not run by CI: this machine's speed drifts,
# so only ratios measured in the same run mean anything.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${TEVRAK_BUILD_DIR:-$here/../build}
for script in "$here"/*/compare.sh; do
  echo "== $(basename "$(dirname "$script")")"
  TEVRAK_BUILD_DIR=$build "$script" || echo "   (failed: $script)"
done
