#!/usr/bin/env python3
"""End to end: kills at each step, by strace's fault injection, of the real
qorv-setup. An upgrade killed at one of its flushes, the next start's
recovery killed at one of its removals or renames, then a start that ends:
the tree is kit A's with A's manifest or kit B's with B's, and no run is
left. Starts killed at each removal leave no name in the folders they only
looked at.

    app/recovery_kill_e2e_test.py BUILD_DIR
"""
import os
import shutil
import subprocess

from e2e_support import *  # noqa: F401,F403

TARGET = os.path.join(WORK, "target")
STATE = os.path.join(HOME, ".local/state/qorv/manifests")
SAVED = os.path.join(WORK, "saved")
NO_KIT = os.path.join(WORK, "no-kit")


def killed_at(call, nth, args, cwd):
    """Runs qorv-setup under strace, killed at its `nth` call of `call`;
    True when it was killed, False when it ended before that call."""
    r = subprocess.run(["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=" + call,
                        "-e", "inject=%s:signal=SIGKILL:when=%d" % (call, nth), "--",
                        SETUP] + args, cwd=cwd, env=ENV, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=120)
    return r.returncode != 0 and b"+++ killed by SIGKILL" in r.stderr or r.returncode == 137 \
        or r.returncode == -9


def save():
    shutil.rmtree(SAVED, ignore_errors=True)
    for name in ("home", "target", "tmp"):
        if os.path.exists(os.path.join(WORK, name)):
            shutil.copytree(os.path.join(WORK, name), os.path.join(SAVED, name), symlinks=True)


def restore():
    for name in ("home", "target", "tmp"):
        shutil.rmtree(os.path.join(WORK, name), ignore_errors=True)
        if os.path.exists(os.path.join(SAVED, name)):
            shutil.copytree(os.path.join(SAVED, name), os.path.join(WORK, name), symlinks=True)


def state():
    """The tree, and the manifests' names and records. A manifest put back
    is written again (its time is not the one it had), and what it says of
    each file's inode and change time ("S" lines) is this run's own."""
    manifests = {}
    for name in sorted(os.listdir(STATE)) if os.path.isdir(STATE) else []:
        with open(os.path.join(STATE, name), "rb") as f:
            manifests[name] = b"".join(l for l in f.read().splitlines(True)
                                       if not l.startswith(b"S "))
    return snapshot(TARGET), manifests


def live_entries():
    live = os.path.join(HOME, ".local/state/qorv/live")
    return os.listdir(live) if os.path.isdir(live) else []


reset_home()
os.makedirs(NO_KIT)
a = make_kit("kit-a", {"tpl/keep.cf": b"keep\n", "tpl/changed.cf": b"one\n",
                       "tpl/obsolete.cf": b"old\n", "tpl/sub/gone.cf": b"gone\n"})
b = make_kit("kit-b", {"tpl/keep.cf": b"keep\n", "tpl/changed.cf": b"two\n",
                       "tpl/new/deep.cf": b"new\n"}, stamp=1700000100)
r = run(["usecwd", "-S", "-D" + TARGET], a)
check(r.returncode == 0, "kit A installs", r.stderr)
save()
before = state()
r = run(["usecwd", "-S", "-D" + TARGET], b)
check(r.returncode == 0, "kit B upgrades it", r.stderr)
after = state()
check(before != after and before[1] != after[1], "the upgrade changes the tree and the manifest")

# --- An upgrade killed at a flush, its recovery killed at a removal or rename -------
pairs = wrong = 0
details = []
for flush in ("fsync", "fdatasync"):
    k = 1
    while True:
        restore()
        if not killed_at(flush, k, ["usecwd", "-S", "-D" + TARGET], b):
            break
        for call in ("unlink", "unlinkat", "rename", "renameat", "renameat2", "rmdir"):
            n = 1
            while True:
                restore()
                killed_at(flush, k, ["usecwd", "-S", "-D" + TARGET], b)
                cut = killed_at(call, n, ["usecwd", "-S", "-D" + TARGET], NO_KIT)
                # A start that is not killed ends it.
                run(["usecwd", "-S", "-D" + TARGET], NO_KIT)
                pairs += 1
                now = state()
                problem = None
                if now[0] not in (before[0], after[0]):
                    problem = "a tree neither before nor after"
                elif now[1] != (before[1] if now[0] == before[0] else after[1]):
                    problem = "the manifest does not go with the tree"
                elif run_dirs() or live_entries():
                    problem = "a run is left"
                if problem:
                    wrong += 1
                    details.append("upgrade killed at %s #%d, recovery at %s #%d: %s"
                                   % (flush, k, call, n, problem))
                if not cut:
                    break
                n += 1
        k += 1
print("%d kill pairs tried" % pairs)
check(pairs > 20, "the upgrade and its recovery were killed at many points", pairs)
check(wrong == 0, "every pair ends with a tree and the manifest that goes with it, nothing left",
      "\n".join(details[:10]))

# --- Starts killed at each removal leave nothing in the folders they look at -------
restore()
listed = os.path.join(WORK, "listed")
dry = os.path.join(WORK, "dry-target")
for folder in (listed, dry):
    os.makedirs(folder)
os.makedirs(os.path.dirname(LAUNCHER), exist_ok=True)
with open(LAUNCHER, "w") as f:
    f.write("ConfigurationTemplatesLocation=%s\n" % listed)
left = []
for args, cwd in ((["usecwd", "--dry-run", "-D" + dry], a), (["usecwd", "-S", "-D" + dry], NO_KIT),
                  (["usecwd", "-S"], NO_KIT)):
    for call in ("unlink", "unlinkat"):
        n = 1
        while killed_at(call, n, args, cwd):
            left += ["%s killed at %s #%d: %s" % (" ".join(args[1:]), call, n, name)
                     for folder in (listed, dry) for name in os.listdir(folder)]
            n += 1
check(not left, "no kill leaves a name in a folder the start only looked at", "\n".join(left[:5]))
finish()
