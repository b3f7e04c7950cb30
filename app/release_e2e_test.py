"""Two releases of a kit, as a vendor ships them and a user installs them:
for each kind of change, what `vkt diff` says (text and JSON), what `vkt diff
--plan` promises, what the installer's dry run plans, and what a real install
of the old kit and then the new one leaves in the template directory.

    python3 app/release_e2e_test.py BUILD_DIR
"""
import json
import os
import shutil
import subprocess

from e2e_support import *  # noqa: F403

T0 = 1700000000  # the fixed time of a reproducible release
T1 = T0 + 86400
BASE = {"tpl/a.cf": (b"alpha", T0), "tpl/b.cf": (b"beta", T0), "tpl/c.cf": (b"gamma", T0),
        "doc/about.html": (b"<p>about</p>", T0)}
DESCRIBED = ["-d", "en:Trade:Vendor:doc/about.html"]

key = os.path.join(WORK, "vendor")
subprocess.run([VKT, "keygen", "-o", key], check=True, capture_output=True)


def pack(name, files, options=(), sign=False):
    """The kit `name`/qorv.vkt packed from `files` (path -> (bytes, time))."""
    source = os.path.join(WORK, name + "-src")
    shutil.rmtree(source, ignore_errors=True)
    write_tree(source, files)
    kit_dir = os.path.join(WORK, name)
    os.makedirs(kit_dir, exist_ok=True)
    kit = os.path.join(kit_dir, "qorv.vkt")
    subprocess.run([VKT, "pack", "--quiet"] + list(options or DESCRIBED) + ["-o", kit, source],
                   check=True, capture_output=True)
    if sign:
        subprocess.run([VKT, "sign", "--key", key, kit], check=True, capture_output=True)
    return kit_dir


def changed(base, **changes):
    files = dict(base)
    for rel, value in changes.items():
        rel = rel.replace("__", "/").replace("_cf", ".cf")
        if value is None:
            files.pop(rel)
        else:
            files[rel] = value
    return files


def user_edits_a(target):
    """The user changes a.cf and puts its time back, as a sync tool would."""
    path = os.path.join(target, "tpl/a.cf")
    with open(path, "wb") as f:
        f.write(b"mine")
    os.utime(path, (T0, T0))


# name, old kit (files, pack options, signed), new kit, what diff says, the plan line for the
# changed file, --strict's status, the tree after OLD then NEW (path -> bytes), before NEW.
ROWS = [
    ("a time-only change", (BASE, (), False), (changed(BASE, tpl__a_cf=(b"alpha", T1)), (), False),
     "newer    tpl/a.cf  (2023-11-14 22:13:20 -> 2023-11-15 22:13:20), same content",
     ("replace", "tpl/a.cf", None), 0, {"tpl/a.cf": b"alpha"}, None),
    ("new bytes under the same time, with entry digests", (BASE, (), False),
     (changed(BASE, tpl__a_cf=(b"ALPHA", T0)), (), False),
     "changed  tpl/a.cf  (same time: delivered only with entry digests)",
     ("replace", "tpl/a.cf", "same time, other bytes"), 1, {"tpl/a.cf": b"ALPHA"}, None),
    ("new bytes under the same time, without entry digests", (BASE, (), False),
     (changed(BASE, tpl__a_cf=(b"ALPHA", T0)), DESCRIBED + ["--no-entry-digests"], False),
     "changed  tpl/a.cf  (same time: not delivered)",
     ("keep", "tpl/a.cf", "not delivered: same time, other bytes"), 1, {"tpl/a.cf": b"alpha"},
     None),
    ("new bytes under the same time, the user's copy changed", (BASE, (), False),
     (changed(BASE, tpl__a_cf=(b"ALPHA", T0)), (), False),
     "changed  tpl/a.cf  (same time: delivered only with entry digests)",
     ("replace", "tpl/a.cf", "same time, other bytes"), 1, {"tpl/a.cf": b"mine"}, user_edits_a),
    ("a file dropped", (BASE, (), False), (changed(BASE, tpl__c_cf=None), (), False),
     "removed  tpl/c.cf", ("remove", "tpl/c.cf", None), 0, {"tpl/c.cf": None}, None),
    ("a file added", (BASE, (), False), (changed(BASE, tpl__d_cf=(b"delta", T0)), (), False),
     "added    tpl/d.cf  5 B", ("write", "tpl/d.cf", None), 0, {"tpl/d.cf": b"delta"}, None),
    ("descriptions changed", (BASE, (), False), (BASE, ["-d", "en:Trade 2:Vendor:"], False),
     'description en: product "Trade", provider "Vendor", document "doc/about.html" -> '
     'product "Trade 2", provider "Vendor", document ""', None, 0, {}, None),
    ("the signature removed", (BASE, (), True), (BASE, (), False), "signature removed: key ",
     None, 0, {}, None),
]

for number, (what, old, new, said, plan_line, strict, after, before_new) in enumerate(ROWS):
    reset_home()
    old_dir = pack("old%d" % number, *old)
    new_dir = pack("new%d" % number, *new)
    old_kit, new_kit = (os.path.join(d, "qorv.vkt") for d in (old_dir, new_dir))

    r = subprocess.run([VKT, "diff", old_kit, new_kit], capture_output=True, text=True)
    check(r.returncode == 1 and said in r.stdout, "%s: vkt diff says so" % what, r.stdout + r.stderr)
    r = subprocess.run([VKT, "diff", "--json", old_kit, new_kit], capture_output=True, text=True)
    try:
        objects = [json.loads(line) for line in r.stdout.splitlines()]
    except ValueError:
        objects = []
    check(r.returncode == 1 and objects and all("type" in o and "change" in o for o in objects),
          "%s: vkt diff --json, one object per difference" % what, r.stdout)
    r = subprocess.run([VKT, "diff", "--strict", old_kit, new_kit], capture_output=True, text=True)
    check(r.returncode == strict, "%s: vkt diff --strict exits %d" % (what, strict), r.stderr)

    # The user's side: OLD installed, perhaps touched, then NEW planned and installed.
    target = os.path.join(WORK, "templates%d" % number)
    r = run(["usecwd", "-S", "-D" + target], old_dir)
    check(r.returncode == 0, "%s: the old kit installs" % what, r.stderr)
    if before_new:
        before_new(target)
    promised = subprocess.run([VKT, "diff", "--plan", "--json", old_kit, new_kit],
                              capture_output=True, text=True)
    promised = [json.loads(line) for line in promised.stdout.splitlines()]
    dry = run(["usecwd", "--dry-run", "--json", "-D" + target], new_dir)
    planned = [json.loads(line) for line in dry.stdout.splitlines()]
    planned = [o for o in planned if o.get("type") == "plan" and o.get("action") != "record"]
    if plan_line and before_new is None:
        action, path, reason = plan_line
        line = {"type": "plan", "action": action, "path": path}
        if reason:
            line["reason"] = reason
        mine = [dict((k, o[k]) for k in line if k in o) for o in promised if o["path"] == path]
        check(mine == [line], "%s: vkt diff --plan says %s" % (what, line), promised)
    if before_new is None:
        # What vkt promises is what the installer plans, file by file.
        def words(o):
            return (o["path"], o["action"])
        check(sorted(map(words, promised)) == sorted(map(words, planned)),
              "%s: vkt diff --plan and the installer's dry run agree" % what, (promised, planned))
    r = run(["usecwd", "-S", "-D" + target], new_dir)
    tree = {}
    for rel in list(BASE) + ["tpl/d.cf"]:
        path = os.path.join(target, rel)
        tree[rel] = open(path, "rb").read() if os.path.exists(path) else None
    expected = {rel: data for rel, (data, _) in new[0].items()}
    expected.update({rel: None for rel in tree if rel not in new[0]})
    expected.update(after)
    check(r.returncode == 0 and tree == expected,
          "%s: installed over the old kit, the directory holds %s" % (what, after or "the same"),
          (r.stderr, differences(tree, expected)))
    # The installed tree against the new kit, by content, without inflating it.
    whole = all(tree.get(rel) == data for rel, (data, _) in new[0].items())
    r = subprocess.run([VKT, "verify", "--tree", target, new_kit], capture_output=True, text=True)
    check(r.returncode == (0 if whole else 1)
          and (whole or "changed  tpl/a.cf\n" in r.stdout),
          "%s: vkt verify --tree says the directory %s the new kit's files"
          % (what, "holds" if whole else "does not hold"), r.stdout + r.stderr)
    if before_new:
        lines = [json.loads(line) for line in
                 run(["usecwd", "--dry-run", "--json", "-D" + target], new_dir).stdout.splitlines()]
        check(any(o.get("action") == "keep-changed" and o.get("path") == "tpl/a.cf" for o in lines),
              "%s: the user's file is kept as changed" % what, lines)

# The release as one file to ship: its help speaks of itself.
bundle = os.path.join(WORK, "acme-setup")
subprocess.run([VKT, "bundle", "--installer", SETUP, "-o", bundle,
                os.path.join(WORK, "new0/qorv.vkt")], check=True, capture_output=True)
r = subprocess.run([bundle, "--help"], capture_output=True, text=True, env=ENV)
check(r.returncode == 0 and "Usage: acme-setup [usecwd]" in r.stdout
      and "the kit inside this program" in r.stdout and "qorv" not in r.stdout,
      "a bundled installer's --help names it as it is called, and its kit as inside it",
      r.stdout)

finish()
