"""What a packager installs, as a packager would: `make install` into a
DESTDIR lays out the programs, manual pages, completions and documents; the
manual pages render without warnings and name every option --help names;
the completions load in bash and complete options, languages, commands and
kit files.

    python3 app/packaging_e2e_test.py BUILD_DIR
"""
import os
import re
import shutil
import subprocess

from e2e_support import *  # noqa: F403

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# --- The installed files ----------------------------------------------------------------
dest = os.path.join(WORK, "destdir")
r = subprocess.run(["make", "-C", SOURCE, "install", "BUILD=" + BUILD, "PREFIX=/usr",
                    "DESTDIR=" + dest], capture_output=True, text=True)
installed = sorted(os.path.relpath(os.path.join(d, f), dest)
                   for d, _, files in os.walk(dest) for f in files)
expected = ["usr/bin/qorv-setup", "usr/bin/vkt",
            "usr/share/bash-completion/completions/qorv-setup",
            "usr/share/bash-completion/completions/vkt",
            "usr/share/doc/qorv-setup/README.md", "usr/share/doc/qorv-setup/kit-format.md",
            "usr/share/man/man1/qorv-setup.1", "usr/share/man/man1/vkt.1"]
check(r.returncode == 0 and installed == expected,
      "make install DESTDIR=... lays out exactly the programs, pages, completions and documents",
      r.stderr + "\n".join(installed))
for program in ("qorv-setup", "vkt"):
    path = os.path.join(dest, "usr/bin", program)
    check(os.access(path, os.X_OK) and
          subprocess.run([path, "--version"], capture_output=True).returncode == 0,
          "the installed %s runs" % program)


# --- Manual pages -------------------------------------------------------------------------
def options_in(text):
    """Every option a text names: -S, -D, --dry-run, --key, ..."""
    return set(re.findall(r"(?<![\w/-])(--?[A-Za-z?][\w-]*)", text))


def rendered(page):
    r = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", page], capture_output=True,
                       text=True, env=dict(ENV, MANWIDTH="80", MAN_KEEP_FORMATTING=""))
    return r.returncode, r.stdout, r.stderr


if shutil.which("man"):
    for program in ("qorv-setup", "vkt"):
        code, text, warnings = rendered(os.path.join(SOURCE, "docs/man", program + ".1"))
        check(code == 0 and not warnings.strip() and "EXIT STATUS" in text,
              "man --warnings renders %s(1) cleanly" % program, warnings)
        helps = [[program, "--help"]]
        if program == "vkt":
            for command in ("pack", "list", "diff", "verify", "unpack", "keygen", "sign",
                            "bundle"):
                helps.append([program, command, "--help"])
        told = set()
        for args in helps:
            told |= options_in(subprocess.run([os.path.join(BUILD, "bin", args[0])] + args[1:],
                                              capture_output=True, text=True, env=ENV).stdout)
        documented = options_in(text.replace("\u2010", "-").replace("\u2212", "-"))
        check(told and told <= documented,
              "%s(1) names every option --help names" % program,
              "missing: %s" % sorted(told - documented))
else:
    check(False, "man is installed (the manual pages are checked with it)")


# --- Completions ----------------------------------------------------------------------------
kits = os.path.join(WORK, "kits")
os.makedirs(os.path.join(kits, "sub"))
for name in ("a.vkt", "b.vkt", "notes.txt"):
    open(os.path.join(kits, name), "w").close()


def complete(program, words):
    """What bash completes for the command line `words` (the last one being
    completed), with the installed completion loaded."""
    script = ('source "%s"; COMP_WORDS=(%s); COMP_CWORD=%d; COMP_LINE="${COMP_WORDS[*]}"; '
              'COMP_POINT=${#COMP_LINE}; %s; printf "%%s\\n" "${COMPREPLY[@]}"' %
              (os.path.join(dest, "usr/share/bash-completion/completions", program),
               " ".join("'%s'" % w for w in [program] + words), len(words),
               "_qorv_setup" if program == "qorv-setup" else "_vkt"))
    r = subprocess.run(["bash", "-c", script], cwd=kits, capture_output=True, text=True)
    return sorted(line for line in r.stdout.splitlines() if line), r.stderr


cases = [
    ("qorv-setup", ["--un"], ["--uninstall"]),
    ("qorv-setup", ["-Lk"], ["-Lka", "-Lkk"]),
    ("qorv-setup", ["us"], ["usecwd"]),
    ("qorv-setup", ["-S", "us"], []),
    ("qorv-setup", ["-Ds"], ["-Dsub"]),
    ("vkt", ["ve"], ["verify"]),
    ("vkt", [""], ["--help", "--version", "bundle", "diff", "keygen", "list", "pack", "sign",
                   "unpack", "verify"]),
    ("vkt", ["pack", "--l"], ["--level"]),
    ("vkt", ["list", "--"], ["--help", "--json"]),
    ("vkt", ["diff", ""], ["a.vkt", "b.vkt", "sub"]),
    ("vkt", ["list", ""], ["a.vkt", "b.vkt", "sub"]),
    ("vkt", ["pack", "--n"], ["--no-entry-digests", "--no-trailer"]),
    ("vkt", ["pack", "--ex"], ["--exclude", "--exclude-from", "--exclude-vcs"]),
    ("vkt", ["diff", "--"], ["--help", "--json", "--plan", "--strict"]),
    ("vkt", ["verify", "--"], ["--help", "--key", "--tree"]),
    ("vkt", ["verify", "--tree", ""], ["sub"]),
    ("vkt", ["unpack", "a.vkt", ""], ["sub"]),
]
for program, words, want in cases:
    got, errors = complete(program, words)
    check(got == want, "completion: %s %s -> %s" % (program, " ".join(words), " ".join(want)),
          "got %s %s" % (got, errors))

finish()
