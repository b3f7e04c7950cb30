#!/usr/bin/env bash
# Runs the freshly built installer on the bundled demo kit.
set -euo pipefail
build=${1:-build}
"$build/bin/qorv-setup" -Len
echo "demo: still missing before a real run: the kit reader, the copy engine and the wizard window."
