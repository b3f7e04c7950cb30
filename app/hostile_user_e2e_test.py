#!/usr/bin/env python3
"""End to end: root runs the real qorv-setup into a folder that another,
unprivileged account can write, and that account (a real one: nobody,
through setpriv) does what it can to make root write, remove or show
something it should not. Each case checks that nothing outside the target
changed and that the run ended with a clear cause.

    app/hostile_user_e2e_test.py BUILD_DIR   (as root)
"""
import os
import shutil
import stat
import subprocess

from e2e_support import *  # noqa: F401,F403

NOBODY = 65534
AS_NOBODY = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"]


def as_nobody(*command):
    r = subprocess.run(AS_NOBODY + list(command), capture_output=True, text=True)
    if r.returncode != 0:
        raise AssertionError("as nobody: %s: %s" % (command, r.stderr))


def shared_folder(name):
    """A folder anyone may write, as /tmp is (sticky)."""
    path = os.path.join(WORK, name)
    os.makedirs(path)
    os.chmod(path, 0o1777)
    return path


def private_folder(name, files, stamp=1000):
    """Root's own folder outside every target, with root-only files (by
    default older than any kit's)."""
    path = os.path.join(WORK, name)
    for rel, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(path, rel)), exist_ok=True)
        with open(os.path.join(path, rel), "wb") as f:
            f.write(data)
        os.chmod(os.path.join(path, rel), 0o600)
        os.utime(os.path.join(path, rel), (stamp, stamp))
    os.chmod(path, 0o700)
    return path


if os.geteuid() != 0 or not shutil.which("setpriv"):
    check(False, "run as root with setpriv (another account plants the links)")
    finish()

os.chmod(WORK, 0o755)  # nobody reaches the shared folders in it
reset_home()
kit = make_kit("trade", {"Trade/1.0/readme.txt": b"kit readme\n",
                         "Trade/1.0/other.cf": b"kit other\n",
                         "top.cf": b"kit top\n"})

# --- A link to root's folder planted on the way -------------------------------------------
outside = private_folder("outside", {"readme.txt": b"root only\n"})
before = snapshot(outside)
shared = shared_folder("shared")
as_nobody("mkdir", os.path.join(shared, "Trade"))
as_nobody("ln", "-s", outside, os.path.join(shared, "Trade/1.0"))
r = run(["usecwd", "-S", "-D" + shared], kit)
check(r.returncode != 0 and snapshot(outside) == before,
      "a folder link of another user: the run fails, root's folder is untouched",
      r.stderr + differences(before, snapshot(outside)))
check(os.path.join(shared, "Trade/1.0") in r.stderr and "owned by user 65534" in r.stderr
      and "not followed" in r.stderr, "the cause names the link and its owner", r.stderr)
check(not os.path.exists(os.path.join(shared, "top.cf")),
      "it stopped before its first change", r.stderr)

# --- The same for the uninstall: a folder swapped for a link after the install --------------
# Root's files there are the very files the manifest names (the same bytes
# and times): only the link stands between the uninstall and them.
outside2 = private_folder("outside2", {"readme.txt": b"kit readme\n", "other.cf": b"kit other\n"},
                          stamp=1700000000)
shared2 = shared_folder("shared2")
as_nobody("mkdir", "-p", os.path.join(shared2, "Trade"))
r = run(["usecwd", "-S", "-D" + shared2], kit)
check(r.returncode == 0, "root installs into a folder the other user made", r.stderr)
before = snapshot(outside2)
as_nobody("mv", os.path.join(shared2, "Trade"), os.path.join(shared2, "Trade.old"))
as_nobody("mkdir", os.path.join(shared2, "Trade"))
as_nobody("ln", "-s", outside2, os.path.join(shared2, "Trade/1.0"))
r = run(["--uninstall", "-S", "-D" + shared2], kit)
check(r.returncode != 0 and snapshot(outside2) == before,
      "an uninstall through a swapped folder removes nothing of root's",
      r.stderr + differences(before, snapshot(outside2)))

# --- A kit's texts and a name are shown, not obeyed ---------------------------------------
evil = os.path.join(WORK, "evil")
os.makedirs(os.path.join(evil, "src"))
with open(os.path.join(evil, "src", "a.cf"), "w") as f:
    f.write("a")
subprocess.run([VKT, "pack", "-d", "en:\x1b[2J\x1b[HTrade\x1b]0;owned\x07:Ven\u0085dor:a.cf",
                "-o", os.path.join(evil, "qorv.vkt"), os.path.join(evil, "src")],
               check=True, capture_output=True)
r = run(["usecwd", "-S", "-D" + os.path.join(WORK, "evil-target")], evil)
check(r.returncode == 0 and "\x1b" not in r.stderr + r.stdout and "\x07" not in r.stderr
      and "\u0085" not in r.stderr and "\\x1b[2J" in r.stderr and "\\u0085" in r.stderr,
      "a kit's product and provider reach the terminal with their controls escaped",
      repr(r.stderr))
logs = os.path.join(HOME, ".local/state/qorv/log")
with open(os.path.join(logs, sorted(os.listdir(logs))[-1]), encoding="utf-8",
          errors="replace") as f:
    log = f.read()
check("\x1b" not in log, "and the log holds none of them", repr(log[-500:]))

# --- The launcher file as a pipe, and as a link to an endless device -----------------------
for kind in ("pipe", "device"):
    reset_home()
    os.makedirs(os.path.dirname(LAUNCHER))
    if kind == "pipe":
        os.mkfifo(LAUNCHER)
    else:
        os.symlink("/dev/zero", LAUNCHER)
    target = os.path.join(WORK, "launcher-" + kind)
    try:
        r = run(["usecwd", "-S", "-D" + target], kit, timeout=60)
        ended = True
    except subprocess.TimeoutExpired:
        ended = False
    check(ended and r.returncode == 0 and r.returncode != -6,
          "a launcher file that is a %s: the run ends at once, the templates installed" % kind,
          r.stderr if ended else "still running after 60 s")
    kept = stat.S_ISFIFO(os.lstat(LAUNCHER).st_mode) if kind == "pipe" \
        else os.path.islink(LAUNCHER)
    check(kept, "the %s is left as it was, nothing recorded in it" % kind)

# --- The kit itself as a pipe: refused at once, not waited on -----------------------------
piped = os.path.join(WORK, "piped")
os.makedirs(piped)
os.mkfifo(os.path.join(piped, "qorv.vkt"))
try:
    r = run(["usecwd", "-S", "-D" + os.path.join(WORK, "piped-target")], piped, timeout=60)
    check(r.returncode == 1 and "not a regular file" in r.stderr,
          "a kit that is a pipe is refused at once", r.stderr)
except subprocess.TimeoutExpired:
    check(False, "a kit that is a pipe is refused at once", "still waiting after 60 s")

# --- A dry run changes nothing: no log, no pruning, no recovery ----------------------------
reset_home()
dry_target = os.path.join(WORK, "dry")
r = run(["usecwd", "-S", "-D" + dry_target], kit)
state = os.path.join(HOME, ".local/state")
before = (snapshot(state), snapshot(TMP), snapshot(dry_target))
r = run(["usecwd", "--dry-run", "-D" + dry_target], kit)
after = (snapshot(state), snapshot(TMP), snapshot(dry_target))
check(r.returncode == 0 and after == before,
      "a dry run leaves the state directory, the temporary directory and the target as they were",
      r.stderr)

# --- Another user's HOME (sudo keeping it): not written --------------------------------------
reset_home()
os.makedirs(os.path.join(HOME, ".local/state"))
for directory, dirs, files in os.walk(HOME):
    for name in [directory] + [os.path.join(directory, n) for n in dirs + files]:
        os.lchown(name, NOBODY, NOBODY)
before = snapshot(HOME)
target = os.path.join(WORK, "foreign-home")
r = run(["usecwd", "-S", "-D" + target], kit)
check(r.returncode != 0 and snapshot(HOME) == before and not os.listdir(target)
      if os.path.isdir(target) else r.returncode != 0 and snapshot(HOME) == before,
      "root with another user's HOME writes nothing there, and installs nothing",
      r.stderr + differences(before, snapshot(HOME)))
check("owned by user 65534" in r.stderr, "the cause names the owner", r.stderr)

# --- -D with a byte that is not text: refused, nothing made elsewhere ---------------------
reset_home()
bad = os.path.join(WORK, "bad").encode() + b"\xff"
r = subprocess.run([SETUP.encode(), b"usecwd", b"-S", b"-D" + bad], cwd=kit, env=ENV,
                   capture_output=True, stdin=subprocess.DEVNULL)
check(r.returncode == 3 and not os.path.exists(os.path.join(WORK, "bad"))
      and not os.path.exists(bad), "-D with a byte that is not text: refused, status 3",
      r.stderr)

# --- Root's run on another disk: nobody cannot choose where it lives ----------------------
# The target is a shared folder on a disk of its own (neither the state's
# nor /tmp's). Nobody takes the names runs once used, plants a set-user
# program the kit replaces, and a folder where the kit has a file, so that
# the run fails and is rolled back. The backups must be renames on that
# disk, never root's copies.
reset_home()
disk = os.path.join(WORK, "disk")
os.makedirs(disk)
if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64m,mode=0755", "tmpfs", disk]).returncode:
    check(False, "a tmpfs for the second disk")
else:
    try:
        suid_kit = make_kit("suid", {"Trade/1.0/f1.txt": b"kit f1\n", "Trade/1.0/f5.txt": b"kit f5\n"})
        shared3 = os.path.join(disk, "shared")
        os.makedirs(shared3)
        os.chmod(shared3, 0o1777)
        os.chmod(disk, 0o1777)
        as_nobody("mkdir", os.path.join(disk, ".qorv-runs"), os.path.join(shared3, ".qorv-runs"))
        as_nobody("mkdir", "-p", os.path.join(shared3, "Trade/1.0/f5.txt"))
        as_nobody("cp", "/usr/bin/id", os.path.join(shared3, "Trade/1.0/f1.txt"))
        as_nobody("chmod", "4755", os.path.join(shared3, "Trade/1.0/f1.txt"))
        as_nobody("touch", "-d", "2000-01-01", os.path.join(shared3, "Trade/1.0/f1.txt"),
                  os.path.join(shared3, "Trade/1.0/f5.txt"))
        before = snapshot(shared3)
        r = run(["usecwd", "-S", "-D" + shared3], suid_kit)
        f1 = os.lstat(os.path.join(shared3, "Trade/1.0/f1.txt"))
        check(r.returncode != 0 and snapshot(shared3) == before and f1.st_uid == NOBODY,
              "a run rolled back on another disk puts nobody's file back as nobody's, not root's",
              r.stderr + differences(before, snapshot(shared3)) + " uid %d" % f1.st_uid)
        rooted = [os.path.join(d, n) for d, _, names in os.walk(disk) for n in names
                  if os.lstat(os.path.join(d, n)).st_uid == 0
                  and os.lstat(os.path.join(d, n)).st_mode & (stat.S_ISUID | stat.S_ISGID)]
        check(not rooted, "no set-user file of root's anywhere on that disk", rooted)
        check(not [n for n in os.listdir(disk) + os.listdir(shared3) if n.startswith(".qorv-run-")]
              and os.listdir(os.path.join(disk, ".qorv-runs")) == [],
              "its run directory is gone, and nobody's folders got nothing", os.listdir(disk))
    finally:
        subprocess.run(["umount", "-l", disk])

# --- A journal nobody wrote is never believed -----------------------------------------------
# Root-owned folders nobody could move (a kit folder made with --umask=000),
# under the old numbered name and under a new-looking one, each with a
# journal that names root's files and a manifest of nobody's.
reset_home()
os.chmod(TMP, 0o1777)
rootonly = private_folder("rootonly", {"secret": b"root's secret\n", "passwd": b"root's passwd\n"})
victims = snapshot(rootonly)
forged = []
for name in ("kvins900", ".qorv-run-abcdefghijkl"):
    run_dir = os.path.join(TMP, name)
    os.makedirs(run_dir)
    os.chmod(run_dir, 0o777)
    forged.append(run_dir)
    journal = b"".join(b"%s %d:%s\n" % (k, len(v), v) for k, v in
                       [(b"V", b"qorv-journal 1"), (b"P", b"1"), (b"T", b"/somewhere/"),
                        (b"F", os.path.join(rootonly, "secret").encode()),
                        (b"M", os.path.join(rootonly, "passwd").encode())])
    as_nobody("sh", "-c", 'printf "%s" "$1" > "$2/journal"; echo nobody > "$2/manifest.old"',
              "sh", journal.decode(), run_dir)
r = run(["usecwd", "-S", "-D" + os.path.join(WORK, "plain")], kit)
check(r.returncode == 0 and snapshot(rootonly) == victims,
      "root's next run acts on no journal another user could write", r.stderr)
check(all(os.path.exists(os.path.join(d, "journal")) for d in forged),
      "and leaves those folders as they are", [os.listdir(d) for d in forged])
os.chmod(TMP, 0o755)

# --- Another user's HOME: nothing in it is read or changed, the registry included ----------
reset_home()
live = os.path.join(HOME, ".local/state/qorv/live")
os.makedirs(live)
empty_run = os.path.join(WORK, "rootspot/.qorv-run-abcdefghijkl")
os.makedirs(empty_run)
os.chmod(empty_run, 0o700)
with open(os.path.join(live, "0123456789abcdef0123456789abcdef"), "wb") as f:
    f.write(b"V 10:qorv-run 1\nR %d:%s/\nT 9:/nowhere/\n" % (len(empty_run) + 1, empty_run.encode()))
for directory, dirs, files in os.walk(HOME):
    for name in [directory] + [os.path.join(directory, n) for n in dirs + files]:
        os.lchown(name, NOBODY, NOBODY)
before = snapshot(HOME)
r = run(["usecwd", "-S", "-D" + os.path.join(WORK, "foreign-home-2")], kit)
check(r.returncode != 0 and snapshot(HOME) == before and os.path.isdir(empty_run),
      "root with another user's HOME: its registry is not read, nothing it names is removed",
      r.stderr + differences(before, snapshot(HOME)))
check("owned by user 65534" in r.stderr, "and the cause names the owner", r.stderr)
check("run as that user, or with your own HOME (sudo -H for root)" in r.stderr,
      "and says what to do instead", r.stderr)

finish()
