#!/usr/bin/env bash
# Peak memory of a dry run and of `vkt list` for kits whose head lists 10k,
# 100k and 1M entries (names of 20 characters, no data: a few hundred
# kilobytes of kit each), against `qorv-setup --version`'s. A head beyond
# the kit limits is refused before it is held.   bench/head_memory.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
python3 - "$build/bin" "$dir" <<'PY'
import os, resource, struct, subprocess, sys, zlib

bin_dir, work = sys.argv[1], sys.argv[2]


def text(s):
    b = s.encode("utf-16-le")
    return struct.pack("<I", len(b) // 2) + b


def make(path, n):
    head = struct.pack("<I", 0) + text("Trade") + text("Vendor") + text("doc\\about.html")
    records = []
    for i in range(n):
        body = text("tpl\\d%03d\\f%07d.cf" % (i % 997, i)) + struct.pack("<IIII", 0, 0, 0, 0)
        records.append(struct.pack("<I", 4 + len(body)) + body)
    deflate = zlib.compressobj(9, zlib.DEFLATED, -15)
    data = head + struct.pack("<I", n) + b"".join(records)
    with open(path, "wb") as f:
        f.write(deflate.compress(data) + deflate.flush())


def peak_kib(cmd, cwd):
    """The peak resident size of `cmd`, in KiB, measured in a child of its own."""
    probe = ("import resource, subprocess, sys\n"
             "p = subprocess.run(sys.argv[1:], capture_output=True)\n"
             "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, p.returncode)\n")
    out = subprocess.run([sys.executable, "-c", probe] + cmd, cwd=cwd, capture_output=True,
                         text=True, env=dict(os.environ, HOME=os.path.join(work, "home")),
                         check=True).stdout.split()
    return int(out[0]), int(out[1])


base, _ = peak_kib([os.path.join(bin_dir, "qorv-setup"), "--version"], work)
print("qorv-setup --version: %.1f MiB" % (base / 1024))
for n in (10000, 100000, 1000000):
    kit_dir = os.path.join(work, "k%d" % n)
    os.makedirs(kit_dir)
    kit = os.path.join(kit_dir, "qorv.vkt")
    make(kit, n)
    dry, dry_rc = peak_kib([os.path.join(bin_dir, "qorv-setup"), "usecwd", "--dry-run",
                            "-D" + os.path.join(work, "t")], kit_dir)
    listed, list_rc = peak_kib([os.path.join(bin_dir, "vkt"), "list", kit], kit_dir)
    print("%8d entries (%4d KiB kit): dry run %6.1f MiB (+%5.1f)%s, vkt list %6.1f MiB (+%5.1f)%s"
          % (n, os.path.getsize(kit) // 1024, dry / 1024, (dry - base) / 1024,
             "" if dry_rc == 0 else " refused", listed / 1024, (listed - base) / 1024,
             "" if list_rc == 0 else " refused"))
PY
