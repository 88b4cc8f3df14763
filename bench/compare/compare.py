#!/usr/bin/python3
"""The comparative benchmark: the same monitoring workload written to and
read back from RRDtool, Graphite's whisper and this database (in-process
engine and the real process), all measured in one run on this machine.

Each system runs in a process of its own per repetition; the figures are
the medians of the repetitions. A separate pass under strace counts the
write and sync system calls. Results go to OUT/compare.{md,json,svg}.
"""
import argparse
import array
import json
import math
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SYSTEMS = ["rrd", "rrd-daemon", "whisper", "ours", "ours-unsynced", "ours-process"]
LABEL = {"rrd": "RRDtool", "rrd-daemon": "RRDtool through rrdcached", "whisper": "whisper",
         "ours": "ours (in-process)",
         "ours-unsynced": "ours (in-process, no syncs)", "ours-process": "ours (process)"}
WRITE_CALLS = ["write", "pwrite64", "writev", "pwritev", "pwritev2", "msync"]
SYNC_CALLS = ["fsync", "fdatasync", "sync_file_range", "msync"]
TRACED = 100
PEERS = {"rrdtool": "/usr/bin/rrdtool", "librrd-dev": "/usr/include/rrd.h",
         "rrdcached": "/usr/bin/rrdcached",
         "python3-whisper": "/usr/lib/python3/dist-packages/whisper.py", "strace": "/usr/bin/strace"}


def install_peers():
    missing = [p for p, f in PEERS.items() if not os.path.exists(f)]
    if not missing:
        return
    print("installing: " + " ".join(missing), flush=True)
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(sudo + ["apt-get", "update", "-qq"], check=True, env=env)
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq"] + missing, check=True, env=env)


# rrdcached runs beside the driver, in the same process tree, for the run.
DAEMON = ('rrdcached -g -l "unix:$1" -p "$2" -b "$3" -w 3600 -z 1 -f 7200 >/dev/null 2>&1 & daemon=$!\n'
          'for i in $(seq 200); do [ -S "$1" ] && break; sleep 0.05; done\n'
          'shift 3\n'
          'RRDCACHED_ADDRESS="unix:$socket" "$@"; status=$?\n'
          'kill $daemon; wait $daemon\n'
          'exit $status\n')


def command(system, driver, directory, series, minutes, workload, check):
    if system == "whisper":
        return ["/usr/bin/python3", os.path.join(HERE, "whisper_driver.py"), directory,
                str(series), str(minutes), workload, check]
    run = [driver, "run", system, directory, str(series), str(minutes), workload, check]
    if system == "rrd-daemon":
        work = os.path.dirname(directory)
        socket = os.path.join(work, "rrdcached.sock")
        return ["/usr/bin/env", "socket=" + socket, "/bin/sh", "-c", DAEMON, "sh", socket,
                os.path.join(work, "rrdcached.pid"), directory] + run
    return run


def tree_rss_kib(pid):
    """The resident memory of a process and all its descendants, in KiB."""
    total, pending = 0, [pid]
    while pending:
        p = pending.pop()
        try:
            with open("/proc/%d/status" % p) as f:
                total += next((int(line.split()[1]) for line in f if line.startswith("VmRSS:")), 0)
            for task in os.listdir("/proc/%d/task" % p):
                with open("/proc/%d/task/%s/children" % (p, task)) as f:
                    pending += [int(c) for c in f.read().split()]
        except (FileNotFoundError, ProcessLookupError):
            pass
    return total


def run_once(cmd):
    """The driver's figures and the peak resident memory of its process tree."""
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    peak = [0]

    def sample():
        while proc.poll() is None:
            peak[0] = max(peak[0], tree_rss_kib(proc.pid))
            time.sleep(0.02)

    sampler = threading.Thread(target=sample)
    sampler.start()
    out, err = proc.communicate()
    sampler.join()
    if proc.returncode != 0:
        raise SystemExit("%s failed: %s" % (" ".join(cmd), err.decode().strip()))
    figures = json.loads(out.decode().strip().splitlines()[-1])
    figures["peak_rss_kib"] = peak[0]
    return figures


def run_isolated(cmd):
    """run_once in a fresh child, so that the peak memory is this run's own."""
    read, write = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read)
        try:
            os.write(write, json.dumps(run_once(cmd)).encode())
            os._exit(0)
        except SystemExit as e:
            os.write(write, json.dumps({"error": str(e)}).encode())
            os._exit(1)
    os.close(write)
    data = b""
    while chunk := os.read(read, 65536):
        data += chunk
    os.waitpid(pid, 0)
    result = json.loads(data.decode())
    if "error" in result:
        raise SystemExit(result["error"])
    return result


def syscalls(cmd, work):
    """Write-like and sync calls of a run under strace, or None without strace."""
    summary = os.path.join(work, "strace.txt")
    traced = ["strace", "-f", "-c", "--seccomp-bpf", "-o", summary,
              "-e", "trace=" + ",".join(sorted(set(WRITE_CALLS + SYNC_CALLS)))] + cmd
    if subprocess.run(traced, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode:
        return None
    calls = {}
    with open(summary) as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 5 and parts[-1] in WRITE_CALLS + SYNC_CALLS and parts[3].isdigit():
                calls[parts[-1]] = int(parts[3])
    return {"writes": sum(n for c, n in calls.items() if c in WRITE_CALLS and c != "msync"),
            "syncs": sum(n for c, n in calls.items() if c in SYNC_CALLS)}


START = 1699999980  # the workload's first minute, as the drivers have it


def input_samples(workload, series, minutes):
    """The samples written: hour after hour, every series' 60 of that hour."""
    samples = array.array("f")
    with open(workload, "rb") as f:
        samples.fromfile(f, series * minutes)
    return lambda s, m: samples[((m // 60) * series + s) * 60 + m % 60]


def agreement(path, sample, minutes):
    """Every interval of every series' last day as a system read it back,
    against the samples written: a one-minute value must be its sample, a
    longer interval's value the mean of the good samples it covers."""
    checked, wrong, worst = 0, 0, 0.0
    with open(path) as f:
        for line in f:
            s, t, seconds, value = line.split()
            first = (int(t) - START) // 60
            covered = [sample(int(s), m) for m in range(first, first + int(seconds) // 60)
                       if 0 <= m < minutes]
            good = [v for v in covered if not math.isnan(v)]
            expected = sum(good) / len(good) if good else math.nan
            value = float(value)
            checked += 1
            if math.isnan(expected) or math.isnan(value):
                wrong += math.isnan(expected) != math.isnan(value)
                continue
            difference = abs(value - expected) / max(abs(expected), 1.0)
            worst = max(worst, difference)
            wrong += difference > 1e-5
    return {"intervals": checked, "wrong": wrong, "largest_relative_difference": worst}


def measure(args, driver, series, minutes, work):
    workload = os.path.join(work, "workload.bin")
    subprocess.run([driver, "workload", workload, str(series), str(minutes)], check=True)
    runs = {s: [] for s in SYSTEMS}
    checks = {}
    sample = input_samples(workload, series, minutes)
    for rep in range(args.reps):
        for system in SYSTEMS:
            directory = os.path.join(work, system)
            shutil.rmtree(directory, ignore_errors=True)
            os.makedirs(directory)
            check = os.path.join(work, system + ".check")
            print("  %s, %d series, repetition %d" % (LABEL[system], series, rep + 1), flush=True)
            runs[system].append(run_isolated(
                command(system, driver, directory, series, minutes, workload, check)))
            checks[system] = agreement(check, sample, minutes)
    # System calls per sample hardly depend on the number of series, and
    # tracing slows the fastest systems most: trace at most TRACED series.
    traced = min(series, TRACED)
    if traced != series:
        workload = os.path.join(work, "traced.bin")
        subprocess.run([driver, "workload", workload, str(traced), str(minutes)], check=True)
    result = {}
    for system in SYSTEMS:
        median = {k: statistics.median(r[k] for r in runs[system])
                  for k in runs[system][0] if k != "system"}
        calls = None
        if not args.no_strace:
            directory = os.path.join(work, system)
            shutil.rmtree(directory, ignore_errors=True)
            os.makedirs(directory)
            calls = syscalls(command(system, driver, directory, traced, minutes, workload,
                                     os.path.join(work, "traced.check")), work)
        samples = median["samples"]
        traced_samples = traced * minutes
        result[system] = {
            "ingest_rec_per_s": samples / median["ingest_s"],
            "read_day_rec_per_s": median["day_values"] / median["day_s"],
            "read_day_us": median["day_s"] / series * 1e6,
            "read_month_us": median["month_s"] / series * 1e6,
            "day_values": median["day_values"],
            "month_values": median["month_values"],
            "bytes_total": median["bytes"],
            "bytes_per_record": median["bytes"] / samples,
            "written_per_sample": median["write_bytes"] / samples,
            "peak_rss_mib": median["peak_rss_kib"] / 1024,
            "writes_per_1k": None if calls is None else calls["writes"] * 1000 / traced_samples,
            "syncs_per_1k": None if calls is None else calls["syncs"] * 1000 / traced_samples,
        }
    day_bytes = int(result["ours"]["day_values"] / series * 28)
    floor = subprocess.run([driver, "floor", os.path.join(work, "ours", "ours.tsdb"), str(day_bytes),
                            work], check=True, capture_output=True, text=True)
    result["floor"] = dict(json.loads(floor.stdout), day_bytes=day_bytes)
    return result, checks


ROWS = [("ingest_rec_per_s", "ingest, records/s", True),
        ("read_day_rec_per_s", "read one day, records/s", True),
        ("read_day_us", "read one day, per query, us", False),
        ("read_month_us", "read one month in hours, per query, us", False),
        ("bytes_per_record", "bytes reserved per sample", False),
        ("bytes_total", "bytes reserved in total", False),
        ("written_per_sample", "bytes written to storage per sample", False),
        ("peak_rss_mib", "peak resident memory of all processes, MiB", False),
        ("writes_per_1k", "write calls per 1000 samples", False),
        ("syncs_per_1k", "sync calls per 1000 samples", False)]


def number(v):
    if v is None:
        return "n/a"
    if v >= 1e6:
        return "%.2fM" % (v / 1e6)
    if v >= 1e4:
        return "%.0fk" % (v / 1e3)
    return "%.3g" % v


def table(size, result):
    lines = ["| %d series | %s |" % (size, " | ".join(LABEL[s] for s in SYSTEMS)),
             "|---|" + "---:|" * len(SYSTEMS)]
    for key, name, _ in ROWS:
        base = result["rrd"][key]
        cells = []
        for s in SYSTEMS:
            v = result[s][key]
            ratio = "" if s == "rrd" or v is None or not base else " (%.2fx)" % (v / base)
            cells.append(number(v) + ratio)
        lines.append("| %s | %s |" % (name, " | ".join(cells)))
    return "\n".join(lines)


def svg_chart(results):
    """Bars of each system's ingest and one-day read rate against RRDtool's."""
    bars = []
    for size, result in results.items():
        for key, name in [("ingest_rec_per_s", "ingest"), ("read_day_rec_per_s", "read a day")]:
            for s in SYSTEMS:
                bars.append(("%s, %s series" % (name, size), s, result[s][key] / result["rrd"][key]))
    width, row, left = 760, 16, 230
    top = max(v for _, _, v in bars)
    scale = (width - left - 70) / top
    height = 40 + row * len(bars) + 12 * len(bars) // len(SYSTEMS)
    colours = {"rrd": "#7f7f7f", "rrd-daemon": "#bdbdbd", "whisper": "#ff7f0e", "ours": "#1f77b4",
               "ours-unsynced": "#9ecae1", "ours-process": "#2ca02c"}
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" '
           'font-size="11">' % (width, height),
           '<rect width="100%" height="100%" fill="#ffffff"/>',
           '<text x="%d" y="18" font-size="13" text-anchor="middle">Rate against RRDtool (1 = '
           'RRDtool)</text>' % (width // 2)]
    y = 30
    for i, (group, system, ratio) in enumerate(bars):
        if i % len(SYSTEMS) == 0:
            y += 12
            out.append('<text x="4" y="%d" font-weight="bold">%s</text>' % (y + 2, group))
        out.append('<text x="%d" y="%d" text-anchor="end">%s</text>' % (left - 6, y + 12, LABEL[system]))
        out.append('<rect x="%d" y="%d" width="%.1f" height="%d" fill="%s"/>'
                   % (left, y + 2, ratio * scale, row - 4, colours[system]))
        out.append('<text x="%.1f" y="%d">%.2fx</text>' % (left + ratio * scale + 4, y + 12, ratio))
        y += row
    out.append("</svg>")
    return "\n".join(out) + "\n"


NOTES = """How the systems differ in what they store and return:
- RRDtool keeps AVERAGE, MIN and MAX archives per level; whisper keeps one aggregate (average) per
  level; ours keeps count, minimum, average and maximum in every record of every level.
- Durability: ours syncs the file at every commit (every 30 s in the process, once per
  simulated hour in-process), so that a crash loses nothing committed; RRDtool and whisper never
  sync. "no syncs" is our engine with syncs turned off, a setting of this benchmark only, to show
  what safety costs.
- Space is what each system reserves for the same retention: RRDtool and whisper write their
  whole archives at creation; our file is sparse, and counted by the blocks its allocation map
  gives to the levels and to its own bookkeeping.
- RRDtool stamps a step by its end: the sample taken for [t, t+60) is written at t+60. The
  check compares each system's value for the minute that starts at t.
- A day from RRDtool has one row more than a day of samples (its range includes both ends, the
  last row still unknown); whisper starts one step later (it rounds the start of a range up to
  the next step) and ends on the unknown current minute.
- A month is read at RRDtool's resolution for it, hours: RRDtool and whisper answer from their
  hourly archive (720 rows, most empty), ours groups its records into 720 hours.
- Samples arrive an hour per series at a time, and whisper is told that each hour arrives when
  it ends. Our write buffer is configured for that (tsdb_buffer_entries 128 instead of 32), and
  the in-process engine commits once per simulated hour, where the process commits on its own
  timer every 30 seconds of real time.
- Bytes written to storage are the kernel's count for the processes (/proc/PID/io write_bytes),
  which includes pages dirtied through a mapping, as RRDtool writes; the call counts stand beside.
- Our coarser levels hold aggregates of up to their resolution (4 minutes of 60-second samples in
  a 5-minute level, because an aggregate stays below the resolution), RRDtool's and whisper's
  exactly one step of their archive.
"""


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--build", default="build/Release")
    p.add_argument("--out", default="build/compare")
    p.add_argument("--sizes", default="1000,10000")
    p.add_argument("--minutes", type=int, default=7 * 1440)
    p.add_argument("--reps", type=int, default=3)
    p.add_argument("--quick", action="store_true", help="100 series, one simulated day, once")
    p.add_argument("--no-strace", action="store_true")
    p.add_argument("--no-install", action="store_true")
    args = p.parse_args()
    if args.quick:
        args.sizes, args.minutes, args.reps = "100", 1440, 1
    if not args.no_install:
        install_peers()
    driver = os.path.join(args.build, "bench", "compare_driver")
    if not os.access(driver, os.X_OK):
        raise SystemExit("%s is missing: build with librrd-dev installed (make compare)" % driver)
    os.makedirs(args.out, exist_ok=True)
    results, checks = {}, {}
    for size in [int(s) for s in args.sizes.split(",")]:
        print("%d series, %d minutes each:" % (size, args.minutes), flush=True)
        with tempfile.TemporaryDirectory(dir=args.out) as work:
            results[size], checks[size] = measure(args, driver, size, args.minutes, work)
    smallest = min(checks)
    report = ["# The same workload on RRDtool, whisper and ours", "",
              "One sample per series per minute for %d minutes, written an hour per series at a "
              "time; three levels (60 s x 1440, 300 s x 2016, 3600 s x 8760); median of %d "
              "repetitions; ratios against RRDtool. System calls counted under strace with %d "
              "series." % (args.minutes, args.reps, TRACED), ""]
    for size, result in results.items():
        floor = result["floor"]
        report += [table(size, result), "",
                   "The floor under a read, %d series: reading a day's bytes (%d) of our file with "
                   "one read call into memory, %.1f us per query; a bare round trip of 8 bytes over "
                   "two FIFOs between two threads waiting in poll, %.1f us asleep, %.1f us spinning (our "
                   "process and its parent spin for up to 200 us before they sleep)."
                   % (size, floor["day_bytes"], floor["pread_copy_us"],
                      floor["fifo_round_trip_us"], floor["fifo_spinning_round_trip_us"]), ""]
    report += ["Every series' last day read back, against the samples written (%d series): a "
               "one-minute value must be its sample, a longer interval's the mean of the good "
               "samples it covers." % smallest, "",
               "| system | intervals | wrong | largest relative difference |",
               "|---|---:|---:|---:|"]
    for system, row in checks[smallest].items():
        report.append("| %s | %d | %d | %.3g |" % (LABEL[system], row["intervals"], row["wrong"],
                                                  row["largest_relative_difference"]))
    report += ["", NOTES]
    text = "\n".join(report)
    print("\n" + text)
    with open(os.path.join(args.out, "compare.md"), "w") as f:
        f.write(text)
    with open(os.path.join(args.out, "compare.json"), "w") as f:
        json.dump({"minutes": args.minutes, "repetitions": args.reps,
                   "results": {str(k): v for k, v in results.items()},
                   "agreement": {str(k): v for k, v in checks.items()}}, f, indent=2)
    with open(os.path.join(args.out, "compare.svg"), "w") as f:
        f.write(svg_chart(results))
    bad = [s for s, row in checks[smallest].items() if row["wrong"] > 0 or row["intervals"] == 0]
    if bad:
        raise SystemExit("these systems did not store the same data: " + ", ".join(bad))


if __name__ == "__main__":
    main()
