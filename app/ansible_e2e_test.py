"""The Ansible module qorv_kit as an administrator runs it: ansible-doc shows
it; plays against localhost install (changed), install again (not
changed), preview in check mode (changed reported, nothing touched), show
the plan with --diff, remove (changed, then not changed); a damaged kit
fails the task with its cause and leaves the host as it was; and a second
"machine": another user's home, the kit copied from the controller.

    python3 app/ansible_e2e_test.py BUILD_DIR
"""
import atexit
import json
import os
import pwd
import shutil
import subprocess
import tempfile

from e2e_support import *  # noqa: F403

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

if not shutil.which("ansible-playbook"):
    check(False, "ansible is installed (apt-get install ansible)")
    finish()

# The collection where Ansible looks for it: ansible_collections/qorv/kits.
collections = os.path.join(WORK, "collections")
os.makedirs(os.path.join(collections, "ansible_collections/qorv"))
os.symlink(os.path.join(SOURCE, "contrib/ansible"),
           os.path.join(collections, "ansible_collections/qorv/kits"))
# The module runs a program only when every folder up to / is closed to
# others: the remote temporary directory (where a task's src goes) is not
# under /tmp, as Ansible's own default (~/.ansible/tmp) is not.
REMOTE = tempfile.mkdtemp(prefix="qorv-ansible-", dir=pwd.getpwuid(os.getuid()).pw_dir)
atexit.register(shutil.rmtree, REMOTE, True)
ANSIBLE_ENV = dict(ENV, ANSIBLE_COLLECTIONS_PATH=collections,
                   ANSIBLE_STDOUT_CALLBACK="ansible.posix.json",
                   ANSIBLE_LOCAL_TEMP=os.path.join(WORK, "ansible-local"),
                   ANSIBLE_REMOTE_TEMP=REMOTE,
                   ANSIBLE_NOCOLOR="1", ANSIBLE_HOST_KEY_CHECKING="False",
                   ANSIBLE_PYTHON_INTERPRETER="/usr/bin/python3")
ANSIBLE_ENV["PATH"] = os.path.join(BUILD, "bin") + ":" + ANSIBLE_ENV.get("PATH", "/usr/bin:/bin")

r = subprocess.run(["ansible-doc", "qorv.kits.qorv_kit"], env=ANSIBLE_ENV, capture_output=True,
                   text=True)
check(r.returncode == 0 and "state" in r.stdout and "EXAMPLES" in r.stdout
      and "RETURN VALUES" in r.stdout, "ansible-doc renders the module", r.stderr)

# ansible-test sanity, the tests of it that run without a network (the others
# first download pip into a virtual environment), on a copy of the collection
# where ansible-test wants it.
OFFLINE_SANITY = ["action-plugin-docs", "compile", "empty-init", "future-import-boilerplate",
                  "line-endings", "metaclass-boilerplate", "no-assert", "no-basestring",
                  "no-dict-iteritems", "no-get-exception", "no-illegal-filenames",
                  "no-main-display", "no-smart-quotes", "no-unicode-literals", "replace-urlopen",
                  "runtime-metadata", "shebang", "symlinks", "use-argspec-type-path",
                  "use-compat-six"]
if shutil.which("ansible-test"):
    checkout = os.path.join(WORK, "sanity/ansible_collections/qorv/kits")
    shutil.copytree(os.path.join(SOURCE, "contrib/ansible"), checkout)
    version = subprocess.run(["/usr/bin/python3", "-c",
                              "import sys; print('%d.%d' % sys.version_info[:2])"],
                             capture_output=True, text=True).stdout.strip()
    args = ["ansible-test", "sanity", "--python", version]
    for test in OFFLINE_SANITY:
        args += ["--test", test]
    r = subprocess.run(args, cwd=checkout, env=ANSIBLE_ENV, capture_output=True, text=True,
                       timeout=600)
    check(r.returncode == 0, "ansible-test sanity: %d tests that run offline pass"
          % len(OFFLINE_SANITY), r.stdout[-2000:] + r.stderr[-2000:])

kit_dir = make_kit("fleet", {"tpl/a.cf": b"alpha", "tpl/sub/b.cf": b"beta",
                             "doc/about.html": b"<p>about</p>"})
kit = os.path.join(kit_dir, "qorv.vkt")
damaged = os.path.join(WORK, "damaged.vkt")
with open(kit, "rb") as f:
    data = bytearray(f.read())
data[len(data) // 3] ^= 0x20
with open(damaged, "wb") as f:
    f.write(data)
target = os.path.join(WORK, "office/templates")


def play(task, check_mode=False, diff=False):
    """Runs one task against localhost; its result (the json callback's)."""
    book = os.path.join(WORK, "play.yml")
    with open(book, "w") as f:
        json.dump([{"hosts": "localhost", "connection": "local", "gather_facts": False,
                    "tasks": [dict(task, name="qorv", register="r")]}], f)
    args = ["ansible-playbook", "-i", "localhost,", book]
    if check_mode:
        args.append("--check")
    if diff:
        args.append("--diff")
    r = subprocess.run(args, env=ANSIBLE_ENV, capture_output=True, text=True, timeout=300)
    try:
        return json.loads(r.stdout)["plays"][0]["tasks"][0]["hosts"]["localhost"]
    except (ValueError, KeyError, IndexError):
        return {"failed": True, "msg": "no result", "stdout": r.stdout[-2000:],
                "stderr": r.stderr[-2000:]}


present = {"qorv.kits.qorv_kit": {"kit": kit, "dest": target}}
absent = {"qorv.kits.qorv_kit": {"dest": target, "state": "absent"}}

before = snapshot(WORK + "/office")
r = play(present, check_mode=True, diff=True)
diff = r.get("diff") if isinstance(r.get("diff"), list) else []
check(not r.get("failed") and r.get("changed") is True and r.get("outcome") == "plan"
      and sorted(r.get("written", [])) == ["doc/about.html", "tpl/a.cf", "tpl/sub/b.cf"]
      and [d.get("before") for d in diff[:2]] == ["", ""]
      and [d.get("after") for d in diff[:2]] == ["doc/about.html\ntpl/a.cf\ntpl/sub/b.cf\n",
                                                 target + "\n"]
      and "write         tpl/a.cf" in diff[-1].get("prepared", ""),
      "check mode with --diff: changed; the files and the launcher's list before and after, "
      "and the plan file by file", r)
check(snapshot(WORK + "/office") == before and not os.path.exists(LAUNCHER),
      "check mode leaves the host as it was")

r = play(present)
check(not r.get("failed") and r.get("changed") is True and r.get("outcome") == "installed"
      and r.get("counts", {}).get("write") == 3 and r.get("target") == target,
      "first run: changed, three files written", r)
check(os.path.isfile(os.path.join(target, "tpl/sub/b.cf")) and recorded_location() == target,
      "the files are there and the location recorded")
r = play(present)
check(not r.get("failed") and r.get("changed") is False and r.get("outcome") == "unchanged",
      "second run: not changed", r)
r = play(present, check_mode=True)
check(not r.get("failed") and r.get("changed") is False, "check mode after it: nothing to do", r)

installed = snapshot(target)
for args, said in (({"dest": "relative/templates"}, "dest must be an absolute path"),
                   ({"dest": target, "lang": "xx"}, "value of lang must be one of")):
    r = play({"qorv.kits.qorv_kit": dict(args, kit=kit)})
    check(r.get("failed") is True and said in r.get("msg", ""),
          "a task with %s fails with one line saying why" % args, r)
for bad in ("/proc/qorv-nope", os.path.join(target, "tpl/a.cf")):
    task = {"qorv.kits.qorv_kit": {"kit": kit, "dest": bad}}
    checked, real = play(task, check_mode=True), play(task)
    check(checked.get("failed") is True and real.get("failed") is True
          and checked.get("rc") == real.get("rc") == 1 and checked.get("msg")
          and checked.get("msg") == real.get("msg"),
          "check mode fails as the run does for dest %s" % bad, (checked, real))
check(snapshot(target) == installed and recorded_location() == target,
      "and the host is as it was")
wide = os.path.join(WORK, "office/for-everyone")
r = play({"qorv.kits.qorv_kit": {"kit": kit, "dest": wide, "umask": "022", "wait": 5}})
check(not r.get("failed") and "--umask=022" in r.get("cmd", []) and "--wait=5" in r.get("cmd", [])
      and os.stat(os.path.join(wide, "tpl/a.cf")).st_mode & 0o777 == 0o644,
      "umask and wait reach the installer", r)
shutil.rmtree(wide, ignore_errors=True)
play({"qorv.kits.qorv_kit": {"kit": kit, "dest": target}})
r = play({"qorv.kits.qorv_kit": {"kit": damaged, "dest": target}})
check(r.get("failed") is True and "digest mismatch" in r.get("msg", "")
      and r.get("rc") == 1 and os.path.isfile(r.get("log", "")),
      "a damaged kit fails the task with its cause and the log", r)
r = play({"qorv.kits.qorv_kit": {"src": damaged, "dest": target}})
check(r.get("failed") is True and r.get("msg", "").startswith(damaged + ": ")
      and "digest mismatch" in r.get("msg", "") and ".:" not in r.get("msg", ""),
      "a damaged kit from the controller is named as the task gave it", r)
check(snapshot(target) == installed, "and leaves the host as it was")

r = play(absent, check_mode=True)
check(not r.get("failed") and r.get("changed") is True and snapshot(target) == installed,
      "state absent in check mode: changed, nothing removed", r)
r = play(absent)
check(not r.get("failed") and r.get("changed") is True and r.get("outcome") == "removed"
      and sorted(r.get("removed", [])) == ["doc/about.html", "tpl/a.cf", "tpl/sub/b.cf"]
      and not os.path.exists(os.path.join(target, "tpl/a.cf")),
      "state absent: the files removed, changed", r)
r = play(absent)
check(not r.get("failed") and r.get("changed") is False, "state absent again: not changed", r)

# One file to ship: an installer with the kit inside, on the controller.
bundle = os.path.join(WORK, "setup-fleet")
subprocess.run([VKT, "bundle", "--installer", SETUP, "-o", bundle, kit], check=True,
               capture_output=True)
bundled = {"qorv.kits.qorv_kit": {"src": bundle, "dest": target}}
r = play(bundled)
check(not r.get("failed") and r.get("changed") is True and r.get("outcome") == "installed"
      and os.path.isfile(os.path.join(target, "tpl/sub/b.cf")),
      "a bundled installer from the controller: copied over, installed, changed", r)
r = play(bundled)
check(not r.get("failed") and r.get("changed") is False, "the bundle again: not changed", r)
r = play(absent)
check(not r.get("failed") and r.get("changed") is True, "and removed", r)

# --- A second machine: another user's home, the kit from the controller ---------------
user = "qorvfleet"
if os.geteuid() == 0:
    # This test's own user, made afresh (one a killed run left goes first).
    subprocess.run(["userdel", "-r", user], capture_output=True)
    subprocess.run(["useradd", "-m", "-d", os.path.join(WORK, "fleet-home"), user],
                   capture_output=True, check=True)
    os.chmod(WORK, 0o755)
    home = pwd.getpwnam(user).pw_dir
    # The installer where every user may run it, as a package puts it.
    installer = os.path.join(WORK, "bin/qorv-setup")
    os.makedirs(os.path.dirname(installer))
    shutil.copy2(SETUP, installer)
    os.chmod(installer, 0o755)
    other = {"qorv.kits.qorv_kit": {"src": kit, "user": user, "installer": installer}}
    r = play(other)
    proposed = r.get("target", "")
    check(not r.get("failed") and r.get("changed") is True and proposed.startswith(home + "/")
          and os.stat(os.path.join(proposed, "tpl/a.cf")).st_uid == pwd.getpwnam(user).pw_uid,
          "another user: installed into that user's proposed directory, owned by the user", r)
    with open(os.path.join(home, ".Vexa/vexalaunch/vexalaunch.cfg")) as f:
        recorded = f.read()
    check(recorded == "ConfigurationTemplatesLocation=%s\n" % proposed.rstrip("/"),
          "and recorded in that user's launcher file", recorded)
    r = play(other)
    check(not r.get("failed") and r.get("changed") is False, "another user, again: not changed", r)

    # Check mode as that user leaves nothing behind, not even the work folder.
    shutil.rmtree(os.path.join(home, ".cache"), ignore_errors=True)
    r = play(other, check_mode=True)
    check(not r.get("failed") and not os.path.exists(os.path.join(home, ".cache")),
          "check mode as another user creates no work folder", r)

    # The user points the work folder at root's private folder: the module's
    # file work is the user's own, so nothing of root's changes.
    private = os.path.join(WORK, "root-only")
    os.makedirs(private, mode=0o700)
    with open(os.path.join(private, "shadow"), "w") as f:
        f.write("root only")
    os.chmod(os.path.join(private, "shadow"), 0o600)
    guarded = snapshot(private)
    owners = {n: os.lstat(os.path.join(private, n)).st_uid for n in os.listdir(private)}
    os.makedirs(os.path.join(home, ".cache/qorv"), exist_ok=True)
    shutil.rmtree(os.path.join(home, ".cache/qorv/tmp"), ignore_errors=True)
    os.symlink(private, os.path.join(home, ".cache/qorv/tmp"))
    subprocess.run(["chown", "-hR", user, os.path.join(home, ".cache")], check=True)
    r = play(other)
    check(snapshot(private) == guarded and owners == {
        n: os.lstat(os.path.join(private, n)).st_uid for n in os.listdir(private)},
        "a link the user plants for the work folder leads root nowhere", r)
    os.unlink(os.path.join(home, ".cache/qorv/tmp"))

    # A program planted beside a kit in a folder anyone can write is not run.
    def work_folders():
        places = {TMP, tempfile.gettempdir(), "/tmp"}
        return {os.path.join(p, n) for p in places if os.path.isdir(p)
                for n in os.listdir(p) if n.startswith("qorv-kit-")}
    folders_before = work_folders()
    shared = os.path.join(WORK, "shared-kits")
    os.makedirs(shared)
    os.chmod(shared, 0o1777)
    shutil.copy2(kit, os.path.join(shared, "qorv.vkt"))
    marker = os.path.join(WORK, "planted-ran")
    planted = os.path.join(shared, "qorv-setup")
    with open(planted, "w") as f:
        f.write("#!/bin/sh\ntouch %s\n" % marker)
    os.chmod(planted, 0o755)
    os.chown(planted, pwd.getpwnam(user).pw_uid, -1)
    r = play({"qorv.kits.qorv_kit": {"kit": os.path.join(shared, "qorv.vkt"),
                                     "dest": os.path.join(WORK, "planted-target")}})
    check(r.get("failed") is True and "is not run" in r.get("msg", "")
          and not os.path.exists(marker),
          "a program planted beside the kit in a shared folder is refused, never run", r)
    check(work_folders() <= folders_before, "and the refusal leaves no work folder behind",
          work_folders() - folders_before)

    # A bundled kit in root's folder inside another user's upload folder:
    # that user could swap the folders between the check and the run, so
    # it is not run at all.
    upload = os.path.join(REMOTE, "upload")
    os.makedirs(os.path.join(upload, "kits"))
    os.chown(upload, pwd.getpwnam(user).pw_uid, -1)
    shutil.copy2(bundle, os.path.join(upload, "kits/setup-fleet"))
    r = play({"qorv.kits.qorv_kit": {"kit": os.path.join(upload, "kits/setup-fleet"),
                                     "dest": os.path.join(WORK, "upload-target")}})
    check(r.get("failed") is True and (upload + ": owned by user %d"
                                       % pwd.getpwnam(user).pw_uid) in r.get("msg", "")
          and not os.path.exists(os.path.join(WORK, "upload-target")),
          "a bundled kit below another user's folder is refused, never run", r)

    # The example play, as the repository ships it, with this machine as the
    # office and the test's user as the clerk: check mode, the rollout, the
    # rollout again, and taking it back.
    examples = os.path.join(SOURCE, "contrib/ansible/examples")
    example_kit = os.path.join(WORK, "example/acme.vkt")
    os.makedirs(os.path.dirname(example_kit))
    for args, expect in ((["--check", "--diff"], (True, "plan")), ([], (True, "installed")),
                         ([], (False, "unchanged")), (["-e", "kit_state=absent"], (True, "removed"))):
        r = subprocess.run(["ansible-playbook", "-i", "local.ini", "rollout.yml",
                            "-e", "template_user=" + user, "-e", "vkt=" + VKT,
                            "-e", "installer=" + installer, "-e", "kit=" + example_kit] + args,
                           cwd=examples, env=ANSIBLE_ENV, capture_output=True, text=True,
                           timeout=300)
        try:
            tasks = json.loads(r.stdout)["plays"][0]["tasks"]
            rollout = [t["hosts"]["localhost"] for t in tasks
                       if t["task"]["name"].startswith("The Acme kit, copied")][0]
        except (ValueError, KeyError, IndexError):
            rollout = {"stdout": r.stdout[-2000:], "stderr": r.stderr[-2000:]}
        check(r.returncode == 0 and (rollout.get("changed"), rollout.get("outcome")) == expect
              and rollout.get("target") == os.path.join(home, "templates/acme"),
              "examples/rollout.yml %s: %s" % (" ".join(args) or "as it is", expect[1]), rollout)
    check(not os.path.exists(os.path.join(SOURCE, "contrib/ansible/examples/files/acme.vkt")),
          "and the example made its kit where it was told")
    subprocess.run(["userdel", "-r", user], capture_output=True)
else:
    check(False, "another user's run needs root")

finish()
