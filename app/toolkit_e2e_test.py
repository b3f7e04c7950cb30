#!/usr/bin/env python3
"""The window toolkits as people meet them, with the real binary: GTK 3 where
GTK+ 2 is missing, the choice by option and environment, the terminal where
no toolkit is there, HiDPI screens, and Wayland under a headless weston
(skipped, with a line saying why, where weston cannot start). Screenshots go
to BUILD_DIR/toolkits. Run through testing/with_xvfb.sh.

    app/toolkit_e2e_test.py BUILD_DIR
"""
import glob
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_support import *  # noqa: E402,F401,F403
from e2e_support import BUILD, ENV, HOME, SETUP, WORK, check, finish, make_kit, reset_home  # noqa: E402

ART = os.path.join(BUILD, "toolkits")
DRIVER = os.path.join(BUILD, "testing", "libqorv_toolkit_driver.so")
LIBS = "/usr/lib/x86_64-linux-gnu"
GTK2 = os.path.realpath(os.path.join(LIBS, "libgtk-x11-2.0.so.0"))
GTK3 = os.path.realpath(os.path.join(LIBS, "libgtk-3.so.0"))
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LOGS = os.path.join(HOME, ".local/state/qorv/log")
# No accessibility bus and no settings daemon here: GTK 3 is told not to
# look for them.
X_ENV = dict(ENV, DISPLAY=os.environ["DISPLAY"], NO_AT_BRIDGE="1", GSETTINGS_BACKEND="memory")
EMPTY = os.path.join(WORK, "empty")


def xdotool(*args):
    return subprocess.run(["xdotool"] + list(args), capture_output=True, text=True).stdout


def without(libraries, args):
    """The installer with `libraries` hidden (an empty file bound over each),
    for this command only; it keeps its process id."""
    mounts = " && ".join("mount --bind %s %s" % (EMPTY, lib) for lib in libraries)
    return ["unshare", "-m", "sh", "-c", mounts + ' && exec "$0" "$@"', SETUP, "usecwd"] + args


def start(command, env, cwd):
    return subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def window_of(process, timeout=15):
    """The first visible window of `process` and its size ("500x360")."""
    deadline = time.time() + timeout
    while time.time() < deadline and process.poll() is None:
        for window in xdotool("search", "--onlyvisible", "--pid", str(process.pid)).split():
            for line in xdotool("getwindowgeometry", window).splitlines():
                if "Geometry:" in line:
                    return window, line.split()[-1]
        time.sleep(0.1)
    return None, None


def press(window, key, pause=0.8):
    xdotool("windowfocus", "--sync", window)
    xdotool("key", "--window", window, key)
    time.sleep(pause)


def last_log():
    logs = sorted(glob.glob(os.path.join(LOGS, "*")), key=os.path.getmtime)
    if not logs:
        return ""
    with open(logs[-1], errors="replace") as f:
        return f.read()


def installed(target):
    return os.path.isfile(os.path.join(target, "tpl", "a.txt"))


def end(process, timeout=30):
    try:
        out, err = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        out, err = process.communicate()
    return process.returncode, out, err


def enter_enter_installs(kit, command, env, what, screenshot=None):
    """Enter on the welcome page, Enter on the directory page, then Enter on
    the final page: the files are installed and the run ends with 0."""
    reset_home()
    target = os.path.join(WORK, "t-" + what.replace(" ", "-"))
    process = start(command + ["-D" + target], env, kit)
    window, size = window_of(process)
    check(window is not None, what + ": a window appears", size)
    if window is None:
        end(process, 5)
        return None
    time.sleep(0.5)
    if screenshot:
        subprocess.run(["/usr/bin/import", "-window", window, os.path.join(ART, screenshot)])
    press(window, "Return")
    press(window, "Return", 2.5)
    press(window, "Return")
    status, _, err = end(process)
    check(status == 0 and installed(target), what + ": Enter, Enter installs", err)
    return size, last_log()


def picture_difference(shot, source, box):
    """Mean difference (0..255) between the crop `box` of `shot` and `source`."""
    def pixels(args):
        return subprocess.run(["/usr/bin/convert"] + args + ["-depth", "8", "rgb:-"],
                              capture_output=True, check=True).stdout
    a = pixels([shot, "-crop", box, "+repage"])
    b = pixels([source])
    if len(a) != len(b) or not a:
        return 255
    return sum(abs(x - y) for x, y in zip(a, b)) / len(a)


def check_fallback(kit):
    # GTK+ 2 gone, as on today's distributions, and nobody on a terminal.
    result = enter_enter_installs(kit, without([GTK2], []), X_ENV, "GTK+ 2 hidden, GTK 3 there")
    if result:
        check(result[0] == "500x360", "the window has the usual size on GTK 3", result[0])
        check("the wizard runs on GTK 3" in result[1], "the log says which toolkit", result[1])

    # Neither toolkit: the terminal, and why.
    reset_home()
    target = os.path.join(WORK, "t-none")
    r = subprocess.run(without([GTK2, GTK3], ["-S", "-D" + target]), cwd=kit, env=X_ENV,
                       stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    check(r.returncode == 0 and installed(target), "without either toolkit -S installs on the terminal",
          r.stderr)
    check("no window toolkit could be loaded (" in r.stderr and "libgtk-x11-2.0.so.0: " in r.stderr
          and "libgtk-3.so.0: " in r.stderr and "continuing on the terminal" in r.stderr,
          "and says why there is no window", r.stderr)
    # Nobody to ask either: it says the toolkit failed, not that there is
    # no display.
    r = subprocess.run(without([GTK2], ["--toolkit=gtk2", "-D" + target]), cwd=kit, env=X_ENV,
                       stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    check(r.returncode == 3 and "no window: cannot load " in r.stderr
          and "libgtk-x11-2.0.so.0: " in r.stderr and "No display" not in r.stderr,
          "--toolkit=gtk2 without GTK+ 2 and without a terminal says GTK+ 2 failed", r.stderr)


def check_choice(kit):
    cases = [
        ("the default on X at scale 1", [], {}, "GTK+ 2"),
        ("--toolkit=gtk3", ["--toolkit=gtk3"], {}, "GTK 3"),
        ("QORV_TOOLKIT=gtk3", [], {"QORV_TOOLKIT": "gtk3"}, "GTK 3"),
        ("the option over the variable", ["--toolkit=gtk2"], {"QORV_TOOLKIT": "gtk3"}, "GTK+ 2"),
        ("GDK_SCALE=2", [], {"GDK_SCALE": "2"}, "GTK 3"),
        ("--toolkit=text", ["--toolkit=text"], {}, "terminal"),
        ("QORV_TOOLKIT=text", [], {"QORV_TOOLKIT": "text"}, "terminal"),
    ]
    for what, args, extra, expected in cases:
        reset_home()
        target = os.path.join(WORK, "t-choice")
        shutil.rmtree(target, ignore_errors=True)
        r = subprocess.run([SETUP, "usecwd", "-S", "-D" + target] + args, cwd=kit, env=dict(X_ENV, **extra),
                           stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
        log = last_log()
        said = "on the terminal" in log if expected == "terminal" else \
            ("the wizard runs on " + expected + "\n") in log
        check(r.returncode == 0 and installed(target) and said,
              "%s: %s" % (what, expected), r.stderr + log)
    for args, extra, shown in ((["--toolkit=qt"], {}, "--toolkit=qt: expected gtk2, gtk3 or text"),
                               ([], {"QORV_TOOLKIT": "motif"},
                                "QORV_TOOLKIT=motif: expected gtk2, gtk3 or text")):
        target = os.path.join(WORK, "t-wrong")
        r = subprocess.run([SETUP, "usecwd", "-S", "-D" + target] + args, cwd=kit, env=dict(X_ENV, **extra),
                           stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        check(r.returncode == 3 and r.stderr == "qorv-setup: " + shown + "\n"
              and not os.path.exists(target), "a wrong toolkit name is refused: " + shown, r.stderr)


def check_hidpi(kit):
    big = os.path.join(SOURCE, "res", "side_picture_2x.xpm")
    small = os.path.join(SOURCE, "res", "side_picture.xpm")
    upscaled = os.path.join(WORK, "upscaled.png")
    subprocess.run(["/usr/bin/convert", small, "-resize", "316x572!", upscaled], check=True)
    for what, env, shot in (("GDK_SCALE=2", dict(X_ENV, GDK_SCALE="2"), "hidpi-gdk-scale.png"),
                            ("Xft.dpi 192", X_ENV, "hidpi-xft-dpi.png")):
        if what.startswith("Xft"):
            subprocess.run(["xprop", "-root", "-f", "RESOURCE_MANAGER", "8s", "-set",
                            "RESOURCE_MANAGER", "Xft.dpi:\t192\n"], check=True)
        result = enter_enter_installs(kit, [SETUP, "usecwd", "-Len"], env, what, shot)
        if what.startswith("Xft"):
            subprocess.run(["xprop", "-root", "-remove", "RESOURCE_MANAGER"])
        if not result:
            continue
        check(result[0] == "1000x720", what + ": the window is 1000 x 720 device pixels", result[0])
        check("the wizard runs on GTK 3" in result[1], what + ": on GTK 3", result[1])
        path = os.path.join(ART, shot)
        sharp = picture_difference(path, big, "316x572+0+0")
        blurred = picture_difference(path, upscaled, "316x572+0+0")
        check(sharp < 1.0 and blurred > 2 * sharp,
              what + ": the picture is drawn from its double-size source, pixel for pixel",
              "difference to the source %.2f, to the 1x picture enlarged %.2f" % (sharp, blurred))


def start_weston(runtime):
    """A headless Wayland compositor; its socket name, or None and why not."""
    if shutil.which("weston") is None:
        return None, "weston is not installed"
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    log = open(os.path.join(ART, "weston.log"), "w")
    process = subprocess.Popen(["weston", "--backend=headless-backend.so", "--socket=wayland-qorv",
                                "--idle-time=0"], env=dict(os.environ, XDG_RUNTIME_DIR=runtime),
                               stdout=log, stderr=subprocess.STDOUT)
    for _ in range(100):
        if os.path.exists(os.path.join(runtime, "wayland-qorv")):
            return process, None
        if process.poll() is not None:
            break
        time.sleep(0.1)
    process.kill()
    process.wait()
    with open(os.path.join(ART, "weston.log")) as f:
        return None, "weston did not start: " + f.read()[-300:]


def check_wayland(kit):
    runtime = os.path.join(WORK, "runtime")
    weston, why = start_weston(runtime)
    if weston is None:
        print("skip Wayland: " + why)
        return
    try:
        env = {k: v for k, v in X_ENV.items() if k != "DISPLAY"}
        driver_log = os.path.join(WORK, "driver.log")
        env.update(XDG_RUNTIME_DIR=runtime, WAYLAND_DISPLAY="wayland-qorv", GTK_MODULES=DRIVER,
                   QORV_DRIVER_LOG=driver_log)
        for what, args, presses in (("a silent run", ["-S"], []),
                                    ("an interactive run", [], ["Next >", "Next >", "Finish"])):
            reset_home()
            if os.path.exists(driver_log):
                os.remove(driver_log)
            target = os.path.join(WORK, "t-wayland")
            shutil.rmtree(target, ignore_errors=True)
            r = subprocess.run([SETUP, "usecwd", "-D" + target] + args + ["-Len"], cwd=kit, env=env,
                               stdin=subprocess.DEVNULL, capture_output=True, text=True,
                               timeout=120)
            seen = open(driver_log).read() if os.path.exists(driver_log) else ""
            check(r.returncode == 0 and installed(target), "Wayland, %s: installs" % what,
                  r.stderr[-1500:])
            check("shown Installing configuration\n" in seen
                  and "the wizard runs on GTK 3\n" in last_log(),
                  "Wayland, %s: the wizard's window is shown, on GTK 3" % what, seen)
            pressed = [line[6:] for line in seen.splitlines() if line.startswith("press ")]
            check(pressed == presses, "Wayland, %s: the buttons pressed" % what, pressed)
    finally:
        weston.kill()
        weston.wait()


def main():
    shutil.rmtree(ART, ignore_errors=True)
    os.makedirs(ART)
    open(EMPTY, "w").close()
    kit = make_kit("kit", {"tpl/a.txt": b"alpha\n", "tpl/b.txt": b"beta\n" * 100,
                           "doc/about.html": b"<p>about</p>\n"})
    for library in (GTK2, GTK3):
        if not os.path.exists(library):
            check(False, "the toolkit is installed: " + library)
            finish()
    check_fallback(kit)
    check_choice(kit)
    check_hidpi(kit)
    check_wayland(kit)
    finish()


main()
