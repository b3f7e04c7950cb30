#!/usr/bin/env python3
"""End to end: damaged and signed kits, as a user who downloaded one would
meet them. The real vkt packs and signs; the real qorv-setup, without a
display, must refuse every damaged kit before it writes anything.

    app/kit_check_e2e_test.py BUILD_DIR
"""
import os
import random
import shutil
import subprocess

from e2e_support import *  # noqa: F401,F403

TARGET = os.path.join(WORK, "target")


def install(kit_dir):
    return run(["usecwd", "-S", "-D" + TARGET], kit_dir)


def untouched(what, r):
    """The run refused the kit and left nothing anywhere."""
    check(r.returncode == 1 and "corrupted" in r.stderr and not os.path.exists(TARGET)
          and not os.path.exists(LAUNCHER) and not os.listdir(TMP) and not run_dirs(), what, r.stderr)


def flipped(kit_dir, name, at, bit):
    """A copy of the kit in `kit_dir` with one bit flipped at byte `at`."""
    copy = os.path.join(WORK, name)
    shutil.rmtree(copy, ignore_errors=True)
    os.makedirs(copy)
    with open(os.path.join(kit_dir, "qorv.vkt"), "rb") as f:
        data = bytearray(f.read())
    data[at] ^= 1 << bit
    with open(os.path.join(copy, "qorv.vkt"), "wb") as f:
        f.write(data)
    return copy, len(data)


# --- The reproduction: one bit in the middle ------------------------------------
reset_home()
small = make_kit("small", {"doc/about.html": b"<p>about</p>", "a/tmplt.cf": b"template\n" * 400,
                           "b/data.bin": os.urandom(50000)})
size = os.path.getsize(os.path.join(small, "qorv.vkt"))
kit, _ = flipped(small, "middle", size // 2, 3)
r = install(kit)
untouched("one bit flipped in the middle: refused, nothing written", r)
check("digest mismatch" in r.stderr or "compressed stream" in r.stderr,
      "the terminal names the cause on a line of its own", r.stderr)
r = subprocess.run([VKT, "verify", os.path.join(kit, "qorv.vkt")], capture_output=True, text=True)
check(r.returncode == 1, "vkt verify refuses it too", r.stdout + r.stderr)

# --- Many flips, kits of several shapes -----------------------------------------
shapes = {
    "small-files": small,
    "large-file": make_kit("large", {"big.bin": random.Random(1).randbytes(3 << 20)}),
    "descriptions-only": make_kit("empty", {}),
}
rng = random.Random(20261208)
for shape, kit_dir in shapes.items():
    size = os.path.getsize(os.path.join(kit_dir, "qorv.vkt"))
    refused = 0
    positions = [rng.randrange(size) for _ in range(12)] + [size - 1 - rng.randrange(76)]
    for at in positions:
        reset_home()
        kit, _ = flipped(kit_dir, "flip", at, rng.randrange(8))
        r = install(kit)
        refused += r.returncode == 1 and not os.path.exists(TARGET) and \
            not os.path.exists(LAUNCHER) and not os.listdir(TMP) and not run_dirs()
    check(refused == len(positions), "%s: %d of %d flips refused with nothing written"
          % (shape, refused, len(positions)))

# --- Kits without a trailer, and signed kits -------------------------------------
reset_home()
source = os.path.join(WORK, "small-src")
bare = os.path.join(WORK, "bare")
os.makedirs(bare)
subprocess.run([VKT, "pack", "--no-trailer", "-o", os.path.join(bare, "qorv.vkt"), source],
               check=True, capture_output=True)
r = install(bare)
check(r.returncode == 0 and r.stderr.count("carries no checksum") == 1,
      "a kit without a trailer installs as before, saying once it cannot be checked", r.stderr)

reset_home()
shutil.rmtree(TARGET, ignore_errors=True)
subprocess.run([VKT, "keygen", "-o", os.path.join(WORK, "key")], check=True, capture_output=True)
subprocess.run([VKT, "sign", "--key", os.path.join(WORK, "key"), os.path.join(small, "qorv.vkt")],
               check=True, capture_output=True)
r = install(small)
check(r.returncode == 0 and "signed by key" in r.stderr and "checksum" not in r.stderr,
      "a signed kit installs and says by which key", r.stderr)

# --- One file: the installer carrying its kit -----------------------------------
# Started where another kit lies beside it and in the current directory, it
# installs its own; a carried kit that is damaged is refused like any other.
reset_home()
shutil.rmtree(TARGET, ignore_errors=True)
shipped = os.path.join(WORK, "shipped")
os.makedirs(shipped)
bundle = os.path.join(shipped, "setup-trade")
r = subprocess.run([VKT, "bundle", "--installer", SETUP, "-o", bundle,
                    os.path.join(small, "qorv.vkt")], capture_output=True, text=True)
check(r.returncode == 0, "vkt bundle writes the installer with the kit inside", r.stderr)
shutil.copy(os.path.join(bare, "qorv.vkt"), shipped)
r = subprocess.run([bundle, "usecwd", "-S", "-D" + TARGET], cwd=shipped, env=ENV,
                   capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=300)
check(r.returncode == 0 and "signed by key" in r.stderr and "checksum" not in r.stderr
      and os.path.exists(os.path.join(TARGET, "b/data.bin")),
      "the bundled installer installs the kit it carries, not the one beside it", r.stderr)
# The kit's signature alone does not vouch for the program around it: the
# bundle is signed, over both, once it is made.
key = os.path.join(WORK, "key")
r = subprocess.run([VKT, "verify", "--key", key + ".pub", bundle], capture_output=True, text=True)
check(r.returncode == 1 and "the program is not signed" in r.stderr,
      "vkt verify --key refuses a bundle whose program is not signed", r.stdout + r.stderr)
r = subprocess.run([VKT, "sign", "--key", key, bundle], capture_output=True, text=True)
check(r.returncode == 0, "vkt sign signs the bundle", r.stderr)
r = subprocess.run([VKT, "verify", "--key", key + ".pub", bundle], capture_output=True, text=True)
check(r.returncode == 0 and "program: digest matches, signed by key" in r.stdout,
      "vkt verify checks the kit inside and the program around it", r.stdout + r.stderr)
other = os.path.join(WORK, "someone-elses")
shutil.copy("/bin/true", other)
r = subprocess.run([VKT, "bundle", "--installer", other, "-o", other + "-bundle",
                    os.path.join(small, "qorv.vkt")], capture_output=True, text=True)
r = subprocess.run([VKT, "verify", "--key", key + ".pub", other + "-bundle"],
                   capture_output=True, text=True)
check(r.returncode == 1 and "the program is not signed" in r.stderr,
      "the vendor's signed kit around another program does not verify", r.stdout + r.stderr)

reset_home()
shutil.rmtree(TARGET, ignore_errors=True)
with open(bundle, "rb") as f:
    data = bytearray(f.read())
kit_size = os.path.getsize(os.path.join(small, "qorv.vkt"))
data[len(data) - 24 - kit_size // 2] ^= 4
damaged = os.path.join(WORK, "damaged-bundle")
with open(damaged, "wb") as f:
    f.write(data)
os.chmod(damaged, 0o755)
r = subprocess.run([damaged, "-S", "-D" + TARGET], cwd=WORK, env=ENV, capture_output=True,
                   text=True, stdin=subprocess.DEVNULL, timeout=300)
untouched("a bundled installer whose kit is damaged refuses it, nothing written", r)

# A download of the one file cut short: its kit lost its end and footer. The
# installer says its kit is damaged, not missing.
cut = os.path.join(WORK, "cut-bundle")
with open(cut, "wb") as f:
    f.write(data[:len(data) - 24 - kit_size // 2])
os.chmod(cut, 0o755)
r = subprocess.run([cut, "-S", "-D" + TARGET], cwd=WORK, env=ENV, capture_output=True,
                   text=True, stdin=subprocess.DEVNULL, timeout=300)
untouched("a bundled installer cut short says its kit is damaged, nothing written", r)
check("cut short or damaged" in r.stderr and "not found" not in r.stderr,
      "and names the cause", r.stderr)

finish()
