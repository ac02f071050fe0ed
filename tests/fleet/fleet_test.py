#!/usr/bin/env python3
"""A fleet of three PCs driven by ansible-playbook: two desktops of one model and a tower of another, each an
installation of its own (a system root made from its machine profile), reached with ansible_connection=local.
A reference PC is brought to the standard values and saved; check mode then lists what replicating its file
would change on each PC, the real run changes exactly that, and a second run changes nothing. One desktop
then gets a setup password: a change with a wrong one fails the host with the security event raised and
nothing changed, the right one changes it. A host without the system fails with a message saying so.

    fleet_test.py --build BUILD_TREE --source SOURCE_TREE
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None
INTERFACE = 'QVPROV_BIOSSettingInterface.InstanceName="ACPI\\\\PNP0C14\\\\0_0"'
EVENTS = "SELECT * FROM QV_BIOSConfigurationEvent"
# What the reference PC changes of the desktop's factory settings.
STANDARD = {
    "POST Delay (in seconds)": (0, 5),
    "Boot Order": (
        ["IDE CD-ROM Drive", "Diskette Drive (A:)", "Hard Drive (C:)", "Network Controller"],
        ["Network Controller", "Hard Drive (C:)", "IDE CD-ROM Drive", "Diskette Drive (A:)"],
    ),
    "SATA Port\\SATA 1": ("Disable", "Enable"),
    "Num Lock State at Power-On": ("Off", "On"),
}


def shown(value):
    return ", ".join(value) if isinstance(value, list) else str(value)


class Fleet(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bin = os.path.join(ARGS.build, "bin")
        cls.tmp = tempfile.mkdtemp(prefix="qv-fleet-")
        cls.results = os.path.join(cls.tmp, "results")
        os.mkdir(cls.results)
        cls.env = dict(os.environ)
        cls.env.update(
            QV_WBEM_SERVICE_IDLE_MS="3000",
            QV_WBEM_PROVIDER_IDLE_MS="1000",
            ANSIBLE_COLLECTIONS_PATH=os.path.join(ARGS.source, "integrations", "ansible"),
            ANSIBLE_LOCAL_TEMP=os.path.join(cls.tmp, "ansible-local"),
            ANSIBLE_REMOTE_TEMP=os.path.join(cls.tmp, "ansible-remote"),
            ANSIBLE_HOME=os.path.join(cls.tmp, "ansible-home"),
            ANSIBLE_NOCOLOR="1",
            ANSIBLE_FORKS="4",
            ANSIBLE_RETRY_FILES_ENABLED="0",
        )
        cls.env.pop("QV_SYSTEM_ROOT", None)
        cls.env.pop("QV_MACHINE", None)
        with open(os.path.join(ARGS.source, "platform", "machine", "profiles", "desktop.json")) as f:
            tower = json.load(f)
        # Another model: a tower whose firmware lacks MultiBoot and has Num Lock on from the factory.
        tower["name"] = "tower"
        tower["description"] = "Tower of another model: no MultiBoot, Num Lock on"
        tower["system_information"]["product_name"] = "Vexa T400 tower"
        objects = tower["system_objects"]["objects"]
        objects[:] = [o for o in objects if o.get("name") != "MultiBoot"]
        for o in objects:
            if o.get("name") == "Num Lock State at Power-On":
                o["value"] = "On"
        cls.tower_profile = os.path.join(cls.tmp, "tower.json")
        with open(cls.tower_profile, "w") as f:
            json.dump(tower, f, indent=1)
        cls.machines = {"ref": "desktop", "desk1": "desktop", "desk2": "desktop", "tower": cls.tower_profile}
        for host, machine in cls.machines.items():
            cls.install(host, machine)
        cls.reference_file = os.path.join(cls.tmp, "reference.cfg")
        cls.inventory = os.path.join(cls.tmp, "inventory.ini")
        with open(cls.inventory, "w") as f:
            f.write("[reference]\nref qv_system_root=%s\n" % cls.root("ref"))
            f.write("[fleet]\n" + "".join("%s qv_system_root=%s\n" % (h, cls.root(h)) for h in ("desk1", "desk2", "tower")))
            f.write("[absent]\nbare qv_system_root=%s\n" % cls.root("bare"))
            f.write("[all:vars]\nansible_connection=local\nansible_python_interpreter=%s\n" % sys.executable)
            f.write("qv_bin_dir=%s\nresults=%s\nreference_file=%s\n" % (cls.bin, cls.results, cls.reference_file))
        cls.watcher = None

    @classmethod
    def tearDownClass(cls):
        if cls.watcher is not None and cls.watcher.poll() is None:
            cls.watcher.kill()
            cls.watcher.wait()
        cls.wait_for_idle()
        if os.environ.get("QV_FLEET_KEEP"):  # for a look after a failure
            print("kept", cls.tmp, file=sys.stderr)
        else:
            shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def root(cls, host):
        return os.path.join(cls.tmp, host)

    @classmethod
    def run_in(cls, host, argv, stdin=None, machine=None):
        env = dict(cls.env, QV_SYSTEM_ROOT=cls.root(host))
        if machine:
            env["QV_MACHINE"] = machine
        return subprocess.run(argv, input=stdin, env=env, capture_output=True, text=True, timeout=300)

    @classmethod
    def install(cls, host, machine):
        done = cls.run_in(host, [os.path.join(cls.bin, "vrxBIOS"), "-Install", "-Silent"], machine=machine)
        assert done.returncode == 0, "installing %s: %s" % (host, done.stderr)

    @classmethod
    def wait_for_idle(cls, seconds=30):
        """Waits until no process of the fleet's installations is left (the services end when idle)."""
        deadline = time.time() + seconds
        while True:
            left = []
            for pid in filter(str.isdigit, os.listdir("/proc")):
                try:
                    with open("/proc/%s/environ" % pid, "rb") as f:
                        if ("QV_SYSTEM_ROOT=" + cls.tmp).encode() in f.read():
                            left.append(int(pid))
                except OSError:
                    pass
            if not left:
                return
            if time.time() > deadline:
                for pid in left:
                    os.kill(pid, signal.SIGKILL)
                return
            time.sleep(0.2)

    def playbook(self, name, *options):
        done = subprocess.run(
            ["ansible-playbook", "-i", self.inventory, os.path.join(ARGS.source, "tests", "fleet", name)] + list(options),
            env=self.env,
            capture_output=True,
            text=True,
            timeout=600,
        )
        return done

    def record(self, host, phase):
        with open(os.path.join(self.results, "%s-%s.json" % (host, phase))) as f:
            return json.load(f)

    def settings(self, host):
        done = self.run_in(host, [os.path.join(self.bin, "zmrmc"), "show", "--json"])
        self.assertEqual(done.returncode, 0, done.stderr)
        return dict(("\\".join([s["name"]] + s.get("sub_names", [])), s["value"]) for s in json.loads(done.stdout))

    def expected_changes(self, host):
        factory = "Off" if host != "tower" else "On"
        changes = []
        for name, (old, new) in STANDARD.items():
            if name == "Num Lock State at Power-On":
                old = factory
            if old != new:
                changes.append({"setting": name, "old": shown(old), "new": shown(new)})
        return sorted(changes, key=lambda c: c["setting"])

    def test_1_replication(self):
        ran = self.playbook("reference.yml")
        self.assertEqual(ran.returncode, 0, ran.stdout + ran.stderr)
        reference = self.record("ref", "reference")
        self.assertTrue(reference["changed"])
        self.assertEqual(sorted(c["setting"] for c in reference["changes"]), sorted(STANDARD))
        before = dict((h, self.settings(h)) for h in ("desk1", "desk2", "tower"))

        # Check mode lists the differences and changes nothing.
        ran = self.playbook("replicate.yml", "--check", "-e", "phase=check")
        self.assertEqual(ran.returncode, 0, ran.stdout + ran.stderr)
        for host in ("desk1", "desk2", "tower"):
            checked = self.record(host, "check")
            self.assertTrue(checked["changed"], host)
            self.assertEqual(sorted(checked["changes"], key=lambda c: c["setting"]), self.expected_changes(host), host)
            self.assertEqual(self.settings(host), before[host], host)
        # The tower has no MultiBoot: that line of the file is skipped, and said so.
        self.assertIn("MultiBoot", [s["setting"] for s in self.record("tower", "check")["skipped_settings"]])
        self.assertIn("MultiBoot", ran.stdout + ran.stderr)
        self.assertNotIn("MultiBoot", [s["setting"] for s in self.record("desk1", "check")["skipped_settings"]])

        # The real run changes exactly what check mode listed.
        ran = self.playbook("replicate.yml", "-e", "phase=apply")
        self.assertEqual(ran.returncode, 0, ran.stdout + ran.stderr)
        for host in ("desk1", "desk2", "tower"):
            applied = self.record(host, "apply")
            self.assertTrue(applied["changed"], host)
            self.assertEqual(sorted(applied["changes"], key=lambda c: c["setting"]), self.expected_changes(host), host)
            now = self.settings(host)
            expected = dict(before[host])
            expected.update((name, new) for name, (old, new) in STANDARD.items())
            self.assertEqual(now, expected, host)
            self.assertEqual(self.record(host, "apply-facts"), now, host)

        # A second run changes nothing and says so.
        ran = self.playbook("replicate.yml", "-e", "phase=again")
        self.assertEqual(ran.returncode, 0, ran.stdout + ran.stderr)
        for host in ("desk1", "desk2", "tower"):
            again = self.record(host, "again")
            self.assertFalse(again["changed"], host)
            self.assertEqual(again["changes"], [], host)
        self.assertRegex(ran.stdout, r"desk1\s*: ok=\d+\s+changed=0 ")

    def heard(self, path):
        events = []
        with open(path) as f:
            for line in f:
                if line.strip():
                    events.append(json.loads(line))
        return events

    def test_2_wrong_password(self):
        wmi = os.path.join(self.bin, "wmi")
        events_path = os.path.join(self.tmp, "desk2-events.json")
        env = dict(self.env, QV_SYSTEM_ROOT=self.root("desk2"))
        with open(events_path, "w") as out:
            type(self).watcher = subprocess.Popen(
                [wmi, "--format", "json", "watch", EVENTS, "--timeout", "300"], env=env, stdout=out, stderr=subprocess.PIPE
            )
        # Changes to the value MultiBoot holds until the watcher hears one: its subscription is then in place.
        deadline = time.time() + 60
        while not self.heard(events_path) and time.time() < deadline:
            probe = self.run_in("desk2", [wmi, "call", INTERFACE, "SetBIOSSetting", "Name=MultiBoot", "Value=Enable"])
            self.assertEqual(probe.returncode, 0, probe.stderr)
            time.sleep(0.1)
        self.assertTrue(self.heard(events_path), "the watcher heard no event")
        before = self.settings("desk2")

        ran = self.playbook("protect.yml", "-e", "fleet_password=Fleet-2026")
        self.assertEqual(ran.returncode, 0, ran.stdout + ran.stderr)
        outcome = self.record("desk2", "protect")
        self.assertTrue(outcome["protected"]["changed"])
        self.assertEqual(outcome["protected"]["action"], "set")
        self.assertFalse(outcome["protected_again"]["changed"])
        refused = outcome["refused"]
        self.assertTrue(refused["failed"])
        self.assertFalse(refused["changed"])
        self.assertEqual(refused["changes"], [])
        self.assertIn("POST Delay (in seconds)", refused["msg"])
        self.assertIn("setup password", refused["msg"])
        self.assertNotIn("Fleet-2026", ran.stdout + ran.stderr)
        self.assertNotIn("not-the-password", ran.stdout + ran.stderr)
        allowed = outcome["allowed"]
        self.assertTrue(allowed["changed"])
        self.assertEqual(allowed["changes"], [{"setting": "POST Delay (in seconds)", "old": "5", "new": "7"}])
        expected = dict(before, **{"POST Delay (in seconds)": 7})
        self.assertEqual(self.settings("desk2"), expected)

        # The watcher heard the refused change as a security event, and the allowed one as a change.
        deadline = time.time() + 30
        while time.time() < deadline and not any(
            e.get("Description") == "POST Delay (in seconds)" for e in self.heard(events_path)
        ):
            time.sleep(0.1)
        names = [e.get("Name") for e in self.heard(events_path) if e.get("Description") != "MultiBoot"]
        self.assertEqual(names, ["BIOS Configuration Security", "BIOS Configuration Change"])

        missing = self.record("bare", "missing")
        self.assertTrue(missing["failed"])
        self.assertIn("not installed", missing["msg"])
        self.assertFalse(os.path.exists(self.root("bare")), "the module made an installation")

    def test_3_documentation(self):
        for module in ("firmware_settings", "firmware_facts", "firmware_password"):
            shown_doc = subprocess.run(
                ["ansible-doc", "-t", "module", "qv.firmware." + module], env=self.env, capture_output=True, text=True
            )
            self.assertEqual(shown_doc.returncode, 0, shown_doc.stderr)
            self.assertIn("system_root", shown_doc.stdout, module)
            self.assertIn("EXAMPLES", shown_doc.stdout, module)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    ARGS, rest = parser.parse_known_args()
    for program in ("ansible-playbook", "ansible-doc"):
        if shutil.which(program) is None:
            sys.exit("%s is missing: install the Debian package ansible-core (scripts/install-deps.sh does)" % program)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
