#!/usr/bin/env python3
"""End to end: the real qorv-setup in the conditions of the field: a C
locale, sub-second file times, umasks, full disks, two installers at once,
odd launcher files and kills while the kit is unpacked.

    app/field_e2e_test.py BUILD_DIR     (as root: it mounts small tmpfs)
"""
import os
import random
import shutil
import subprocess
import time

from e2e_support import *  # noqa: F401,F403


def install(kit_dir, target, env=None, umask=None, extra=()):
    """A silent install into `target`; the completed process."""
    return subprocess.run([SETUP, "usecwd", "-S", "-D" + target, *extra], cwd=kit_dir,
                          env=env or ENV, stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=300, preexec_fn=(lambda: os.umask(umask)) if umask else None)


def inodes(root):
    """Each file's inode and change time: what a rewrite would change."""
    found = {}
    for d, _, files in os.walk(root):
        for n in files:
            st = os.lstat(os.path.join(d, n))
            found[os.path.relpath(os.path.join(d, n), root)] = (st.st_ino, st.st_ctime_ns)
    return found


def mode_of(path):
    return os.stat(path).st_mode & 0o7777


# --- The C locale ---------------------------------------------------------------
# Cyrillic names and a name beyond U+FFFF, packed and installed under the
# plain C locale: the names arrive exactly, the Russian texts are readable.
reset_home()
names = {"Шаблоны/Торговля.cf": b"trade", "emoji-\U0001F600/\U0001F4C4 report.txt": b"report",
         "plain.txt": b"plain"}
for locale in ("C", "POSIX"):
    c_env = dict(ENV, LC_ALL=locale, LANG=locale)
    try:
        kit_dir = make_kit("c-kit-" + locale, names, env=c_env)
        packed = ""
    except subprocess.CalledProcessError as e:
        kit_dir, packed = None, e.stderr
    check(kit_dir is not None, "LC_ALL=%s: vkt pack takes Cyrillic and emoji names" % locale,
          packed)
    if kit_dir is None:
        continue
    target = os.path.join(WORK, "c-target-" + locale)
    r = install(kit_dir, target, env=c_env, extra=("-Lru",))
    err = r.stderr.decode("utf-8", "replace")
    installed = {os.path.relpath(os.path.join(d, n), target)
                 for d, _, files in os.walk(target) for n in files}
    check(r.returncode == 0 and installed == set(names),
          "LC_ALL=%s: every name installed exactly" % locale, (installed, err))
    check("Конфигурация успешно установлена." in err,
          "LC_ALL=%s: the Russian texts are printed in UTF-8" % locale, err)

# --- Fractions of a second --------------------------------------------------------
# Files with sub-second times, installed twice: the second run writes nothing.
reset_home()
source = os.path.join(WORK, "ns-src")
for i in range(20):
    path = os.path.join(source, "d%d" % (i % 3), "f%02d.cf" % i)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"x" * (i + 1))
    os.utime(path, ns=(1700000000_123456789 + i, 1700000000_987654321 + i * 1000))
ns_kit = os.path.join(WORK, "ns-kit")
os.makedirs(ns_kit)
subprocess.run([VKT, "pack", "-o", os.path.join(ns_kit, "qorv.vkt"), source], check=True,
               stdout=subprocess.DEVNULL)
target = os.path.join(WORK, "ns-target")
first = install(ns_kit, target)
before = inodes(target)
time.sleep(0.05)
second = install(ns_kit, target)
check(first.returncode == 0 and second.returncode == 0 and len(before) == 20 and
      inodes(target) == before,
      "sub-second times: a second install leaves every file alone (same inode, same ctime)",
      (first.stderr, second.stderr))

# --- Permission bits ----------------------------------------------------------------
# New files get 0666 less the umask; a replaced file keeps its bits.
perm_kit = make_kit("perm", {"new.cf": b"new", "old.cf": b"kit copy", "sub/deep.cf": b"deep"})
for umask, new_bits in ((0o022, 0o644), (0o077, 0o600)):
    reset_home()
    target = os.path.join(WORK, "perm-target-%o" % umask)
    os.makedirs(target)
    with open(os.path.join(target, "old.cf"), "w") as f:
        f.write("old")
    os.chmod(os.path.join(target, "old.cf"), 0o640)
    os.utime(os.path.join(target, "old.cf"), (1000000000, 1000000000))
    r = install(perm_kit, target, umask=umask)
    check(r.returncode == 0 and mode_of(os.path.join(target, "new.cf")) == new_bits and
          mode_of(os.path.join(target, "sub/deep.cf")) == new_bits,
          "umask %03o: new files are %03o" % (umask, new_bits), r.stderr)
    check(open(os.path.join(target, "old.cf")).read() == "kit copy" and
          mode_of(os.path.join(target, "old.cf")) == 0o640,
          "umask %03o: a replaced file keeps its 640" % umask)

# --- Launcher files are the user's data ------------------------------------------------
# Lines the installer does not change come back byte for byte: Windows-1251,
# lone continuation bytes, zero bytes, a sequence cut by the end of the file.
launcher_kit = make_kit("launcher", {"a.cf": b"a"})
odd = (b"Legacy=/opt/\xcf\xf0\xee\xe3\xf0\xe0\xec\xec\xfb\n"
       b"ConfigurationTemplatesLocation=/old/place\n"
       b"Lone=\x80\xbf\xbf\nNul=a\x00b\n"
       b"Cut=abc\xe2\x82")
for locale in ("C", "C.UTF-8"):
    reset_home()
    os.makedirs(os.path.dirname(LAUNCHER))
    with open(LAUNCHER, "wb") as f:
        f.write(odd)
    target = os.path.join(WORK, "launcher-target")
    r = install(launcher_kit, target, env=dict(ENV, LC_ALL=locale))
    with open(LAUNCHER, "rb") as f:
        written = f.read()
    lines = odd.split(b"\n")
    expected = b"\n".join([lines[0], b"ConfigurationTemplatesLocation=" + target.encode()] +
                          lines[1:]) + b"\n"
    check(r.returncode == 0 and written == expected,
          "LC_ALL=%s: the launcher file's other lines come back byte for byte" % locale,
          (r.stderr, written))

# --- Two installers at once ------------------------------------------------------------
def at_once(runs):
    """Starts every (kit_dir, target, extra) of `runs` at the same moment:
    each blocks on one FIFO until it is opened for writing. The statuses."""
    fifo = os.path.join(WORK, "go")
    if not os.path.exists(fifo):
        os.mkfifo(fifo)
    procs = [subprocess.Popen(["sh", "-c", 'read x < "$0"; exec "$@"', fifo, SETUP, "usecwd",
                               "-S", "-D" + target, *extra], cwd=kit_dir, env=ENV,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE) for kit_dir, target, extra in runs]
    time.sleep(0.3)
    os.close(os.open(fifo, os.O_WRONLY))
    return [(p.wait(timeout=300), p.stderr.read().decode("utf-8", "replace")) for p in procs]


def launcher_locations():
    if not os.path.exists(LAUNCHER):
        return []
    with open(LAUNCHER) as f:
        return [line.rstrip("\n").split("=", 1)[1] for line in f
                if line.startswith("ConfigurationTemplatesLocation=")]


# Different targets: both recorded in the launcher file, every time.
pair_kit = make_kit("pair", {"f%03d.cf" % i: b"p" * 2000 for i in range(30)})
lost = []
for attempt in range(20):
    reset_home()
    ta, tb = os.path.join(WORK, "ta"), os.path.join(WORK, "tb")
    for t in (ta, tb):
        shutil.rmtree(t, ignore_errors=True)
    results = at_once([(pair_kit, ta, ()), (pair_kit, tb, ())])
    if [r[0] for r in results] != [0, 0] or sorted(launcher_locations()) != sorted([ta, tb]):
        lost.append((attempt, results, launcher_locations()))
check(not lost, "two installers into different targets, 20 times: both recorded", lost[:2])

# One target, a newer and an older kit at once: the newer kit's files win,
# whichever run goes first; the second says it waits.
newer = make_kit("newer", {"d%d/f%03d.cf" % (i % 5, i): b"N" * 3000 for i in range(150)})
older = make_kit("older", {"d%d/f%03d.cf" % (i % 5, i): b"o" * 3000 for i in range(150)},
                 stamp=1600000000)
target = os.path.join(WORK, "shared")
mixed = []
waited = 0
for attempt in range(20):
    reset_home()
    shutil.rmtree(target, ignore_errors=True)
    runs = [(newer, target, ()), (older, target, ())]
    results = at_once(runs if attempt % 2 else runs[::-1])
    waited += sum("Waiting for it to finish" in err for _, err in results)
    olds = [os.path.join(d, n) for d, _, files in os.walk(target) for n in files
            if open(os.path.join(d, n), "rb").read(1) != b"N"]
    count = sum(len(files) for _, _, files in os.walk(target))
    if [r[0] for r in results] != [0, 0] or olds or count != 150:
        mixed.append((attempt, [r[0] for r in results], len(olds), count))
check(not mixed, "a newer and an older kit into one target at once, 20 times: the newer kit's "
      "150 files, both runs succeed (%d of them said they waited)" % waited, mixed[:3])

# Held by another installation: --wait=0 gives up at once, status 1, nothing
# changed; without a bound the run waits, says so on one line, then installs.
reset_home()
target = os.path.join(WORK, "held")
os.makedirs(target)
# The holder keeps the lock until its input ends.
holder = subprocess.Popen(["flock", target, "cat"], stdin=subprocess.PIPE,
                          stdout=subprocess.DEVNULL)
time.sleep(0.3)
r = install(pair_kit, target, extra=("--wait=0",))
err = r.stderr.decode()
check(r.returncode == 1 and "Another installation into this directory is still running." in err
      and os.listdir(target) == [] and not os.listdir(TMP) and not run_dirs(),
      "--wait=0 while another installation holds the target: status 1, nothing changed", err)
waiting = subprocess.Popen([SETUP, "usecwd", "-S", "-D" + target], cwd=pair_kit, env=ENV,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE)
time.sleep(1.5)
still = waiting.poll() is None and os.listdir(target) == []
holder.stdin.close()
holder.wait()
err = waiting.stderr.read().decode()
check(still and waiting.wait(timeout=300) == 0 and err.count("Waiting for it to finish") == 1 and
      len(os.listdir(target)) == 30,
      "without a bound it waits for the holder, says so once, then installs", err)

# A launcher file of 10 MB (150,000 lines): installed and recorded, every
# other line kept (the time it takes is measured by make bench).
reset_home()
os.makedirs(os.path.dirname(LAUNCHER))
big = b"".join(b"Setting%06d=/srv/bases/%06d/%s\n" % (i, i, b"x" * 40) for i in range(150000))
with open(LAUNCHER, "wb") as f:
    f.write(big)
target = os.path.join(WORK, "big-launcher-target")
r = install(launcher_kit, target)
with open(LAUNCHER, "rb") as f:
    written = f.read()
check(r.returncode == 0 and written == big + b"ConfigurationTemplatesLocation=" +
      target.encode() + b"\n", "a 10 MB launcher file: installed, recorded, every line kept",
      r.stderr)

# --- A full disk ----------------------------------------------------------------------
# The target on an 8 MiB tmpfs with about 3 MiB free; the kit's 10 MiB file
# cannot fit. The run fails and the tree is exactly as before, the replaced
# a.txt included, whether the backups go to the same disk or another one.
full_kit = make_kit("full", {"a.txt": b"n" * 100000, "b.bin": b"b" * 500000,
                             "new/c.bin": b"c" * 1000000, "d.bin": b"d" * 10000000})
for same in (False, True):
    reset_home()
    mount = os.path.join(WORK, "T")
    os.makedirs(mount, exist_ok=True)
    # The kit has a trailer, so it is read in place: no unpacked copy of
    # it takes room in the temporary directory, on either disk.
    size = "8m"
    unpacked = 0
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs",
                       mount]).returncode != 0:
        check(False, "a small tmpfs can be mounted (needs root)")
        break
    try:
        tpl = os.path.join(mount, "tpl")
        os.makedirs(tpl)
        with open(os.path.join(tpl, "a.txt"), "wb") as f:
            f.write(b"o" * 100000)
        os.utime(os.path.join(tpl, "a.txt"), (1000000000, 1000000000))
        st = os.statvfs(mount)
        with open(os.path.join(mount, "filler"), "wb") as f:
            f.write(b"f" * (st.f_bavail * st.f_frsize - 3 * 1024 * 1024 - unpacked))
        before = snapshot(tpl)
        env = dict(ENV, TMPDIR=os.path.join(mount, "tmp")) if same else ENV
        if same:
            os.makedirs(env["TMPDIR"])
        r = install(full_kit, tpl, env=env)
        where = "backups on the same disk" if same else "backups on another disk"
        check(r.returncode == 1 and snapshot(tpl) == before,
              "full disk, %s: status 1 and the tree exactly as before" % where,
              (r.returncode, r.stderr, differences(before, snapshot(tpl))))
        check(b"Template directory has not been changed." in r.stderr and
              not [n for n in os.listdir(env["TMPDIR"]) if n.startswith(".qorv-run-")] and not run_dirs(),
              "full disk, %s: says so, and no run directory is left" % where, r.stderr)
    finally:
        subprocess.run(["umount", "-l", mount])

# --- Killed at any moment, the unpacking included ---------------------------------
# SIGKILL at random moments of a silent install, then a second start: the
# target is installed, and nothing of either run stays in the temporary
# directory. The seed is printed so that a failure can be replayed.
reset_home()
kill_files = {"doc/about.html": b"<p>about</p>"}
for i in range(48):
    kill_files["data/f%02d.bin" % i] = bytes(random.Random(i).getrandbits(8) for _ in range(4096)) * 256
kill_kit = make_kit("kill", kill_files)
target = os.path.join(WORK, "kill-target")
start = time.time()
install(kill_kit, target)
whole = time.time() - start
shutil.rmtree(target)
seed = int(os.environ.get("QORV_KILL_SEED", random.randrange(1 << 30)))
rng = random.Random(seed)
left = []
for attempt in range(16):
    reset_home()
    shutil.rmtree(target, ignore_errors=True)
    delay = rng.uniform(0, whole * (0.3 if attempt < 10 else 1.0))  # most inside the unpacking
    p = subprocess.Popen([SETUP, "usecwd", "-S", "-D" + target], cwd=kill_kit, env=ENV,
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    time.sleep(delay)
    p.kill()
    p.wait()
    again = install(kill_kit, target)
    installed = {os.path.relpath(os.path.join(d, n), target)
                 for d, _, files in os.walk(target) for n in files}
    if again.returncode != 0 or installed != set(kill_files) or os.listdir(TMP) or run_dirs():
        left.append((round(delay, 3), again.returncode, os.listdir(TMP) + run_dirs()))
check(not left, "killed at 16 moments (seed %d, whole run %.2f s), started again: installed, "
      "nothing left in TMPDIR" % (seed, whole), left)

finish()
