#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Round trips of robot_status_query: the data_center node against the echo floor.

Per setup, one node (hermetic: test/support/data_center_hermetic, a private
/opt/korvane) and per case a floor (bench_echo_floor: raw Cyclone DDS on the
node's wire types, answering as many bytes as the node does), asked by one
bare Cyclone DDS client (bench_client) in alternating blocks, so that both
see the same background load. Client, node and floor share one CPU. Also the
node's resident memory, idle and after the cases. Loopback only, on one
ROS_DOMAIN_ID. Writes results.json, results.md and latency.png.
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

HERE = os.path.dirname(os.path.abspath(__file__))
READY = "after advertiseService robot_status_query"
MAP_ID = "map_17"
FLOOR = "bench_floor"

# (label, command, code expected, poses stored before, poses in every request, fewer requests)
CASES = [
    ("10003 robot info", 10003, 0, None, -1, False),
    ("1002 last map", 1002, 0, None, -1, False),
    ("4242 unknown command", 4242, 10002, None, -1, False),
    ("10002, 0 poses stored", 10002, 0, 0, -1, False),
    ("10002, 100 poses stored", 10002, 0, 100, -1, False),
    ("10001 storing 100 poses", 10001, 0, None, 100, True),
    ("10002, 2,000 poses stored", 10002, 0, 2000, -1, True),
]
FULL = {"count": 20000, "warmup": 500, "few_count": 2000, "few_warmup": 50, "block": 100}
QUICK = {"count": 300, "warmup": 30, "few_count": 30, "few_warmup": 3, "block": 20}

# The same cases under other conditions: extra environment ("env" for every
# process, "node_env", "client_env", "floor_env") and extra arguments
# ("node_args", "client_args", "floor_args") for the processes of a setup,
# such as {"name": "x", "env": {"VAR": "1"}, "node_args": ["--ros-args", ...]}.
# "keystore" makes a ROS 2 security keystore with these enclaves for the
# setup (test/support/make_keystore) and sets ROS_SECURITY_KEYSTORE; "cases"
# limits the setup to those labels.
SETUPS = [
    {"name": "plain"},
    {"name": "secured", "cases": ["10003 robot info", "10002, 100 poses stored"],
     "keystore": ["/data_center", "/caller", "/floor"],
     "env": {"ROS_SECURITY_ENABLE": "true", "ROS_SECURITY_STRATEGY": "Enforce"},
     "node_args": ["--ros-args", "--enclave", "/data_center"],
     "client_env": {"ROS_SECURITY_ENCLAVE_OVERRIDE": "/caller"},
     "floor_env": {"ROS_SECURITY_ENCLAVE_OVERRIDE": "/floor"}},
]


class BenchError(Exception):
    pass


class Bench:
    def __init__(self, args, counts, scratch):
        self.args, self.counts, self.scratch = args, counts, scratch
        self.env = dict(os.environ, ROS_DOMAIN_ID=str(args.domain), ROS_LOCALHOST_ONLY="1")
        self.env.pop("CYCLONEDDS_URI", None)  # only the built-in loopback set-up
        self.running = []

    def env_for(self, setup, who):
        return dict(self.env, **setup.get("env", {}), **setup.get(who + "_env", {}))

    def start(self, argv, env, name, ready):
        out = os.path.join(self.scratch, "%s-%d.out" % (name, len(self.running)))
        with open(out, "w") as f:
            proc = subprocess.Popen(argv, stdout=f, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, env=env)
        proc.name, proc.out = name, out
        self.running.append(proc)
        deadline = time.monotonic() + 20
        while ready not in read(out).splitlines():
            if proc.poll() is not None or time.monotonic() > deadline:
                raise BenchError("%s did not get ready: %s" % (name, read(out)[-500:]))
            time.sleep(0.01)
        return proc

    def stop(self, proc):
        """SIGTERM; a server that does not end cleanly fails the run."""
        proc.send_signal(signal.SIGTERM)
        try:
            status = proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            status = "killed after 10 s"
        self.running.remove(proc)
        if status != 0:
            raise BenchError("%s exited with %s: %s" % (proc.name, status, read(proc.out)[-500:]))

    def client(self, setup, *args):
        argv = [os.path.join(self.args.bin_dir, "bench_client")] + [str(a) for a in args]
        done = subprocess.run(argv + setup.get("client_args", []), capture_output=True, text=True,
                              env=self.env_for(setup, "client"), timeout=1800)
        if done.returncode != 0:
            raise BenchError("client %s failed: %s" % (" ".join(argv[1:]), done.stderr.strip()))
        return json.loads(done.stdout.strip().splitlines()[-1])

    def run_setup(self, setup):
        korvane = os.path.join(self.scratch, setup["name"], "korvane")
        work = os.path.join(self.scratch, setup["name"], "work")
        os.makedirs(os.path.join(korvane, "data/resource/map"))
        os.makedirs(work)
        with open(os.path.join(korvane, "data/resource/map/history.map"), "w") as f:
            f.write("  %s\nanything after the first token is ignored\n" % MAP_ID)
        if "keystore" in setup:
            keystore = os.path.join(self.scratch, setup["name"], "keystore")
            subprocess.run([os.path.join(os.path.dirname(HERE), "test", "support", "make_keystore"), keystore]
                           + setup["keystore"], check=True, capture_output=True)
            setup = dict(setup, env=dict(setup.get("env", {}), ROS_SECURITY_KEYSTORE=keystore))
        argv = [self.args.hermetic, korvane, work, os.path.join(self.args.bin_dir, "data_center")]
        node = self.start(argv + setup.get("node_args", []), self.env_for(setup, "node"), "node", READY)
        time.sleep(1.0)
        memory = {"idle_kib": rss_kib(node.pid, "data_center"), "idle_smaps": smaps(node.pid)}
        cases, list_bytes = [], 0
        for label, cmd, code, stored, poses, few in CASES:
            if "cases" in setup and label not in setup["cases"]:
                continue
            if stored:  # 0 is the fresh node's list: 10001 cannot clear one
                store = self.client(setup, "--cmd", 10001, "--poses", stored, "--count", 1, "--warmup", 0)
                list_bytes = store["node"]["request_bytes"]
            # The floor answers as many bytes as the node where that is many: the stored list.
            floor = self.start([os.path.join(self.args.bin_dir, "bench_echo_floor"), "--reply-bytes",
                                str(list_bytes if cmd == 10002 else 0), "--service", FLOOR]
                               + setup.get("floor_args", []), self.env_for(setup, "floor"), "floor", "ready")
            if "floor_kib" not in memory:  # idle as long as the node was
                time.sleep(1.0)
                memory["floor_kib"] = rss_kib(floor.pid, "bench_echo_floo")
            count, warmup = ((self.counts["few_count"], self.counts["few_warmup"]) if few else
                             (self.counts["count"], self.counts["warmup"]))
            before = cpu_ns(node.pid), cpu_ns(floor.pid)
            result = self.client(setup, "--cmd", cmd, "--code", code, "--poses", poses, "--count", count, "--warmup",
                                 warmup, "--block", self.counts["block"], "--floor", FLOOR, "--expect-map", MAP_ID,
                                 "--expect-poses", -1 if stored is None else stored)
            after = cpu_ns(node.pid), cpu_ns(floor.pid)
            result["node"]["rss_kib"] = rss_kib(node.pid, "data_center")
            result["floor"]["rss_kib"] = rss_kib(floor.pid, "bench_echo_floo")
            self.stop(floor)
            for i, server in enumerate(("node", "floor")):
                result[server]["cpu_us"] = (after[i] - before[i]) / 1e3 / (count + warmup)
            result["label"] = label
            cases.append(result)
            log("  %-28s p50 node %8.1f floor %8.1f us (%.2f x), p99 %.2f x" % (
                label, result["node"]["p50_us"], result["floor"]["p50_us"], ratio(result, "p50_us"),
                ratio(result, "p99_us")))
        self.stop(node)
        return {"name": setup["name"], "cases": cases, "memory": memory}

    def cleanup(self):
        for proc in self.running:
            proc.kill()
            proc.wait()


def read(path):
    with open(path, errors="replace") as f:
        return f.read()


def log(text):
    print(text, flush=True)


def ratio(case, field):
    return case["node"][field] / case["floor"][field]


def cpu_ns(pid):
    """CPU time of every thread of `pid` so far, in ns (scheduler accounting, not ticks)."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            total += int(read("/proc/%d/task/%s/schedstat" % (pid, task)).split()[0])
        except OSError:
            pass  # the thread ended meanwhile
    return total


def rss_kib(pid, comm):
    """VmRSS of `pid`, once it is the program meant and no longer its launcher."""
    if read("/proc/%d/comm" % pid).strip() != comm:
        raise BenchError("process %d is not %s" % (pid, comm))
    return next(int(line.split()[1]) for line in read("/proc/%d/status" % pid).splitlines()
                if line.startswith("VmRSS:"))


def smaps(pid, top=7):
    """Resident KiB of the largest mappings (by file; anonymous memory as one) and the rollup."""
    per, name = {}, ""
    for line in read("/proc/%d/smaps" % pid).splitlines():
        fields = line.split()
        if "-" in fields[0] and len(fields) >= 5:
            name = os.path.basename(fields[5]) if len(fields) > 5 and fields[5].startswith("/") else "anonymous"
        elif fields[0] == "Rss:":
            per[name] = per.get(name, 0) + int(fields[1])
    rollup = {f[0].rstrip(":"): int(f[1]) for f in map(str.split, read("/proc/%d/smaps_rollup" % pid).splitlines()[1:])}
    ranked = sorted(per.items(), key=lambda kv: -kv[1])
    return {"top": ranked[:top], "others": sum(v for _, v in ranked[top:]),
            "rollup": {k: rollup[k] for k in ("Rss", "Pss", "Shared_Clean", "Private_Clean", "Private_Dirty")}}


def markdown(results):
    m = results["machine"]
    out = ["## Benchmark results (%s run, %s)\n" % (m["mode"], m["date"]),
           "%s, %d cores, Linux %s; ROS_DOMAIN_ID %d, loopback only; %s. Load average before / after: %s / %s.\n"
           % (m["cpu"], m["cores"], m["kernel"], m["domain"], m["pinned"], m["load_before"], m["load_after"])]
    for setup in results["setups"]:
        out += ["### Round trips, setup \"%s\" (microseconds)\n" % setup["name"],
                "| case | requests each | reply bytes | node p50 | floor p50 | p50 node − floor | p50 node / floor "
                "| node p99 | floor p99 | p99 node − floor | p99 node / floor | server CPU µs/req node / floor "
                "| VmRSS KiB after, node / floor |",
                "|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|"]
        for c in setup["cases"]:
            n, f = c["node"], c["floor"]
            out.append("| %s | %s | %d | %.1f | %.1f | %+.1f | %.2f | %.1f | %.1f | %+.1f | %.2f | %.1f / %.1f "
                       "| %s / %s |" % (
                           c["label"], format(n["answered"], ","), n["reply_bytes"], n["p50_us"], f["p50_us"],
                           n["p50_us"] - f["p50_us"], ratio(c, "p50_us"), n["p99_us"], f["p99_us"],
                           n["p99_us"] - f["p99_us"], ratio(c, "p99_us"), n["cpu_us"], f["cpu_us"],
                           format(n["rss_kib"], ","), format(f["rss_kib"], ",")))
        mem = setup["memory"]
        roll = mem["idle_smaps"]["rollup"]
        out += ["", "Idle VmRSS (1 s after start, before any request): node %s KiB (%.2f MiB), floor %s KiB."
                " Idle node: PSS %s, shared clean %s, private clean %s, private dirty %s KiB."
                % (format(mem["idle_kib"], ","), mem["idle_kib"] / 1024, format(mem["floor_kib"], ","),
                   format(roll["Pss"], ","), format(roll["Shared_Clean"], ","), format(roll["Private_Clean"], ","),
                   format(roll["Private_Dirty"], ",")), "",
                "| idle node, mapping | resident KiB |", "|---|--:|"]
        out += ["| %s | %s |" % (name, format(kib, ",")) for name, kib in mem["idle_smaps"]["top"]]
        out += ["| all others | %s |" % format(mem["idle_smaps"]["others"], ","), ""]
    out += security_cost(results["setups"])
    return "\n".join(out)


def security_cost(setups):
    """Secured against plain, for the cases both ran."""
    by_name = {s["name"]: {c["label"]: c for c in s["cases"]} for s in setups}
    if "plain" not in by_name or "secured" not in by_name:
        return []
    out = ["### What security costs (microseconds, p50 / p99)\n",
           "| case | node plain | node secured | floor plain | floor secured | node secured / plain p50 |",
           "|---|--:|--:|--:|--:|--:|"]
    for label, sec in by_name["secured"].items():
        plain = by_name["plain"].get(label)
        if plain is None:
            continue
        cells = ["%.1f / %.1f" % (c[who]["p50_us"], c[who]["p99_us"]) for who in ("node", "floor")
                 for c in (plain, sec)]
        out.append("| %s | %s | %.2f |" % (label, " | ".join(cells), sec["node"]["p50_us"] / plain["node"]["p50_us"]))
    return out + [""]


def plot(results, path):
    """p50 and p99 per case, node against floor; False without matplotlib."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    cases = results["setups"][0]["cases"]
    fig, ax = plt.subplots(figsize=(11, 5), dpi=100)
    series = [("node p50", "node", "p50_us", "#1f4e9c"), ("node p99", "node", "p99_us", "#a5bfea"),
              ("floor p50", "floor", "p50_us", "#b04a1c"), ("floor p99", "floor", "p99_us", "#f2c1a8")]
    for j, (name, server, field, color) in enumerate(series):
        ax.bar([i + (j - 1.5) * 0.2 for i in range(len(cases))], [c[server][field] for c in cases], 0.2,
               label=name, color=color)
    ax.set_yscale("log")
    ax.set_ylabel("round trip, microseconds (log scale)")
    ax.set_xticks(range(len(cases)))
    ax.set_xticklabels([c["label"].replace(", ", ",\n").replace(" storing", "\nstoring") for c in cases], fontsize=8)
    m = results["machine"]
    ax.set_title("robot_status_query round trip: node against a raw Cyclone DDS echo answering as many bytes\n"
                 "(%s run, %d cores, %s)" % (m["mode"], m["cores"], m["date"]), fontsize=10)
    ax.grid(axis="y", which="both", alpha=0.3)
    ax.legend(ncol=4, fontsize=8, loc="upper left")
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="small counts: proves the harness in seconds")
    parser.add_argument("--bin-dir", required=True, help="the build's programs: data_center, bench_client, ...")
    parser.add_argument("--domain", type=int, required=True, help="ROS_DOMAIN_ID of this run")
    parser.add_argument("--results", default=os.path.join(os.path.dirname(HERE), "results", "bench"))
    parser.add_argument("--hermetic", default=os.path.join(os.path.dirname(HERE), "test", "support",
                                                           "data_center_hermetic"))
    parser.add_argument("--setup", action="append", choices=[s["name"] for s in SETUPS],
                        help="run only this setup (repeatable; default: all)")
    parser.add_argument("--cpu", type=int, default=max(os.sched_getaffinity(0)),
                        help="the CPU client, node and floor share; -1: not pinned (default: the highest usable)")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder and the process outputs")
    args = parser.parse_args()
    if not 0 <= args.domain <= 232:
        parser.error("--domain must be a ROS_DOMAIN_ID, 0-232")
    if args.cpu >= 0:
        # Where the scheduler puts each process otherwise decides the figures: a
        # wake-up across cores costs far more than one on the same core.
        os.sched_setaffinity(0, {args.cpu})  # every process started from here inherits it
    scratch = tempfile.mkdtemp(prefix="data_center_bench.")
    bench = Bench(args, QUICK if args.quick else FULL, scratch)
    log("data_center bench (%s) on ROS_DOMAIN_ID %d, scratch %s" % ("quick" if args.quick else "full", args.domain,
                                                                    scratch))
    load_before = read("/proc/loadavg").split()[:3]
    try:
        setups = [s for s in SETUPS if not args.setup or s["name"] in args.setup]
        results = {"setups": [bench.run_setup(s) for s in setups]}
    except (BenchError, subprocess.SubprocessError, OSError) as e:
        print("bench failed: %s" % e, file=sys.stderr)
        return 1
    finally:
        bench.cleanup()
        if not args.keep:
            shutil.rmtree(scratch, ignore_errors=True)
    cpu = next((l.split(":", 1)[1].strip() for l in read("/proc/cpuinfo").splitlines() if l.startswith("model name")),
               "")
    results["machine"] = {"cpu": cpu, "cores": os.cpu_count(), "kernel": os.uname().release, "domain": args.domain,
                          "mode": "quick" if args.quick else "full", "date": time.strftime("%Y-%m-%d %H:%M %z"),
                          "pinned": "client, node and floor on CPU %d" % args.cpu if args.cpu >= 0 else "not pinned",
                          "load_before": " ".join(load_before),
                          "load_after": " ".join(read("/proc/loadavg").split()[:3])}
    os.makedirs(args.results, exist_ok=True)
    with open(os.path.join(args.results, "results.json"), "w") as f:
        json.dump(results, f, indent=1)
    text = markdown(results)
    with open(os.path.join(args.results, "results.md"), "w") as f:
        f.write(text)
    print(text)
    plotted = plot(results, os.path.join(args.results, "latency.png"))
    log("results in %s%s" % (args.results, "" if plotted else " (no plot: python3-matplotlib is not installed)"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
