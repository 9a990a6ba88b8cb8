# SPDX-License-Identifier: Apache-2.0
"""Markdown tables and the latency plot of one run of run_bench.py."""

MIB = 1024.0


def ceiling(run, cores):
    """Requests per second that `cores` fully busy CPUs could serve at the measured CPU cost."""
    return cores * 1e6 / (run["server_cpu_us"] + run["client_cpu_us"])


def ratio(case, field="p50_us"):
    return case["node"][field] / case["floor"][field]


def vs_floor(case):
    """What the node adds to the floor: node minus floor in µs and node / floor, at p50 and p99."""
    n, f = case["node"], case["floor"]
    return {"p50_minus_us": n["p50_us"] - f["p50_us"], "p50_ratio": ratio(case, "p50_us"),
            "p99_minus_us": n["p99_us"] - f["p99_us"], "p99_ratio": ratio(case, "p99_us")}


def targets(results):
    """(target, figure, holds) for every target the project set itself."""
    cases = results["cases"]
    rows = []
    for key, name in (("10003", "10003"), ("10002_100", "10002 with 100 poses")):
        for field, limit in (("p50_us", 1.10), ("p99_us", 1.3)):
            r = ratio(cases[key], field)
            rows.append(("%s of %s <= %.2f x floor %s" % (field[:3], name, limit, field[:3]), "%.2f x" % r,
                         r <= limit))
    for key, name in (("1002", "1002"), ("unknown", "unknown command")):
        r = ratio(cases[key])
        rows.append(("p50 of %s <= 1.15 x floor p50" % name, "%.2f x" % r, r <= 1.15))
    r = ratio(cases["10002_10000"])
    rows.append(("p50 of 10002 with 10,000 poses <= 2 x floor p50 at equal size", "%.2f x" % r, r <= 2.0))
    mem = results["memory"]
    rows.append(("RSS at idle <= 10 MiB", "%.2f MiB" % (mem["idle_kib"] / MIB), mem["idle_kib"] <= 10 * 1024))
    growth = mem["after_kib"] - mem["idle_kib"]
    rows.append(("RSS growth after %s requests < 1 MiB" % format(mem["requests"], ","),
                 "%+d KiB from idle (%+d KiB after the first %s)" % (
                     growth, mem["after_kib"] - mem["warm_kib"], format(mem["warm_requests"], ",")),
                 growth < 1024))
    start = results["start"]
    rows.append(("start to first answer <= 150 ms (median of %d)" % len(start["runs"]),
                 "%.1f ms" % start["median_ms"], start["median_ms"] <= 150))
    tp = {t["clients"]: t["rps"] for t in results["throughput"]["node"]}
    scale = tp[4] / tp[1]
    rows.append(("throughput with 4 clients >= 1.5 x one client", "%.2f x" % scale, scale >= 1.5))
    return rows


def pinned(machine):
    cpu = machine.get("latency_cpu", -1)
    if cpu < 0:
        return "Client, node and floor were not pinned to a CPU. "
    return "Client, node and floor shared CPU %d (pinned) in these cases, throughput not. " % cpu


def markdown(results, cases_spec):
    m = results["machine"]
    cases = results["cases"]
    s = results["settings"]
    out = []
    out.append("## Benchmark results (%s run, %s)\n" % (m["mode"], m["date"]))
    out.append("Machine: %s, %d cores, Linux %s; working folders on %s; ROS_DOMAIN_ID %d, loopback only. "
               "Load average before / after: %s / %s.\n"
               % (m["cpu"], m["cores"], m["kernel"], m["work_fs"], m["domain"], results["load"]["before"],
                  results["load"]["after"]))
    out.append("### Sequential round trips (one client, microseconds)\n")
    out.append("Node and floor run side by side; one client process asks them in alternating blocks of %d "
               "requests, so both see the same background load. The client (bench_client) is bare Cyclone DDS on "
               "the layer's wire types: dds_write of the request, a waitset on the reply reader, dds_take, reply "
               "matched by its guid and seq. The floor is bench_echo_floor: raw Cyclone DDS request/reply on the "
               "same types and QoS, answering with as many payload bytes as shown. %s"
               "req/s = 1 / mean round trip.\n" % (s["block"], pinned(m)))
    out.append("| case | requests each | request / reply bytes | node p50 | node p90 | node p99 | node req/s "
               "| floor p50 | floor p90 | floor p99 | floor req/s | floor reply bytes "
               "| server CPU µs/req node / floor |")
    out.append("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|")
    for key, label, _cmd, _poses, _stored in cases_spec:
        n, f = cases[key]["node"], cases[key]["floor"]
        out.append("| %s | %s | %d / %d | %.1f | %.1f | %.1f | %s | %.1f | %.1f | %.1f | %s | %d "
                   "| %.1f / %.1f |" % (
                       label, format(n["answered"], ","), n["request_bytes"], n["reply_bytes"], n["p50_us"],
                       n["p90_us"], n["p99_us"], format(round(n["rps"]), ","), f["p50_us"], f["p90_us"],
                       f["p99_us"], format(round(f["rps"]), ","), f["reply_bytes"],
                       n["server_cpu_us"], f["server_cpu_us"]))
    out.append("")
    out.append("#### What the node adds to the floor, per command\n")
    out.append("Node minus floor in microseconds, and node / floor, from the same run and the same blocks.\n")
    out.append("| case | p50 node − floor µs | p50 node / floor | p99 node − floor µs | p99 node / floor |")
    out.append("|---|--:|--:|--:|--:|")
    for key, label, _cmd, _poses, _stored in cases_spec:
        v = vs_floor(cases[key])
        out.append("| %s | %+.1f | %.2f | %+.1f | %.2f |" % (label, v["p50_minus_us"], v["p50_ratio"],
                                                             v["p99_minus_us"], v["p99_ratio"]))
    out.append("")
    out.append("### Throughput (command 10003; client processes each sequential, %.1f s per run)\n"
               % s["throughput_seconds"])
    out.append("Total answers per second, median of %d pass(es); node and floor alternate. Over all passes: "
               "lost = not answered within 5 s (its client goes on), slow = answered after more than 200 ms.\n"
               % s["throughput_passes"])
    out.append("CPU µs/req: CPU time per answered request of the server process (all threads) and of all "
               "client processes together, over the run. Ceiling: what %d cores could answer at that CPU cost per "
               "request if they were never idle.\n" % results["machine"]["cores"])
    out.append("| client processes | node req/s | node vs 1 client | node lost / slow "
               "| node CPU µs/req server / clients | node ceiling req/s | floor req/s | floor vs 1 client "
               "| floor lost / slow | floor CPU µs/req server / clients | floor ceiling req/s |")
    out.append("|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|")
    tp_node = {t["clients"]: t for t in results["throughput"]["node"]}
    tp_floor = {t["clients"]: t for t in results["throughput"]["floor"]}
    if results.get("floor_unmatched"):
        out.append("The floor answered %d request(s) before its reply writer had matched the client's reader "
                   "(waited 100 ms, as the node does); such replies are likely lost.\n" % results["floor_unmatched"])
    for n in sorted(tp_node):
        a, b = tp_node[n], tp_floor[n]
        cores = results["machine"]["cores"]
        out.append("| %d | %s | %.2f x | %d / %d | %.1f / %.1f | %s | %s | %.2f x | %d / %d | %.1f / %.1f | %s |" % (
            n, format(round(a["rps"]), ","), a["rps"] / tp_node[1]["rps"], a["lost"], a["slow"],
            a["server_cpu_us"], a["client_cpu_us"], format(round(ceiling(a, cores)), ","),
            format(round(b["rps"]), ","), b["rps"] / tp_floor[1]["rps"], b["lost"], b["slow"], b["server_cpu_us"],
            b["client_cpu_us"], format(round(ceiling(b, cores)), ",")))
    out.append("")
    mem = results["memory"]
    out.append("### Resident memory of the node (VmRSS)\n")
    out.append("| when | KiB | MiB |")
    out.append("|---|--:|--:|")
    rows = [("idle, 1 s after start (100 poses stored)", mem["idle_kib"]),
            ("after the first %s requests" % format(mem["warm_requests"], ","), mem["warm_kib"]),
            ("after %s requests (mix %s)" % (format(mem["requests"], ","), mem["mix"]), mem["after_kib"]),
            ("1 s later", mem["settled_kib"]),
            ("another node, after all latency cases (10,000 poses once stored)", mem["after_cases_kib"]),
            ("echo floor, for reference", mem["floor_kib"])]
    for label, kib in rows:
        out.append("| %s | %s | %.2f |" % (label, format(kib, ","), kib / MIB))
    out.append("")
    b = mem.get("idle_breakdown")
    if b:
        t = b["totals"]
        out.append("Idle node by mapping (resident KiB; shared clean pages of libraries count in full in RSS): "
                   "shared clean %s, private clean %s, private dirty %s, PSS %s.\n" % (
                       format(t.get("Shared_Clean", 0), ","), format(t.get("Private_Clean", 0), ","),
                       format(t.get("Private_Dirty", 0), ","), format(t.get("Pss", 0), ",")))
        out.append("| mapping | resident KiB |")
        out.append("|---|--:|")
        for name, kib in b["top"]:
            out.append("| %s | %s |" % (name, format(kib, ",")))
        out.append("| all others | %s |" % format(b["others_kib"], ","))
        out.append("")
    start = results["start"]
    out.append("### Start to first answer (client already waiting)\n")
    out.append("From the exec of the node binary to the client holding its first answer (10003); "
               "service seen = when the client's endpoints had matched the node's; "
               "launch = unshare, mount and shell before that exec, not counted.\n")
    out.append("| start | ms to first answer | ms to service seen | launch ms | requests sent |")
    out.append("|--:|--:|--:|--:|--:|")
    for i, r in enumerate(start["runs"]):
        out.append("| %d | %.1f | %.1f | %.1f | %d |" % (i + 1, r["ms"], r["matched_ms"], r["launch_ms"],
                                                       r["attempts"]))
    out.append("| median | %.1f | | | |" % start["median_ms"])
    out.append("")
    out.append("### Targets\n")
    out.append("| target | measured | holds |")
    out.append("|---|--:|:-:|")
    for name, figure, holds in targets(results):
        out.append("| %s | %s | %s |" % (name, figure, "yes" if holds else "**no**"))
    out.append("")
    return "\n".join(out)


def plot(results, cases_spec, path):
    """Latency percentiles per case, node against its floor; False without matplotlib."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    cases = results["cases"]
    labels = [label.replace(", ", ",\n").replace(" storing", "\nstoring") for _k, label, _c, _p, _s in cases_spec]
    keys = [k for k, _l, _c, _p, _s in cases_spec]
    fig, ax = plt.subplots(figsize=(11, 5), dpi=100)
    width = 0.13
    series = [("node p50", "node", "p50_us", "#1f4e9c"), ("node p90", "node", "p90_us", "#4f7fcf"),
              ("node p99", "node", "p99_us", "#a5bfea"), ("floor p50", "floor", "p50_us", "#b04a1c"),
              ("floor p90", "floor", "p90_us", "#dd7c4f"), ("floor p99", "floor", "p99_us", "#f2c1a8")]
    for j, (name, server, field, color) in enumerate(series):
        values = [cases[k][server][field] for k in keys]
        xs = [i + (j - 2.5) * width for i in range(len(keys))]
        ax.bar(xs, values, width, label=name, color=color)
    ax.set_yscale("log")
    ax.set_ylabel("round trip, microseconds (log scale)")
    ax.set_xticks(range(len(keys)))
    ax.set_xticklabels(labels, fontsize=8)
    m = results["machine"]
    ax.set_title("robot_status_query round trip: node against raw Cyclone DDS echo at equal payload size\n"
                 "(%s run, %d cores, %s)" % (m["mode"], m["cores"], m["date"]), fontsize=10)
    ax.grid(axis="y", which="both", alpha=0.3)
    ax.legend(ncol=6, fontsize=8, loc="upper left")
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)
    return True
