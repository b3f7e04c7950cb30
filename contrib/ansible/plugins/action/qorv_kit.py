# -*- coding: utf-8 -*-
"""Action plugin of qorv_kit: copies `src` from the controller to the host
first, then runs the module there with `kit` naming the copy."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import os

from ansible.errors import AnsibleError
from ansible.plugins.action import ActionBase


class ActionModule(ActionBase):

    TRANSFERS_FILES = True

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        del tmp
        args = self._task.args.copy()
        src = args.pop("src", None)
        if src is not None:
            if args.get("kit"):
                return dict(result, failed=True, msg="give src or kit, not both")
            try:
                source = self._find_needle("files", src)
            except AnsibleError as error:
                return dict(result, failed=True, msg="%s" % error)
            if self._connection._shell.tmpdir is None:
                self._make_tmp_path()
            name = os.path.basename(source)
            remote = self._connection._shell.join_path(self._connection._shell.tmpdir, name)
            self._transfer_file(source, remote)
            # Executable when it is an installer with the kit inside; the
            # module copies it again where another user can read it.
            self._fixup_perms2((self._connection._shell.tmpdir, remote),
                               execute=not name.endswith(".vkt"))
            args["kit"] = remote
        result.update(self._execute_module(module_name=self._task.action, module_args=args,
                                           task_vars=task_vars))
        if src is not None and isinstance(result.get("msg"), str):
            # The module names the copy on the host, which is gone by now:
            # the message names the file the task gave.
            result["msg"] = result["msg"].replace(args["kit"], source)
        self._remove_tmp_path(self._connection._shell.tmpdir)
        return result
