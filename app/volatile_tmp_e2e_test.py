#!/usr/bin/env python3
"""/tmp in memory, as on today's systems: TMPDIR on a tmpfs, the template
folder on another file system (a second tmpfs that stands for the disk). An
upgrade of 60 files is killed at many points, the TMPDIR tmpfs is unmounted
and mounted again as a reboot empties it, and the installer starts again:
the folder is the tree before or the tree after, every time, and nothing of
the run is left. Needs root (it mounts); says so and passes otherwise.

    app/volatile_tmp_e2e_test.py BUILD_DIR
"""
import os
import shutil
import signal
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_support import *  # noqa: E402,F401,F403
from e2e_support import (ENV, HOME, SETUP, WORK, check, finish, make_kit, reset_home,  # noqa: E402
                         snapshot, wait_for_percent)

VOLATILE = os.path.join(WORK, "volatile")
DISK = os.path.join(WORK, "disk")
TARGET = os.path.join(DISK, "templates")
KEPT = os.path.join(WORK, "kept")
RUNS_ENV = dict(ENV, TMPDIR=VOLATILE)


def mount(path, size):
    os.makedirs(path, exist_ok=True)
    return subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", path]).returncode == 0


def reboot():
    """The temporary directory emptied, as a restart empties a tmpfs."""
    subprocess.run(["umount", VOLATILE], check=True)
    mount(VOLATILE, "64m")


def leftovers():
    """Run directories and registry entries anywhere a run may leave them."""
    found = []
    for place in (VOLATILE, os.path.join(HOME, ".local/state/qorv/runs"),
                  os.path.join(HOME, ".local/state/qorv/live"), DISK):
        if os.path.isdir(place):
            found += [os.path.join(place, n) for n in os.listdir(place)
                      if n.startswith(".qorv-run-") or "live" in place]
    return found


def main():
    if os.geteuid() != 0:
        print("skip: mounting a tmpfs needs root")
        finish()
    if not mount(VOLATILE, "64m") or not mount(DISK, "1g"):
        check(False, "two tmpfs can be mounted")
        finish()
    try:
        # Large enough that a kill lands in the middle of the copy.
        files = {"tpl/f%02d.cf" % i: (b"v1 %d\n" % i) * 400000 for i in range(60)}
        old = make_kit("v1", files, stamp=1600000000)
        new = make_kit("v2", {k: b"v2 " + v[:-1] * 2 for k, v in files.items()},
                       stamp=1700000000)
        other = make_kit("other", {"x.cf": b"x"}, stamp=1600000000)

        reset_home()
        r = subprocess.run([SETUP, "usecwd", "-S", "-D" + TARGET], cwd=old, env=RUNS_ENV,
                           capture_output=True, text=True, timeout=120)
        check(r.returncode == 0, "the first release installs", r.stderr)
        before = snapshot(TARGET)
        subprocess.run(["cp", "-a", TARGET, KEPT], check=True)
        shutil.copytree(os.path.join(HOME, ".local/state"), KEPT + "-state", symlinks=True)
        # The tree after: the second release over the first, without a kill.
        r = subprocess.run([SETUP, "usecwd", "-S", "-D" + TARGET], cwd=new, env=RUNS_ENV,
                           capture_output=True, text=True, timeout=120)
        after = snapshot(TARGET)
        check(r.returncode == 0 and after != before and not leftovers(),
              "the second release replaces every file, and leaves nothing of its run", r.stderr)

        outcomes = {"before": 0, "after": 0}
        wrong = []
        points = [0, 1, 5, 10, 20, 30, 40, 50, 60, 70, 80, 90, 95, 99, 100]
        for percent in points:
            shutil.rmtree(TARGET)
            subprocess.run(["cp", "-a", KEPT, TARGET], check=True)
            state = os.path.join(HOME, ".local/state")
            shutil.rmtree(state)
            shutil.copytree(KEPT + "-state", state, symlinks=True)
            p = subprocess.Popen([SETUP, "usecwd", "-S", "-D" + TARGET], cwd=new, env=RUNS_ENV,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, text=True)
            wait_for_percent(p, percent)
            p.send_signal(signal.SIGKILL)
            p.wait()
            reboot()
            # The next start, for another folder: it undoes or completes the
            # killed run first.
            r = subprocess.run([SETUP, "usecwd", "-S", "-D" + os.path.join(WORK, "elsewhere")],
                               cwd=other, env=RUNS_ENV, capture_output=True, text=True,
                               timeout=120)
            tree = snapshot(TARGET)
            if tree == before:
                outcomes["before"] += 1
            elif tree == after:
                outcomes["after"] += 1
            else:
                wrong.append((percent, sorted(k for k in tree if tree[k] != before.get(k))[:5]))
            if leftovers():
                wrong.append((percent, "left: %s" % leftovers()))
        print("kills: %d, the tree before %d times, after %d times" %
              (len(points), outcomes["before"], outcomes["after"]))
        check(not wrong, "killed at %d points of an upgrade, /tmp emptied, started again: "
              "the tree before or after, nothing left" % len(points), wrong)
        check(outcomes["before"] > 0, "some kills came before the commit", outcomes)
    finally:
        for path in (VOLATILE, DISK):
            subprocess.run(["umount", path])
    finish()


main()
