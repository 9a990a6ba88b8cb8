#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Service round-trip benchmark: the data_center node against the echo floor.

Runs, on one ROS_DOMAIN_ID of its own and on loopback only:
  * the real node and the echo floor (bench_echo_floor: raw Cyclone DDS
    request/reply on the node's wire types, under a service name of its own),
    both running, asked sequentially by the same bare Cyclone DDS client
    (bench_client, no rclcpp layer) in alternating blocks, per command and
    payload size: both see the same background load, which on a shared
    machine matters more than anything;
  * concurrent throughput with 1, 2 and 4 client processes;
  * the node's resident memory at idle and after many requests;
  * the time from the node's exec to its first answer, a client waiting.
The node runs hermetically through test/support/data_center_hermetic, as in
the tests: its own working folder and a private /opt/korvane (root, or an
ordinary user where user namespaces are allowed).
Results: results.json, results.md and latency.png in --results.
"""

import argparse
import json
import os
import platform
import re
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

import report

HISTORY_MAP = "  map_17\nanything after the first token is ignored\n"
MAP_ID = "map_17"
UNKNOWN_CMD = 4242
NOT_SUPPORTED = 10002
READY_LINE = "after advertiseService robot_status_query"

# Request counts per case; every run is also bounded in time.
FULL = dict(count=20000, warmup=500, block=100, seconds=60, large_count=2000, large_warmup=50,
            issue_count=2000, issue_warmup=20, throughput_seconds=3.0, throughput_passes=3,
            memory_requests=100000, memory_warm=1000, starts=5)
QUICK = dict(count=300, warmup=30, block=20, seconds=10, large_count=30, large_warmup=3,
             issue_count=30, issue_warmup=3, throughput_seconds=0.5, throughput_passes=1,
             memory_requests=2000, memory_warm=200, starts=3)
FLOOR_SERVICE = "bench_floor"

# What the node is asked: (key, label, commands, request poses, stored poses).
NODE_CASES = [
    ("10003", "10003 robot info", "10003", -1, None),
    ("1002", "1002 last map", "1002", -1, None),
    ("unknown", "%d unknown command" % UNKNOWN_CMD, "%d:%d" % (UNKNOWN_CMD, NOT_SUPPORTED), -1, None),
    ("10002_0", "10002, 0 poses stored", "10002", -1, 0),
    ("10002_100", "10002, 100 poses stored", "10002", -1, 100),
    ("10002_10000", "10002, 10,000 poses stored", "10002", -1, 10000),
    ("10001_100", "10001 storing 100 poses", "10001", 100, None),
]
MEMORY_MIX = "10003,1002,10002,%d:%d" % (UNKNOWN_CMD, NOT_SUPPORTED)


class BenchError(Exception):
    pass


class Bench:
    def __init__(self, args, settings):
        self.args = args
        self.s = settings
        self.root = tempfile.mkdtemp(prefix="data_center_bench.")
        self.korvane = os.path.join(self.root, "korvane")
        self.env = dict(os.environ)
        self.env["ROS_DOMAIN_ID"] = str(args.domain)
        self.env["ROS_LOCALHOST_ONLY"] = "1"
        self.env.pop("CYCLONEDDS_URI", None)  # hermetic: only the built-in loopback set-up
        self.running = []
        self.serial = 0
        self.floor_unmatched = 0
        os.makedirs(os.path.join(self.korvane, "data/resource/map"))
        with open(os.path.join(self.korvane, "data/resource/map/history.map"), "w") as f:
            f.write(HISTORY_MAP)

    # ---- processes ---------------------------------------------------------

    def _files(self, name):
        self.serial += 1
        base = os.path.join(self.root, "%02d-%s" % (self.serial, name))
        return base + ".out", base + ".err"

    def start_node(self, workdir, stamp_file=None):
        os.makedirs(workdir, exist_ok=True)
        out_path, err_path = self._files("node")
        argv = [self.args.hermetic, self.korvane, workdir]
        if stamp_file:
            argv += [self.args.exec_stamp, stamp_file]
        argv.append(self.args.node)
        with open(out_path, "w") as out, open(err_path, "w") as err:
            proc = subprocess.Popen(argv, stdout=out, stderr=err, stdin=subprocess.DEVNULL, env=self.env)
        proc.out_path, proc.err_path, proc.what = out_path, err_path, "node"
        self.running.append(proc)
        return proc

    def wait_node_ready(self, proc, limit=20.0):
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            with open(proc.out_path) as f:
                if READY_LINE in f.read():
                    return
            if proc.poll() is not None:
                raise BenchError("node exited with %s before it served: %s" % (proc.returncode, tail(proc.err_path)))
            time.sleep(0.005)
        raise BenchError("node did not print its ready line within %.0f s" % limit)

    def start_floor(self, reply_bytes, service):
        out_path, err_path = self._files("floor")
        with open(out_path, "w") as out, open(err_path, "w") as err:
            proc = subprocess.Popen([self.args.floor, "--reply-bytes", str(reply_bytes), "--service", service],
                                    stdout=out, stderr=err, stdin=subprocess.DEVNULL, env=self.env)
        proc.out_path, proc.err_path, proc.what = out_path, err_path, "floor"
        proc.service, proc.reply_bytes = service, reply_bytes
        self.running.append(proc)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            with open(out_path) as f:
                if "ready" in f.read():
                    return proc
            if proc.poll() is not None:
                raise BenchError("floor exited with %s: %s" % (proc.returncode, tail(err_path)))
            time.sleep(0.005)
        raise BenchError("floor did not start")

    def stop(self, proc):
        """SIGTERM, then the exit status; a server that does not stop cleanly fails the run."""
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                raise BenchError("%s did not stop within 10 s of SIGTERM" % proc.what)
        if proc in self.running:
            self.running.remove(proc)
        if proc.what == "floor":
            # Replies the floor had to send before it saw the client's reader:
            # those are likely lost, which would explain a lost request.
            match = re.search(r"reader matched (\d+)", tail(proc.err_path))
            self.floor_unmatched += int(match.group(1)) if match else 0
        if proc.returncode != 0:
            raise BenchError("%s exited with status %s: %s" % (proc.what, proc.returncode, tail(proc.err_path)))

    def cleanup(self):
        for proc in list(self.running):
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        self.running = []
        if not self.args.keep:
            shutil.rmtree(self.root, ignore_errors=True)

    # ---- the client --------------------------------------------------------

    def client(self, mode, cmd, count=None, warmup=None, seconds=None, poses=-1, validate=None, extra=(),
               service=None):
        argv = [self.args.client, mode, "--cmd", cmd]
        if service:
            argv += ["--service", service]
        if count is not None:
            argv += ["--count", str(count), "--warmup", str(warmup)]
        argv += ["--seconds", str(seconds if seconds is not None else self.s["seconds"])]
        if poses >= 0:
            argv += ["--poses", str(poses)]
        if validate:
            argv += ["--validate", "--expect-map", MAP_ID]
            if validate.get("poses") is not None:
                argv += ["--expect-poses", str(validate["poses"])]
        argv += list(extra)
        return argv

    def run_client(self, argv, limit):
        try:
            done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=self.env,
                                  stdin=subprocess.DEVNULL, timeout=limit)
        except subprocess.TimeoutExpired:
            raise BenchError("client did not finish within %.0f s: %s" % (limit, " ".join(argv[1:])))
        result = last_json(done.stdout)
        if done.returncode != 0 or result is None or not result.get("ok"):
            raise BenchError("client failed (%s): %s %s" % (done.returncode, " ".join(argv[1:]), done.stderr.strip()))
        return result

    def latency(self, cmd, count, warmup, poses=-1, validate=None, compare=None):
        extra = ["--compare-service", compare, "--block", str(self.s["block"])] if compare else []
        argv = self.client("latency", cmd, count, warmup, poses=poses, validate=validate, extra=extra)
        return self.run_client(argv, self.s["seconds"] * 2 + 60)

    def store(self, poses):
        argv = self.client("latency", "10001", 1, 0, poses=poses, validate={})
        self.run_client(argv, 60)

    def throughput(self, clients, cmd, service=None):
        seconds = self.s["throughput_seconds"]
        # A request not answered within 5 s is counted as lost and its client
        # goes on; answers after more than 200 ms are counted as slow.
        argv = self.client("throughput", cmd, seconds=seconds,
                           extra=["--allow-lost", "--timeout-ms", "5000", "--slow-ms", "200"], service=service)
        procs = []
        try:
            for _ in range(clients):
                procs.append(subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                              stderr=subprocess.PIPE, text=True, env=self.env))
            for p in procs:
                if read_line(p, 30) != "ready":
                    raise BenchError("throughput client did not get ready: %s" % p.stderr.read())
            for p in procs:  # all start together
                p.stdin.write("go\n")
                p.stdin.flush()
            results = []
            for p in procs:
                out, err = p.communicate(timeout=seconds + 30)
                result = last_json(out)
                if p.returncode != 0 or result is None or not result.get("ok"):
                    raise BenchError("throughput client failed: %s" % err.strip())
                results.append(result)
        finally:
            for p in procs:
                if p.poll() is None:
                    p.kill()
                    p.wait()
        answered = sum(r["answered"] for r in results)
        return {"clients": clients, "rps": sum(r["answered"] / r["seconds"] for r in results),
                "answered": answered, "lost": sum(r["lost"] for r in results),
                "slow": sum(r["slow"] for r in results),
                "lost_at": [r.get("lost_at", []) for r in results],
                "per_client": [r["answered"] for r in results],
                "client_cpu_us": sum(r["cpu_seconds"] for r in results) * 1e6 / max(1, answered)}

    # ---- the phases ----------------------------------------------------------

    def node_cases(self, workdir):
        """Every command against one node, each interleaved with a floor answering as many bytes."""
        cases = {}
        node = self.start_node(workdir)
        self.wait_node_ready(node)
        time.sleep(0.5)
        rss_idle = rss_kib(node.pid)
        floor = self.start_floor(0, FLOOR_SERVICE)
        # One CPU for client, node and floors in the sequential cases: where
        # the scheduler happens to put each server relative to the client
        # otherwise decides the figures (a wake-up across cores costs far
        # more than one on the same core, and a placement lasts a whole case).
        one_cpu = {self.args.latency_cpu} if self.args.latency_cpu >= 0 else None
        all_cpus = os.sched_getaffinity(0)
        if one_cpu:
            pin_threads(node.pid, one_cpu)
            pin_threads(floor.pid, one_cpu)
            os.sched_setaffinity(0, one_cpu)  # the clients and sized floors started from here inherit it
        for key, _label, cmd, poses, stored in NODE_CASES:
            large = stored == 10000
            issue = cmd.startswith("10001")
            count = self.s["large_count"] if large else self.s["issue_count"] if issue else self.s["count"]
            warmup = self.s["large_warmup"] if large else self.s["issue_warmup"] if issue else self.s["warmup"]
            if stored:  # 0 poses is the fresh node's list; a list cannot be cleared by 10001
                self.store(stored)
            validate = {"poses": stored}
            # A floor of the node's answer size where the answer is large.
            sized = None
            if stored:
                probe = self.latency(cmd, 1, 0, poses=poses, validate=validate)
                sized = self.start_floor(probe["reply_bytes"], "%s_%d" % (FLOOR_SERVICE, probe["reply_bytes"]))
            try:
                floor_now = sized or floor
                before = (cpu_ns(node.pid), cpu_ns(floor_now.pid))
                result = self.latency(cmd, count, warmup, poses=poses, validate=validate, compare=floor_now.service)
                after = (cpu_ns(node.pid), cpu_ns(floor_now.pid))
            finally:
                if sized:
                    self.stop(sized)
            floor_result = result.pop("compare")
            # Server CPU per request served in the window, warm-up included.
            result["server_cpu_us"] = (after[0] - before[0]) / 1e3 / (result["answered"] + warmup)
            floor_result["server_cpu_us"] = (after[1] - before[1]) / 1e3 / (floor_result["answered"] + warmup)
            if floor_result["reply_bytes"] != (sized.reply_bytes if sized else 0):
                raise BenchError("floor answered %d bytes" % floor_result["reply_bytes"])
            cases[key] = {"node": result, "floor": floor_result}
            cases[key]["vs_floor"] = report.vs_floor(cases[key])
            log("  %-12s node p50 %8.1f us, floor p50 %8.1f us (%.2f x), p99 %.2f x" % (
                key, result["p50_us"], floor_result["p50_us"], cases[key]["vs_floor"]["p50_ratio"],
                cases[key]["vs_floor"]["p99_ratio"]))
        if one_cpu:  # throughput needs every core again
            os.sched_setaffinity(0, all_cpus)
            pin_threads(node.pid, all_cpus)
            pin_threads(floor.pid, all_cpus)
        floor_rss = rss_kib(floor.pid, "bench_echo_floo")
        log("throughput, 1/2/4 client processes, %d pass(es)" % self.s["throughput_passes"])
        scaling = {"node": {}, "floor": {}}
        for p in range(self.s["throughput_passes"]):
            # Alternate which server goes first, against drift in the background load.
            order = (("node", None), ("floor", FLOOR_SERVICE))
            for n in (1, 2, 4):
                for name, service in (order if (p + n) % 2 == 0 else order[::-1]):
                    server = node if name == "node" else floor
                    before = cpu_ns(server.pid)
                    run = self.throughput(n, "10003", service)
                    run["server_cpu_us"] = (cpu_ns(server.pid) - before) / 1e3 / max(1, run["answered"])
                    scaling[name].setdefault(n, []).append(run)
        summary = {name: [{"clients": n, "rps": statistics.median(r["rps"] for r in runs),
                           "rps_passes": [round(r["rps"]) for r in runs], "lost": sum(r["lost"] for r in runs),
                           "slow": sum(r["slow"] for r in runs),
                           "lost_at": [r["lost_at"] for r in runs if any(r["lost_at"])],
                           "server_cpu_us": statistics.median(r["server_cpu_us"] for r in runs),
                           "client_cpu_us": statistics.median(r["client_cpu_us"] for r in runs)}
                          for n, runs in sorted(per_n.items())]
                   for name, per_n in scaling.items()}
        rss_after = rss_kib(node.pid)
        self.stop(floor)
        self.stop(node)
        return cases, summary, {"idle_kib": rss_idle, "after_cases_kib": rss_after, "floor_kib": floor_rss}

    def memory(self, workdir):
        node = self.start_node(workdir)
        self.wait_node_ready(node)
        time.sleep(1.0)
        idle = rss_kib(node.pid)
        breakdown = smaps_breakdown(node.pid)
        warm_n = self.s["memory_warm"]
        total = self.s["memory_requests"]
        # Same limit as the count: a run that is too slow fails instead of shrinking.
        limit = max(60.0, total * 0.002)
        validate = {"poses": 100}
        argv = self.client("latency", MEMORY_MIX, warm_n, 0, seconds=limit, validate=validate)
        self.run_client(argv, limit + 60)
        warm = rss_kib(node.pid)
        argv = self.client("latency", MEMORY_MIX, total - warm_n, 0, seconds=limit, validate=validate)
        mix = self.run_client(argv, limit + 60)
        if mix["answered"] != total - warm_n:
            raise BenchError("memory run answered %d of %d requests in time" % (mix["answered"], total - warm_n))
        after = rss_kib(node.pid)
        time.sleep(1.0)
        settled = rss_kib(node.pid)
        self.stop(node)
        return {"idle_kib": idle, "idle_breakdown": breakdown, "warm_kib": warm, "after_kib": after,
                "settled_kib": settled,
                "requests": total, "warm_requests": warm_n, "mix": MEMORY_MIX, "mix_result": mix}

    def starts(self, station_file):
        runs = []
        for i in range(self.s["starts"]):
            workdir = os.path.join(self.root, "start%d" % i)
            os.makedirs(workdir)
            if station_file:
                shutil.copy(station_file, os.path.join(workdir, "StationInfo.conf"))
            stamp = os.path.join(self.root, "start%d.stamp" % i)
            argv = self.client("first-answer", "10003", seconds=1, extra=["--timeout-ms", "1000"])
            waiter = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=self.env,
                                      stdin=subprocess.DEVNULL)
            node = None
            try:
                if read_line(waiter, 30) != "waiting":
                    raise BenchError("first-answer client did not start: %s" % waiter.stderr.read())
                time.sleep(0.2)  # the client's participant is up and listening
                launched = time.monotonic_ns()
                node = self.start_node(workdir, stamp_file=stamp)
                out, err = waiter.communicate(timeout=30)
                result = last_json(out)
                if waiter.returncode != 0 or result is None or not result.get("ok"):
                    raise BenchError("first-answer client failed: %s" % err.strip())
                with open(stamp) as f:
                    exec_ns = int(f.read().strip())
                runs.append({"ms": (result["answered_at_ns"] - exec_ns) / 1e6,
                             "matched_ms": (result["matched_at_ns"] - exec_ns) / 1e6,
                             "launch_ms": (exec_ns - launched) / 1e6, "attempts": result["attempts"]})
                log("  start %d: %.1f ms from exec to first answer" % (i + 1, runs[-1]["ms"]))
            finally:
                if waiter.poll() is None:
                    waiter.kill()
                    waiter.wait()
                if node is not None:
                    self.wait_node_ready(node)
                    self.stop(node)
        return {"runs": runs, "median_ms": statistics.median(r["ms"] for r in runs)}

    def run(self):
        workdir = os.path.join(self.root, "node")
        log("node and floor, every command (working folder %s)" % workdir)
        load_before = loadavg()
        cases, scaling, rss = self.node_cases(workdir)
        log("memory: idle and after %d requests" % self.s["memory_requests"])
        memory = self.memory(workdir)
        memory["after_cases_kib"] = rss["after_cases_kib"]
        memory["floor_kib"] = rss["floor_kib"]
        log("start to first answer, %d starts" % self.s["starts"])
        station = os.path.join(workdir, "StationInfo.conf")
        start = self.starts(station if os.path.exists(station) else None)
        return {"cases": cases, "throughput": scaling, "memory": memory, "start": start,
                "load": {"before": load_before, "after": loadavg()}, "floor_unmatched": self.floor_unmatched}


# ---- helpers -------------------------------------------------------------------

def log(text):
    print(text, flush=True)


def tail(path, lines=5):
    try:
        with open(path) as f:
            return " | ".join(f.read().strip().splitlines()[-lines:])
    except OSError:
        return ""


def last_json(text):
    for line in reversed(text.strip().splitlines()):
        if line.startswith("{"):
            try:
                return json.loads(line)
            except ValueError:
                return None
    return None


def read_line(proc, limit):
    ready, _, _ = select.select([proc.stdout], [], [], limit)
    return proc.stdout.readline().strip() if ready else None


def pin_threads(pid, cpus):
    """Every thread of `pid` onto `cpus`; threads it starts later inherit it from their creator."""
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            os.sched_setaffinity(int(task), cpus)
        except OSError:
            pass  # the thread ended meanwhile


def cpu_ns(pid):
    """CPU time of every thread of `pid` so far, in ns (scheduler accounting, not ticks)."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                total += int(f.read().split()[0])
        except OSError:
            pass  # the thread ended meanwhile
    return total


def smaps_breakdown(pid, top=8):
    """Resident KiB per mapped file (anonymous memory, heap and stacks as one entry) and the rollup totals."""
    per = {}
    name = ""
    header = re.compile(r"^[0-9a-f]+-[0-9a-f]+ ")
    with open("/proc/%d/smaps" % pid) as f:
        for line in f:
            if header.match(line):
                fields = line.split()
                path = fields[5] if len(fields) > 5 else ""
                name = os.path.basename(path) if path.startswith("/") else "[anonymous, heap, stacks]"
            elif line.startswith("Rss:"):
                per[name] = per.get(name, 0) + int(line.split()[1])
    totals = {}
    with open("/proc/%d/smaps_rollup" % pid) as f:
        for line in f:
            fields = line.split()
            if fields[0] in ("Rss:", "Pss:", "Shared_Clean:", "Private_Clean:", "Private_Dirty:"):
                totals[fields[0].rstrip(":")] = int(fields[1])
    ranked = sorted(per.items(), key=lambda kv: -kv[1])
    return {"top": ranked[:top], "others_kib": sum(v for _k, v in ranked[top:]), "totals": totals}


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def rss_kib(pid, comm="data_center"):
    """VmRSS of `pid`, making sure it is the program meant, not a launcher."""
    with open("/proc/%d/comm" % pid) as f:
        name = f.read().strip()
    if name != comm:
        raise BenchError("process %d is %s, not %s" % (pid, name, comm))
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise BenchError("no VmRSS for %d" % pid)


def build_domain(build_dir, name):
    """The first ROS_DOMAIN_ID the build assigned to `name`, or None."""
    try:
        with open(os.path.join(build_dir, "test_domains.txt")) as f:
            for line in f:
                fields = line.split()
                if len(fields) == 3 and fields[0] == name:
                    return int(fields[1])
    except OSError:
        pass
    return None


def machine(args, work_root):
    cpu = ""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    fs = subprocess.run(["stat", "-f", "-c", "%T", work_root], stdout=subprocess.PIPE, text=True).stdout.strip()
    return {"cpu": cpu, "cores": os.cpu_count(), "kernel": platform.release(), "work_fs": fs,
            "domain": args.domain, "mode": "quick" if args.quick else "full", "latency_cpu": args.latency_cpu,
            "date": time.strftime("%Y-%m-%d %H:%M:%S %z")}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="small counts: proves the harness in seconds")
    parser.add_argument("--build-dir", default=os.path.join(os.path.dirname(here), "build"))
    parser.add_argument("--node")
    parser.add_argument("--client")
    parser.add_argument("--floor")
    parser.add_argument("--exec-stamp")
    parser.add_argument("--hermetic", default=os.path.join(os.path.dirname(here), "test", "support",
                                                           "data_center_hermetic"),
                        help="the launcher that gives the node a private /opt/korvane")
    parser.add_argument("--results", default=os.path.join(os.path.dirname(here), "results", "bench"))
    parser.add_argument("--domain", type=int,
                        help="ROS_DOMAIN_ID of this run (default: the build's, from BUILD_DIR/test_domains.txt)")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folders and process outputs")
    parser.add_argument("--latency-cpu", type=int, default=max(os.sched_getaffinity(0)),
                        help="CPU that client, node and floor share in the sequential cases; -1: not pinned "
                             "(default: the highest CPU this process may use)")
    args = parser.parse_args()
    args.node = args.node or os.path.join(args.build_dir, "bin", "data_center")
    args.client = args.client or os.path.join(args.build_dir, "bin", "bench_client")
    args.floor = args.floor or os.path.join(args.build_dir, "bin", "bench_echo_floor")
    args.exec_stamp = args.exec_stamp or os.path.join(args.build_dir, "bin", "bench_exec_stamp")
    if args.latency_cpu >= 0 and args.latency_cpu not in os.sched_getaffinity(0):
        parser.error("--latency-cpu %d is not a CPU this process may use" % args.latency_cpu)
    if args.domain is None:
        args.domain = build_domain(args.build_dir, "bench")
        if args.domain is None:
            parser.error("no --domain, and %s/test_domains.txt names none: configure the build" % args.build_dir)
    if not 0 <= args.domain <= 232:
        parser.error("--domain must be a ROS_DOMAIN_ID, 0-232")
    for path in (args.node, args.client, args.floor, args.exec_stamp, args.hermetic):
        if not os.access(path, os.X_OK):
            parser.error("not built: %s" % path)

    bench = Bench(args, QUICK if args.quick else FULL)
    log("data_center bench (%s) on ROS_DOMAIN_ID %d, scratch %s" % ("quick" if args.quick else "full",
                                                                    args.domain, bench.root))
    try:
        results = bench.run()
        results["machine"] = machine(args, bench.root)
        results["settings"] = bench.s
    except BenchError as e:
        print("bench failed: %s" % e, file=sys.stderr)
        return 1
    finally:
        bench.cleanup()
    os.makedirs(args.results, exist_ok=True)
    with open(os.path.join(args.results, "results.json"), "w") as f:
        json.dump(results, f, indent=2)
    text = report.markdown(results, NODE_CASES)
    with open(os.path.join(args.results, "results.md"), "w") as f:
        f.write(text)
    print(text)
    plotted = report.plot(results, NODE_CASES, os.path.join(args.results, "latency.png"))
    log("results in %s%s" % (args.results, "" if plotted else " (no plot: python3-matplotlib is not installed)"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
