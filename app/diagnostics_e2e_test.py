#!/usr/bin/env python3
"""End to end: what the real qorv-setup says when something goes wrong, and
what its log holds. Each failure names what failed, the path and the
system's reason on a line of its own, and where the run's log is; a target
without room is refused before anything changes; the log of a run holds
what the run did to each file; the last 20 logs are kept.

    app/diagnostics_e2e_test.py BUILD_DIR   (as root: it mounts small file systems)
"""
import json
import os
import re
import shutil
import subprocess

from e2e_support import *  # noqa: F401,F403

LOGS = os.path.join(HOME, ".local/state/qorv/log")
MOUNTS = []


def mount_tmpfs(path, options):
    os.makedirs(path, exist_ok=True)
    r = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", path],
                       capture_output=True, text=True)
    if r.returncode == 0:
        MOUNTS.append(path)
    return r.returncode == 0


def log_of(stderr):
    m = re.search(r"^Log of this run: (.+)$", stderr, re.M)
    if not m or not os.path.exists(m.group(1)):
        return ""
    with open(m.group(1)) as f:
        return f.read()


reset_home()
kit = make_kit("kit", {"tpl/a.cf": b"a\n", "tpl/sub/b.cf": b"b" * 5000, "tpl/x": b"x\n"})

# --- Each failure: the fixed text, the cause, the log ------------------------------
a_file = os.path.join(WORK, "a-file")
with open(a_file, "w") as f:
    f.write("not a directory")
blocked = os.path.join(WORK, "blocked")
os.makedirs(os.path.join(blocked, "tpl/x"))  # a directory where the kit has a file
os.utime(os.path.join(blocked, "tpl/x"), (1000, 1000))
cases = [
    ("/proc/nope", "Cannot create the directory: /proc/nope: No such file or directory"),
    (a_file + "/t", "Cannot create the directory: %s: Not a directory" % a_file),
    (blocked, "Cannot write the file: %s/tpl/x: Is a directory" % blocked),
]
readonly = os.path.join(WORK, "readonly")
if mount_tmpfs(readonly, "ro,size=1m"):
    cases.append((readonly + "/t",
                  "Cannot create the directory: %s/t: Read-only file system" % readonly))
for target, cause in cases:
    r = run(["usecwd", "-S", "-D" + target], kit)
    lines = r.stderr.splitlines()
    check(r.returncode == 1 and "Installation error" in lines
          and lines[lines.index("Installation error") + 1] == cause,
          "%s: the cause follows the fixed text" % target, r.stderr)
    check(cause in log_of(r.stderr) and "failed with code" in log_of(r.stderr),
          "%s: the log named on the terminal holds the failure" % target, r.stderr)
check(sorted(os.listdir(blocked)) == ["tpl"] and os.listdir(os.path.join(blocked, "tpl")) == ["x"],
      "the blocked target is left as it was")
# A dry run (Ansible's check mode) fails as the real run does, and changes nothing.
for target, cause in cases[:2] + cases[3:]:
    place = os.path.dirname(target) if target.startswith(WORK) else None
    before = snapshot(place) if place and os.path.isdir(place) else {}
    r = run(["usecwd", "--dry-run", "-D" + target], kit)
    j = run(["usecwd", "--dry-run", "--json", "-D" + target], kit)
    result = json.loads(j.stdout.splitlines()[-1]) if j.stdout else {}
    after = snapshot(place) if place and os.path.isdir(place) else {}
    check(r.returncode == 1 and cause in r.stderr and j.returncode == 1
          and result.get("status") == 1 and result.get("cause") == cause and before == after,
          "%s: the dry run fails with the real run's status and cause" % target,
          r.stdout + r.stderr + j.stdout)

r = run(["-S", "-D" + os.path.join(WORK, "t")], WORK)
check(r.returncode == 1 and ("No kit found; looked for: %s, %s" %
                             (SETUP, os.path.join(os.path.dirname(SETUP), "qorv.vkt")))
      in r.stderr, "no kit: every place looked in is named", r.stderr)

# --- No room: refused before anything changes ----------------------------------------
small = os.path.join(WORK, "small")
if mount_tmpfs(small, "size=64k"):
    with open(os.path.join(small, "before.txt"), "w") as f:
        f.write("there before\n")
    big = make_kit("big", {"tpl/big.bin": os.urandom(200000)})
    tree = snapshot(small)
    r = run(["usecwd", "-S", "-D" + small + "/t"], big)
    check(r.returncode == 1 and re.search(r"^Not enough space: %s/t: \d+ bytes needed, \d+ free$"
                                          % re.escape(small), r.stderr, re.M),
          "a target without room is refused, naming it, what is needed and what is free",
          r.stderr)
    check(snapshot(small) == tree, "and nothing in it changed", differences(tree, snapshot(small)))
    check("Files being copied" not in r.stderr and "Installation error" in r.stderr,
          "refused before the copy says it starts", r.stderr)
    r = run(["usecwd", "-S", "--json", "-D" + small + "/t"], big)
    result = [json.loads(l) for l in r.stdout.splitlines() if l.strip()][-1]
    check(result.get("outcome") == "failed" and result.get("status") == 1
          and "Not enough space" in result.get("cause", ""),
          "with --json, the result says so", r.stdout)
else:
    check(False, "a small tmpfs can be mounted (run as root)")

# --- The log holds what the run did ------------------------------------------------------
reset_home()
target = os.path.join(WORK, "logged")
r = run(["usecwd", "-S", "-D" + target], kit)
check(r.returncode == 0, "an installation succeeds", r.stderr)
logs = sorted(os.listdir(LOGS))
with open(os.path.join(LOGS, logs[-1])) as f:
    log = f.read()
written = sorted(re.findall(r"^ *[\d.]+ write (.+)$", log, re.M))
installed = sorted(p for p in snapshot(target) if os.path.isfile(os.path.join(target, p)))
check(written == installed, "the log names every file written, and only those",
      "%s\n%s" % (written, installed))
check("qorv-setup " in log.splitlines()[0] and "command line: " in log and "kit: " in log
      and "committed: 3 written" in log and "exit status 0" in log,
      "with the version, the command line, the kit and the outcome", log)
r = run(["usecwd", "-S", "-D" + target], kit)
with open(os.path.join(LOGS, sorted(os.listdir(LOGS))[-1])) as f:
    log = f.read()
check(len(re.findall(r"^ *[\d.]+ keep ", log, re.M)) == 3, "a second run logs what it kept", log)

for _ in range(22):
    run(["usecwd", "-S", "-D" + target], kit)
check(len(os.listdir(LOGS)) == 20, "the last 20 logs are kept", len(os.listdir(LOGS)))
before = sorted(os.listdir(LOGS))
run(["usecwd", "--dry-run", "-D" + target], kit)
check(sorted(os.listdir(LOGS)) == before, "a dry run writes no log and prunes none")

# --- For scripts -----------------------------------------------------------------------
r = subprocess.run([SETUP, "--version"], capture_output=True, text=True, env=ENV)
v = subprocess.run([VKT, "-V"], capture_output=True, text=True, env=ENV)
check(r.returncode == 0 and re.fullmatch(r"qorv-setup \d+\.\d+\.\d+\n", r.stdout)
      and v.returncode == 0 and re.fullmatch(r"vkt \d+\.\d+\.\d+\n", v.stdout),
      "--version: one line with the name and the version", r.stdout + v.stdout)
r = subprocess.run([SETUP, "usecwd", "-S", "-D" + os.path.join(WORK, "unreachable")], cwd=kit,
                   env=dict(ENV, DISPLAY=":93"), capture_output=True, text=True,
                   stdin=subprocess.DEVNULL, timeout=120)
check(r.returncode == 0 and r.stderr.count("cannot open display :93") == 1,
      "a display that cannot be opened is said once, then the terminal installs", r.stderr)
r = run(["-S", "usecwd", "-D" + os.path.join(WORK, "late")], kit)
check(r.returncode == 3 and "usecwd counts only as the first argument" in r.stderr,
      "a usecwd out of place is refused on the terminal", r.stderr)

# --- Option spellings: the installer's long forms, the toolkit's, the unknown ------------
spellings = [
    # (arguments, status, installed, what stderr holds)
    (["-S", "--dir=%T"], 3, False, "qorv-setup: unknown option --dir=%T\nTry 'qorv-setup --help'."),
    (["--silnet", "-D%T"], 3, False, "unknown option --silnet"),
    (["--silent", "--target=%T"], 0, True, ""),
    (["--target=%T", "--lang=de", "--silent"], 0, True, "Konfiguration erfolgreich installiert."),
    (["-S", "-D%T", "--lang=xx"], 3, False, "unknown language code in --lang=xx"),
    (["-S", "--target="], 3, False, "--target= needs a directory"),
] + [(["-S", "-D%T", option], 0, True, "") for option in
     ("--display=:97", "--screen=0", "--sync", "--class=Q", "--name=q", "--gtk-module=none",
      "--g-fatal-warnings", "--gdk-debug=misc", "--gdk-no-debug=misc", "--gtk-debug=misc",
      "--gtk-no-debug=misc")]
for args, status, made, said in spellings:
    target = os.path.join(WORK, "spelled")
    shutil.rmtree(target, ignore_errors=True)
    given = [a.replace("%T", target) for a in args]
    r = run(["usecwd", "--text"] + given, kit)
    check(r.returncode == status and os.path.exists(os.path.join(target, "tpl/a.cf")) == made
          and said.replace("%T", target) in r.stderr + r.stdout,
          "%s: status %d%s" % (" ".join(args), status, ", installed" if made else ""),
          r.stderr)

# --- --json: every line of standard output is one JSON object -------------------------
described = make_kit("described", {"tpl/a.cf": b"a\n", "doc/about.html": b"<p>about</p>\n"})
for args in (["-S"], ["-S", "--dry-run"], ["--uninstall", "-S"], ["-S", "-D/proc/nope"]):
    target = os.path.join(WORK, "json-target")
    given = args if any(a.startswith("-D") for a in args) else args + ["-D" + target]
    r = run(["usecwd", "--json"] + given, described)
    try:
        objects = [json.loads(line) for line in r.stdout.splitlines()]
    except ValueError as e:
        objects = None
        print("     " + str(e))
    last = "totals" if "--dry-run" in args else "result"
    check(objects is not None and objects and objects[-1].get("type") == last,
          "--json %s: every stdout line is one JSON object, the %s last" % (" ".join(args), last),
          r.stdout)
    if args == ["-S"] and objects:
        check(objects[-1].get("description") == os.path.join(target, "doc/about.html"),
              "--json: the description's path is in the result", objects[-1])

# --- changed: the tree and the launcher's list, against snapshots ----------------------
reset_home()
a_dir = os.path.join(WORK, "changed-a")
b_dir = os.path.join(WORK, "changed-b")


def launcher_text():
    return open(LAUNCHER).read() if os.path.exists(LAUNCHER) else None


def launcher_list(text):
    return [l.split("=", 1)[1] for l in (text or "").splitlines() if "=" in l]


def drop_from_launcher(directory):
    lines = open(LAUNCHER).read().splitlines(True)
    with open(LAUNCHER, "w") as f:
        f.writelines(l for l in lines if directory not in l)


reruns = [
    ("a fresh install", a_dir, None, True),
    ("the same again", a_dir, None, False),
    ("another folder", b_dir, None, True),
    ("the first again: back to the head of the list", a_dir, None, True),
    ("the first once more", a_dir, None, False),
    ("the first again after its line was removed", a_dir, drop_from_launcher, True),
]
for what, target, before_run, expect in reruns:
    if before_run:
        before_run(target)
    dry = run(["usecwd", "--dry-run", "--json", "-D" + target], kit)
    plan = [json.loads(line) for line in dry.stdout.splitlines()]
    record = [o for o in plan if o.get("action") == "record" and o.get("path") == target]
    planned = bool(record)
    before = (snapshot(target) if os.path.isdir(target) else {}, launcher_text())
    r = run(["usecwd", "-S", "--json", "-D" + target], kit)
    after = (snapshot(target), launcher_text())
    lines = [json.loads(line) for line in r.stdout.splitlines()]
    result = lines[-1]
    record += [o for o in lines if o.get("action") == "record"]
    check(r.returncode == 0 and result["changed"] == expect and (before != after) == expect
          and plan[-1]["changes"] == expect and
          (planned == (before[1] != after[1])) and len(record) == 2 * planned and
          all(o["before"] == launcher_list(before[1]) and o["after"] == launcher_list(after[1])
              for o in record),
          "%s: changed is %s, as the tree and the launcher file say, and as the dry run said"
          % (what, str(expect).lower()), (result, plan[-1], record, before[1], after[1]))

# --- --umask: a hardened root umask (077) and the users the templates are for ---------
if os.geteuid() == 0:
    for args, folder, file, warned in (([], 0o700, 0o600, True),
                                       (["--umask=022"], 0o755, 0o644, False),
                                       (["--umask=002"], 0o775, 0o664, False)):
        target = os.path.join(WORK, "umask" + "".join(args).replace("=", "-"))
        r = run(["usecwd", "-S", "-D" + target] + args, kit,
                preexec_fn=lambda: os.umask(0o077))
        modes = (os.stat(os.path.join(target, "tpl")).st_mode & 0o777,
                 os.stat(os.path.join(target, "tpl/a.cf")).st_mode & 0o777)
        check(r.returncode == 0 and modes == (folder, file)
              and ("warning: with umask 077" in r.stderr) == warned,
              "umask 077 %s: folders %o, files %o%s" % (" ".join(args), folder, file,
                                                         ", and a warning" if warned else ""),
              (oct(modes[0]), oct(modes[1]), r.stderr))

for path in MOUNTS:
    subprocess.run(["umount", path])
finish()
