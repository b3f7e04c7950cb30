"""What qorv_kit makes of the installer's JSON lines: the changes, the
files of each kind, the plan shown by --diff, the message of a failure."""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "../../plugins/modules"))
import qorv_kit  # noqa: E402

RUN = """Installing configuration
{"type":"file","action":"write","path":"tpl/new.cf","size":3}
{"type":"file","action":"replace","path":"tpl/a.cf","size":5}
{"type":"file","action":"keep","path":"tpl/same.cf","size":1}
{"type":"file","action":"remove","path":"tpl/old.cf","size":2}
{"type":"file","action":"keep-changed","path":"tpl/mine.cf","size":4}
{"type":"totals","write":1,"replace":1,"keep":1,"remove":1,"keep-changed":1,"bytes_to_write":8,"changes":true}
{"type":"result","outcome":"installed","status":0,"target":"/srv/t","changed":true,"write":1,"replace":1,"keep":1,"remove":1,"keep-changed":1}
"""


class ParseTest(unittest.TestCase):
    def test_a_run_gives_its_files_counts_and_result(self):
        items, totals, result = qorv_kit.parse_lines(RUN)
        self.assertEqual(len(items), 5)
        self.assertEqual(result["outcome"], "installed")
        summary = qorv_kit.summarize(items, totals, result)
        self.assertEqual(summary["counts"], {"write": 1, "replace": 1, "keep": 1, "remove": 1,
                                             "keep_changed": 1})
        self.assertEqual(summary["written"], ["tpl/new.cf"])
        self.assertEqual(summary["replaced"], ["tpl/a.cf"])
        self.assertEqual(summary["removed"], ["tpl/old.cf"])
        self.assertEqual(summary["kept"], ["tpl/mine.cf"])

    def test_the_diff_shows_changes_only(self):
        items, _, _ = qorv_kit.parse_lines(RUN)
        self.assertEqual(qorv_kit.plan_text(items),
                         "write         tpl/new.cf\nreplace       tpl/a.cf\n"
                         "remove        tpl/old.cf\nkeep-changed  tpl/mine.cf\n")

    def test_the_diff_shows_the_files_and_the_launchers_list_before_and_after(self):
        record = ('{"type":"plan","action":"record","path":"/srv/t",'
                  '"before":["/srv/u","/srv/t"],"after":["/srv/t","/srv/u"]}\n')
        items, _, _ = qorv_kit.parse_lines(RUN.replace('{"type":"totals"', record + '{"type":"totals"'))
        files, places, plan = qorv_kit.plan_diff(items, "/srv/t")
        self.assertEqual((files["before_header"], files["after_header"]),
                         ("/srv/t (before)", "/srv/t (after)"))
        self.assertEqual(files["before"], "tpl/a.cf  (older)\ntpl/mine.cf\ntpl/old.cf\n"
                                          "tpl/same.cf\n")
        self.assertEqual(files["after"], "tpl/a.cf  (the kit's)\ntpl/mine.cf\ntpl/new.cf\n"
                                         "tpl/same.cf\n")
        self.assertEqual((places["before"], places["after"]), ("/srv/u\n/srv/t\n", "/srv/t\n/srv/u\n"))
        self.assertIn("record        /srv/t\n", plan["prepared"])
        # Without a change of the list, no list is shown.
        items, _, _ = qorv_kit.parse_lines(RUN)
        self.assertEqual(len(qorv_kit.plan_diff(items, "/srv/t")), 2)

    def test_other_lines_and_broken_json_are_left_out(self):
        items, totals, result = qorv_kit.parse_lines('{"type":"plan", broken\nnot json\n{}\n')
        self.assertEqual((items, totals, result), ([], None, None))

    def test_failures_say_the_installers_words_or_its_last_lines(self):
        cases = [
            ({"message": "Installation error", "cause": "Cannot write: /t/a: No space left"},
             "", "Installation error: Cannot write: /t/a: No space left"),
            # The kit as the task named it; no stray "." before the cause.
            ({"message": "Distribution kit file qorv.vkt corrupted.", "cause": "digest mismatch"},
             "", "/srv/kits/acme.vkt: Distribution kit file qorv.vkt corrupted: digest mismatch"),
            (None, "Installing configuration\none\ntwo\nthree\n", "one two three"),
            (None, "", "qorv-setup failed"),
        ]
        for result, stderr, message in cases:
            self.assertEqual(qorv_kit.failure(result, stderr, "/srv/kits/acme.vkt"), message)



class ProgramTest(unittest.TestCase):
    """Which programs the module runs as root: never one that another user
    could have put or changed there."""

    def setUp(self):
        import shutil
        import tempfile
        # Not in /tmp: every folder up to / is checked, and /tmp is anyone's.
        self.root = tempfile.mkdtemp(dir=os.path.expanduser("~"))
        self.addCleanup(shutil.rmtree, self.root)

    def test_only_programs_nobody_else_can_change_are_run(self):
        root = self.root
        me = os.getuid()

        def program(folder, folder_mode=0o755, mode=0o755, owner=None, link=False):
            path = os.path.join(root, folder)
            os.makedirs(path, exist_ok=True)
            os.chmod(path, folder_mode)
            program = os.path.join(path, "qorv-setup")
            if link:
                os.symlink("/bin/true", program)
                return program
            with open(program, "w") as f:
                f.write("#!/bin/sh\n")
            os.chmod(program, mode)
            if owner is not None:
                os.chown(program, owner, owner)
            return program

        cases = [
            (program("own"), None),
            (program("shared", folder_mode=0o1777), "others may change it"),
            (program("group", folder_mode=0o775), "others may change it"),
            (program("writable", mode=0o757), "others may change it"),
            (program("link", link=True), "not a regular file"),
            # Any folder on the way, not only the program's own.
            (program("open/inner"), None),
        ]
        os.chmod(os.path.join(root, "open"), 0o777)
        cases[-1] = (cases[-1][0], "open: others may change it")
        if me == 0:
            cases.append((program("planted", owner=65534), "owned by user 65534"))
        for path, why in cases:
            answer = qorv_kit.unsafe_program(path, me)
            if why is None:
                self.assertIsNone(answer, path)
            else:
                self.assertIn(why, answer or "", path)
        # The installing user's own program is as good as root's.
        if me == 0:
            self.assertIsNone(qorv_kit.unsafe_program(program("user", owner=1000), 1000))

    def test_the_program_checked_is_the_one_that_runs(self):
        # Another user swaps the folders between the check and the run (a
        # renameat2 exchange): the file that was checked still runs.
        ran = os.path.join(self.root, "ran")
        for name in ("checked", "swapped-in"):
            os.makedirs(os.path.join(self.root, name))
            program = os.path.join(self.root, name, "qorv-setup")
            with open(program, "w") as f:
                f.write("#!/bin/sh\necho %s > %s\n" % (name, ran))
            os.chmod(program, 0o755)
        program = os.path.join(self.root, "checked", "qorv-setup")
        fd, why = qorv_kit.open_program(program, os.getuid())
        self.assertIsNone(why)
        self.addCleanup(os.close, fd)
        os.rename(os.path.join(self.root, "checked"), os.path.join(self.root, "aside"))
        os.rename(os.path.join(self.root, "swapped-in"), os.path.join(self.root, "checked"))

        class Module:
            def fail_json(self, **kw):
                raise AssertionError(kw)
        rc, _, _ = qorv_kit.run(Module(), [program], self.root, dict(os.environ), None, fd,
                                [fd])
        self.assertEqual(rc, 0)
        with open(ran) as f:
            self.assertEqual(f.read(), "checked\n")


if __name__ == "__main__":
    unittest.main()
