#!/usr/bin/python
# -*- coding: utf-8 -*-
"""Ansible module: install, upgrade and remove a qorv-setup template kit."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: qorv_kit
short_description: Install, upgrade or remove a qorv-setup template kit
version_added: "1.4.0"
description:
  - Runs C(qorv-setup) on the managed host, silently and on the terminal
    (C(--text -S --json)), and reports what it did from its JSON lines.
  - An install writes the kit's files that are missing or older in the template
    directory, removes the files an earlier kit installed that this one no
    longer ships (when unchanged since), and records the directory at the head
    of the launcher's list. It is transactional on the host, whatever happens.
  - Idempotent. C(changed) is false when nothing was written or removed.
  - In check mode the installer's C(--dry-run) reports what would change and
    changes nothing. With C(--diff) the kit's files in I(dest) and the
    launcher's list are shown before and after, and the plan file by file.
options:
  kit:
    description:
      - The kit file (C(qorv.vkt)) on the managed host, or an installer with the
        kit inside it (made by C(vkt bundle)).
      - Required with I(state=present) unless I(src) is given.
    type: path
  src:
    description:
      - A kit or bundled installer on the controller, copied to the host first
        (into the task's temporary directory, removed afterwards).
    type: path
  installer:
    description:
      - The C(qorv-setup) program on the host, for a I(kit) that is a plain kit
        file, and for I(state=absent).
      - Default is C(qorv-setup) beside the kit, else the one in C(PATH). The one
        beside the kit, and a bundled kit, are run only when they and their
        folder belong to root or the installing user and nobody else may change
        them; in a folder anyone can write (even a sticky one like C(/tmp)) give
        I(installer).
    type: path
  dest:
    description:
      - The template directory, an absolute path (C(~/) is the home directory).
        A relative one is refused, as it would name a folder under the
        module's own temporary directory.
      - Default is what the installer proposes (the head of the launcher's list,
        else the launcher's default); for I(state=absent), the head of the list.
    type: path
  state:
    description:
      - C(present) installs or upgrades; C(absent) removes what the installs put
        into I(dest) and its place in the launcher's list (files changed since
        they were installed are kept).
    type: str
    choices: [present, absent]
    default: present
  lang:
    description:
      - Language of the installer's texts. Default is English.
    type: str
    choices: [ru, uk, en, lv, lt, bg, de, ro, ka, kk, vi, tr, el, es, hy, it]
  wait:
    description:
      - When another installation into I(dest) is running, wait at most this
        many seconds for it, then fail (the installer's C(--wait)). Default is
        to wait as long as it takes.
    type: int
  umask:
    description:
      - The umask for the folders and files the run makes, in octal (the
        installer's C(--umask)), e.g. C("022") when root installs for other
        users on a host whose umask is 077.
    type: str
  user:
    description:
      - Whose launcher file, home and state directory the run uses. Default is
        the connecting user; another user needs C(become).
      - The copy of the kit that user's run reads is made, and removed again, by
        that user (under C(~/.cache/qorv/tmp); in check mode in a fresh
        temporary folder), never by root.
    type: str
notes:
  - Supports check mode and diff mode.
  - The installer keeps a log of every run under the user's
    C($XDG_STATE_HOME/qorv/log/); failures return its path.
author:
  - qorv-setup developers
"""

EXAMPLES = r"""
- name: Roll the kit out (it is copied from the controller)
  qorv.kits.qorv_kit:
    src: files/acme.vkt
    dest: /srv/templates/acme

- name: A bundled installer already on the host, for another user
  qorv.kits.qorv_kit:
    kit: /opt/acme/acme-setup
    user: office
  become: true

- name: Remove the installation
  qorv.kits.qorv_kit:
    dest: /srv/templates/acme
    state: absent
"""

RETURN = r"""
outcome:
  description: What the run did (C(installed), C(unchanged), C(removed), C(nothing) to
    remove), or in check mode what it would do (C(plan)).
  returned: success
  type: str
  sample: installed
target:
  description: The template directory.
  returned: when known
  type: str
  sample: /srv/templates/acme
counts:
  description: Files written, replaced, kept, removed, and kept because they were changed.
  returned: success
  type: dict
  sample: {"write": 3, "replace": 1, "keep": 10, "remove": 1, "keep_changed": 0}
written:
  description: Files written where none was (relative to the target).
  returned: success
  type: list
  elements: str
replaced:
  description: Files replaced by the kit's newer ones.
  returned: success
  type: list
  elements: str
removed:
  description: Files removed (an earlier kit's that this one dropped, or all of them).
  returned: success
  type: list
  elements: str
kept:
  description: Files kept because they were changed since they were installed.
  returned: success
  type: list
  elements: str
log:
  description: The log of the run on the host.
  returned: on failure
  type: str
cause:
  description: Why the run failed.
  returned: on failure
  type: str
rc:
  description: The installer's exit status.
  returned: always
  type: int
cmd:
  description: The command that was run.
  returned: always
  type: list
  elements: str
"""

import json
import os
import pwd
import shutil
import stat
import tempfile

from ansible.module_utils.basic import AnsibleModule

ACTIONS = ("write", "replace", "keep", "remove", "keep-changed")


def parse_lines(stdout):
    """The JSON lines of the installer, grouped: items ("plan" or "file"
    lines), the totals and the result; other lines are left out."""
    items, totals, result = [], None, None
    for line in stdout.splitlines():
        line = line.strip()
        if not line.startswith("{"):
            continue
        try:
            record = json.loads(line)
        except ValueError:
            continue
        kind = record.get("type")
        if kind in ("plan", "file"):
            items.append(record)
        elif kind == "totals":
            totals = record
        elif kind == "result":
            result = record
    return items, totals, result


def summarize(items, totals, result):
    """What the module returns of a run or a plan."""
    def paths(action):
        return [i["path"] for i in items if i.get("action") == action]

    source = totals or result or {}
    counts = dict((a.replace("-", "_"), int(source.get(a, 0))) for a in ACTIONS)
    return {
        "counts": counts,
        "written": paths("write"),
        "replaced": paths("replace"),
        "removed": paths("remove"),
        "kept": paths("keep-changed"),
    }


def plan_text(items):
    return "".join("%-13s %s\n" % (i.get("action"), i.get("path")) for i in items
                   if i.get("action") != "keep")


def failure(result, stderr, kit=None):
    """The message of a failed run: the installer's words, else its last
    lines. The installer names the kit as it sees it (qorv.vkt in the
    module's work folder): `kit` is the name the task gave."""
    result = result or {}
    words = [w.rstrip(". ") for w in (result.get("message"), result.get("cause")) if w]
    if words:
        message = ": ".join(words)
        if kit and "qorv.vkt" in message:
            message = "%s: %s" % (kit, message)
        return message
    lines = [l for l in stderr.splitlines() if l.strip()]
    return " ".join(lines[-3:]) or "qorv-setup failed"


def plan_diff(items, target):
    """The plan as Ansible's --diff shows it: the kit's files in the target
    before and after (a replaced file is the kit's newer copy after), the
    launcher's list before and after when it changes, and the plan itself."""
    before, after, record = [], [], None
    for item in items:
        action, path = item.get("action"), item.get("path")
        if action == "record":
            record = item
        elif action == "write":
            after.append(path)
        elif action == "replace":
            before.append(path + "  (older)")
            after.append(path + "  (the kit's)")
        elif action == "remove":
            before.append(path)
        else:
            before.append(path)
            after.append(path)
    def text(lines):
        return "".join(line + "\n" for line in sorted(lines))
    name = target or "the template directory"
    diff = [{"before_header": "%s (before)" % name, "after_header": "%s (after)" % name,
             "before": text(before), "after": text(after)}]
    if record is not None:
        diff.append({"before_header": "the launcher's list (before)",
                     "after_header": "the launcher's list (after)",
                     "before": "".join(l + "\n" for l in record.get("before", [])),
                     "after": "".join(l + "\n" for l in record.get("after", []))})
    diff.append({"prepared": plan_text(items)})
    return diff


def open_program(path, uid):
    """Opens the program at `path` once, to run that very file: (fd, None),
    or (None, why) when it must not be run for a user `uid`. It, and every
    folder from it up to /, must belong to root or to that user, and nobody
    else may change them (a folder anyone can write, even a sticky one, lets
    anyone put a program of that name there first, or swap the folders
    between the check and the run). The folders are walked one name at a
    time through descriptors, following no link: what is checked is what
    runs."""
    path = os.path.abspath(path)
    try:
        if stat.S_ISLNK(os.lstat(path).st_mode):
            return None, "%s: not a regular file" % path
    except OSError as error:
        return None, "%s: %s" % (path, error.strerror)
    # The links of the folders' path are resolved once, here; the walk
    # below refuses any that appears after.
    names = [n for n in os.path.realpath(os.path.dirname(path)).split("/") if n]
    names.append(os.path.basename(path))
    place = "/"
    fd = None
    try:
        fd = os.open("/", os.O_PATH | os.O_DIRECTORY | os.O_CLOEXEC)
        for i in range(len(names) + 1):
            st = os.fstat(fd)
            last = i == len(names)
            if stat.S_ISLNK(st.st_mode) or (last and not stat.S_ISREG(st.st_mode)):
                return None, "%s: not a regular file" % place
            if not last and not stat.S_ISDIR(st.st_mode):
                return None, "%s: not a folder" % place
            if st.st_uid not in (0, uid):
                return None, ("%s: owned by user %d, neither root nor the installing user"
                              % (place, st.st_uid))
            if st.st_mode & (stat.S_IWGRP | stat.S_IWOTH):
                return None, "%s: others may change it" % place
            if last:
                opened, fd = fd, None
                return opened, None
            place = os.path.join(place, names[i])
            inner = os.open(names[i], os.O_PATH | os.O_NOFOLLOW | os.O_CLOEXEC, dir_fd=fd)
            os.close(fd)
            fd = inner
    except OSError as error:
        return None, "%s: %s" % (place, error.strerror)
    finally:
        if fd is not None:
            os.close(fd)


def unsafe_program(path, uid):
    """Why the program at `path` must not be run for a user `uid` (None when
    it may): see open_program."""
    fd, why = open_program(path, uid)
    if fd is not None:
        os.close(fd)
    return why


def find_installer(module, kit, uid):
    """The installer to run: its path, and a descriptor of the very file
    (the one that was checked, when it was) or None."""
    installer = module.params["installer"]
    if installer:
        return installer, None
    if kit:
        beside = os.path.join(os.path.dirname(kit), "qorv-setup")
        if os.path.isfile(beside) and os.access(beside, os.X_OK):
            fd, why = open_program(beside, uid)
            if why:
                module.fail_json(msg="qorv-setup beside the kit is not run: %s; give installer "
                                     "or use a bundled kit" % why)
            return beside, fd
    found = shutil.which("qorv-setup")
    if not found:
        module.fail_json(msg="qorv-setup is not installed on the host: give installer, "
                             "or a kit with the installer inside (vkt bundle)")
    return found, None


def run_as(module, user):
    """Environment and start function for a run as `user` (None: as we
    are), and the user's uid."""
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "XDG_STATE_HOME"):
        env.pop(name, None)
    env["LC_ALL"] = "C.UTF-8"
    if not user:
        return env, None, os.getuid()
    try:
        account = pwd.getpwnam(user)
    except KeyError:
        module.fail_json(msg="no such user: %s" % user)
    if account.pw_uid == os.getuid():
        return env, None, os.getuid()
    if os.geteuid() != 0:
        module.fail_json(msg="running as %s needs become (root)" % user)
    env.update(HOME=account.pw_dir, USER=user, LOGNAME=user)

    def start():
        os.setgid(account.pw_gid)
        os.initgroups(user, account.pw_gid)
        os.setuid(account.pw_uid)
    return env, start, account.pw_uid


def as_user(start, work):
    """Runs `work()` in a child that has become the user (`start`): every
    file it makes, copies or removes is the user's own doing, so no link the
    user plants can turn it into root's. Returns what `work` returned (a
    string), or raises OSError with the child's reason."""
    reader, writer = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(reader)
        code = 0
        try:
            start()
            answer = work() or ""
        except BaseException as error:  # noqa: B902 - everything goes to the parent
            answer, code = str(error), 1
        os.write(writer, answer.encode("utf-8", "surrogateescape"))
        os._exit(code)
    os.close(writer)
    chunks = []
    while True:
        chunk = os.read(reader, 65536)
        if not chunk:
            break
        chunks.append(chunk)
    os.close(reader)
    _, status = os.waitpid(pid, 0)
    answer = b"".join(chunks).decode("utf-8", "surrogateescape")
    if os.waitstatus_to_exitcode(status) != 0:
        raise OSError(answer)
    return answer


def prepare_as_user(start, home, kit_fd, bundled, check_mode):
    """The user's work folder holding a copy of the kit (read by root from
    `kit_fd`), made by the user: under ~/.cache/qorv/tmp, the same every run
    so that a run the host did not live to finish is undone by the next one;
    in check mode in a fresh folder of the system's temporary directory, so
    that nothing of it stays. Answers the temporary directory and the work
    folder, tab-separated."""
    def work():
        if check_mode:
            temp = tempfile.mkdtemp(prefix="qorv-check-")
        else:
            temp = os.path.join(home, ".cache", "qorv", "tmp")
            os.makedirs(temp, mode=0o700, exist_ok=True)
        workdir = tempfile.mkdtemp(prefix="qorv-kit-", dir=temp)
        name = os.path.join(workdir, "installer" if bundled else "kit-copy.vkt")
        out = os.open(name, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW,
                      0o755 if bundled else 0o644)
        with os.fdopen(out, "wb") as copy:
            os.lseek(kit_fd, 0, os.SEEK_SET)
            while True:
                block = os.read(kit_fd, 1 << 20)
                if not block:
                    break
                copy.write(block)
        return temp + "\t" + workdir
    return as_user(start, work).split("\t")


def prepare_and_run(module, params, kit, env, start, uid, work):
    """Makes the work folder (noted in `work` as soon as it exists, with the
    descriptors opened) and runs the installer in it: its status, output,
    errors and command line."""
    absent = params["state"] == "absent"
    workdir = None
    program = None
    bundled = kit and os.access(kit, os.X_OK) and not kit.endswith(".vkt")
    if kit and start:
        # Another user may not reach the kit where it is (the connecting
        # user's temporary directory): a copy of that user's own, made as
        # that user. Root only reads the kit.
        try:
            kit_fd = os.open(kit, os.O_RDONLY | os.O_NOFOLLOW)
        except OSError as error:
            module.fail_json(msg="cannot read the kit %s: %s" % (kit, error.strerror))
        try:
            temp, workdir = prepare_as_user(start, env["HOME"], kit_fd, bundled,
                                            module.check_mode)
        except OSError as error:
            module.fail_json(msg="cannot prepare the kit for %s: %s" % (params["user"], error))
        finally:
            os.close(kit_fd)
        env["TMPDIR"] = temp
        work["cleanup"] = temp if module.check_mode else workdir
        kit = os.path.join(workdir, "installer" if bundled else "kit-copy.vkt")
    elif kit:
        workdir = tempfile.mkdtemp(prefix="qorv-kit-")
        work["cleanup"] = workdir
        if bundled:
            program, why = open_program(kit, uid)
            if why:
                module.fail_json(msg="the bundled kit is not run: %s" % why)
            work["fds"].append(program)
    if bundled:
        cmd = [kit]
    else:
        installer, program = find_installer(module, params["kit"], uid)
        if program is not None:
            work["fds"].append(program)
        cmd = [installer]
        if kit:
            # The installer takes qorv.vkt from the current directory: as
            # root, the kit opened here, once (the installer reads it
            # through its own copy of the descriptor).
            link = os.path.join(workdir, "qorv.vkt")
            if start:
                as_user(start, lambda: os.symlink(os.path.abspath(kit), link))
            else:
                try:
                    kit_fd = os.open(kit, os.O_RDONLY | os.O_NOFOLLOW | os.O_CLOEXEC)
                except OSError as error:
                    module.fail_json(msg="cannot read the kit %s: %s" % (kit, error.strerror))
                work["fds"].append(kit_fd)
                os.symlink("/proc/self/fd/%d" % kit_fd, link)
            cmd.append("usecwd")
    if absent:
        cmd.append("--uninstall")
    cmd += ["--text", "-S", "--json"]
    if module.check_mode:
        cmd.append("--dry-run")
    if params["dest"]:
        cmd.append("-D" + params["dest"])
    if params["wait"] is not None:
        cmd.append("--wait=%d" % params["wait"])
    if params["umask"]:
        cmd.append("--umask=" + params["umask"])
    # The language option ends the reading of options: it comes last.
    cmd.append("-L" + (params["lang"] or "en"))
    rc, stdout, stderr = run(module, cmd, workdir, env, start, program, work["fds"])
    return rc, stdout, stderr, cmd


def main():
    module = AnsibleModule(
        argument_spec=dict(
            kit=dict(type="path"),
            src=dict(type="path"),
            installer=dict(type="path"),
            dest=dict(type="path"),
            state=dict(type="str", default="present", choices=["present", "absent"]),
            lang=dict(type="str", choices=["ru", "uk", "en", "lv", "lt", "bg", "de", "ro",
                                           "ka", "kk", "vi", "tr", "el", "es", "hy", "it"]),
            user=dict(type="str"),
            wait=dict(type="int"),
            umask=dict(type="str"),
        ),
        required_if=[("state", "present", ("kit",))],
        supports_check_mode=True,
    )
    params = module.params
    kit = params["kit"]
    absent = params["state"] == "absent"
    if params["dest"] and not os.path.isabs(params["dest"]):
        module.fail_json(msg="dest must be an absolute path, not %s" % params["dest"])
    if kit and not os.path.isfile(kit):
        module.fail_json(msg="no kit at %s on the host" % kit)
    env, start, uid = run_as(module, params["user"])

    # Whatever way the module ends (fail_json exits), its work folder goes.
    work = {"cleanup": None, "fds": []}
    try:
        rc, stdout, stderr, cmd = prepare_and_run(module, params, kit, env, start, uid, work)
    finally:
        for fd in work["fds"]:
            os.close(fd)
        cleanup = work["cleanup"]
        if cleanup and start:
            try:
                as_user(start, lambda: shutil.rmtree(cleanup, ignore_errors=True))
            except OSError:
                pass
        elif cleanup:
            shutil.rmtree(cleanup, ignore_errors=True)

    items, totals, result = parse_lines(stdout)
    out = dict(cmd=cmd, rc=rc, changed=False)
    if result and result.get("target"):
        out["target"] = result["target"]
    if result and result.get("log"):
        out["log"] = result["log"]

    nothing = result is not None and result.get("outcome") == "nothing"
    if absent and nothing:
        # Nothing recorded for the directory: already absent.
        out.update(summarize([], None, None), outcome="nothing")
        module.exit_json(failed=False, **out)
    if rc != 0 or (not module.check_mode and result is None):
        out.update(stdout_lines=stdout.splitlines(), stderr_lines=stderr.splitlines())
        if result and result.get("cause"):
            out["cause"] = result["cause"]
        module.fail_json(msg=failure(result, stderr, params["kit"]), **out)

    out.update(summarize(items, totals, result))
    if module.check_mode:
        out["outcome"] = "plan"
        if params["dest"]:
            out.setdefault("target", params["dest"])
        out["changed"] = bool(totals and totals.get("changes"))
    else:
        out["outcome"] = result.get("outcome")
        out["changed"] = bool(result.get("changed"))
    if module._diff and out["changed"]:
        out["diff"] = plan_diff(items, out.get("target") or params["dest"])
    module.exit_json(**out)


def run(module, cmd, workdir, env, start, program=None, fds=()):
    """Runs the installer; its status, standard output and standard error.
    With `program` (a descriptor), that very file runs, whatever its path
    names by now; `fds` are passed on (the kit's)."""
    import subprocess
    executable = "/proc/self/fd/%d" % program if program is not None else None
    try:
        process = subprocess.Popen(cmd, executable=executable, cwd=workdir, env=env,
                                   preexec_fn=start, pass_fds=tuple(fds),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
    except OSError as error:
        module.fail_json(msg="cannot run %s: %s" % (cmd[0], error), cmd=cmd)
    stdout, stderr = process.communicate()
    return (process.returncode, stdout.decode("utf-8", "surrogateescape"),
            stderr.decode("utf-8", "surrogateescape"))


if __name__ == "__main__":
    main()
