#!/usr/bin/env python3
"""Writes a machine profile with N native firmware settings of a realistic mix of types.

The machine is the shipped `desktop` (its Windows, ROM, SMBIOS, INT 15h strings and passwords); only its
system objects are replaced. The mix follows what current firmware of this kind lists: mostly enumerations,
a share of per-device (keyed) settings, integers, texts, a few dates and times, ordered lists, byte blocks
and the two passwords, about one in ten read-only, spread over nested setup menus. The same N always gives the
same profile.

Usage: generate_profile.py N [OUTPUT]   (OUTPUT defaults to standard output)
"""
import json
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
BASE = os.path.join(HERE, "..", "..", "platform", "machine", "profiles", "desktop.json")

MENUS = {
    "File": ["System Information", "Default Setup", "Flash System ROM"],
    "Storage": ["Storage Options", "Boot Order", "DPS Self-Test", "Device Configuration"],
    "Security": ["Device Security", "Network Service Boot", "System IDs", "Master Boot Record Security",
                 "Smart Cover", "Setup Security"],
    "Power": ["OS Power Management", "Hardware Power Management", "Thermal"],
    "Advanced": ["Power-On Options", "BIOS Power-On", "Onboard Devices", "Bus Options", "Device Options",
                 "PCI VGA Configuration", "Processor", "Memory", "Chipset"],
}
CHOICE_SETS = [
    ["Disable", "Enable"], ["Off", "On"], ["Device hidden", "Device available"], ["Auto", "Manual"],
    ["Disable", "Enable", "Auto"], ["Low", "Medium", "High"], ["Normal", "Quick", "Thorough", "Disabled"],
    ["None", "Legacy", "UEFI", "Both"], ["60 Hz", "75 Hz", "85 Hz", "100 Hz", "120 Hz"],
    ["1", "2", "4", "8", "16", "32"],
]
SUBJECTS = ["Serial Port", "Parallel Port", "USB Port", "SATA Channel", "PCI Slot", "Network Controller",
            "Audio Device", "Fan", "Memory Bank", "Processor Core", "Display Output", "Hard Drive",
            "Power Button", "Wake Event", "Boot Device", "Thermal Zone", "Legacy Device", "Option ROM"]
ASPECTS = ["Mode", "State", "Support", "Delay", "Priority", "Speed", "Security", "Power Saving", "Detection",
           "Timeout", "Level", "Policy"]
SHORT_ASPECTS = ["Mode", "State", "Delay", "Level", "Speed"]

# (type, share in percent)
MIX = [("enum", 52), ("ext_enum", 12), ("int", 10), ("ext_int", 5), ("text", 9), ("date", 2), ("time", 2),
       ("orderedlist", 3), ("binary", 3)]


def generate(count):
    with open(BASE, encoding="utf-8") as f:
        profile = json.load(f)
    rng = random.Random(count)
    types = [t for t, share in MIX for _ in range(share)]
    menus = [(top, sub) for top, subs in MENUS.items() for sub in subs]
    objects = [
        {"name": "Setup Password", "type": "password", "path": ["Security"], "max_length": 32},
        {"name": "Power-On Password", "type": "password", "path": ["Security"], "max_length": 32},
    ]
    n = 0
    while len(objects) < count:
        n += 1
        kind = rng.choice(types)
        top, sub = rng.choice(menus)
        # Every name is a text of the one string table (at most 65 535 bytes): beyond 2 000 settings the
        # names are short, as a firmware that lists that many would have to make them.
        if count <= 2000:
            name = "%s %d %s" % (rng.choice(SUBJECTS), n, rng.choice(ASPECTS))
        else:
            name = "%s %d" % (rng.choice(SHORT_ASPECTS), n)
        o = {"name": name, "type": kind, "path": [top, sub]}
        if rng.random() < 0.3:
            o["path"].append("%s Details" % sub)
        if kind in ("enum", "ext_enum"):
            choices = rng.choice(CHOICE_SETS)
            o["choices"] = choices
            o["value"] = rng.choice(choices)
        elif kind in ("int", "ext_int"):
            low = rng.choice([0, 1, 5])
            high = rng.choice([10, 100, 255, 3600, 65535])
            o.update({"low": low, "high": high, "value": rng.randint(low, high)})
        elif kind == "text":
            o["max_length"] = rng.choice([16, 32, 40, 80])
            o["value"] = "Text %d" % n
        elif kind == "date":
            o["value"] = "%02d/%02d/2006" % (rng.randint(1, 12), rng.randint(1, 28))
        elif kind == "time":
            o["value"] = "%02d:%02d" % (rng.randint(0, 23), rng.randint(0, 59))
        elif kind == "orderedlist":
            items = ["Item %d" % i for i in range(1, rng.randint(3, 8) + 1)]
            o["choices"] = items
        elif kind == "binary":
            o["value"] = "".join("%02X" % rng.randint(0, 255) for _ in range(rng.choice([4, 8, 16])))
        if kind in ("ext_enum", "ext_int"):
            o["key"] = ["Instance %d" % rng.randint(1, 8)]
        if rng.random() < 0.1:
            o["read_only"] = True
        objects.append(o)
    profile["name"] = "generated-%d" % count
    profile["description"] = "Brevik d540 SFF with %d generated native settings" % count
    profile["system_objects"] = {"languages": [{"name": "English"}], "objects": objects[:count]}
    return profile


def main():
    if len(sys.argv) not in (2, 3) or not sys.argv[1].isdigit() or int(sys.argv[1]) < 2:
        sys.stderr.write("usage: generate_profile.py N [OUTPUT]  (N at least 2)\n")
        return 2
    text = json.dumps(generate(int(sys.argv[1])), indent=1) + "\n"
    if len(sys.argv) == 3:
        with open(sys.argv[2], "w", encoding="utf-8") as f:
            f.write(text)
    else:
        sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
