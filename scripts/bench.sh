#!/usr/bin/env bash
# Speed figures of the installer's building blocks.
set -euo pipefail
build=${1:-build}
for b in "$build"/bench/*_bench; do
  [[ -x "$b" ]] && "$b"
done
