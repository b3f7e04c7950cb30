#!/usr/bin/env bash
# The whole installer process with the 512 MiB kit of the copy benchmark
# (which has a trailer, so it is read in place): a fresh install and a
# re-install with nothing to write, timed as a user would see them; the
# temporary directory's peak use during a fresh install; the wizard's
# resident memory, idle on its welcome page and at its peak during the
# install. Run through testing/with_xvfb.sh.   bench/install_time.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
kit=$build/bench-work/4-files-of-128MiB.vkt
[[ -f "$kit" ]] || { echo "install_time: run copy_bench first"; exit 1; }
dir=$(mktemp -d)
cleanup() {
  mountpoint -q "$dir/tmpfs" 2>/dev/null && umount "$dir/tmpfs"
  rm -rf "$dir"
}
trap cleanup EXIT
export TMPDIR=$dir/tmp XDG_STATE_HOME=$dir/state
mkdir -p "$TMPDIR" "$dir/kit"
cp "$build/bin/qorv-setup" "$dir/kit/"
ln -s "$kit" "$dir/kit/qorv.vkt"
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
silent() {  # target -> seconds of one `qorv-setup -S`
  local start end
  start=$(date +%s.%N)
  (cd "$dir/kit" && DISPLAY= ./qorv-setup usecwd -S "-D$1" >/dev/null 2>&1)
  end=$(date +%s.%N)
  seconds "$start" "$end"
}

target=$dir/target
sync
fresh=$(silent "$target")
best=999
for _ in 1 2 3; do
  t=$(silent "$target")
  best=$(awk -v t="$t" -v m="$best" 'BEGIN { print (t < m ? t : m) }')
done
printf 'qorv-setup -S, 512 MiB kit: fresh install %s s; re-install with nothing to write %.3f s (best of 3; goal <= 0.1)\n' \
  "$fresh" "$best"

# The temporary directory on a file system of its own, sampled while a
# fresh install runs: what the run puts there, files without names included.
if [[ $(id -u) -eq 0 ]] && mkdir -p "$dir/tmpfs" && mount -t tmpfs -o size=64m tmpfs "$dir/tmpfs" 2>/dev/null; then
  rm -rf "$target"
  used() { df -B1 --output=used "$dir/tmpfs" | tail -1; }
  base=$(used)
  (cd "$dir/kit" && TMPDIR=$dir/tmpfs DISPLAY= ./qorv-setup usecwd -S "-D$target" >/dev/null 2>&1) &
  app=$!
  peak=0
  while kill -0 $app 2>/dev/null; do
    u=$(used)
    if ((u > peak)); then peak=$u; fi
    sleep 0.005
  done
  wait $app
  printf 'temporary directory at its fullest during a fresh install: %d bytes (goal: the journal only)\n' \
    $((peak - base))
else
  echo "temporary directory use: not measured (mounting a tmpfs needs root)"
fi

# The wizard: resident memory idle on the welcome page, then at its peak
# through a whole install of the kit into a new directory.
if [[ -n "${DISPLAY:-}" ]] && command -v xdotool >/dev/null; then
  rm -rf "$target"
  (cd "$dir/kit" && exec ./qorv-setup -Len "-D$target") &
  app=$!
  wid=
  until [[ -n "$wid" ]]; do
    wid=$(xdotool search --onlyvisible --pid $app --name 'Installing configuration' 2>/dev/null | head -1 || true)
    sleep 0.01
  done
  sleep 0.5
  idle=$(awk '/^VmRSS/ { print $2 }' /proc/$app/status)
  for _ in 1 2; do  # Next on the welcome page, then on the directory page
    xdotool mousemove --window "$wid" 350 335 click 1 2>/dev/null
    sleep 0.5
  done
  # The final page comes once the install is committed.
  for _ in $(seq 1 600); do
    ls "$XDG_STATE_HOME/qorv/manifests/" 2>/dev/null | grep -q . && break
    sleep 0.1
  done
  sleep 1
  peak=$(awk '/^VmHWM/ { print $2 }' /proc/$app/status)
  files=$(find "$target" -type f 2>/dev/null | wc -l)
  kill $app 2>/dev/null
  wait $app 2>/dev/null || true
  if ((files != 4)); then
    echo "wizard resident memory: the wizard did not install the kit ($files files)"
  else
    printf 'wizard resident memory: idle %d KiB, peak during the install %d KiB: %d KiB above idle (goal <= 65536)\n' \
      "$idle" "$peak" $((peak - idle))
  fi
fi
