#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: firmware_settings
short_description: Bring a PC's firmware setup settings to a saved configuration or to given values
description:
  - Compares the firmware setup settings of the managed host with a settings file (as C(zmrmc save) writes it)
    or with a dictionary of setting names and values, and changes the settings that differ.
  - Changes go through the instrumentation service's C(SetBIOSSetting) method, one setting at a time, so every
    consumer of the configuration events hears of each change, and of a wrong setup password.
  - Every value is checked against what its setting takes before anything is written; one value that does not
    fit fails the task with nothing changed.
  - After writing, the settings are read again; a setting that does not hold the value asked for fails the
    task, naming the setting and what it holds.
  - In check mode nothing is written; the result lists what would change (for a file, as C(zmrmc diff) says).
version_added: "1.0.0"
author: QV Instrumented BIOS team
options:
  src:
    description:
      - A text settings file on the managed host, as C(zmrmc save) writes it.
      - Settings of the file that this machine does not have, or values it does not take, are skipped and
        listed in C(skipped_settings) and in a warning, as C(zmrmc diff) lists them.
      - Settings files never set passwords; use M(qv.firmware.firmware_password).
    type: path
  settings:
    description:
      - Setting names and the values wanted.
      - A name is the setting's full name as C(zmrmc show) lists it (C(SATA Port\SATA 0)), or a name only one
        setting has; case is ignored.
      - An enumeration takes one of its choices, an integer a number within its bounds, a text setting a text
        within its length, an ordered list its elements (a list, or a text C(A, B)) in the order wanted, the
        elements not named following as they were.
    type: dict
  setup_password:
    description:
      - The firmware's setup password, when one is set; a task that changes settings fails without it.
      - A text that begins with a tag (C(<kbd/>1E30), C(<en-US/>ab)) is taken as it says, any other as the keys
        that type it on a US keyboard.
    type: str
extends_documentation_fragment:
  - qv.firmware.installation
notes:
  - Supports check mode.
  - The password is handed to the system's programs on their standard input, never on a command line.
"""

EXAMPLES = r"""
- name: Replicate the configuration saved on the reference PC
  qv.firmware.firmware_settings:
    src: /srv/firmware/desktop-standard.cfg
    setup_password: "{{ vault_setup_password }}"

- name: Boot from the network first and wait five seconds in POST
  qv.firmware.firmware_settings:
    settings:
      Boot Order: [Network Controller, Hard Drive (C:)]
      POST Delay (in seconds): 5
      SATA Port\SATA 1: Enable
    setup_password: "{{ vault_setup_password }}"
"""

RETURN = r"""
changes:
  description: The change report, one entry for each setting that changed (or would change in check mode).
  returned: always
  type: list
  elements: dict
  contains:
    setting: {description: The setting's full name., type: str}
    old: {description: The value it held., type: str}
    new: {description: The value it holds now., type: str}
  sample: [{setting: "POST Delay (in seconds)", old: "0", new: "5"}]
skipped_settings:
  description: What of the settings file this machine skips (line, setting, reason), as C(zmrmc diff) says.
  returned: when src is given
  type: list
  elements: dict
"""

from ansible.module_utils.basic import AnsibleModule

from ansible_collections.qv.firmware.plugins.module_utils.installation import (
    INSTALLATION_ARGUMENTS,
    RETURN_REASONS,
    ZMRMC_CHANGES,
    ZMRMC_OK,
    ZMRMC_SKIPPED,
    FirmwareError,
    Installation,
    find_setting,
    full_name,
)
from ansible_collections.qv.firmware.plugins.module_utils.setting_values import plan, shown


def wanted_from_file(installation, settings, src, password):
    """The values the settings file would change, and what of it this machine skips. A settings file carries
    a password only as the firmware shows it (a digest), which is never written back."""
    rc, answer = installation.zmrmc_json(
        ["diff", src, "--json"], password, accepted=(ZMRMC_OK, ZMRMC_CHANGES, ZMRMC_SKIPPED)
    )
    wanted, skipped = [], list(answer.get("skipped", []))
    kinds = dict((full_name(s).lower(), s.get("type")) for s in settings)
    for change in answer.get("changes", []):
        if kinds.get(change["setting"].lower()) == "password":
            skipped.append(
                {
                    "setting": change["setting"],
                    "reason": "a password is not set from a settings file (use qv.firmware.firmware_password)",
                }
            )
        else:
            wanted.append((change["setting"], change["new"]))
    return wanted, skipped


def planned_changes(settings, wanted):
    """The planned values that differ from what the settings hold; every problem of every value at once."""
    planned, problems = [], []
    for name, value in wanted:
        try:
            one = plan(find_setting(settings, name), value)
        except FirmwareError as problem:
            problems.append(str(problem))
            continue
        if not one.holds(one.setting):
            planned.append(one)
    if problems:
        raise FirmwareError("; ".join(problems) + " (nothing was changed)")
    return planned


def change_report(before, after, names):
    report = []
    old = dict((full_name(s), s) for s in before)
    for setting in after:
        name = full_name(setting)
        if name in names and name in old and old[name].get("value") != setting.get("value"):
            report.append({"setting": name, "old": shown(old[name].get("value")), "new": shown(setting.get("value"))})
    return report


def apply(installation, before, planned, password):
    """Writes each planned value; then reads the settings again and checks that each holds it."""
    names = set(p.name for p in planned)
    for one in planned:
        code = installation.set_bios_setting(one.setting, one.request, password)
        if code != 0:
            after = installation.settings(password)
            report = change_report(before, after, names)
            raise FirmwareError(
                "%s: %s" % (one.name, RETURN_REASONS.get(code, "the firmware answered %d" % code)),
                changed=bool(report),
                changes=report,
                return_code=code,
            )
    after = installation.settings(password)
    report = change_report(before, after, names)
    now = dict((full_name(s), s) for s in after)
    not_taken = []
    for one in planned:
        holds = now.get(one.name)
        if holds is None or not one.holds(holds):
            not_taken.append(
                "%s: the firmware holds '%s', not '%s'"
                % (one.name, shown(holds.get("value")) if holds else "(no such setting now)", shown(one.expected))
            )
    if not_taken:
        raise FirmwareError("; ".join(not_taken), changed=bool(report), changes=report)
    return report


def main():
    arguments = dict(
        src=dict(type="path"),
        settings=dict(type="dict"),
        setup_password=dict(type="str", no_log=True),
    )
    arguments.update(INSTALLATION_ARGUMENTS)
    module = AnsibleModule(
        argument_spec=arguments,
        mutually_exclusive=[("src", "settings")],
        required_one_of=[("src", "settings")],
        supports_check_mode=True,
    )
    password = module.params["setup_password"]
    result = dict(changed=False, changes=[])
    try:
        installation = Installation(module)
        before = installation.settings(password)
        if module.params["src"] is not None:
            wanted, skipped = wanted_from_file(installation, before, module.params["src"], password)
            result["skipped_settings"] = skipped
            for note in skipped:
                where = "%s:%s" % (module.params["src"], note["line"]) if note.get("line") else module.params["src"]
                setting = note["setting"] + ": " if note.get("setting") else ""
                module.warn("%s: %s%s" % (where, setting, note.get("reason")))
        else:
            wanted = list(module.params["settings"].items())
        planned = planned_changes(before, wanted)
        if module.check_mode:
            result["changes"] = [{"setting": p.name, "old": shown(p.setting.get("value")), "new": shown(p.expected)}
                                 for p in planned]
        elif planned:
            result["changes"] = apply(installation, before, planned, password)
    except FirmwareError as error:
        result.update(error.result)
        module.fail_json(msg=str(error), **result)
    result["changed"] = bool(result["changes"])
    if not result["changes"]:
        result["msg"] = "every setting holds the value asked for; nothing changed"
    else:
        result["msg"] = "%d setting(s) %s" % (len(result["changes"]), "would change" if module.check_mode else "changed")
    module.exit_json(**result)


if __name__ == "__main__":
    main()
