#!/usr/bin/env python3
"""Times a query of every firmware setting against the Linux peer tool, interleaved, at several sizes.

For each size N (default 500, 2 000 and 5 000 settings) it generates the machine of generate_profile.py and
three system roots made from it, and a kernel firmware-attributes tree with the same settings the query
publishes (enumerations, integers, texts and ordered lists as attributes, the passwords as authentication
entries). Then, round by round and size by size, it times:
  warm     `wmi -n root\\QV\\InstrumentedBIOS query "select * from QV_BIOSSetting"` while the service and
           the provider (with its driver) run
  cold     the same query while the service runs but neither the provider nor its driver does
  peer     `fwupdtool get-bios-settings --json` on the tree (it reads /sys/class/firmware-attributes: the
           script runs in a mount namespace of its own and binds each size's tree there)
  library  the library's own warm read and enumeration (build/bench/settings_library_read)
Each figure is the median of RUNS rounds, wall time in milliseconds, starting the client tool included. It
also prints the CPU time per warm query of every process (client, service, provider, driver), the goals as
ratios, and writes a plot of time against settings (PNG, gnuplot) with --plot.

Usage: compare_peer.py [--runs N] [--plot FILE] [--no-peer] [--json FILE] [SIZE...]
Needs: python3, a build tree (build/ or QV_BUILD_DIR); for the peer fwupdtool (Debian package fwupd), root
(for the mount namespace) and unshare (util-linux); for the plot gnuplot (package gnuplot-nox).
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.abspath(os.path.join(HERE, "..", ".."))
BUILD = os.environ.get("QV_BUILD_DIR", os.path.join(TOP, "build"))
sys.path.insert(0, HERE)
import generate_profile  # noqa: E402

NAMESPACE = "root\\QV\\InstrumentedBIOS"
EVERY_SETTING = "select * from QV_BIOSSetting"
PUBLISHED = ("enum", "ext_enum", "text", "int", "ext_int", "password", "orderedlist")
PEER_MOUNT = "/sys/class/firmware-attributes"
TICK_MS = 1000.0 / os.sysconf("SC_CLK_TCK")


def fail(text):
    sys.stderr.write("compare_peer: %s\n" % text)
    sys.exit(1)


def run(args, env, out=subprocess.DEVNULL, timeout=300):
    """Runs a program; returns (exit code, wall ms, CPU ms of the program and its children)."""
    start = time.perf_counter()
    child = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.PIPE)
    deadline = start + timeout
    while True:
        pid, status, usage = os.wait4(child.pid, os.WNOHANG)
        if pid:
            break
        if time.perf_counter() > deadline:
            child.kill()
            os.wait4(child.pid, 0)
            fail("%s did not end within %d s" % (args[0], timeout))
        time.sleep(0.0002)
    wall = (time.perf_counter() - start) * 1000
    child.returncode = os.waitstatus_to_exitcode(status)
    err = child.stderr.read().decode(errors="replace")
    child.stderr.close()
    if child.returncode != 0:
        fail("%s failed (%d): %s" % (" ".join(args), child.returncode, err.strip()))
    return wall, (usage.ru_utime + usage.ru_stime) * 1000


def root_processes(root):
    """pid -> program name of the processes whose environment names `root` as their system root."""
    marker = ("QV_SYSTEM_ROOT=" + root).encode()
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                if marker not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
            fields = stat[stat.rindex(")") + 2:].split()
            if fields[0] == "Z":
                continue
            found[int(entry)] = (os.path.basename(os.readlink("/proc/%s/exe" % entry)),
                                 (int(fields[11]) + int(fields[12])) * TICK_MS)
        except (OSError, ValueError):
            continue
    return found


def program_cpu(root):
    cpu = {}
    for name, ms in root_processes(root).values():
        cpu[name] = cpu.get(name, 0.0) + ms
    return cpu


def wait_provider_gone(root):
    deadline = time.time() + 30
    while any(name in ("vrxBIOS", "zmrdtct") for name, _ in root_processes(root).values()):
        if time.time() > deadline:
            fail("the provider or its driver does not end on %s" % root)
        time.sleep(0.01)


def kill_root(root):
    for pid in root_processes(root):
        try:
            os.kill(pid, 9)
        except OSError:
            pass


def write_tree(profile, folder):
    """The kernel's firmware-attributes layout for the published settings of `profile`."""
    device = os.path.join(folder, "qv-bench")
    attributes = os.path.join(device, "attributes")
    os.makedirs(attributes)
    os.symlink("..", os.path.join(device, "subsystem"))

    def put(path, name, value):
        with open(os.path.join(path, name), "w") as f:
            f.write("%s\n" % value)

    count = 0
    seen = set()
    for o in profile["system_objects"]["objects"]:
        kind = o.get("type", "enum")
        if kind not in PUBLISHED or o["name"] == "--":
            continue
        count += 1
        name = "".join(c if c.isalnum() else "_" for c in o["name"] + "".join(o.get("key", [])))
        while name in seen:
            name += "_"
        seen.add(name)
        if kind == "password":
            path = os.path.join(device, "authentication", name)
            os.makedirs(path)
            for field, value in (("is_enabled", 0), ("role", "bios-admin"), ("mechanism", "password"),
                                 ("min_password_length", 0), ("max_password_length", o["max_length"]),
                                 ("current_password", ""), ("new_password", "")):
                put(path, field, value)
            continue
        path = os.path.join(attributes, name)
        os.makedirs(path)
        put(path, "display_name", o["name"])
        put(path, "display_name_language_code", "en_US.UTF-8")
        if kind in ("enum", "ext_enum"):
            put(path, "type", "enumeration")
            put(path, "possible_values", ";".join(o["choices"]))
            put(path, "current_value", o["value"])
            put(path, "default_value", o["choices"][0])
        elif kind in ("int", "ext_int"):
            put(path, "type", "integer")
            put(path, "min_value", o["low"])
            put(path, "max_value", o["high"])
            put(path, "scalar_increment", 1)
            put(path, "current_value", o["value"])
            put(path, "default_value", o["low"])
        elif kind == "text":
            put(path, "type", "string")
            put(path, "min_length", 0)
            put(path, "max_length", o["max_length"])
            put(path, "current_value", o["value"])
            put(path, "default_value", "")
        else:
            put(path, "type", "ordered-list")
            put(path, "elements", ";".join(o["choices"]))
            put(path, "current_value", ";".join(o["choices"]))
            put(path, "default_value", ";".join(o["choices"]))
    put(attributes, "pending_reboot", 0)
    return count


class Size:
    """One generated machine: roots for the warm and the cold query and for the library, and the peer's tree."""

    def __init__(self, n, work):
        self.n = n
        self.dir = os.path.join(work, str(n))
        os.makedirs(self.dir)
        profile = generate_profile.generate(n)
        self.profile = os.path.join(self.dir, "machine.json")
        with open(self.profile, "w") as f:
            json.dump(profile, f)
        self.published = write_tree(profile, os.path.join(self.dir, "tree"))
        self.tree = os.path.join(self.dir, "tree")
        self.roots = {}
        self.envs = {}
        for kind, idle in (("warm", 600000), ("cold", 100), ("library", 600000)):
            root = os.path.join(self.dir, kind)
            os.makedirs(root)
            self.roots[kind] = root
            env = self.env(kind, idle)
            if kind == "library":
                run([BUILD + "/bin/wmi", "-n", "root\\WMI", "query", "select * from MSSmBios_RawSMBiosTables"], env)
                continue
            for mof in ("common.mof", "swprov.mof"):
                run([BUILD + "/bin/mofcomp", os.path.join(TOP, "mof", mof)], env)
            run([BUILD + "/bench/settings_bench_register"], env)
            self.query(kind, check=True)

    def env(self, kind, idle=None):
        """The environment of the programs of root `kind` (its provider idle time set at the first call)."""
        if kind not in self.envs:
            env = dict(os.environ)
            env.pop("QV_DEBUG_OUTPUT", None)
            env.update(QV_SYSTEM_ROOT=self.roots[kind], QV_MACHINE=self.profile,
                       QV_WBEM_SERVICE=BUILD + "/bin/winmgmt", QV_WBEM_SERVICE_IDLE_MS="3600000",
                       QV_WBEM_PROVIDER_IDLE_MS=str(idle))
            self.envs[kind] = env
        return self.envs[kind]

    def query(self, kind, check=False):
        args = [BUILD + "/bin/wmi", "-n", NAMESPACE]
        if check:
            args += ["-f", "list"]
        args += ["query", EVERY_SETTING]
        if kind == "cold":
            wait_provider_gone(self.roots["cold"])
        if not check:
            return run(args, self.env(kind))
        out_path = os.path.join(self.dir, "query.out")
        with open(out_path, "w") as out:
            run(args, self.env(kind), out)
        with open(out_path) as f:
            shown = sum(line.startswith("Name = ") for line in f)
        if shown != self.published:
            fail("the query showed %d settings on the %d-setting machine, expected %d" % (shown, self.n,
                                                                                       self.published))
        return None

    def library_warm(self):
        out = subprocess.run([BUILD + "/bench/settings_library_read", "3"], env=self.env("library"),
                             stdin=subprocess.DEVNULL, capture_output=True, text=True, check=True).stdout
        wait_provider_gone(self.roots["library"])
        return float(next(line.split()[1] for line in out.splitlines() if line.startswith("warm_ms")))

    def peer(self):
        subprocess.run(["mount", "--bind", self.tree, PEER_MOUNT], check=True)
        try:
            out_path = os.path.join(self.dir, "peer.json")
            with open(out_path, "w") as out:
                wall, cpu = run(["fwupdtool", "get-bios-settings", "--json"], dict(os.environ), out)
            with open(out_path) as f:
                shown = len(json.load(f).get("BiosSettings", []))
            if shown < self.published - 2:  # the passwords are authentication entries
                fail("the peer showed %d settings of %d" % (shown, self.published))
            return wall, cpu
        finally:
            subprocess.run(["umount", PEER_MOUNT], check=True)


def enter_namespace():
    """Re-runs this script in a private mount namespace with an empty firmware-attributes class folder."""
    if os.environ.get("QV_COMPARE_PEER_NS") == "1":
        if not os.path.isdir(PEER_MOUNT):
            # /sys/class is read-only: a tmpfs over it, every class bound back, and a mount point for the tree.
            scratch = tempfile.mkdtemp(prefix="qv-class-")
            subprocess.run(["mount", "-t", "tmpfs", "none", scratch], check=True)
            classes = os.listdir("/sys/class")
            for c in classes:
                os.mkdir(os.path.join(scratch, c))
                subprocess.run(["mount", "--bind", "/sys/class/" + c, os.path.join(scratch, c)], check=True)
            os.mkdir(os.path.join(scratch, "firmware-attributes"))
            subprocess.run(["mount", "--move", scratch, "/sys/class"], check=True)
        return
    env = dict(os.environ, QV_COMPARE_PEER_NS="1")
    os.execvpe("unshare", ["unshare", "--mount", "--propagation", "private", sys.executable] + sys.argv, env)


def median(values):
    return statistics.median(values) if values else float("nan")


def plot(sizes, figures, path):
    data = path + ".dat"
    with open(data, "w") as f:
        for n in sizes:
            fig = figures[n]
            f.write("%d %.2f %.2f %s\n" % (n, fig["warm"], fig["cold"],
                                            "%.2f" % fig["peer"] if fig.get("peer") else "NaN"))
    script = "\n".join([
        "set terminal pngcairo size 900,600",
        "set output '%s'" % path,
        "set title 'Query of every firmware setting (median wall time)'",
        "set xlabel 'settings (machine objects)'",
        "set ylabel 'ms'",
        "set key left top",
        "set grid",
        "plot '%s' using 1:2 with linespoints title 'warm query', "
        "'' using 1:3 with linespoints title 'cold query', "
        "'' using 1:4 with linespoints title 'fwupdtool get-bios-settings --json'" % data,
    ])
    subprocess.run(["gnuplot"], input=script, text=True, check=True)
    os.remove(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--plot", help="PNG file for the plot (needs gnuplot)")
    parser.add_argument("--json", help="file for the figures as JSON")
    parser.add_argument("--no-peer", action="store_true", help="leave out fwupdtool")
    parser.add_argument("sizes", nargs="*", type=int)
    args = parser.parse_args()
    sizes = args.sizes or [500, 2000, 5000]
    if args.runs < 1 or any(n < 2 for n in sizes):
        parser.error("RUNS at least 1, sizes at least 2")
    for program in ("bin/wmi", "bin/winmgmt", "bin/vrxBIOS", "bin/mofcomp", "bench/settings_library_read",
                    "bench/settings_bench_register", "lib/libZmrMC.so"):
        if not os.path.exists(os.path.join(BUILD, program)):
            fail("%s/%s is missing; build first" % (BUILD, program))
    peer = not args.no_peer
    if peer:
        if shutil.which("fwupdtool") is None or shutil.which("unshare") is None or os.geteuid() != 0:
            sys.stderr.write("compare_peer: no fwupdtool, unshare or root: the peer is left out\n")
            peer = False
        else:
            enter_namespace()

    work = tempfile.mkdtemp(prefix="qv-compare-")
    machines = {}
    try:
        for n in sizes:
            machines[n] = Size(n, work)
        samples = {n: {k: [] for k in ("warm", "cold", "peer", "library", "peer_cpu")} for n in sizes}
        cpu_sum = {n: {} for n in sizes}
        for _ in range(args.runs):
            for n in sizes:
                m = machines[n]
                before = program_cpu(m.roots["warm"])
                wall, client_cpu = m.query("warm")
                after = program_cpu(m.roots["warm"])
                samples[n]["warm"].append(wall)
                cpu = cpu_sum[n]
                cpu["client"] = cpu.get("client", 0.0) + client_cpu
                for name, ms in after.items():
                    cpu[name] = cpu.get(name, 0.0) + ms - before.get(name, ms)
                samples[n]["cold"].append(m.query("cold")[0])
                if peer:
                    wall, peer_cpu = m.peer()
                    samples[n]["peer"].append(wall)
                    samples[n]["peer_cpu"].append(peer_cpu)
                samples[n]["library"].append(m.library_warm())
        figures = {}
        for n in sizes:
            fig = {k: median(v) for k, v in samples[n].items() if v}
            fig["published"] = machines[n].published
            fig["cpu_per_warm_query"] = {k: v / args.runs for k, v in cpu_sum[n].items()}
            fig["runs"] = samples[n]
            figures[n] = fig
    finally:
        for m in machines.values():
            for root in m.roots.values():
                kill_root(root)
        shutil.rmtree(work, ignore_errors=True)

    def ratio(a, b):
        return "%.2f" % (a / b) if a and b else "-"

    print("Query of every setting: medians of %d interleaved rounds, wall ms (starting the tool included)" %
          args.runs)
    print("%8s %9s %9s %9s %9s %9s %10s %10s %12s" % ("settings", "published", "warm", "cold", "peer",
                                                     "library", "warm/peer", "cold/peer", "warm/library"))
    for n in sizes:
        f = figures[n]
        print("%8d %9d %9.1f %9.1f %9s %9.2f %10s %10s %12s" % (
            n, f["published"], f["warm"], f["cold"], "%.1f" % f["peer"] if "peer" in f else "-", f["library"],
            ratio(f["warm"], f.get("peer")), ratio(f["cold"], f.get("peer")), ratio(f["warm"], f["library"])))
    print()
    print("CPU per warm query (ms, clock ticks of %.0f ms summed over the rounds):" % TICK_MS)
    for n in sizes:
        cpu = figures[n]["cpu_per_warm_query"]
        text = ", ".join("%s %.1f" % (k, cpu[k]) for k in sorted(cpu))
        peer_cpu = figures[n].get("peer_cpu")
        print("  %5d: %s, total %.1f%s" % (n, text, sum(cpu.values()),
                                           "; peer %.1f" % peer_cpu if peer_cpu else ""))
    if len(sizes) >= 2:
        a, b = sizes[0], sizes[-1]
        print()
        print("Growth from %d to %d settings (x%.1f): warm x%s, cold x%s%s" % (
            a, b, b / a, ratio(figures[b]["warm"], figures[a]["warm"]), ratio(figures[b]["cold"], figures[a]["cold"]),
            ", peer x%s" % ratio(figures[b].get("peer"), figures[a].get("peer")) if peer else ""))
    print()
    print("Goals: warm <= 0.5x peer and cold <= 1x peer at every size; warm <= 4x library; growth "
          "%d -> %d within 11x" % (sizes[0], sizes[-1]))
    if args.json:
        with open(args.json, "w") as f:
            json.dump({str(n): figures[n] for n in sizes}, f, indent=1)
    if args.plot:
        plot(sizes, figures, args.plot)
        print("plot: %s" % args.plot)


if __name__ == "__main__":
    main()
