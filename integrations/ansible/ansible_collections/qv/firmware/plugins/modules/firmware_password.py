#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: firmware_password
short_description: Make a PC's firmware setup or power-on password the one given
description:
  - Makes the firmware's setup (administrator) or power-on password of the managed host the one given.
  - The password is first verified; when it already is the firmware's, nothing changes. When no password of
    that kind is set, it is set; when another one is set, it is changed, which needs the current one.
  - Firmware passwords cannot be read back, so check mode verifies (which changes nothing) and reports what a
    real run would do.
version_added: "1.0.0"
author: QV Instrumented BIOS team
options:
  which:
    description: Which password.
    type: str
    choices: [setup, power_on]
    default: setup
  password:
    description:
      - The password wanted.
      - A text that begins with a tag (C(<kbd/>1E30), C(<en-US/>ab)) is taken as it says, any other as the keys
        that type it on a US keyboard.
    type: str
    required: true
  current_password:
    description: The password set now, needed when it differs from I(password).
    type: str
extends_documentation_fragment:
  - qv.firmware.installation
notes:
  - Supports check mode.
  - Passwords are handed to C(zmrmc) on its standard input, never on a command line.
"""

EXAMPLES = r"""
- name: Protect the firmware setup with the fleet's password
  qv.firmware.firmware_password:
    which: setup
    password: "{{ vault_setup_password }}"
    current_password: "{{ vault_old_setup_password | default(omit) }}"
"""

RETURN = r"""
action:
  description: What was done (or would be in check mode) - C(none), C(set) or C(change).
  returned: always
  type: str
"""

from ansible.module_utils.basic import AnsibleModule

from ansible_collections.qv.firmware.plugins.module_utils.installation import (
    INSTALLATION_ARGUMENTS,
    ZMRMC_OK,
    ZMRMC_PASSWORD,
    FirmwareError,
    Installation,
)


def password_command(installation, which, action, lines):
    """Runs `zmrmc password WHICH ACTION` with the passwords on its standard input; (exit code, message)."""
    rc, out, err = installation.run(
        installation.zmrmc, ["--password-stdin", "password", which.replace("_", "-"), action], lines
    )
    message = (err.strip() or out.strip()).replace("zmrmc: ", "")
    return rc, message


def main():
    arguments = dict(
        which=dict(type="str", choices=["setup", "power_on"], default="setup"),
        password=dict(type="str", required=True, no_log=True),
        current_password=dict(type="str", no_log=True),
    )
    arguments.update(INSTALLATION_ARGUMENTS)
    module = AnsibleModule(argument_spec=arguments, supports_check_mode=True)
    which = module.params["which"]
    wanted, current = module.params["password"], module.params["current_password"]
    label = "the %s password" % which.replace("_", "-")
    if not wanted:
        module.fail_json(msg="%s may not be empty" % label)
    try:
        installation = Installation(module)
        rc, message = password_command(installation, which, "verify", [wanted])
        if rc == ZMRMC_OK:
            module.exit_json(changed=False, action="none", msg="%s is the one given" % label)
        if rc == ZMRMC_PASSWORD:
            action = "change"
        elif "is set" in message and message.startswith("no "):
            action = "set"
        else:
            raise FirmwareError("%s: %s" % (label, message))
        if action == "change" and not current:
            raise FirmwareError("%s is set and is not the one given; give current_password to change it" % label)
        if module.check_mode:
            module.exit_json(changed=True, action=action, msg="%s would be %s" % (label, action + "d" if action == "change" else action))
        lines = [wanted] if action == "set" else [current, wanted]
        rc, message = password_command(installation, which, action, lines)
        if rc != ZMRMC_OK:
            raise FirmwareError("%s was not %s: %s" % (label, "changed" if action == "change" else "set", message))
    except FirmwareError as error:
        module.fail_json(msg=str(error), **error.result)
    module.exit_json(changed=True, action=action, msg=message)


if __name__ == "__main__":
    main()
