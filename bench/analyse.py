#!/usr/bin/env python3
"""Medians, ratios and tables of the bench scripts' runs.

  analyse.py overhead WORK            program against bare loops, in time
  analyse.py memory WORK              peak resident memory per rank
  analyse.py instructions WORK CYCLES LENGTH
  analyse.py wait WORK CYCLES LENGTH  (the bare loops' counts, to turn times into rates)
  analyse.py scale WORK
  analyse.py beyond WORK PROCESSES CAP

WORK/<study>/ holds one folder per run, named <series>-<round>. The program's
figures come from the CSV and JSON that quenda-lite-results made of the run's
results file: workers from the CSV, the collector's single-process figures from
the JSON, since the CSV has a row per worker only. Standard library only.
"""
import csv
import json
import math
import statistics
import sys
from pathlib import Path

TESTS = ("stream_handling", "descriptor_handling", "bytewise_write", "bytewise_read",
         "block_read", "block_write")
HANDLING = TESTS[:2]
NAN = float("nan")


def median(values):
    values = [v for v in values if not math.isnan(v)]
    return statistics.median(values) if values else NAN


def ratio(a, b):
    return "nan" if math.isnan(a) or math.isnan(b) or b == 0 else f"{a / b:.3f}"


def runs(work, study):
    """{series: [folder, ...]} of a study's run folders, in round order."""
    found = {}
    folders = sorted((work / study).iterdir(), key=lambda p: int(p.name.rsplit("-", 1)[1]))
    for folder in folders:
        found.setdefault(folder.name.rsplit("-", 1)[0], []).append(folder)
    return found


def results_json(folder):
    paths = list(folder.glob("results_*.json"))
    return json.loads(paths[0].read_text()) if paths else None


def results_rows(folder):
    paths = list(folder.glob("results_*.csv"))
    return list(csv.DictReader(paths[0].open(newline=""))) if paths else []


def single(folder, figure):
    """The collector's single-process figure of each test: seconds or rate (per second)."""
    run = results_json(folder)
    values = {}
    for test in TESTS:
        figures = run["tests"][test]["single"] if run else None
        if not figures:
            values[test] = NAN
        elif figure == "seconds":
            values[test] = float(figures["seconds"])
        elif test in HANDLING:
            values[test] = float(figures["files_per_sec"])
        else:
            values[test] = float(figures["million_accesses_per_sec"]) * 1e6
    return values


def worker_rates(folder):
    """Mean worker rate of each test (files or accesses per second)."""
    rates = {}
    for row in results_rows(folder):
        rate = row["files_per_sec"] or str(float(row["million_accesses_per_sec"]) * 1e6)
        rates.setdefault(row["test"], []).append(float(rate))
    return {test: statistics.fmean(rates[test]) if test in rates else NAN for test in TESTS}


def bare_times(path):
    """A bare loop's "<test> <seconds>" lines."""
    return {test: float(seconds) for test, seconds in (line.split() for line in path.open())}


def time_record(path):
    """/usr/bin/time's "%M %U %S %e": peak KiB, user, system and wall seconds."""
    return [float(field) for field in path.read_text().split()]


def elapsed(folder):
    start, end = (float(field) for field in (folder / "clock").read_text().split())
    return end - start


def probe(path):
    """A collector_probe file: (event, wall seconds, thread CPU seconds) per line."""
    events = []
    for line in path.open():
        event, wall, cpu = line.split()
        events.append((event, float(wall), float(cpu)))
    return events


def waiting(events, kind, first_only):
    """(CPU share, wall seconds) spent inside the calls of one kind (recv or barrier)."""
    wall = cpu = 0.0
    count = 0
    for event, w, c in events:
        if event == kind + "_enter":
            w0, c0 = w, c
        elif event == kind + "_leave" and not (first_only and count):
            wall += w - w0
            cpu += c - c0
            count += 1
    return (cpu / wall, wall) if wall > 0 else (NAN, 0.0)


def phase_work(events, clock):
    """(phase C work, tail, phase A work) of the collector on one clock (1 wall, 2 CPU).

    Work is the time outside the receives within a phase; the tail runs from the
    last receive to finalisation, which follows the collector's last line at once.
    """
    barriers = 0
    start, inside = {}, {}
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
            inside[barriers] = inside.get(barriers, 0.0) + t - enter
            last = t
        elif event == "finalize":
            finalize = t
    return ((finalize - start.get(3, NAN)) - inside.get(3, 0.0), finalize - last,
            (end_a - start.get(1, NAN)) - inside.get(1, 0.0))


def overhead(work):
    series = runs(work, "overhead")
    times = {"program": [single(f, "seconds") for f in series.get("program", [])]}
    for name in ("bare", "bare+thread"):
        times[name] = [bare_times(f / "console") for f in series.get(name, [])]
    print(f"{'test':<20} {'program s':>11} {'bare s':>11} {'+thread s':>11} {'p/bare':>8} "
          f"{'p/+thr':>8}  per-round p/bare: median [min..max]")
    for test in TESTS:
        p, b, t = (median([run[test] for run in times[s]])
                   for s in ("program", "bare", "bare+thread"))
        # Each round's pair was measured minutes apart at most, so slow spells of a
        # shared machine cancel in these ratios more than in the medians above.
        per_round = [pr[test] / br[test] for pr, br in zip(times["program"], times["bare"])]
        spread = f"{median(per_round):.3f} [{min(per_round):.3f}..{max(per_round):.3f}]"
        print(f"{test:<20} {p:11.6g} {b:11.6g} {t:11.6g} {ratio(p, b):>8} {ratio(p, t):>8}  "
              f"{spread}")
    print("(times are medians over the rounds; p/bare = median program time / median bare time,")
    print(" 1.000 meaning no difference; p/+thr the same against bare+thread)")


def memory(work):
    series = runs(work, "memory")
    print(f"{'rank':<12} {'program KiB':>14} {'baseline KiB':>14} {'diff KiB':>12} "
          f"{'limit (base+9 MiB)':>20}")
    for rank in range(3):
        p, b = (int(median([time_record(f / f"rss.{rank}")[0] for f in series[s]]))
                for s in ("program", "baseline"))
        limit = b + 9216
        print(f"{rank:<12} {p:14d} {b:14d} {p - b:12d} {limit:14d} "
              f"{'within' if p <= limit else 'OVER'}")
    print(f"(the limit is the baseline plus the 8 MiB block buffer plus 1 MiB; "
          f"medians of {len(series['program'])} run(s))")


def annotated_count(path, function):
    """Inclusive instructions of the first function whose name contains FUNCTION(."""
    for line in path.open(errors="replace"):
        fields = line.split()
        if fields and f"{function}(" in line and fields[0].replace(",", "").isdigit():
            return int(fields[0].replace(",", ""))
    return NAN


def instructions(work, cycles, length):
    folder = work / "instructions"
    program = [annotated_count(folder / "program/out.annotated", "run_" + t) for t in TESTS]
    bare, thread = ([annotated_count(folder / s / "out.annotated", "::" + t) for t in TESTS]
                    for s in ("bare", "thread"))
    units = (cycles, cycles, length + length // 2, length + length // 2, 1, 1)
    unit_names = ("cycle", "cycle", "access", "access", "file", "file")
    print(f"{'test':<20} {'program':>12} {'bare':>12} {'bare+thread':>12} {'p/bare':>8} "
          f"{'p/+thr':>8}  per unit: program, bare, bare+thread")
    for k, test in enumerate(TESTS):
        p, b, t, u = program[k], bare[k], thread[k], units[k]
        print(f"{test:<20} {p:>12} {b:>12} {t:>12} {ratio(p, b):>8} {ratio(p, t):>8}  "
              f"{p / u:.1f}, {b / u:.1f}, {t / u:.1f} per {unit_names[k]}")


def wait(work, cycles, length):
    series = runs(work, "wait")
    programs = ("np2", "np3", "np3-yield", "np3-spin", "np3-sleep")

    def med(name, figures):
        return {t: median([run[t] for run in figures(name)]) for t in TESTS}

    def singles(name):
        return [single(f, "rate") for f in series.get(name, [])]

    def workers(name):
        return [worker_rates(f) for f in series.get(name, [])]

    def bare_rates(name):
        credited = dict(zip(TESTS, (cycles, cycles, length + length // 2,
                                    length + length // 2, length, length)))
        rounds = []
        for folder in series.get(name, []):
            loops = [bare_times(path) for path in sorted(folder.glob("console.*"))]
            rounds.append({t: statistics.fmean(credited[t] / loop[t] for loop in loops)
                           for t in TESTS})
        return rounds

    print("Collector's single-process rates (rate relative to -np 1 in brackets):")
    print(f"{'test':<20} {'-np 1':>12} {'-np 2':>21} {'-np 3':>21} {'-np 3 yield=1':>21} "
          f"{'-np 3 yield=0':>21} {'-np 3 sleepy waits':>21}")
    alone = med("alone", singles)
    rows = {v: med(v, singles) for v in programs}
    for t in TESTS:
        cells = "".join(f" {rows[v][t]:12.6g} [{ratio(rows[v][t], alone[t]):>6}]"
                        for v in programs)
        print(f"{t:<20} {alone[t]:12.6g}{cells}")
    print()
    print("Mean worker rate (relative, in brackets, to as many bare loops run at once in one")
    print("directory with the workers' file names: one loop for -np 2, two for -np 3):")
    print(f"{'test':<20} {'one bare':>12} {'-np 2':>21} {'bare pair':>12} {'-np 3':>21} "
          f"{'-np 3 yield=1':>21} {'-np 3 yield=0':>21} {'-np 3 sleepy waits':>21}")
    one, pair = med("bare-one", bare_rates), med("bare-pair", bare_rates)
    rows = {v: med(v, workers) for v in programs}
    for t in TESTS:
        cells = "".join(f" {rows[v][t]:12.6g} [{ratio(rows[v][t], pair[t]):>6}]"
                        for v in programs[1:])
        print(f"{t:<20} {one[t]:12.6g} {rows['np2'][t]:12.6g} [{ratio(rows['np2'][t], one[t]):>6}] "
              f"{pair[t]:12.6g}{cells}")
    print()
    print("Waiting (medians): the share of a core that a waiting process takes while it waits")
    print("(its thread's CPU time / wall time inside the call), and how long it waits:")
    print(f"{'variant':<12} {'run wall s':>10} {'collector in MPI_Recv':>28} "
          f"{'each worker in 1st MPI_Barrier':>30}")
    for v in ("alone",) + programs:
        folders = series.get(v, [])
        collector = [waiting(probe(f / "probe.0"), "recv", False) for f in folders]
        barrier = []
        for f in folders:
            each = [waiting(probe(p), "barrier", True) for p in f.glob("probe.*")
                    if p.name != "probe.0"]
            if each:
                barrier.append([statistics.fmean(column) for column in zip(*each)])
        wall = median([time_record(f / "rank.0")[3] for f in folders])
        c, cw = (median([w[i] for w in collector]) for i in (0, 1))
        b, bw = (median([w[i] for w in barrier]) for i in (0, 1))
        print(f"{v:<12} {wall:10.2f} {c:12.6g} core, {cw:7.2f} s {b:14.6g} core, {bw:7.2f} s")
    print("(-np 1 has no worker and no receive; the first barrier is where the workers wait")
    print(" while the collector runs its single-process tests)")


def scale(work):
    series = runs(work, "scale")
    print(f"{'':7} {'':8} {'':7} | {'  collector wall clock, phase C':<37} | "
          f"{'  collector thread CPU, phase C':<37}")
    print(f"{'workers':>7} {'wall s':>8} {'rows':>7} | {'work ms':>9} {'us/wkr':>9} "
          f"{'marg us':>9} {'tail ms':>7} | {'work ms':>9} {'us/wkr':>9} {'marg us':>9} "
          f"{'tail ms':>7}")
    previous = None
    phase_a, statuses = [], []
    for name in sorted(series, key=int):
        folders, w = series[name], int(name)
        figures = [phase_work(probe(f / "probe.0"), 1) + phase_work(probe(f / "probe.0"), 2)
                   for f in folders]
        work_c, tail, work_a, cpu_c, cpu_tail, _ = (median(column) for column in zip(*figures))
        cells = []
        for x, tail_x, index in ((work_c, tail, 0), (cpu_c, cpu_tail, 1)):
            # The cost of each worker added since the previous row: constant when the
            # work is linear in the workers, growing with them when it is quadratic.
            marg = "-" if previous is None else \
                f"{(x - previous[index + 1]) * 1e6 / (w - previous[0]):.1f}"
            cells.append(f"{x * 1000:9.3f} {x * 1e6 / w:9.1f} {marg:>9} {tail_x * 1000:7.3f}")
        previous = (w, work_c, cpu_c)
        rows = median([len(results_rows(f)) for f in folders])
        print(f"{w:7d} {median([elapsed(f) for f in folders]):8.2f} {rows:7.0f} | "
              f"{cells[0]} | {cells[1]}")
        phase_a.append(f" {w}: {work_a * 1000:.3f}")
        statuses.append(f" {w}: " + ",".join((f / "status").read_text().strip() for f in folders))
    print("(work: the collector's time outside MPI_Recv from the third barrier to finalisation, in")
    print(" which it writes 24 lines per worker plus a fixed set; tail: from the return of the last")
    print(" worker's last receive to finalisation, which follows the last line; marg: added work per")
    print(" added worker since the row above; rows: the worker rows of the run's CSV, 6 per worker.")
    print(" Phase A, wall ms by workers:" + "".join(phase_a) + ")")
    print("launcher exit statuses by workers:" + "".join(statuses))


def beyond(work, processes, cap):
    folder = work / "beyond"
    status = int((folder / "status").read_text())
    run = results_json(folder)
    workers = min(processes, cap) - 1
    print(f"exit status {status}, wall {elapsed(folder):.1f} s")
    print(f"results file: Thread(s): {run['threads'] if run else 'not converted'}, "
          f"{len(results_rows(folder))} worker rows in its CSV "
          f"({workers} workers x 6 expected: {workers * 6})")
    print(f"scratch files left: {len(list(folder.glob('data64-windows-*')))} "
          f"(2 x {min(processes, cap)} expected)")
    records = {int(p.name.split(".")[1]): time_record(p)[0] for p in folder.glob("rank.*")}
    if 0 in records:
        print(f"peak RSS of the collector (rank 0): {records.pop(0):.0f} KiB")
    if records:
        print(f"peak RSS of the other ranks: max {max(records.values()):.0f} KiB, mean "
              f"{statistics.fmean(records.values()):.0f} KiB over {len(records)} ranks")
    print(f"(the collector's extra is Open MPI's state for the {workers} peers it receives from)")
    if status != 0:
        print("launcher's errors:")
        errors = [line for line in (folder / "errors").read_text().splitlines() if line.strip()]
        print("\n".join(errors[:20]))


if __name__ == "__main__":
    study, work, *numbers = sys.argv[1:]
    {"overhead": overhead, "memory": memory, "instructions": instructions, "wait": wait,
     "scale": scale, "beyond": beyond}[study](Path(work), *map(int, numbers))
