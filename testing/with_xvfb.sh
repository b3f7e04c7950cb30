#!/usr/bin/env bash
# Runs a command under a private X server (Xvfb on a free display), with a
# private HOME, and stops the server afterwards however the command ends.
#   testing/with_xvfb.sh COMMAND [ARGS...]
set -uo pipefail
art=$(mktemp -d)
exec 5>"$art/displayfd"
Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp -noreset >"$art/xvfb.log" 2>&1 &
xpid=$!
exec 5>&-
for _ in $(seq 1 200); do
  [[ -s "$art/displayfd" ]] && break
  sleep 0.05
done
if [[ ! -s "$art/displayfd" ]]; then
  echo "Xvfb did not start:" >&2
  cat "$art/xvfb.log" >&2
  kill "$xpid" 2>/dev/null
  exit 1
fi
export DISPLAY=:$(head -1 "$art/displayfd")
export HOME=${QORV_TEST_HOME:-$art/home}
unset XDG_STATE_HOME
mkdir -p "$HOME/.local/share"
"$@"
status=$?
kill "$xpid" 2>/dev/null
wait "$xpid" 2>/dev/null
rm -rf "$art"
exit $status
