#!/usr/bin/env bash
# A silent install of a small kit with a 10 MB launcher file (150,000 lines
# of other settings and 1,000 locations) beside the same install with no
# launcher file: what the launcher file costs. Goal: under 1 s in all.
#   bench/launcher_time.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/src/doc" "$dir/kit" "$dir/tmp"
echo "a template" >"$dir/src/doc/a.cf"
"$build/bin/vkt" pack -o "$dir/kit/qorv.vkt" "$dir/src" >/dev/null
python3 - "$dir/big.cfg" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    for i in range(150000):
        f.write("Setting%06d=/srv/bases/%06d/%s\n" % (i, i, "x" * 40))
    for i in range(1000):
        f.write("ConfigurationTemplatesLocation=/srv/templates/%04d\n" % i)
PY
run() {  # home, launcher file or ""
  local home=$1
  rm -rf "$home" "$dir/target"
  mkdir -p "$home/.Vexa/vexalaunch"
  [[ -n "$2" ]] && cp "$2" "$home/.Vexa/vexalaunch/vexalaunch.cfg"
  local start end
  start=$(date +%s.%N)
  (cd "$dir/kit" && env -u DISPLAY HOME="$home" TMPDIR="$dir/tmp" \
     "$build/bin/qorv-setup" usecwd -S "-D$dir/target" >/dev/null 2>&1)
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}
best() {  # best of three
  local m=999 t
  for _ in 1 2 3; do
    t=$(run "$dir/home" "$1")
    m=$(awk -v a="$t" -v m="$m" 'BEGIN { print (a < m ? a : m) }')
  done
  echo "$m"
}
size=$(stat -c %s "$dir/big.cfg")
with=$(best "$dir/big.cfg")
without=$(best "")
printf 'silent install, %d-byte launcher file: %.3f s; without one: %.3f s (best of 3; goal < 1 s)\n' \
  "$size" "$with" "$without"
