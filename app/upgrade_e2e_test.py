#!/usr/bin/env python3
"""End to end: an administrator's upgrade, plan and uninstall with the real
qorv-setup, without a display. Kit A, then kit B that drops a file; the plan
first, as text and JSON, which must change nothing and agree with what the
real run then does; a re-install with nothing to do; an uninstall, also
killed halfway and finished or undone by the next start.

    app/upgrade_e2e_test.py BUILD_DIR
"""
import json
import os
import re
import signal
import subprocess
import time

from e2e_support import *  # noqa: F401,F403

TARGET = os.path.join(WORK, "target")
STATE = os.path.join(HOME, ".local/state/qorv/manifests")


def launcher_bytes():
    if not os.path.exists(LAUNCHER):
        return None
    with open(LAUNCHER, "rb") as f:
        return f.read()


def json_lines(text, what):
    lines = []
    for line in text.splitlines():
        try:
            lines.append(json.loads(line))
        except ValueError:
            check(False, what + ": every line is JSON", line)
            return []
    return lines


def actions(lines, kind):
    return sorted((l["action"], l["path"]) for l in lines if l.get("type") == kind)


def result(lines):
    found = [l for l in lines if l.get("type") == "result"]
    return found[-1] if found else {}


reset_home()
a = make_kit("kit-a", {"tpl/keep.cf": b"keep\n", "tpl/obsolete.cf": b"old\n",
                       "tpl/changed.cf": b"as shipped\n", "tpl/sub/gone.cf": b"gone\n"})
b = make_kit("kit-b", {"tpl/keep.cf": b"keep\n", "tpl/new.cf": b"new\n"}, stamp=1700000100)
r = run(["usecwd", "-S", "-D" + TARGET], a)
check(r.returncode == 0 and os.listdir(STATE), "kit A installs and leaves a manifest", r.stderr)
with open(os.path.join(TARGET, "tpl/changed.cf"), "ab") as f:
    f.write(b"the user's edit\n")
with open(os.path.join(TARGET, "tpl/mine.txt"), "wb") as f:
    f.write(b"never installed\n")

# --- The plan changes nothing -----------------------------------------------------
tree, launcher, manifests = snapshot(TARGET), launcher_bytes(), snapshot(STATE)
r = run(["usecwd", "--dry-run", "-D" + TARGET], b)
lines = r.stdout.splitlines()
check(r.returncode == 0 and "remove        tpl/obsolete.cf" in lines
      and "keep-changed  tpl/changed.cf" in lines and "write         tpl/new.cf" in lines
      and "replace       tpl/keep.cf" in lines,
      "the plan names every file with what the run would do", r.stdout + r.stderr)
check(lines and lines[-1] == "1 to write, 1 to replace, 0 to keep, 2 to remove, "
                            "1 kept as changed; 9 bytes to write",
      "and ends with the totals", r.stdout)
r = run(["usecwd", "--dry-run", "--json", "-D" + TARGET], b)
plan = json_lines(r.stdout, "the JSON plan")
totals = [l for l in plan if l.get("type") == "totals"]
check(r.returncode == 0 and totals and totals[0]["changes"] is True and totals[0]["remove"] == 2,
      "the JSON plan has its totals", r.stdout)
check(snapshot(TARGET) == tree and launcher_bytes() == launcher and snapshot(STATE) == manifests
      and not run_dirs(), "dry runs leave the tree, the launcher file and the manifests as they were",
      differences(tree, snapshot(TARGET)))

# A dry run makes no name, even for a moment: no folder's time moves, neither
# the target's, its parent's, a missing target's nearest folder's nor the
# state directory's.
LONG_AGO = 978307200
dry_parent = os.path.join(WORK, "dry-parent")
os.makedirs(dry_parent)
watched = [TARGET, WORK, dry_parent, os.path.join(HOME, ".local/state/qorv"),
           os.path.join(HOME, ".local/state")]
for path in watched:
    os.utime(path, (LONG_AGO, LONG_AGO))
for dry_target in (TARGET, os.path.join(dry_parent, "new/t")):
    r = run(["usecwd", "--dry-run", "-D" + dry_target], b)
    check(r.returncode == 0, "a dry run into " + dry_target, r.stderr)
check([int(os.stat(p).st_mtime) for p in watched] == [LONG_AGO] * len(watched),
      "dry runs change no folder's time", [(p, os.stat(p).st_mtime) for p in watched])

# --- The upgrade does what the plan said ------------------------------------------
r = run(["usecwd", "-S", "--json", "-D" + TARGET], b)
done = json_lines(r.stdout, "the JSON outcome")
check(r.returncode == 0 and actions(done, "file") == actions(plan, "plan"),
      "the upgrade does exactly what the plan said", r.stdout + r.stderr)
check(result(done).get("outcome") == "installed" and result(done).get("changed") is True,
      "its result says it changed the target", r.stdout)
logs = os.path.join(HOME, ".local/state/qorv/log")
with open(os.path.join(logs, sorted(os.listdir(logs))[-1])) as f:
    log_text = f.read()
logged = sorted(tuple(m) for m in re.findall(
    r"^ *[\d.]+ (write|replace|keep|remove|keep-changed) (.+)$", log_text, re.M))
check(logged == actions(done, "file"), "the run's log names the same actions", logged)
check(re.search(r"^ *[\d.]+ plan: 1 to write, 1 to replace, 0 to keep, 2 to remove, "
                r"1 kept as changed; 9 bytes to write$", log_text, re.M),
      "and the plan's totals before them, as the dry run gave them", log_text)
check(not os.path.exists(os.path.join(TARGET, "tpl/obsolete.cf"))
      and not os.path.exists(os.path.join(TARGET, "tpl/sub/gone.cf"))
      and os.path.exists(os.path.join(TARGET, "tpl/new.cf")),
      "files kit B no longer ships are removed, its new one written")
with open(os.path.join(TARGET, "tpl/changed.cf"), "rb") as f:
    check(f.read() == b"as shipped\nthe user's edit\n" and "tpl/changed.cf" in r.stderr,
          "a file changed since it was installed is kept and named", r.stderr)

r = run(["usecwd", "-S", "--json", "-D" + TARGET], b)
again = json_lines(r.stdout, "a second run's JSON")
check(r.returncode == 0 and result(again).get("outcome") == "unchanged"
      and result(again).get("changed") is False and "Nothing to do" in r.stderr,
      "the same kit again: nothing to do, status 0", r.stdout + r.stderr)

# A failure says what the terminal said, its cause and the log, for tools.
damaged = os.path.join(WORK, "damaged")
os.makedirs(damaged)
with open(os.path.join(b, "qorv.vkt"), "rb") as f:
    kit_bytes = bytearray(f.read())
kit_bytes[len(kit_bytes) // 3] ^= 0x40
with open(os.path.join(damaged, "qorv.vkt"), "wb") as f:
    f.write(kit_bytes)
tree = snapshot(TARGET)
r = run(["usecwd", "-S", "--json", "-D" + TARGET], damaged)
failed = result(json_lines(r.stdout, "a damaged kit's JSON"))
check(r.returncode == 1 and failed.get("outcome") == "failed" and failed.get("status") == 1
      and "corrupted" in failed.get("message", "") and "digest mismatch" in failed.get("cause", "")
      and os.path.isfile(failed.get("log", "")) and snapshot(TARGET) == tree,
      "a damaged kit: the result says failed, with the message, the cause and the log", r.stdout)
busy = os.path.join(WORK, "not-a-directory")
with open(busy, "w") as f:
    f.write("a file where the target should be")
r = run(["usecwd", "-S", "--json", "-D" + busy + "/tpl"], b)
failed = result(json_lines(r.stdout, "a failed run's JSON"))
check(r.returncode == 1 and failed.get("outcome") == "failed"
      and failed.get("message") == "Installation error" and busy in failed.get("cause", "")
      and os.path.isfile(failed.get("log", "")),
      "a run that fails: the result names the cause and the log", r.stdout)

# --- Uninstall ---------------------------------------------------------------------
tree, launcher = snapshot(TARGET), launcher_bytes()
r = run(["--uninstall", "--dry-run"], WORK)
check(r.returncode == 0 and "remove        tpl/new.cf" in r.stdout
      and snapshot(TARGET) == tree and launcher_bytes() == launcher,
      "the uninstall's plan, for the head of the launcher's list, changes nothing", r.stdout)
check(r.stderr.startswith("Removing configuration\n") and "Installing" not in r.stderr,
      "the uninstall is headed with its own words", r.stderr)
r = run(["--uninstall", "-S", "--json"], WORK)
gone = json_lines(r.stdout, "the uninstall's JSON")
check(r.returncode == 0 and result(gone).get("outcome") == "removed"
      and sorted(os.listdir(os.path.join(TARGET, "tpl"))) == ["changed.cf", "mine.txt"],
      "uninstall removes what the installs put there, and only that", r.stdout + r.stderr)
check(recorded_location() != TARGET and not os.listdir(STATE),
      "its location and its manifest are gone", launcher_bytes())
r = run(["--uninstall", "-S", "-D" + TARGET], WORK)
check(r.returncode == 3 and "No installation is recorded" in r.stderr,
      "nothing left to uninstall: status 3", r.stderr)

# --- An uninstall killed halfway -----------------------------------------------------
many = make_kit("kit-many", {"m/f%04d.cf" % i: b"x" * 2000 for i in range(3000)})
outcomes = set()
for delay in (0.05, 0.15, 0.3):
    reset_home()
    shutil.rmtree(TARGET, ignore_errors=True)
    check(run(["usecwd", "-S", "-D" + TARGET], many).returncode == 0, "the big kit installs")
    installed = snapshot(TARGET)
    p = subprocess.Popen([SETUP, "--uninstall", "-S", "-D" + TARGET], env=ENV,
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    time.sleep(delay)
    p.send_signal(signal.SIGKILL)
    p.wait()
    left = snapshot(TARGET) if os.path.exists(TARGET) else {}
    pending = run_dirs()
    r = run(["--uninstall", "--dry-run", "-D" + TARGET], WORK)
    check((snapshot(TARGET) if os.path.exists(TARGET) else {}) == left and run_dirs() == pending
          and ("an interrupted run there is undone by the next run" not in r.stderr or pending),
          "a dry run undoes nothing and says what the next run will undo", r.stderr)
    # Any other start recovers.
    run(["--uninstall", "-S", "-D" + os.path.join(WORK, "nothing-here")], WORK)
    after = snapshot(TARGET) if os.path.exists(TARGET) else {}
    if after == installed:
        outcomes.add("undone")
        check(recorded_location() == TARGET and os.listdir(STATE),
              "killed before its commit: as installed, manifest and location kept")
    else:
        outcomes.add("finished")
        check(after == {} and recorded_location() != TARGET and not os.listdir(STATE),
              "killed after its commit: fully uninstalled", differences(installed, after))
    check(not run_dirs(), "no run directory is left")
print("kill outcomes seen: " + ", ".join(sorted(outcomes)))

finish()
