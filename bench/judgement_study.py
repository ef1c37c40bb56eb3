#!/usr/bin/env python3
"""The results tool's judgements on generated runs: false alarms and power.

judgement_study.py TOOL [--runs N] [--layouts 4x4,...] [--parts convert,trend] [--samples PROGRAM]

Writes results files with controlled figures (fixed seeds) through the benchmark's own report
code (bench_sample_results, built with the tests), converts them with the real
quenda-lite-results and compares pairs of them, and prints how often a flag or a "worse" came up:
over noise-only runs and pairs (false alarms) and over runs with a slowed node or a cluster-wide
drop (power), and how often trend with a rank map finds a node departing from its own past in
the newest of eleven runs.

The noise: each worker's rate times a uniform factor in [0.85, 1.15]; each node's times a
log-normal factor of 3 % that it keeps from run to run and one of 2 % drawn afresh per run; each
run's times a log-normal factor of 1 % shared by its six tests and one of 1 % per test
(SHARED_RUN_SPREAD=0.02 for the wider spread the note also quotes).
"""
import argparse
import json
import os
import math
import random
import re
import subprocess
import sys
import tempfile
from pathlib import Path

TESTS = ("stream_handling", "descriptor_handling", "bytewise_write", "bytewise_read",
         "block_read", "block_write")
# Typical rates: files/sec for file handling, accesses/sec otherwise.
TYPICAL = (12000.0, 18000.0, 5.0e5, 4.0e7, 2.5e8, 3.0e7)
SHARED_RUN_SPREAD = float(os.environ.get("SHARED_RUN_SPREAD", "0.01"))

LAYOUTS = ((4, 4), (8, 1), (63, 8))  # nodes x workers per node

# --- Writing results files ------------------------------------------------------------------


def results_text(tests):
    """The collector's results file, written by the benchmark's own report code through
    bench_sample_results. tests[t] = [(seconds, rate) of the collector, then of each worker]."""
    figures = {"processor_name": "vm", "tests": tests}
    return subprocess.run([SAMPLES, "-"], input=json.dumps(figures), capture_output=True,
                          text=True, check=True).stdout


def file_name(index):
    day, rest = divmod(index, 86400)
    return (f"results_quenda_lite_windows_clusters @ vm @ local date 2026.{1 + day // 28:02d}."
            f"{1 + day % 28:02d} time {rest // 3600:02d}.{rest // 60 % 60:02d}.{rest % 60:02d}.txt")


def rank_map(nodes, per_node):
    ranks = range(nodes * per_node + 1)  # the collector, rank 0, on node-0 with the first workers
    return "".join(f"rank {r} on node-{max(r - 1, 0) // per_node}\n" for r in ranks)


# --- The simulated cluster ------------------------------------------------------------------


class Cluster:
    """Nodes that keep their own speed from run to run."""

    def __init__(self, rng, nodes, per_node):
        self.rng, self.nodes, self.per_node = rng, nodes, per_node
        self.node_level = [[rng.gauss(0, 0.03) for _ in TESTS] for _ in range(nodes)]

    def run(self, slow_node=None, slow_factor=1.0, drop_test=None, drop_factor=1.0):
        rng = self.rng
        shared = rng.gauss(0, SHARED_RUN_SPREAD)
        tests = []
        for t, typical in enumerate(TYPICAL):
            level = typical * math.exp(shared + rng.gauss(0, 0.01))
            if t == drop_test:
                level *= drop_factor
            rates = [level * rng.uniform(0.85, 1.15)]  # the collector's alone
            for node in range(self.nodes):
                node_rate = level * math.exp(self.node_level[node][t] + rng.gauss(0, 0.02))
                if node == slow_node:
                    node_rate *= slow_factor
                rates += [node_rate * rng.uniform(0.85, 1.15) for _ in range(self.per_node)]
            tests.append([(1000.0 / rate, rate) for rate in rates])
        return results_text(tests)


# --- Running the tool -----------------------------------------------------------------------


def call(command, args, statuses=(0,)):
    """Runs the tool; stops the study where it ends with a status other than `statuses`."""
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode not in statuses:
        sys.exit(f"{command} failed: {done.stderr}")
    return done


def clear(folder):
    """Removes the files a call of the tool was given and wrote."""
    for path in [*folder.iterdir(), *(folder / "out").glob("*")]:
        if path.is_file():
            path.unlink()


def convert_flags(tool, folder, texts, map_text):
    """For each run, the nodes convert flags (node-N names)."""
    (folder / "job.map").write_text(map_text)
    names = [file_name(i) for i in range(len(texts))]
    for name, text in zip(names, texts):
        (folder / name).write_text(text)
    out = folder / "out"
    call("convert", [tool, "--rank-map", str(folder / "job.map"), "-o", str(out)] +
         [str(folder / n) for n in names])
    flagged = []
    for name in names:
        document = json.loads((out / (name[:-4] + ".json")).read_text())
        flagged.append({node for test in document["tests"].values()
                        for node in test["outlier_nodes"]})
    clear(folder)
    return flagged


def compare(tool, folder, base, new, map_text, maps=True):
    (folder / "base.txt").write_text(base)
    (folder / "new.txt").write_text(new)
    (folder / "job.map").write_text(map_text)
    args = [tool, "compare", "--json"]
    if maps:
        args += ["--rank-map", str(folder / "job.map")] * 2
    done = call("compare", args + [str(folder / "base.txt"), str(folder / "new.txt")], (0, 1))
    return done.returncode, json.loads(done.stdout)


def trend_flags(tool, folder, history, newest, map_text):
    """The nodes trend --rank-map finds departing from their own past in `newest`, and whether
    the run itself departs, after `history` runs."""
    (folder / "quenda-lite-1.map").write_text(map_text)
    for i, text in enumerate(history + [newest]):
        (folder / file_name(i)).write_text(text)
    out = folder / "out"
    done = call("trend", [tool, "trend", "--rank-map", str(folder / "quenda-lite-1.map"), "-o",
                          str(out), str(folder)])
    nodes = set(re.findall(r"^  (node-\d+): \S+ at .*: departs$", done.stdout, re.M))
    run_departs = re.search(r"^  [a-z_]+: [^ ]+% of its history, .*: departs$", done.stdout,
                            re.M) is not None
    clear(folder)
    return nodes, run_departs


# --- The study ------------------------------------------------------------------------------


def study(tool, runs, layouts, parts):
    rows = []
    with tempfile.TemporaryDirectory() as temporary:
        folder = Path(temporary)
        for layout, (nodes, per_node) in enumerate(LAYOUTS):
            name = f"{nodes}x{per_node}"
            if name not in layouts:
                continue
            map_text = rank_map(nodes, per_node)
            rng = random.Random(1000 + layout)
            cluster = Cluster(rng, nodes, per_node)
            slow_factor = 1 / 3 if per_node == 1 else 0.7
            slow_text = "3x slower" if per_node == 1 else "30 % slower"

            def row(measure, hits):
                rows.append((name, measure, f"{hits}/{runs} ({100.0 * hits / runs:.1f} %)"))

            if "trend" in parts:
                # Trend with maps: ten earlier runs, then a noise-only or a slowed newest run.
                trend_rng = random.Random(2000 + layout)
                quiet_nodes = quiet_runs = found = others = 0
                for _ in range(runs):
                    history = Cluster(trend_rng, nodes, per_node)
                    earlier = [history.run() for _ in range(10)]
                    flagged, departs = trend_flags(tool, folder, earlier, history.run(), map_text)
                    quiet_nodes += bool(flagged)
                    quiet_runs += departs
                    flagged, _ = trend_flags(tool, folder, earlier, history.run(1, slow_factor),
                                             map_text)
                    found += "node-1" in flagged
                    others += bool(flagged - {"node-1"})
                row("trend: a node departs from its past, noise only", quiet_nodes)
                row("trend: the newest run departs, noise only", quiet_runs)
                row(f"trend: node-1 {slow_text} departs from its past", found)
                row("trend: another node departs beside node-1", others)
            if "convert" not in parts:
                continue
            # Convert: noise-only runs, then runs with node-1 slowed, many files per invocation.
            quiet = convert_flags(tool, folder, [cluster.run() for _ in range(runs)], map_text)
            row("convert: a node flagged, noise only", sum(1 for f in quiet if f))
            slowed = convert_flags(tool, folder,
                                   [cluster.run(1, slow_factor) for _ in range(runs)], map_text)
            row(f"convert: node-1 {slow_text} flagged", sum(1 for f in slowed if "node-1" in f))
            row("convert: another node flagged beside node-1",
                sum(1 for f in slowed if f - {"node-1"}))
            # Compare: noise-only pairs, with maps and without.
            status, plain_status = 0, 0
            for _ in range(runs):
                base, new = cluster.run(), cluster.run()
                status += compare(tool, folder, base, new, map_text)[0]
                plain_status += compare(tool, folder, base, new, map_text, maps=False)[0]
            row("compare with maps: status 1, noise only", status)
            row("compare without maps: status 1, noise only", plain_status)
            named, others = 0, 0
            for _ in range(runs):
                _, document = compare(tool, folder, cluster.run(), cluster.run(1, slow_factor),
                                      map_text)
                named += "node-1" in document["slowed_nodes"]
                others += bool(set(document["slowed_nodes"]) - {"node-1"})
            row(f"compare: node-1 {slow_text} named", named)
            row("compare: another node named beside node-1", others)
            if (nodes, per_node) == (4, 4):
                worse = 0
                for i in range(runs):
                    test = i % len(TESTS)
                    _, document = compare(tool, folder, cluster.run(),
                                          cluster.run(drop_test=test, drop_factor=0.8), map_text)
                    worse += document["tests"][TESTS[test]]["verdict"] == "worse"
                row("compare: one test 20 % lower cluster-wide called worse", worse)
            print(f"{name} done", file=sys.stderr, flush=True)
    width = max(len(r[1]) for r in rows)
    print(f"| layout | {'measure'.ljust(width)} | runs or pairs |")
    print(f"|---|{'-' * (width + 2)}|---|")
    for layout, measure, value in rows:
        print(f"| {layout} | {measure.ljust(width)} | {value} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("tool")
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("--samples", help="bench_sample_results (default: beside the tool's build)")
    parser.add_argument("--layouts", default="4x4,8x1,63x8", help="which layouts, such as 8x1")
    parser.add_argument("--parts", default="convert,trend",
                        help="convert (with compare), trend, or both")
    args = parser.parse_args()
    global SAMPLES
    SAMPLES = args.samples or Path(args.tool).resolve().parents[2] / "bench/bench_sample_results"
    study(args.tool, args.runs, args.layouts.split(","), args.parts.split(","))


if __name__ == "__main__":
    main()
