#!/usr/bin/env bash
# Packs the demo kit beside the freshly built installer and runs it on the
# user's display, else on the terminal, else silently into a home of its
# own. Extra arguments go to the installer (make demo ARGS=-Lru).
set -euo pipefail
build=${1:-build}
shift || true
bash demo/make_demo_kit.sh "$build/bin/vkt" "$build/bin/qorv.vkt" >/dev/null
ln -sf bin/qorv-setup "$build/qorv-setup"
ln -sf bin/qorv.vkt "$build/qorv.vkt"
echo "demo: kit $build/qorv.vkt; running $build/qorv-setup $*"
if [[ -z "${DISPLAY:-}" && ! -t 0 ]]; then
  # Nobody to ask: an unattended run into a home of its own, then what it did.
  home=$(cd "$build" && pwd)/demo-home
  rm -rf "$home" && mkdir -p "$home"
  echo "demo: no DISPLAY and no terminal: a silent run with HOME=$home" >&2
  HOME=$home "$build/bin/qorv-setup" -S "$@"
  echo "demo: installed files:"
  (cd "$home" && find .qorv -type f | sort)
  echo "demo: launcher file:"
  cat "$home/.Vexa/vexalaunch/vexalaunch.cfg"
  exit 0
fi
[[ -n "${DISPLAY:-}" ]] || echo "demo: no DISPLAY here; the installer asks on this terminal." >&2
exec "$build/bin/qorv-setup" "$@"
