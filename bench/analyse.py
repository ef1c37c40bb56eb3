#!/usr/bin/env python3
"""Medians, ratios and tables of the bench scripts: analyse.py STUDY FOLDER [NUMBER...].

FOLDER/<study>/ holds one folder per run, <series>-<round>. The program's figures come from
quenda-lite-results' conversion of the run's results file: the workers' from the CSV, the
collector's single-process figures from the JSON (the CSV has rows for workers only).
"""
import csv
import json
import math
import statistics
import sys
from pathlib import Path

TESTS = ("stream_handling", "descriptor_handling", "bytewise_write", "bytewise_read",
         "block_read", "block_write")
NAN = float("nan")


def median(values):
    values = [v for v in values if not math.isnan(v)]
    return statistics.median(values) if values else NAN


def ratio(a, b):
    return "nan" if math.isnan(a) or math.isnan(b) or b == 0 else f"{a / b:.3f}"


def runs(work, study):
    """{series: [run folder, ...]} in round order."""
    found = {}
    for folder in sorted((work / study).iterdir(), key=lambda p: int(p.name.rsplit("-", 1)[1])):
        found.setdefault(folder.name.rsplit("-", 1)[0], []).append(folder)
    return found


def converted(folder, suffix):
    """The results file's conversion in FOLDER: the JSON document or the CSV rows (None if none)."""
    for path in folder.glob("results_*" + suffix):
        return json.load(path.open()) if suffix == ".json" else list(csv.DictReader(path.open()))
    return None


def figure(figures, key):
    """A figure of a JSON figure set or a CSV row. The JSON writes one that is not finite as null,
    its reason ("not finite: inf") beside it; a figure the file lacks is null alone, or an empty
    cell in the CSV (NaN here)."""
    value = figures[key]
    if value in (None, ""):
        return float(figures.get(key + "_reason", "not finite: nan").rsplit(" ", 1)[1])
    return float(value)


def rate(figures, test):
    """Files or accesses per second from a JSON figure set or a CSV row."""
    if test in TESTS[:2]:
        return figure(figures, "files_per_sec")
    return figure(figures, "million_accesses_per_sec") * 1e6


def single(folder, what):
    """{test: the collector's single-process "seconds" or "rate"}."""
    tests = (converted(folder, ".json") or {"tests": {}})["tests"]
    return {t: NAN if t not in tests else figure(tests[t]["single"], "seconds")
            if what == "seconds" else rate(tests[t]["single"], t) for t in TESTS}


def worker_rates(folder):
    """{test: mean worker rate}."""
    rates = {}
    for row in converted(folder, ".csv") or []:
        rates.setdefault(row["test"], []).append(rate(row, row["test"]))
    return {t: statistics.fmean(rates[t]) if t in rates else NAN for t in TESTS}


def numbers(path):
    """The whitespace-separated fields of a file: "<test> <seconds>" lines of the bare loops as a
    dict, a /usr/bin/time record ("%M %U %S %e") or a clock file as a list of floats."""
    fields = path.read_text().split()
    if fields and fields[0] in TESTS:
        return {t: float(s) for t, s in zip(fields[::2], fields[1::2])}
    return [float(f) for f in fields]


def probe(path):
    """A mpi_probe file: (event, wall seconds, thread CPU seconds) per line, without the peer,
    count and tag that a message's lines go on with."""
    return [(e, float(w), float(c)) for e, w, c, *_ in (line.split() for line in path.open())]


def waiting(events, kind, first_only):
    """(CPU share, wall seconds) inside the calls of one kind (recv or barrier)."""
    wall = cpu = 0.0
    count = 0
    for event, w, c in events:
        if event == kind + "_enter":
            w0, c0 = w, c
        elif event == kind + "_leave" and not (first_only and count):
            wall, cpu, count = wall + w - w0, cpu + c - c0, count + 1
    return (cpu / wall, wall) if wall > 0 else (NAN, 0.0)


def phase_work(events, clock):
    """(phase C work, tail, phase A work) of the collector on one clock (1 wall, 2 CPU): its time
    outside the receives within a phase, and from the last receive to finalisation."""
    barriers, start, inside = 0, {}, {}
    end_a = enter = last = finalize = NAN
    for record in events:
        event, t = record[0], record[clock]
        if event == "barrier_leave":
            barriers += 1
            start[barriers] = t
        elif event == "barrier_enter" and barriers == 1:
            end_a = t
        elif event == "recv_enter":
            enter = t
        elif event == "recv_leave":
            inside[barriers], last = inside.get(barriers, 0.0) + t - enter, t
        elif event == "finalize":
            finalize = t
    return ((finalize - start.get(3, NAN)) - inside.get(3, 0.0), finalize - last,
            (end_a - start.get(1, NAN)) - inside.get(1, 0.0))


def overhead(work):
    series = runs(work, "overhead")
    times = {"program": [single(f, "seconds") for f in series["program"]]}
    times.update({s: [numbers(f / "console") for f in series[s]] for s in ("bare", "bare+thread")})
    print(f"{'test':<20} {'program s':>11} {'bare s':>11} {'+thread s':>11} {'p/bare':>8} "
          f"{'p/+thr':>8}  per-round p/bare: median [min..max]")
    for t in TESTS:
        p, b, bt = (median([run[t] for run in times[s]]) for s in times)
        # A round's pair ran minutes apart at most, so a shared machine's slow spells
        # cancel in these ratios more than in the medians.
        pairs = [pr[t] / br[t] for pr, br in zip(times["program"], times["bare"])]
        print(f"{t:<20} {p:11.6g} {b:11.6g} {bt:11.6g} {ratio(p, b):>8} {ratio(p, bt):>8}  "
              f"{median(pairs):.3f} [{min(pairs):.3f}..{max(pairs):.3f}]")
    print("(times are medians over the rounds; p/bare = median program time / median bare time,")
    print(" 1.000 meaning no difference; p/+thr the same against bare+thread)")


def memory(work):
    series = runs(work, "memory")
    print(f"{'rank':<12} {'program KiB':>14} {'baseline KiB':>14} {'diff KiB':>12} "
          f"{'limit (base+9 MiB)':>20}")
    for rank in range(3):
        p, b = (int(median([numbers(f / f"rss.{rank}")[0] for f in series[s]]))
                for s in ("program", "baseline"))
        print(f"{rank:<12} {p:14d} {b:14d} {p - b:12d} {b + 9216:14d} "
              f"{'within' if p <= b + 9216 else 'OVER'}")
    print("(the limit is the baseline plus the 8 MiB block buffer plus 1 MiB; medians of "
          f"{len(series['program'])} run(s))")


def instructions(work, cycles, length):
    def count(series, function):
        """Inclusive instructions of the first function whose name holds FUNCTION(."""
        for line in (work / "instructions" / series / "out.annotated").open(errors="replace"):
            first = (line.split() or [""])[0].replace(",", "")
            if first.isdigit() and f"{function}(" in line:
                return int(first)
        return NAN

    units = dict(zip(TESTS, ((cycles, "cycle"),) * 2 + ((length + length // 2, "access"),) * 2
                     + ((1, "file"),) * 2))
    print(f"{'test':<20} {'program':>12} {'bare':>12} {'bare+thread':>12} {'p/bare':>8} "
          f"{'p/+thr':>8}  per unit: program, bare, bare+thread")
    for t in TESTS:
        p, b, bt = count("program", "run_" + t), count("bare", "::" + t), count("thread", "::" + t)
        u, name = units[t]
        print(f"{t:<20} {p:>12} {b:>12} {bt:>12} {ratio(p, b):>8} {ratio(p, bt):>8}  "
              f"{p / u:.1f}, {b / u:.1f}, {bt / u:.1f} per {name}")


def wait(work, cycles, length):
    series = runs(work, "wait")
    loads = ("np2", "np3", "np3-yield", "np3-spin", "np3-sleep")
    credited = dict(zip(TESTS, (cycles,) * 2 + (length + length // 2,) * 2 + (length,) * 2))

    def bare(folder):
        loops = [numbers(p) for p in folder.glob("console.*")]
        return {t: statistics.fmean(credited[t] / loop[t] for loop in loops) for t in TESTS}

    def medians(name, figures):
        return {t: median([figures(f)[t] for f in series.get(name, [])]) for t in TESTS}

    def cell(x, reference):
        return f" {x:12.6g} [{ratio(x, reference):>6}]"

    columns = "".join(f" {c:>21}" for c in ("-np 3", "-np 3 yield=1", "-np 3 yield=0",
                                            "-np 3 sleepy waits"))
    alone = medians("alone", lambda f: single(f, "rate"))
    rows = {v: medians(v, lambda f: single(f, "rate")) for v in loads}
    print("Collector's single-process rates (rate relative to -np 1 in brackets):")
    print(f"{'test':<20} {'-np 1':>12} {'-np 2':>21}{columns}")
    for t in TESTS:
        print(f"{t:<20} {alone[t]:12.6g}" + "".join(cell(rows[v][t], alone[t]) for v in loads))
    print()
    one, pair = medians("bare-one", bare), medians("bare-pair", bare)
    rows = {v: medians(v, worker_rates) for v in loads}
    print("Mean worker rate (relative, in brackets, to as many bare loops run at once in one")
    print("directory with the workers' file names: one loop for -np 2, two for -np 3):")
    print(f"{'test':<20} {'one bare':>12} {'-np 2':>21} {'bare pair':>12}{columns}")
    for t in TESTS:
        print(f"{t:<20} {one[t]:12.6g}{cell(rows['np2'][t], one[t])} {pair[t]:12.6g}"
              + "".join(cell(rows[v][t], pair[t]) for v in loads[1:]))
    print()
    print("Waiting (medians): the share of a core that a waiting process takes while it waits")
    print("(its thread's CPU time / wall time inside the call), and how long it waits:")
    print(f"{'variant':<12} {'run wall s':>10} {'collector in MPI_Recv':>28} "
          f"{'each worker in 1st MPI_Barrier':>30}")
    for v in ("alone",) + loads:
        folders = series.get(v, [])
        recv = [waiting(probe(f / "probe.0"), "recv", False) for f in folders]
        barrier = [[statistics.fmean(column) for column in zip(*each)] for each in
                   ([waiting(probe(p), "barrier", True) for p in f.glob("probe.[1-9]*")]
                    for f in folders) if each]
        c, cw, b, bw = (median([x[i] for x in figures]) for figures in (recv, barrier) for i in (0, 1))
        wall = median([numbers(f / "rank.0")[3] for f in folders])
        print(f"{v:<12} {wall:10.2f} {c:12.6g} core, {cw:7.2f} s {b:14.6g} core, {bw:7.2f} s")
    print("(-np 1 has no worker and no receive; the first barrier is where the workers wait")
    print(" while the collector runs its single-process tests)")


def scale(work):
    series = runs(work, "scale")
    print(f"{'':24} | {'  collector wall clock, phase C':<37} | {'  collector thread CPU, phase C'}")
    print(f"{'workers':>7} {'wall s':>8} {'rows':>7} |" + " |".join(
        [f" {'work ms':>9} {'us/wkr':>9} {'marg us':>9} {'tail ms':>7}"] * 2))
    previous, phase_a, statuses = None, "", ""
    for w in sorted(map(int, series)):
        folders = series[str(w)]
        work_c, tail, work_a, cpu_c, cpu_tail, _ = (median(column) for column in zip(
            *(phase_work(probe(f / "probe.0"), 1) + phase_work(probe(f / "probe.0"), 2)
              for f in folders)))
        cells = []
        for x, tail_x, before in ((work_c, tail, 1), (cpu_c, cpu_tail, 2)):
            # Constant when the work is linear in the workers, growing when quadratic.
            marg = f"{(x - previous[before]) * 1e6 / (w - previous[0]):.1f}" if previous else "-"
            cells.append(f" {x * 1000:9.3f} {x * 1e6 / w:9.1f} {marg:>9} {tail_x * 1000:7.3f}")
        previous = (w, work_c, cpu_c)
        wall = median([numbers(f / "clock")[1] - numbers(f / "clock")[0] for f in folders])
        rows = median([len(converted(f, ".csv") or []) for f in folders])
        print(f"{w:7d} {wall:8.2f} {rows:7.0f} |" + " |".join(cells))
        phase_a += f" {w}: {work_a * 1000:.3f}"
        statuses += f" {w}: " + ",".join((f / "status").read_text().strip() for f in folders)
    print("(work: the collector's time outside MPI_Recv from the third barrier to finalisation, in")
    print(" which it writes 24 lines per worker plus a fixed set; tail: from the return of the last")
    print(" worker's last receive to finalisation, which follows the last line; marg: added work per")
    print(" added worker since the row above; rows: the worker rows of the run's CSV, 6 per worker.")
    print(f" Phase A, wall ms by workers:{phase_a})")
    print(f"launcher exit statuses by workers:{statuses}")


def beyond(work, processes, cap):
    folder = work / "beyond"
    status, clock, run = int((folder / "status").read_text()), numbers(folder / "clock"), \
        converted(folder, ".json")
    workers = min(processes, cap) - 1
    print(f"exit status {status}, wall {clock[1] - clock[0]:.1f} s")
    print(f"results file: Thread(s): {run['threads'] if run else 'not converted'}, "
          f"{len(converted(folder, '.csv') or [])} worker rows in its CSV "
          f"({workers} workers x 6 expected: {workers * 6})")
    print(f"scratch files left: {len(list(folder.glob('data64-windows-*')))} "
          f"(2 x {workers + 1} expected)")
    peaks = {int(p.suffix[1:]): numbers(p)[0] for p in folder.glob("rank.*")}
    if 0 in peaks:
        print(f"peak RSS of the collector (rank 0): {peaks.pop(0):.0f} KiB")
    if peaks:
        print(f"peak RSS of the other ranks: max {max(peaks.values()):.0f} KiB, mean "
              f"{statistics.fmean(peaks.values()):.0f} KiB over {len(peaks)} ranks")
    print(f"(the collector's extra is Open MPI's state for the {workers} peers it receives from)")
    if status != 0:
        print("launcher's errors:")
        print("\n".join([e for e in (folder / "errors").read_text().splitlines() if e.strip()][:20]))


def trend(work, runs, size, peak_one, peak_all):
    seen = {"cat": [], "trend": [], "convert": []}
    for line in (work / "times").read_text().splitlines():
        what, wall, cpu = line.split()
        seen[what].append((float(wall), float(cpu)))
    print(f"== {runs} results files of 511 workers ({size / 1e6:.0f} MB), "
          f"{len(seen['cat'])} alternated rounds, warm cache; seconds, and times cat's")
    cat = [median([t[i] for t in seen["cat"]]) for i in (0, 1)]
    for name, goal in (("cat", None), ("trend", 1.5), ("convert", 25)):
        wall, cpu = (median([t[i] for t in seen[name]]) for i in (0, 1))
        print(f"   {name:<8} wall median {wall:8.3f} {ratio(wall, cat[0]):>8}x   "
              f"CPU median {cpu:8.3f} {ratio(cpu, cat[1]):>8}x"
              + (f"   (at most {goal}x wanted)" if goal else ""))
        print(f"            wall, all rounds: {' '.join(f'{t[0]:.3f}' for t in seen[name])}")
    print(f"   trend's peak memory {peak_one} KB over one file, {peak_all} KB over {runs}")


if __name__ == "__main__":
    study, work, *figures = sys.argv[1:]
    studies = (overhead, memory, instructions, wait, scale, beyond, trend)
    {s.__name__: s for s in studies}[study](Path(work), *map(int, figures))
