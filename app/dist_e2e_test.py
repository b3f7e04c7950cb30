"""The release binaries (scripts/dist.sh) as vendors ship them: what they
need of a machine, and the installer run where those vendors' users are.

    python3 app/dist_e2e_test.py DIST_DIR ROOT_DIR

DIST_DIR holds qorv-setup and vkt; ROOT_DIR is a bare Debian 11 root (no
GTK+ 2, no C++ runtime). Run through testing/with_xvfb.sh, as root: the root
is entered with chroot, and the toolkit is hidden with a private mount.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import e2e_support
from e2e_support import SETUP, VKT, check

ROOT = os.path.abspath(sys.argv[2])
# The C library's own: nothing else may be needed to start.
ALLOWED = {"libc.so.6", "libm.so.6", "libdl.so.2", "libpthread.so.0", "ld-linux-x86-64.so.2"}
NEWEST_GLIBC = (2, 31)


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=120, **kwargs)


def no_display():
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(LANG="C.UTF-8", LC_ALL="C.UTF-8")
    return env


def launcher_list(home):
    path = os.path.join(home, ".Vexa/vexalaunch/vexalaunch.cfg")
    if not os.path.exists(path):
        return ""
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def make_kit(work):
    tree = os.path.join(work, "tree")
    os.makedirs(os.path.join(tree, "tpl/sub"))
    for name, text in (("tpl/a.txt", "alpha\n"), ("tpl/sub/b.txt", "beta\n" * 1000)):
        with open(os.path.join(tree, name), "w") as f:
            f.write(text)
    kit = os.path.join(work, "qorv.vkt")
    r = run([VKT, "pack", "-d", "en:Dist test:Vendor:", "-o", kit, tree], env=no_display())
    check(r.returncode == 0, "the release vkt packs a kit on this machine", r.stderr)
    return kit


def check_binaries():
    for path in (SETUP, VKT):
        name = os.path.basename(path)
        dynamic = run(["readelf", "-d", path]).stdout
        needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic))
        check(needed and needed <= ALLOWED, f"{name} needs only the C library's own",
              sorted(needed - ALLOWED))
        versions = set(re.findall(r"\b([A-Z]+[A-Z_]*)_(\d+(?:\.\d+)*)\b",
                                  run(["objdump", "-T", path]).stdout))
        kinds = {kind for kind, _ in versions}
        check(kinds == {"GLIBC"}, f"{name} asks for no C++ runtime or libgcc versions", kinds)
        newest = max(tuple(int(n) for n in v.split(".")) for k, v in versions if k == "GLIBC")
        check(newest <= NEWEST_GLIBC, f"{name} needs at most GLIBC_2.31 (newest: {newest})")
        sections = run(["readelf", "-S", "-W", path]).stdout
        check(".symtab" not in sections, f"{name} is stripped")
    # tcmalloc stays the allocator: the installer's malloc is the one every
    # library in the process (the toolkit's too) calls.
    symbols = run(["nm", "-D", "--defined-only", SETUP]).stdout
    check(re.search(r" T malloc$", symbols, re.M) and re.search(r" T free$", symbols, re.M),
          "qorv-setup brings and exports its allocator")


def in_root(command, env):
    """Runs `command` (a shell line) inside the Debian 11 root, with /proc."""
    script = f"mount -t proc proc {ROOT}/proc && exec chroot {ROOT} /usr/bin/env -i " + \
        " ".join(f"{k}={v}" for k, v in env.items()) + f" /bin/sh -c '{command}'"
    return run(["unshare", "-m", "sh", "-c", script])


def check_old_system(kit):
    check(not os.path.exists(os.path.join(ROOT, "usr/lib/x86_64-linux-gnu/libgtk-x11-2.0.so.0")),
          "the Debian 11 root has no GTK+ 2")
    base = os.path.join(ROOT, "tmp/qorv-dist")
    shutil.rmtree(base, ignore_errors=True)
    os.makedirs(os.path.join(base, "home"))
    os.makedirs(os.path.join(base, "plain"))
    for source, name in ((SETUP, "plain/qorv-setup"), (kit, "plain/qorv.vkt"), (VKT, "vkt")):
        shutil.copy2(source, os.path.join(base, name))
    env = {"HOME": "/tmp/qorv-dist/home", "PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"}

    r = in_root("/tmp/qorv-dist/vkt verify /tmp/qorv-dist/plain/qorv.vkt", env)
    check(r.returncode == 0 and "sound" in r.stdout, "vkt verifies the kit on Debian 11",
          r.stdout + r.stderr)
    r = in_root("/tmp/qorv-dist/plain/qorv-setup -S -D/tmp/qorv-dist/home/first", env)
    check(r.returncode == 0, "the installer beside its kit installs on Debian 11 without GTK+ 2",
          r.stdout + r.stderr)
    with open(os.path.join(base, "home/first/tpl/sub/b.txt")) as f:
        check(f.read() == "beta\n" * 1000, "the files are written")
    check("/tmp/qorv-dist/home/first" in launcher_list(os.path.join(base, "home")),
          "the location is recorded")

    # One file: the kit inside the installer, started from elsewhere with
    # no kit beside it, and a display named that is not there.
    bundle = os.path.join(base, "setup-bundle")
    r = run([VKT, "bundle", "--installer", SETUP, "-o", bundle, kit])
    check(r.returncode == 0, "vkt bundle writes one file", r.stderr)
    r = in_root("cd / && /tmp/qorv-dist/setup-bundle -S -D/tmp/qorv-dist/home/second",
                dict(env, DISPLAY=":77"))
    check(r.returncode == 0, "the bundled installer installs its own kit on Debian 11",
          r.stdout + r.stderr)
    check(os.path.exists(os.path.join(base, "home/second/tpl/a.txt")), "its files are written")
    listed = launcher_list(os.path.join(base, "home"))
    check(listed.find("home/second") != -1 and listed.find("home/second") < listed.find("home/first"),
          "its location is recorded at the head of the list", listed)
    check("no window toolkit could be loaded (libgtk-x11-2.0.so.0: cannot open shared object file"
          in r.stderr,
          "with a display named, it says why there is no window", r.stderr)
    shutil.rmtree(base, ignore_errors=True)


def check_host(kit, work):
    kitdir = os.path.join(work, "kitdir")
    os.makedirs(kitdir)
    shutil.copy2(SETUP, kitdir)
    shutil.copy2(kit, kitdir)
    setup = os.path.join(kitdir, "qorv-setup")
    home = os.path.join(work, "home")
    os.makedirs(home)
    env = dict(os.environ, HOME=home, TMPDIR=work, LANG="C.UTF-8", LC_ALL="C.UTF-8")

    # With the toolkit and a display: the wizard's window.
    proc = subprocess.Popen([setup], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    found = False
    for _ in range(100):
        ids = run(["xdotool", "search", "--onlyvisible", "--pid", str(proc.pid)]).stdout.split()
        for window in ids:
            geometry = run(["xdotool", "getwindowgeometry", window]).stdout
            found = found or "Geometry: 500x360" in geometry
        if found or proc.poll() is not None:
            break
        time.sleep(0.1)
    check(found, "on a desktop the release installer shows the wizard")
    proc.kill()
    proc.wait()

    # GTK+ 2 hidden (an empty file bound over it): GTK 3 shows the window;
    # both hidden: the terminal.
    gtk2 = os.path.realpath("/usr/lib/x86_64-linux-gnu/libgtk-x11-2.0.so.0")
    gtk3 = os.path.realpath("/usr/lib/x86_64-linux-gnu/libgtk-3.so.0")
    empty = os.path.join(work, "empty")
    open(empty, "w").close()
    env = dict(env, NO_AT_BRIDGE="1", GSETTINGS_BACKEND="memory")
    for hidden, what in (([gtk2], "GTK 3"), ([gtk2, gtk3], "the terminal")):
        target = os.path.join(work, "target-" + str(len(hidden)))
        mounts = " && ".join(f"mount --bind {empty} {library}" for library in hidden)
        r = run(["unshare", "-m", "sh", "-c", f"{mounts} && exec {setup} -S -D{target}"], env=env)
        check(r.returncode == 0 and os.path.exists(os.path.join(target, "tpl/a.txt")),
              "without GTK+ 2 the release installer installs on " + what, r.stdout + r.stderr)
    check("no window toolkit could be loaded (" in r.stderr and "continuing on the terminal" in r.stderr,
          "and without either toolkit says why there is no window", r.stderr)


def main():
    work = tempfile.mkdtemp(prefix="qorv-dist-")
    try:
        check_binaries()
        kit = make_kit(work)
        check_old_system(kit)
        check_host(kit, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    e2e_support.finish()


if __name__ == "__main__":
    main()
