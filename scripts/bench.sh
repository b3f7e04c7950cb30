#!/usr/bin/env bash
# Speed figures of the installer's building blocks. The generated trees and
# kits stay in the build folder between runs.
set -euo pipefail
build=${1:-build}
work="$build/bench-work"
mkdir -p "$work"
for b in "$build"/bench/*_bench; do
  echo "== $(basename "$b")"
  "$b" "$work"
done
echo "== launcher file"
bash bench/launcher_time.sh "$build"
echo "== welcome page"
testing/with_xvfb.sh bench/welcome_time.sh "$build"
echo "== memory of large and hostile kit heads"
bash bench/head_memory.sh "$build"
echo "== vkt unpack against tar"
bash bench/unpack_time.sh "$build"
echo "== upgrades, and where the temporary directory is"
bash bench/upgrade_time.sh "$build"
echo "== the whole installer"
testing/with_xvfb.sh bench/install_time.sh "$build"
