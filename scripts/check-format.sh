#!/usr/bin/env bash
# Fails when a C++ file git tracks is not as clang-format writes it; names
# each such place. `clang-format -i FILE` mends one.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh clang-format
git ls-files -z '*.cc' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "format: every C++ file is as clang-format writes it"
