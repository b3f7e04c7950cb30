#!/usr/bin/env bash
# vkt unpack against tar -xzf of the same files: 10,000 files of 4 KiB,
# best of 3 each, into a fresh folder every time.   bench/unpack_time.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
dir=$(mktemp -d)
cleanup() {
  mountpoint -q "$dir/out" 2>/dev/null && umount "$dir/out"
  rm -rf "$dir"
}
trap cleanup EXIT
mkdir -p "$dir/tree" "$dir/out"
# Written to memory when it can be (root): the disk's own pace, which varies
# from run to run on a shared machine, is the same for both.
where=disk
if [[ $(id -u) -eq 0 ]] && mount -t tmpfs -o size=512m tmpfs "$dir/out" 2>/dev/null; then where=tmpfs; fi
python3 - "$dir/tree" <<'PY'
import os, random, sys
random.seed(4)
root = sys.argv[1]
for i in range(10000):
    folder = os.path.join(root, "d%03d" % (i // 100))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%05d.cf" % i), "wb") as f:
        f.write(bytes(random.choice(b"abcdefgh ") for _ in range(4096)))
PY
"$build/bin/vkt" pack --quiet -o "$dir/kit.vkt" "$dir/tree" >/dev/null
tar -czf "$dir/tree.tgz" -C "$dir/tree" .
best() {  # command... -> the best of 3 wall-clock seconds
  local b=999 start end t
  for run in 1 2 3; do
    find "$dir/out" -mindepth 1 -delete && sync
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
    b=$(awk -v t="$t" -v m="$b" 'BEGIN { print (t < m ? t : m) }')
  done
  echo "$b"
}
tar_s=$(best tar -xzf "$dir/tree.tgz" -C "$dir/out")
vkt_s=$(best "$build/bin/vkt" unpack "$dir/kit.vkt" "$dir/out")
awk -v v="$vkt_s" -v t="$tar_s" -v w="$where" 'BEGIN {
  printf "vkt unpack, 10,000 files of 4 KiB (to %s): %.3f s; tar -xzf: %.3f s; %.2fx (goal <= 0.9x)\n", w, v, t, v / t }'
