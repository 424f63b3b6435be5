#!/usr/bin/python
# Keeps a host's font folder in step with a shared collection through
# quorvane-sync, with Ansible's check mode (--check) and diff mode.
from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: quorvane_fonts
short_description: Keep a font folder in step with a shared font collection
description:
  - Runs C(quorvane-sync --json) on the host and reports what it did, font by font.
  - In check mode runs C(quorvane-sync --check), which writes nothing, and reports
    changed when the host is out of step.
  - With diff mode, lists the fonts added, replaced and removed.
options:
  sources:
    description: The collection's folders on the host (a mounted share).
    type: list
    elements: path
    required: true
  target:
    description: The font folder; default the tool's own (the user's on Linux, the system's on Windows).
    type: path
  user:
    description: The current user's font folder (and, with register, the user's registry on Windows).
    type: bool
    default: false
  policy:
    description:
      - What happens to a font of the same name in the target.
      - update replaces one whose size or time differ; newer only with a newer version;
        replace always; ignore never.
    type: str
    choices: [update, newer, replace, ignore]
    default: update
  register:
    description: Make each font usable at once (Windows' Fonts key, fontconfig's cache).
    type: bool
    default: false
  prune:
    description: Remove the fonts quorvane-sync installed that the collection no longer holds.
    type: bool
    default: false
  max_delete:
    description: With prune, remove nothing when more fonts than this would go.
    type: int
  manifest:
    description:
      - The collection's manifest on the host (C(quorvane-sync --publish)); copy it from the controller first.
      - Only the fonts it names are installed, and only with the bytes it names; with prune, they are the ones that stay.
      - A file of the share it does not name, or whose bytes differ, fails the task (not-published), as does a font
        it names that the share lacks (missing). A damaged or edited manifest fails it before anything is written.
    type: path
  tool:
    description: The quorvane-sync program on the host.
    type: path
    default: quorvane-sync
'''

RETURN = r'''
rows:
  description: One object per font, as C(quorvane-sync --json) writes it.
  type: list
  returned: always
summary:
  description: The tool's summary object.
  type: dict
  returned: always
reboot_required:
  description: A font in use is replaced or removed at the next start (exit status 3010).
  type: bool
  returned: always
exit_status:
  description: quorvane-sync's exit status (in check mode, 1 means out of step).
  type: int
  returned: always
'''

import json

from ansible.module_utils.basic import AnsibleModule

ADDED = {"copied", "would-copy"}
REPLACED = {"replaced", "replace-at-reboot", "would-replace"}
REMOVED = {"removed", "remove-at-reboot", "would-remove"}
# What no run fixes by itself: the task fails with the reasons.
FAILED = {"copy-failed", "replace-failed", "remove-failed", "conflict", "not-published", "missing"}


def command(params, check):
    argv = [params["tool"], "--json", "--lang", "en", "--" + params["policy"]]
    if params["target"]:
        argv += ["--target", params["target"]]
    if params["user"]:
        argv.append("--user")
    if params["register"]:
        argv.append("--register")
    if params["prune"]:
        argv.append("--prune")
        if params["max_delete"] is not None:
            argv += ["--max-delete", str(params["max_delete"])]
    if params["manifest"]:
        argv += ["--manifest", params["manifest"]]
    if check:
        argv.append("--check")
    return argv + ["--"] + params["sources"]


def name_of(row):
    return row["target"].replace("\\", "/").rsplit("/", 1)[-1]


def main():
    module = AnsibleModule(
        argument_spec=dict(
            sources=dict(type="list", elements="path", required=True),
            target=dict(type="path"),
            user=dict(type="bool", default=False),
            policy=dict(type="str", choices=["update", "newer", "replace", "ignore"], default="update"),
            register=dict(type="bool", default=False),
            prune=dict(type="bool", default=False),
            max_delete=dict(type="int"),
            manifest=dict(type="path"),
            tool=dict(type="path", default="quorvane-sync"),
        ),
        supports_check_mode=True,
    )
    argv = command(module.params, module.check_mode)
    rc, out, err = module.run_command(argv)
    try:
        # One object a line, lines ended by "\n" only: splitlines() would also split at
        # U+2028, U+2029 or U+0085 inside a name.
        objects = [json.loads(line) for line in out.split("\n") if line.strip()]
        summary = objects[-1]["summary"]
        rows = objects[:-1]
    except (ValueError, IndexError, KeyError):
        # Refused input (exit 2) prints no summary: the tool's own words say why.
        module.fail_json(msg=err.strip() or "quorvane-sync gave no summary", exit_status=rc, cmd=argv)

    statuses = [row["status"] for row in rows]
    registered = [row for row in rows if row.get("registration", {}).get("status") == "registered"]
    changed = any(s in ADDED | REPLACED | REMOVED or s == "not-registered" for s in statuses) or bool(registered)
    # Not "rc": Ansible takes a result with a non-zero rc for a failure, and in check mode 1 is "out of step".
    result = dict(changed=changed, rows=rows, summary=summary, exit_status=rc, cmd=argv,
                  reboot_required=rc == 3010)
    if module._diff:
        lines = [f"{verb} {name_of(row)}" for row in rows
                 for verb, group in (("+ added", ADDED), ("~ replaced", REPLACED), ("- removed", REMOVED))
                 if row["status"] in group]
        result["diff"] = dict(prepared="\n".join(lines) + ("\n" if lines else ""))

    reasons = [line for line in err.splitlines() if line.strip()]
    failed_rows = [row for row in rows if row["status"] in FAILED
                   or row.get("registration", {}).get("status") in ("failed", "conflict")]
    # In check mode exit 1 is also "out of step", which is a change, not a failure.
    refused = summary.get("unreadable_folders", 0) > 0 or "prune_refused" in summary.get("record", {})
    if failed_rows or refused or rc not in (0, 1, 3010) or (rc == 1 and not module.check_mode):
        module.fail_json(msg="; ".join(reasons) or f"quorvane-sync exited with {rc}", **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
