#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: firmware_facts
short_description: The firmware setup settings of a PC as facts
description:
  - Reads the firmware setup settings of the managed host (as C(zmrmc show --json) lists them) and returns
    them as facts; changes nothing.
version_added: "1.0.0"
author: QV Instrumented BIOS team
options:
  names:
    description:
      - Only these settings (a full name, or a name and all its namesakes); every setting when not given.
      - A name this machine does not have fails the task.
    type: list
    elements: str
  setup_password:
    description:
      - The firmware's setup password, for a firmware that asks for it before it shows its settings.
      - A text that begins with a tag (C(<kbd/>1E30), C(<en-US/>ab)) is taken as it says, any other as the keys
        that type it on a US keyboard.
    type: str
extends_documentation_fragment:
  - qv.firmware.installation
notes:
  - Supports check mode.
"""

EXAMPLES = r"""
- name: Read the firmware settings
  qv.firmware.firmware_facts:

- name: Show the boot order
  ansible.builtin.debug:
    var: ansible_facts.qv_firmware_settings["Boot Order"]
"""

RETURN = r"""
ansible_facts:
  description: The settings.
  returned: always
  type: dict
  contains:
    qv_firmware_settings:
      description: Each setting's full name and its value (a password's value is never shown; it is null).
      type: dict
      sample: {"MultiBoot": "Enable", "POST Delay (in seconds)": 0, "SATA Port\\SATA 0": "Enable"}
    qv_firmware_setting_details:
      description: Each setting as C(zmrmc show --json) lists it (name, sub_names, type, path, read_only,
        value, and choices, min and max, or max_length).
      type: list
      elements: dict
"""

from ansible.module_utils.basic import AnsibleModule

from ansible_collections.qv.firmware.plugins.module_utils.installation import (
    INSTALLATION_ARGUMENTS,
    FirmwareError,
    Installation,
    full_name,
)


def main():
    arguments = dict(names=dict(type="list", elements="str"), setup_password=dict(type="str", no_log=True))
    arguments.update(INSTALLATION_ARGUMENTS)
    module = AnsibleModule(argument_spec=arguments, supports_check_mode=True)
    try:
        installation = Installation(module)
        names = list(module.params["names"] or [])
        settings = installation.zmrmc_json(["show", "--json"] + names, module.params["setup_password"])[1]
    except FirmwareError as error:
        module.fail_json(msg=str(error), **error.result)
    facts = dict(
        qv_firmware_settings=dict((full_name(s), s.get("value")) for s in settings),
        qv_firmware_setting_details=settings,
    )
    module.exit_json(changed=False, ansible_facts=facts)


if __name__ == "__main__":
    main()
