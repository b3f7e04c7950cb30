#!/usr/bin/env bash
# Fresh installs and upgrades that replace every file, with the temporary
# directory on the target's file system and on another one (a tmpfs, as
# /tmp is on today's systems), for the two kits of the copy benchmark
# (10,000 x 4 KiB and 4 x 128 MiB), in the build folder on disk. Each figure
# is the best of three runs, caches dropped before each (as root).
#   bench/upgrade_time.sh BUILD_DIR [QORV_SETUP]
# QORV_SETUP: another build of the installer to time the same way (an
# earlier version, for a before and after).
set -euo pipefail
build=$(cd "$1" && pwd)
setup=${2:-$build/bin/qorv-setup}
work=$build/bench-work
for kit in 10000-small-files 4-files-of-128MiB; do
  [[ -f $work/$kit.vkt ]] || { echo "upgrade_time: run copy_bench first"; exit 1; }
done
dir=$(mktemp -d "$work/upgrade.XXXXXX")
cleanup() {
  mountpoint -q "$dir/tmpfs" 2>/dev/null && umount "$dir/tmpfs"
  rm -rf "$dir"
}
trap cleanup EXIT
mkdir -p "$dir/tmp" "$dir/state" "$dir/kit" "$dir/tmpfs"
cp "$setup" "$dir/kit/qorv-setup"
export XDG_STATE_HOME=$dir/state HOME=$dir
other=
if [[ $(id -u) -eq 0 ]] && mount -t tmpfs -o size=1200m tmpfs "$dir/tmpfs" 2>/dev/null; then
  other=$dir/tmpfs
fi

# The second release: the same trees, every file newer.
for kit in 10000-small-files 4-files-of-128MiB; do
  tree=$work/small
  [[ $kit == 4-* ]] && tree=$work/large
  [[ -f $work/$kit-newer.vkt ]] ||
    "$build/bin/vkt" pack --mtime 4102444800 -o "$work/$kit-newer.vkt" "$tree" >/dev/null
done

drop() { sync; [[ $(id -u) -eq 0 ]] && echo 3 > /proc/sys/vm/drop_caches || true; }
run() {  # kit tmpdir target -> seconds
  ln -sf "$1" "$dir/kit/qorv.vkt"
  drop
  local start end
  start=$(date +%s.%N)
  (cd "$dir/kit" && TMPDIR=$2 DISPLAY= ./qorv-setup usecwd -S "-D$3" >/dev/null 2>&1)
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b ? a : b) }'; }

printf '%-20s %-22s %10s %10s\n' kit "temporary directory" fresh upgrade
for kit in 10000-small-files 4-files-of-128MiB; do
  for where in same other; do
    tmp=$dir/tmp
    if [[ $where == other ]]; then
      [[ -n $other ]] || { printf '%-20s %-22s %s\n' "$kit" "another (tmpfs)" "not measured: mounting needs root"; continue; }
      tmp=$other
    fi
    fresh=999
    upgrade=999
    for _ in 1 2 3; do
      rm -rf "$dir/target" "$dir/state"
      fresh=$(best "$fresh" "$(run "$work/$kit.vkt" "$tmp" "$dir/target")")
      upgrade=$(best "$upgrade" "$(run "$work/$kit-newer.vkt" "$tmp" "$dir/target")")
    done
    label="the target's"
    [[ $where == other ]] && label="another (tmpfs)"
    printf '%-20s %-22s %9ss %9ss\n' "$kit" "$label" "$fresh" "$upgrade"
  done
done
