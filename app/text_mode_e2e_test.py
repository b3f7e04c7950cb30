#!/usr/bin/env python3
"""End to end: the real qorv-setup without a display, driven as an
administrator drives it: on a pseudo-terminal, from scripts, interrupted by
signals and killed outright, then started again.

    app/text_mode_e2e_test.py BUILD_DIR
"""
import hashlib
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from e2e_support import *  # noqa: F401,F403

small = make_kit("small", {"doc/about.html": b"<p>about</p>",
                           **{"lib/part%02d.cf" % i: bytes([65 + i % 26]) * 30000
                              for i in range(40)}})
# Slow enough to be caught in the middle: 160 files of 2 MiB that differ.
big_files = {"doc/about.html": b"<p>about</p>"}
for i in range(160):
    big_files["data/d%d/f%03d.bin" % (i % 8, i)] = hashlib.sha256(b"%d" % i).digest() * 65536
big = make_kit("big", big_files)
empty_dir = os.path.join(WORK, "empty")
os.makedirs(empty_dir)


def older_target(root):
    """A target holding older copies of some of big's files, and a file of its own."""
    shutil.rmtree(root, ignore_errors=True)
    for i in range(0, 160, 3):
        path = os.path.join(root, "data/d%d/f%03d.bin" % (i % 8, i))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(b"old %d" % i)
        os.utime(path, (1500000000, 1500000000))
    with open(os.path.join(root, "mine.txt"), "w") as f:
        f.write("mine")
    os.utime(os.path.join(root, "mine.txt"), (1600000000, 1600000000))
    return snapshot(root)


# --- Options ------------------------------------------------------------------
reset_home()
r = run(["--help"], small)
check(r.returncode == 0 and "Usage: qorv-setup" in r.stdout and "-D<dir>" in r.stdout,
      "--help prints the usage and ends with 0", r)
for option in ("-h", "-?", "/?"):
    check(run([option], small).returncode == 0, option + " is help too")

r = run(["usecwd"], small)
check(r.returncode == 3 and "run it with -S" in r.stderr and not os.listdir(TMP) and not run_dirs(),
      "no terminal and no -S: says why, ends with 3, unpacks nothing", r)
r = run(["usecwd", "-S", "-x"], small)
check(r.returncode == 3 and r.stderr.endswith("qorv-setup: unknown option -x\nTry 'qorv-setup --help'.\n")
      and "Usage:" not in r.stderr,
      "a wrong command line ends with 3, the problem and where to read more", r)
r = run(["usecwd", "-S", "-Lru", "-S"], small)
check(r.returncode == 3 and "-S after -Lru is not read" in r.stderr,
      "an option the language option hides is refused", r)

# --- Silent, scripted ---------------------------------------------------------
r = run(["usecwd", "-S", "-Dinstalled here"], small)
target = os.path.join(small, "installed here")
lines = r.stdout.splitlines()
tenths = [int(line.split("%")[0]) // 10 for line in lines if "%" in line]
check(r.returncode == 0 and os.path.isfile(os.path.join(target, "doc/about.html")),
      "-S -D<relative dir> installs below the current directory", r)
check(tenths == sorted(set(tenths)) and tenths[-1:] == [10] and not any("\r" in l for l in lines),
      "progress on a pipe: one line per tenth at most, ending at 100%", r.stdout)
check("Configuration installed successfully." in r.stderr, "the outcome is said on stderr", r)
with open(LAUNCHER) as f:
    check(f.read().startswith("ConfigurationTemplatesLocation=" + target),
          "the directory heads the launcher's list")

r = run(["usecwd", "-S"], empty_dir)
check(r.returncode == 1 and "Distribution kit file qorv.vkt not found." in r.stderr,
      "no kit: the message, status 1", r)

# --- On a terminal ------------------------------------------------------------
reset_home()
proposed = os.path.join(HOME, ".qorv/Vexa/vexa8/tmplts/")
t = Terminal(["usecwd", "-Lde"], small)
at = t.expect("[" + proposed + "] ")
t.type("\r")
t.expect("Konfiguration erfolgreich installiert.", at)
status = t.finish()
check(status == 0 and os.path.isfile(os.path.join(proposed, "doc/about.html")),
      "Enter takes the proposed directory; texts in the chosen language", t.text())
check("\r100%" in t.text(), "on a terminal the progress line is redrawn in place", t.text())

reset_home()
t = Terminal(["usecwd"], small)
at = t.expect("Template directory: [")
t.type("\x03")  # Ctrl-C
at = t.expect("Do you really want to cancel installation? [y/N] ", at)
t.type("n\r")
at = t.expect("Template directory: [", at)
t.type("\x04")  # Ctrl-D
status = t.finish()
check(status == 2 and "Installation canceled." in t.text() and not os.path.exists(proposed),
      "Ctrl-C asks first; No goes back to the question; end of input cancels (2)", t.text())

target = os.path.join(WORK, "pty-target")
before = older_target(target)
t = Terminal(["usecwd", "-D" + target], big)
at = t.expect("Template directory: [" + target + "] ")
t.type("\r")
t.expect("% data/", at)
t.type("\x03")
t.expect("[y/N] ", at)
t.type("y\r")
status = t.finish()
check(status == 2 and snapshot(target) == before and not os.listdir(TMP) and not run_dirs(),
      "Ctrl-C and yes during the copy: rolled back, status 2, nothing left in TMPDIR", t.text())

# --- Signals ------------------------------------------------------------------
for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
    reset_home()
    before = older_target(target)
    p = start_silent(big, target, subprocess.PIPE)
    wait_for_percent(p, 10)
    p.send_signal(sig)
    out, err = p.communicate(timeout=120)
    check(p.returncode == 2 and snapshot(target) == before and not os.listdir(TMP) and not run_dirs(),
          "%s during a silent copy: rolled back, status 2" % sig.name, err)

# --- Killed outright, then started again ---------------------------------------
reset_home()
before = older_target(target)
r = run(["usecwd", "-S", "-D" + target], big)
check(r.returncode == 0, "the big kit installs", r)
installed = snapshot(target)
full = r  # for the timings below
caught = 0
for delay in (0.0, 0.02, 0.05, 0.1, 0.15, 0.2, 0.3, 0.4, 0.6, 0.8):
    reset_home()
    older_target(target)
    p = start_silent(big, target)
    wait_for_percent(p, 0)
    time.sleep(delay)
    p.kill()
    p.wait()
    p.stdout.close()
    r = run(["usecwd", "-S"], empty_dir)  # no kit here: it only cleans up, then says so
    after = snapshot(target)
    # A run killed before its commit record is rolled back, and the start
    # says so; one killed after it stays installed.
    rolled_back = "Installation canceled." in r.stderr and target in r.stderr
    caught += rolled_back
    if rolled_back:
        as_expected = after == before and not os.path.exists(LAUNCHER)
    else:
        # Installed means recorded too, by the run or by this start.
        as_expected = after == before or (after == installed and recorded_location() == target)
    check(r.returncode == 1 and not run_dirs() and as_expected,
          "kill -9 %.2f s into the copy, started again: as before, or installed and recorded"
          % delay, r.stderr + differences(before, installed, after))
check(caught >= 5, "at least half of the kills landed inside a copy (%d of 10)" % caught)

# In the rollback itself: SIGTERM starts it, kill -9 cuts it short.
for delay in (0.0, 0.005, 0.01, 0.02, 0.05):
    reset_home()
    before = older_target(target)
    p = start_silent(big, target)
    wait_for_percent(p, 50)
    p.terminate()
    time.sleep(delay)
    p.kill()
    p.wait()
    p.stdout.close()
    r = run(["usecwd", "-S"], empty_dir)
    check(snapshot(target) == before and not run_dirs(),
          "kill -9 %.3f s into the rollback, started again: the target is as before" % delay,
          r.stderr)

# --- Killed at exact points, under the debugger -----------------------------------
def gdb_kill(kit_dir, target, commands):
    """Runs a silent install under gdb, which runs `commands` then kills it
    (SIGKILL). True when the kill came before the run ended."""
    args = ["gdb", "-q", "-batch", "-nx", "-ex", "set breakpoint pending on",
            "-ex", "set startup-with-shell off", "-ex", "handle SIGPIPE nostop noprint"]
    for command in commands + ["kill"]:
        args += ["-ex", command]
    args += ["--args", SETUP, "usecwd", "-S", "-D" + target]
    r = subprocess.run(args, cwd=kit_dir, env=ENV, capture_output=True, text=True, timeout=300)
    # The process's own end, not that of one of its threads.
    ended = re.search(r"\[Inferior \d+ \(process \d+\) exited", r.stdout) is not None
    return not ended, r.stdout + r.stderr


def expect_undone(what, before, commands, kit_dir):
    reset_home()
    killed, log = gdb_kill(kit_dir, target, commands)
    # Stopped where it was meant to: at the last breakpoint set.
    last = sum(command.startswith("break ") for command in commands)
    killed = killed and re.search(r"Breakpoint %d[.,]" % last, log) is not None
    journaled = bool(run_dirs())
    r = run(["usecwd", "-S"], empty_dir)
    check(killed and journaled and snapshot(target) == before and not run_dirs() and
          "Installation canceled." in r.stderr and not os.path.exists(LAUNCHER),
          "killed %s, started again: the target is as before" % what, log + r.stderr)


if shutil.which("gdb"):
    entry = "qorv::KitReader::ExtractEntry"
    for k in (0, 1, 7, 53, 159):
        before = older_target(target)
        expect_undone("before entry %d of 161" % (k + 1), before,
                      ["break " + entry, "ignore 1 %d" % k, "run"], big)
    for k in (2, 90):
        before = older_target(target)
        # Stopped at the entry, then at its second block's write.
        expect_undone("in the middle of entry %d" % (k + 1), before,
                      ["break " + entry, "ignore 1 %d" % k, "run", "delete 1",
                       "break write", "ignore 2 1", "continue"], big)
    # A run that fails at its last entry rolls back; killed in the middle of it.
    failing_files = dict(big_files)
    failing_files["zz-last.cf"] = b"last"
    failing = make_kit("failing", failing_files)
    # Changes are made relative to directories: unlinkat removes files (no
    # flags) and directories (AT_REMOVEDIR, its third argument).
    calls = {"rename": "renameat", "unlink": "unlinkat if $rdx == 0",
             "rmdir": "unlinkat if $rdx == 0x200"}
    for call, k in (("rename", 0), ("rename", 9), ("rename", 40), ("unlink", 0), ("unlink", 30),
                    ("rmdir", 1)):
        before = older_target(target)
        os.makedirs(os.path.join(target, "zz-last.cf"))  # an old directory where the kit has a file
        os.utime(os.path.join(target, "zz-last.cf"), (1000000000, 1000000000))
        before = snapshot(target)
        expect_undone("during the rollback, at its %s no. %d" % (call, k + 1), before,
                      ["break qorv::CopyJob::Rollback", "run", "delete 1",
                       "break " + calls[call], "ignore 2 %d" % k, "continue"], failing)
    # Killed after the commit record, before the location is recorded: the
    # next start records it, and the templates stay.
    reset_home()
    older_target(target)
    killed, log = gdb_kill(big, target, ["break qorv::RecordInstalledLocation", "run"])
    killed = killed and re.search(r"Breakpoint 1[.,]", log) is not None
    journaled = bool(run_dirs())
    missing = not os.path.exists(LAUNCHER)
    r = run(["usecwd", "-S"], empty_dir)
    check(killed and journaled and missing and snapshot(target) == installed and
          not run_dirs() and recorded_location() == target,
          "killed between the commit and the recording, started again: installed and recorded",
          log + r.stderr)
else:
    check(False, "gdb is installed (the exact kill points need it)")

finish()
