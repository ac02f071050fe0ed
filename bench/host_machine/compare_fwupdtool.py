#!/usr/bin/env python3
"""Times reading every firmware setting of a host machine against fwupdtool on the same firmware-attributes tree.

For each size N (default 50, 500 and 2 000 settings) it writes the kernel's firmware-attributes layout of
generate_profile.py's machine (compare_peer.py's tree generator: enumerations, integers, strings and ordered
lists as attributes, the passwords as authentication entries), a system root whose machine is kind "host" over
that tree, and then, round by round, times:
  warm     `wmi query "select * from QV_BIOSSetting"` while the service and the provider (with its driver) run:
           every firmware call reads the tree at that moment
  cold     the same query on a second root whose service runs but neither the provider nor its driver does
  zmrmc    `zmrmc show --json`: the library and its driver started for one read
  peer     `fwupdtool get-bios-settings --json` (the tree bound over /sys/class/firmware-attributes in a mount
           namespace of the script's own)
Each figure is the median of RUNS rounds, wall time in milliseconds, starting the program included; the ratios
to the peer follow.

Usage: compare_fwupdtool.py [--runs N] [--json FILE] [--no-peer] [SIZE...]
Needs: python3, a build tree (build/ or QV_BUILD_DIR); for the peer fwupdtool (Debian package fwupd), root and
unshare (util-linux).
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "settings_query"))
import compare_peer  # noqa: E402
import generate_profile  # noqa: E402

BUILD = compare_peer.BUILD
TOP = compare_peer.TOP


class HostMachine:
    """One generated tree and the host machine's root over it."""

    def __init__(self, n, work):
        self.dir = os.path.join(work, str(n))
        os.makedirs(self.dir)
        self.tree = os.path.join(self.dir, "tree")
        self.attributes = compare_peer.write_tree(generate_profile.generate(n), self.tree)
        self.root, self.env = self.install("root", provider_idle_ms=600000)
        # The cold root's provider and driver end 100 ms after a query, so every cold query starts them.
        self.cold_root, self.cold_env = self.install("cold-root", provider_idle_ms=100)
        self.shown = self.count_query()

    def install(self, name, provider_idle_ms):
        root = os.path.join(self.dir, name)
        os.makedirs(root)
        env = dict(os.environ)
        env.pop("QV_DEBUG_OUTPUT", None)
        env.update(QV_SYSTEM_ROOT=root, QV_MACHINE="host", QV_FIRMWARE_ATTRIBUTES=self.tree,
                   QV_DMI_TABLES=os.path.join(self.dir, "no-dmi"), QV_WBEM_SERVICE=BUILD + "/bin/winmgmt",
                   QV_WBEM_SERVICE_IDLE_MS="3600000", QV_WBEM_PROVIDER_IDLE_MS=str(provider_idle_ms))
        for mof in ("common.mof", "swprov.mof"):
            compare_peer.run([BUILD + "/bin/mofcomp", os.path.join(TOP, "mof", mof)], env)
        compare_peer.run([BUILD + "/bench/settings_bench_register"], env)
        return root, env

    def count_query(self):
        out_path = os.path.join(self.dir, "query.out")
        with open(out_path, "w") as out:
            compare_peer.run([BUILD + "/bin/wmi", "-n", compare_peer.NAMESPACE, "-f", "list", "query",
                              compare_peer.EVERY_SETTING], self.env, out)
        with open(out_path) as f:
            return sum(line.startswith("Name = ") for line in f)

    def warm(self):
        return compare_peer.run([BUILD + "/bin/wmi", "-n", compare_peer.NAMESPACE, "query",
                                 compare_peer.EVERY_SETTING], self.env)[0]

    def cold(self):
        compare_peer.wait_provider_gone(self.cold_root)
        return compare_peer.run([BUILD + "/bin/wmi", "-n", compare_peer.NAMESPACE, "query",
                                 compare_peer.EVERY_SETTING], self.cold_env)[0]

    def zmrmc(self):
        return compare_peer.run([BUILD + "/bin/zmrmc", "show", "--json"], self.env)[0]

    def peer(self):
        subprocess.run(["mount", "--bind", self.tree, compare_peer.PEER_MOUNT], check=True)
        try:
            out_path = os.path.join(self.dir, "peer.json")
            with open(out_path, "w") as out:
                wall = compare_peer.run(["fwupdtool", "get-bios-settings", "--json"], dict(os.environ), out)[0]
            with open(out_path) as f:
                self.peer_shown = len(json.load(f).get("BiosSettings", []))
            return wall
        finally:
            subprocess.run(["umount", compare_peer.PEER_MOUNT], check=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--json", help="file for the figures as JSON")
    parser.add_argument("--no-peer", action="store_true", help="leave out fwupdtool")
    parser.add_argument("sizes", nargs="*", type=int)
    args = parser.parse_args()
    sizes = args.sizes or [50, 500, 2000]
    if args.runs < 1 or any(n < 2 for n in sizes):
        parser.error("RUNS at least 1, sizes at least 2")
    for program in ("bin/wmi", "bin/winmgmt", "bin/vrxBIOS", "bin/mofcomp", "bin/zmrmc",
                    "bench/settings_bench_register", "lib/libZmrMC.so"):
        if not os.path.exists(os.path.join(BUILD, program)):
            compare_peer.fail("%s/%s is missing; build first" % (BUILD, program))
    peer = not args.no_peer
    if peer:
        if shutil.which("fwupdtool") is None or shutil.which("unshare") is None or os.geteuid() != 0:
            sys.stderr.write("compare_fwupdtool: no fwupdtool, unshare or root: the peer is left out\n")
            peer = False
        else:
            compare_peer.enter_namespace()
    work = tempfile.mkdtemp(prefix="qv-host-compare-")
    machines = {}
    try:
        for n in sizes:
            machines[n] = HostMachine(n, work)
        times = {n: {"warm": [], "cold": [], "zmrmc": [], "peer": []} for n in sizes}
        for _ in range(args.runs):
            for n in sizes:
                m = machines[n]
                times[n]["warm"].append(m.warm())
                times[n]["cold"].append(m.cold())
                times[n]["zmrmc"].append(m.zmrmc())
                if peer:
                    times[n]["peer"].append(m.peer())
        figures = {}
        print("%6s %9s %9s %9s %9s %9s %10s %10s" % ("N", "attrs", "shown", "warm_ms", "cold_ms", "zmrmc_ms",
                                                   "peer_ms", "peer_shown"))
        for n in sizes:
            m = machines[n]
            fig = {k: compare_peer.median(v) for k, v in times[n].items()}
            fig.update(attributes=m.attributes, shown=m.shown, peer_shown=getattr(m, "peer_shown", None))
            figures[n] = fig
            print("%6d %9d %9d %9.1f %9.1f %9.1f %10s %10s" % (
                n, m.attributes, m.shown, fig["warm"], fig["cold"], fig["zmrmc"],
                "%.1f" % fig["peer"] if peer else "-", fig["peer_shown"] if peer else "-"))
        if peer:
            print("%6s %10s %10s %11s" % ("N", "warm/peer", "cold/peer", "zmrmc/peer"))
            for n in sizes:
                f = figures[n]
                print("%6d %10.2f %10.2f %11.2f" % (n, f["warm"] / f["peer"], f["cold"] / f["peer"],
                                                    f["zmrmc"] / f["peer"]))
        if args.json:
            with open(args.json, "w") as f:
                json.dump({str(n): figures[n] for n in sizes}, f, indent=1)
    finally:
        for m in machines.values():
            compare_peer.kill_root(m.root)
            compare_peer.kill_root(m.cold_root)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
