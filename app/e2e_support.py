"""What the end-to-end tests of the real qorv-setup without a display share:
a scratch world (home, temporary directory, launcher file), kits packed by
the real vkt, snapshots of trees, and the way each check is reported.

    from e2e_support import *   # BUILD_DIR is the first argument

The programs are in BUILD_DIR/bin, or in BUILD_DIR itself (the release
binaries of make dist).
"""
import hashlib
import os
import pty
import select
import shutil
import subprocess
import sys
import tempfile
import time

BUILD = os.path.abspath(sys.argv[1])
BIN = os.path.join(BUILD, "bin") if os.path.isdir(os.path.join(BUILD, "bin")) else BUILD
SETUP = os.path.join(BIN, "qorv-setup")
VKT = os.path.join(BIN, "vkt")
WORK = tempfile.mkdtemp(prefix="qorv-text-")
HOME = os.path.join(WORK, "home")
TMP = os.path.join(WORK, "tmp")
LAUNCHER = os.path.join(HOME, ".Vexa/vexalaunch/vexalaunch.cfg")
ENV = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
ENV.update(HOME=HOME, TMPDIR=TMP, LANG="C.UTF-8", LC_ALL="C.UTF-8",
           XDG_STATE_HOME=os.path.join(HOME, ".local/state"))
failures = 0


def check(condition, what, detail=""):
    global failures
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures += 1
        if detail:
            print("     " + str(detail)[-2000:].replace("\n", "\n     "))


def reset_home():
    for path in (HOME, TMP):
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)


def write_tree(root, files, stamp=1700000000):
    """Writes `files` under `root`: path -> bytes, of time `stamp`, or path
    -> (bytes, time)."""
    os.makedirs(root, exist_ok=True)
    for rel, data in files.items():
        data, time_ = data if isinstance(data, tuple) else (data, stamp)
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (time_, time_))


def make_kit(name, files, stamp=1700000000, env=None):
    """A directory holding qorv.vkt packed from `files` (path -> bytes), each
    file of time `stamp`, by vkt in the environment `env` (default: this
    process's); vkt's failure raises, with what it said."""
    source = os.path.join(WORK, name + "-src")
    write_tree(source, files, stamp)
    kit_dir = os.path.join(WORK, name)
    os.makedirs(kit_dir)
    subprocess.run([VKT, "pack", "--allow-empty", "-d", "en:Trade:Vendor:doc/about.html", "-o",
                    os.path.join(kit_dir, "qorv.vkt"), source], check=True, env=env,
                   capture_output=True)
    return kit_dir


def snapshot(root):
    tree = {}
    for directory, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(directory, name)
            st = os.lstat(path)
            entry = (st.st_mode, int(st.st_mtime) if not os.path.isdir(path) else 0)
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    entry += (hashlib.sha1(f.read()).hexdigest(),)
            tree[os.path.relpath(path, root)] = entry
    return tree


def differences(*trees):
    """The first few paths where the trees differ, for a failure's message."""
    paths = sorted(set().union(*trees))
    return "\n".join("%s: %s" % (p, [t.get(p) for t in trees])
                     for p in paths if len(set(t.get(p) for t in trees)) > 1)[:1500]


def run(args, cwd, **kw):
    return subprocess.run([SETUP] + args, cwd=cwd, env=ENV, capture_output=True, text=True,
                          stdin=kw.pop("stdin", subprocess.DEVNULL), timeout=kw.pop("timeout", 300),
                          **kw)


class Terminal:
    """qorv-setup on a pseudo-terminal: what it shows, and keys typed into it."""

    def __init__(self, args, cwd):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(cwd)
            os.execve(SETUP, [SETUP] + args, ENV)
        self.shown = b""

    def read(self, timeout):
        ready, _, _ = select.select([self.fd], [], [], timeout)
        if not ready:
            return False
        try:
            data = os.read(self.fd, 65536)
        except OSError:
            data = b""
        self.shown += data
        return bool(data)

    def expect(self, text, start=0, timeout=60):
        """Waits until `text` is shown after offset `start`; its end offset."""
        deadline = time.time() + timeout
        needle = text.encode()
        while self.shown.find(needle, start) < 0:
            if time.time() > deadline or not self.read(deadline - time.time()):
                if self.shown.find(needle, start) < 0:
                    raise AssertionError("never shown: %r\n%s" % (text, self.text()))
        return self.shown.find(needle, start) + len(needle)

    def type(self, keys):
        os.write(self.fd, keys.encode())

    def finish(self):
        while self.read(60):
            pass
        _, status = os.waitpid(self.pid, 0)
        os.close(self.fd)
        return os.waitstatus_to_exitcode(status)

    def text(self):
        return self.shown.decode("utf-8", "replace")


def recorded_location():
    """The head of the launcher's list of template locations, or None."""
    if not os.path.exists(LAUNCHER):
        return None
    with open(LAUNCHER) as f:
        for line in f:
            if line.startswith("ConfigurationTemplatesLocation="):
                return line.rstrip("\n").split("=", 1)[1]
    return None


def run_dirs():
    """The run directories left in the places runs keep them: the temporary
    directory and the state directory (the targets of these tests are on
    its file system)."""
    runs = os.path.join(HOME, ".local/state/qorv/runs")
    return [n for place in (TMP, runs) if os.path.isdir(place)
            for n in os.listdir(place) if n.startswith(".qorv-run-")]


def start_silent(kit_dir, target, stderr=subprocess.DEVNULL):
    """A silent install into `target`, its progress lines readable from stdout."""
    return subprocess.Popen([SETUP, "usecwd", "-S", "-D" + target], cwd=kit_dir, env=ENV,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=stderr,
                            text=True)


def wait_for_percent(process, percent):
    """Reads the progress lines of `process` until one shows `percent` or more."""
    while True:
        line = process.stdout.readline()
        if not line or ("%" in line and int(line.split("%")[0]) >= percent):
            return line


def finish():
    """Removes the scratch world, prints the count and ends the test."""
    shutil.rmtree(WORK, ignore_errors=True)
    print("%d failure(s)" % failures)
    sys.exit(1 if failures else 0)
