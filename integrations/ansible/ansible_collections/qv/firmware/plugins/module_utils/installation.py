# -*- coding: utf-8 -*-
# What the collection's modules share: the installation on the managed host, the two programs they run there
# (zmrmc, the administrators' command, for reading, comparing and passwords; wmi, the instrumentation client,
# for changes, so that every change reaches the configuration-event consumers as it does from any management
# client), and the settings as zmrmc shows them.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os

INSTALLATION_ARGUMENTS = dict(
    system_root=dict(type="path"),
    bin_dir=dict(type="path"),
)

# zmrmc's exit codes (zmrmc --help).
ZMRMC_OK = 0
ZMRMC_CHANGES = 3
ZMRMC_SKIPPED = 4
ZMRMC_PASSWORD = 6

# What SetBIOSSetting's Return codes mean for the setting it was asked to change.
RETURN_REASONS = {
    1: "the firmware does not support changing it",
    2: "the firmware has no setting of that name",
    3: "the firmware did not answer in time",
    4: "the firmware refused the change",
    5: "the value is not one the setting takes",
    6: "the setup password is missing or does not match (nothing was changed)",
}


class FirmwareError(Exception):
    """A failure to report as the module's message; `result` holds what the module did before it."""

    def __init__(self, message, **result):
        super(FirmwareError, self).__init__(message)
        self.result = result


def default_system_root():
    root = os.environ.get("QV_SYSTEM_ROOT")
    if root:
        return root
    state = os.environ.get("XDG_STATE_HOME") or os.path.join(os.path.expanduser("~"), ".local", "state")
    return os.path.join(state, "qv", "root")


def tagged_password(password):
    """The password as the firmware takes it: a text that begins with a tag (<kbd/>, <en-US/>) as it says,
    any other as the keys that type it on a US keyboard."""
    if password is None:
        return None
    if password.startswith("<") and "/>" in password:
        return password
    return "<en-US/>" + password


def full_name(setting):
    """The name zmrmc and settings files use: the name, then each sub-name ("SATA Port\\SATA 0")."""
    return "\\".join([setting["name"]] + list(setting.get("sub_names", [])))


def instrumentation_name(setting):
    """The name the instrumentation service's classes use: each sub-name, then the name ("SATA 0\\SATA Port")."""
    return "\\".join(list(setting.get("sub_names", [])) + [setting["name"]])


def find_setting(settings, name):
    """The one setting `name` names: a full name, or a name only one setting has (case ignored)."""
    wanted = name.lower()
    for setting in settings:
        if full_name(setting).lower() == wanted:
            return setting
    found = [s for s in settings if s["name"].lower() == wanted]
    if not found:
        raise FirmwareError("%s: no setting of that name on this machine" % name)
    if len(found) > 1:
        raise FirmwareError(
            "%s: the name has %d settings; give one of: %s" % (name, len(found), ", ".join(full_name(s) for s in found))
        )
    return found[0]


class Installation(object):
    """The installation a module works on; fails the module when the host has none."""

    def __init__(self, module):
        self.module = module
        self.root = module.params.get("system_root") or default_system_root()
        if not os.path.isdir(os.path.join(self.root, "drive_c")):
            raise FirmwareError(
                "the QV Instrumented BIOS system is not installed on this host: %s holds no installation "
                "(install it there with vrxBIOS -Install)" % self.root
            )
        self.zmrmc = self._program("zmrmc")
        self.wmi = self._program("wmi")
        # No display and no terminal: a program that wants a password it was not given fails and says so
        # instead of asking for it in a dialog or at a prompt nobody sees.
        self.environment = {"QV_SYSTEM_ROOT": self.root, "DISPLAY": ""}
        self._interface = None

    def _program(self, name):
        bin_dir = self.module.params.get("bin_dir")
        if bin_dir:
            path = os.path.join(bin_dir, name)
            if os.path.isfile(path) and os.access(path, os.X_OK):
                return path
            raise FirmwareError(
                "the QV Instrumented BIOS system is not installed on this host: %s has no program %s" % (bin_dir, name)
            )
        path = self.module.get_bin_path(name)
        if not path:
            raise FirmwareError(
                "the QV Instrumented BIOS system is not installed on this host: %s is not on the PATH "
                "(or give bin_dir)" % name
            )
        return path

    def run(self, program, arguments, lines=None):
        """Runs a program of the installation; `lines` (secrets among them) go to its standard input, never to
        its command line."""
        data = "".join(line + "\n" for line in lines or [])
        return self.module.run_command(
            [program] + arguments,
            data=data,
            binary_data=True,
            environ_update=self.environment,
        )

    def zmrmc_json(self, arguments, password=None, accepted=(ZMRMC_OK,)):
        """zmrmc's JSON answer to a command; the setup password, when given, is the one line of its standard
        input."""
        options, lines = (["--password-stdin"], [password]) if password else ([], [])
        rc, out, err = self.run(self.zmrmc, options + arguments, lines)
        if rc not in accepted:
            raise FirmwareError(self._zmrmc_message(err, rc), rc=rc)
        try:
            return rc, json.loads(out)
        except ValueError:
            raise FirmwareError("zmrmc %s answered with no JSON: %s" % (arguments[0], out[:200]), rc=rc)

    @staticmethod
    def _zmrmc_message(err, rc):
        lines = [line[len("zmrmc: "):] if line.startswith("zmrmc: ") else line for line in err.strip().splitlines()]
        return "; ".join(lines) or "zmrmc failed with exit code %d" % rc

    def settings(self, password=None):
        """Every setting as zmrmc shows it (name, type, value, bounds or choices, read_only)."""
        return self.zmrmc_json(["show", "--json"], password)[1]

    def interface_path(self):
        """The path of the instance whose methods change the settings (the provider's, or the firmware's own)."""
        if self._interface is None:
            reasons = []
            for cls in ("QVPROV_BIOSSettingInterface", "QVBIOS_BIOSSettingInterface"):
                rc, out, err = self.run(self.wmi, ["--format", "json", "enum", cls])
                if rc != 0:
                    reasons.append(err.strip())
                    continue
                objects = json.loads(out)
                if objects:
                    key = objects[0]["InstanceName"].replace("\\", "\\\\").replace('"', '\\"')
                    self._interface = '%s.InstanceName="%s"' % (cls, key)
                    break
            if self._interface is None:
                raise FirmwareError(
                    "the instrumentation service offers no settings interface in %s (is vrxBIOS installed there?): %s"
                    % (self.root, "; ".join(r for r in reasons if r))
                )
        return self._interface

    def set_bios_setting(self, setting, value, password):
        """Changes one setting through the instrumentation service; returns SetBIOSSetting's Return code."""
        if "\n" in value or "\r" in value:
            raise FirmwareError("%s: a value may not hold a line break" % full_name(setting))
        lines = ["Name=" + instrumentation_name(setting), "Value=" + value]
        if password is not None:
            lines.append("Password=" + tagged_password(password))
        rc, out, err = self.run(
            self.wmi,
            ["--format", "json", "call", self.interface_path(), "SetBIOSSetting", "--arguments-stdin"],
            lines,
        )
        if rc != 0:
            raise FirmwareError("%s: the instrumentation service failed the change: %s" % (full_name(setting), err.strip()))
        return int(json.loads(out)[0]["Return"])
