#!/usr/bin/env bash
# Packs the demo kit beside the freshly built installer and runs it on the
# user's display. Extra arguments go to the installer (make demo ARGS=-Lru).
set -euo pipefail
build=${1:-build}
shift || true
bash demo/make_demo_kit.sh "$build/bin/vkt" "$build/bin/qorv.vkt" >/dev/null
ln -sf bin/qorv-setup "$build/qorv-setup"
ln -sf bin/qorv.vkt "$build/qorv.vkt"
echo "demo: kit $build/qorv.vkt; running $build/qorv-setup $*"
if [[ -z "${DISPLAY:-}" ]]; then
  echo "demo: no DISPLAY here; the installer will say so and end." >&2
fi
exec "$build/bin/qorv-setup" "$@"
