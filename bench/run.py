#!/usr/bin/env python3
"""Times TARNSEK against GNU sort on the same generated files, side by side.

usage: bench/run.py [--bin PATH] [--runs N] [--records N] [--rows a,b,...]
                    [--scratch DIR] [--sort-buffer SIZE] [--keep] [--chart SVG]
       bench/run.py --chart-from bench/RESULTS.md [--chart SVG]

Generates (bench/generate.py, fixed seed) a comma file and a tab file of
RECORDS records plus a title record, then for every row runs, RUNS times and
interleaved so that machine noise hits every program alike:

  tarnsek   the tool, with /C (the title heads the output) and /W <scratch>
  sort-C    LC_ALL=C sort --parallel=1 -T <scratch> [-S SIZE], single-threaded
  sort      sort -T <scratch> as the environment gives it (locale, threads)

GNU sort reads the same records with the title record stripped, so that it
sorts exactly the data records (the outputs have the same size, checked).

Rows: text (/K 4), number (/K 1,N,D), two (/K 4:1,N,D), date (tab mode,
/T /K 7:6,D,D), merge (19 files of the records, each in order of field 4,
/M a|b|... /K 4 against sort -m) and io (the floor: reading the input once
from the page cache with cat, writing a file of its size with dd bs=1M).

Reported per program: the median wall time, the median CPU time (user +
system) and the peak resident memory (the largest over the runs; GNU time's
%M when /usr/bin/time is GNU time, else os.wait4's ru_maxrss, which cannot go
below this script's own size: see run_timed), and per row the ratios
tarnsek / sort-C of the median wall times and of the median CPU times.
Every program must end with status 0 and write an output of the expected
size; anything else fails the benchmark (exit status 1).
The medians of the wall times are also drawn as a bar chart, an SVG file
(--chart, default bench/results.svg) that names the machine and the date;
--chart-from draws it from the table of a saved run (bench/RESULTS.md, whose
"Machine:" and "Date:" lines it takes) without timing anything.
Scratch files go to a new directory under --scratch (default $TMPDIR or
/tmp) and are removed at the end unless --keep is given.
"""
import argparse
import math
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import generate  # noqa: E402

MERGE_FILES = 19
ALL_ROWS = ["text", "number", "two", "date", "merge", "io"]


class BenchFailure(Exception):
    pass


def machine_lines(tool):
    model = "unknown"
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    memory = "unknown"
    try:
        with open("/proc/meminfo") as info:
            for line in info:
                if line.startswith("MemTotal:"):
                    memory = "%.1f GiB" % (int(line.split()[1]) / 1048576)
                    break
    except OSError:
        pass
    uname = platform.uname()
    usable = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    sort_version = subprocess.run(["sort", "--version"], capture_output=True, text=True).stdout
    locale = os.environ.get("LC_ALL") or os.environ.get("LC_COLLATE") or os.environ.get("LANG") or "POSIX"
    return [
        "machine:  %s" % model,
        "cores:    %d online, %d usable by this process; memory %s" % (os.cpu_count(), usable, memory),
        "kernel:   %s %s (%s)" % (uname.system, uname.release, uname.machine),
        "load:     %.2f %.2f %.2f (1, 5, 15 min) at start" % os.getloadavg(),
        "tool:     %s" % tool,
        "sort:     %s; default locale for 'sort': %s" % (sort_version.splitlines()[0], locale),
        "python:   %s" % platform.python_version(),
    ]


def gnu_time():
    """/usr/bin/time when it is GNU time (it has -f and -o), else None."""
    probe = "/usr/bin/time"
    if not os.access(probe, os.X_OK):
        return None
    check = subprocess.run([probe, "-f", "%M", "-o", os.devnull, "true"], capture_output=True)
    return probe if check.returncode == 0 else None


GNU_TIME = gnu_time()


def run_timed(argv, stdout_path, env=None, scratch=None):
    """Runs argv to completion; returns (status, wall s, cpu s, peak KiB).

    Linux carries the memory high-water mark of the process image that exec
    replaces into the new one, and a child starts as a (v)fork of this script
    (13 MiB of Python at least), so the ru_maxrss that os.wait4 gives for a
    direct child is never below this script's own peak. When GNU time is
    installed the program runs under it, a small process, and its %M (the
    grandchild's ru_maxrss) is the peak; otherwise the wait4 figure is used.
    Either way `true` measured alike gives the floor, printed at the start.
    Wall and CPU time (user + system, grandchildren included) come from here."""
    rss_file = None
    if GNU_TIME and scratch:
        rss_file = os.path.join(scratch, "rss.txt")
        argv = [GNU_TIME, "-f", "%M", "-o", rss_file, "--"] + argv
    with open(stdout_path, "wb") as out:
        start = time.perf_counter()
        child = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT, env=env)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    peak = usage.ru_maxrss
    if rss_file:
        with open(rss_file) as rss:  # a line about a non-zero status may come first
            peak = int(rss.read().split()[-1])
    return child.returncode, wall, usage.ru_utime + usage.ru_stime, peak


def log_tail(path, lines=4):
    with open(path, "rb") as log:
        text = log.read().decode("cp932", errors="replace")
    return "\n".join("    " + line for line in text.splitlines()[-lines:])


def strip_title(source, target):
    with open(source, "rb") as src, open(target, "wb") as dst:
        src.readline()
        shutil.copyfileobj(src, dst, 1 << 20)


def split_round_robin(sorted_with_title, paths):
    """Deals the records of a sorted file (title skipped) to the files in turn:
    each file is in order and their keys interleave as a merge's inputs do.
    Streams, so that this process stays small (see run_timed)."""
    outputs = [open(path, "wb", buffering=1 << 20) for path in paths]
    try:
        with open(sorted_with_title, "rb", buffering=1 << 20) as src:
            src.readline()
            for k, line in enumerate(src):  # no field holds a LF: one line, one record
                outputs[k % len(outputs)].write(line)
    finally:
        for out in outputs:
            out.close()


class Bench:
    def __init__(self, args, scratch):
        self.args = args
        self.scratch = scratch
        self.work = os.path.join(scratch, "work")
        os.mkdir(self.work)
        self.tool = os.path.abspath(args.bin)
        self.env_c = dict(os.environ, LC_ALL="C")
        self.sort_c = ["sort", "--parallel=1", "-T", self.work]
        if args.sort_buffer:
            self.sort_c += ["-S", args.sort_buffer]
        self.sort_default = ["sort", "-T", self.work]
        self.merge_inputs = []

    def path(self, name):
        return os.path.join(self.scratch, name)

    def prepare(self):
        a = self.args
        t0 = time.perf_counter()
        # The heavy preparation runs in child processes so that this one stays
        # small (see run_timed).
        for name, tab in (("in.csv", False), ("in.tsv", True)):
            subprocess.run([sys.executable, os.path.join(HERE, "generate.py"), self.path(name),
                            "--records", str(a.records), "--seed", str(a.seed)]
                           + (["--tab"] if tab else []), check=True)
            strip_title(self.path(name), self.path("data" + name[2:]))
        print("generated %d records (+ title) in %.1f s: in.csv %d bytes, in.tsv %d bytes"
              % (a.records, time.perf_counter() - t0,
                 os.path.getsize(self.path("in.csv")), os.path.getsize(self.path("in.tsv"))))
        if "merge" in a.rows:
            status, wall, _, _ = run_timed(
                [self.tool, "/I", self.path("in.csv"), "/O", self.path("sorted4.csv"),
                 "/K", "4", "/C", "/W", self.work], self.path("prep.log"))
            if status != 0:
                raise BenchFailure("preparing the merge inputs: tarnsek exit status %d\n%s"
                                   % (status, log_tail(self.path("prep.log"))))
            self.merge_inputs = [self.path("m%02d.csv" % (k + 1)) for k in range(MERGE_FILES)]
            subprocess.run([sys.executable, "-c", "import sys; sys.path.insert(0, sys.argv[1]); "
                            "import run; run.split_round_robin(sys.argv[2], sys.argv[3:])",
                            HERE, self.path("sorted4.csv")] + self.merge_inputs, check=True)
            os.remove(self.path("sorted4.csv"))
            print("merge inputs: %d files in order of field 4 (tarnsek /K 4 in %.1f s, "
                  "its records dealt to the files in turn, title left out)" % (MERGE_FILES, wall))
        # Bring every input into the page cache before the first timing.
        for name in os.listdir(self.scratch):
            if os.path.isfile(self.path(name)):
                with open(self.path(name), "rb") as f:
                    while f.read(1 << 22):
                        pass
        _, _, _, floor = run_timed(["true"], os.devnull, scratch=self.scratch)
        print("memory:   peak resident size from %s; floor %.1f MiB (the peak of `true`)"
              % ("GNU time's %M" if GNU_TIME else "os.wait4's ru_maxrss (GNU time not found)",
                 floor / 1024), flush=True)

    def rows(self):
        """(row, description, [(program, argv, env, expected output size)])."""
        out = self.path("out")
        size = os.path.getsize
        rows = []

        def sort_row(row, title, tool_keys, gnu_keys, tab):
            titled = self.path("in.tsv" if tab else "in.csv")
            data = self.path("data.tsv" if tab else "data.csv")
            tool = [self.tool, "/I", titled, "/O", out, "/K", tool_keys, "/C", "/W", self.work]
            if tab:
                tool.insert(1, "/T")
            sep = "\t" if tab else ","
            gnu = ["-t", sep] + gnu_keys + ["-o", out, data]
            shown = "sort -t%s %s" % ("$'\\t'" if tab else ",", " ".join(gnu_keys))
            desc = "%s: tarnsek %s/K %s  vs  %s" % (title, "/T " if tab else "", tool_keys, shown)
            rows.append((row, desc, [
                ("tarnsek", tool, None, size(titled)),
                ("sort-C", self.sort_c + gnu, self.env_c, size(data)),
                ("sort", self.sort_default + gnu, None, size(data)),
            ]))

        for row in self.args.rows:
            if row == "text":
                sort_row(row, "text key, many ties", "4", ["-k4,4"], False)
            elif row == "number":
                sort_row(row, "numeric key", "1,N,D", ["-k1,1nr"], False)
            elif row == "two":
                sort_row(row, "two keys", "4:1,N,D", ["-k4,4", "-k1,1nr"], False)
            elif row == "date":
                sort_row(row, "date key, tab mode", "7:6,D,D", ["-k7,7", "-k6,6r"], True)
            elif row == "merge":
                total = sum(size(p) for p in self.merge_inputs)
                gnu = ["-m", "-t", ",", "-k4,4", "-o", out] + self.merge_inputs
                rows.append((row, "merge of %d sorted files: tarnsek /M a|b|... /K 4  vs  sort -m -t, -k4,4"
                             % MERGE_FILES, [
                                 ("tarnsek", [self.tool, "/M", "|".join(self.merge_inputs), "/O", out,
                                              "/K", "4"], None, total),
                                 ("sort-C", self.sort_c + gnu, self.env_c, total),
                                 ("sort", self.sort_default + gnu, None, total),
                             ]))
            elif row == "io":
                data = self.path("in.csv")
                rows.append((row, "I/O floor: read in.csv once (page cache) / write a file of its size", [
                    ("cat", ["cat", data], None, None),
                    # dd: plain reads and writes (cp may share or offload the blocks).
                    ("dd", ["dd", "if=" + data, "of=" + out, "bs=1M", "status=none"], None, size(data)),
                ]))
        return rows

    def measure(self, programs):
        out = self.path("out")
        log = self.path("run.log")
        results = {name: [] for name, _, _, _ in programs}
        for r in range(self.args.runs):
            # Rotate the order from run to run so that no program always goes first.
            shift = r % len(programs)
            for name, argv, env, expected in programs[shift:] + programs[:shift]:
                if os.path.exists(out):
                    os.remove(out)
                status, wall, cpu, peak = run_timed(argv, os.devnull if name == "cat" else log,
                                                    env, self.scratch)
                if status != 0:
                    raise BenchFailure("%s ended with exit status %d: %s\n%s"
                                       % (name, status, " ".join(argv), log_tail(log)))
                if expected is not None and os.path.getsize(out) != expected:
                    raise BenchFailure("%s wrote %d bytes, expected %d: %s"
                                       % (name, os.path.getsize(out), expected, " ".join(argv)))
                results[name].append((wall, cpu, peak))
                print("  run %d %-8s %7.2f s wall %7.2f s cpu %7.1f MiB peak  status %d"
                      % (r + 1, name, wall, cpu, peak / 1024, status), flush=True)
        if os.path.exists(out):
            os.remove(out)
        return results


def summarise(rows_results):
    """Markdown table of the medians; the ratios are of the median wall times
    and, less hurt by other load on a shared machine, of the median CPU times."""
    lines = ["| row | program | median wall s | median cpu s | peak MiB | tarnsek / sort-C wall | cpu |",
             "|---|---|---:|---:|---:|---:|---:|"]
    for row, _, results in rows_results:
        wall = {name: statistics.median(w for w, _, _ in runs) for name, runs in results.items()}
        cpu = {name: statistics.median(c for _, c, _ in runs) for name, runs in results.items()}
        ratios = ["", ""]
        if "tarnsek" in wall and "sort-C" in wall:
            ratios = ["%.2f" % (wall["tarnsek"] / wall["sort-C"]),
                      "%.2f" % (cpu["tarnsek"] / max(cpu["sort-C"], 1e-6))]
        for name, runs in results.items():
            shown = ratios if name == "tarnsek" else ["", ""]
            lines.append("| %s | %s | %.2f | %.2f | %.1f | %s | %s |" % (
                row, name, wall[name], cpu[name], max(p for _, _, p in runs) / 1024, shown[0], shown[1]))
    return lines


# The chart: one group of bars per row, one bar per program, the median wall
# time in seconds. Plain SVG text, so that no plotting package is needed.
CHART_COLOURS = {"tarnsek": "#2b6cb0", "sort-C": "#dd6b20", "sort": "#a0aec0"}


def xml_text(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def nice_ceiling(value):
    """The smallest of 1, 2, 4, 5, 8 times a power of ten that is >= value."""
    scale = 10 ** math.floor(math.log10(value)) if value > 0 else 1
    for step in (1, 2, 4, 5, 8, 10):
        if value <= step * scale:
            return step * scale
    return 10 * scale


def chart_svg(groups, machine, date, records):
    """groups: [(label, [(program, median wall s)])], programs in the legend's
    order. Returns the SVG text."""
    left, bar_width, bar, gap, top = 300, 420, 13, 14, 92
    programs = [name for name in CHART_COLOURS if any(name == p for _, bars in groups for p, _ in bars)]
    longest = max((seconds for _, bars in groups for _, seconds in bars), default=1.0)
    axis = nice_ceiling(longest)
    height = top + sum(len(bars) * bar + gap for _, bars in groups) + 46
    width = left + bar_width + 80
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d" '
           'font-family="sans-serif" font-size="12">' % (width, height, width, height),
           '<rect width="100%" height="100%" fill="#ffffff"/>',
           '<text x="10" y="22" font-size="15" font-weight="bold">TARNSEK against GNU sort: '
           'median wall time of %s records, shorter is better</text>' % xml_text("{:,}".format(records)),
           '<text x="10" y="42" fill="#4a5568">%s</text>' % xml_text(machine),
           '<text x="10" y="60" fill="#4a5568">%s</text>' % xml_text(date)]
    x = 10
    for name in programs:
        out.append('<rect x="%d" y="68" width="12" height="12" fill="%s"/>' % (x, CHART_COLOURS[name]))
        out.append('<text x="%d" y="79">%s</text>' % (x + 16, xml_text(name)))
        x += 30 + 8 * len(name)
    y = top
    for label, bars in groups:
        group_height = len(bars) * bar
        out.append('<text x="%d" y="%d" text-anchor="end">%s</text>'
                   % (left - 8, y + group_height / 2 + 4, xml_text(label)))
        for name, seconds in bars:
            length = bar_width * seconds / axis
            out.append('<rect x="%d" y="%d" width="%.1f" height="%d" fill="%s"/>'
                       % (left, y, length, bar - 2, CHART_COLOURS.get(name, "#718096")))
            out.append('<text x="%.1f" y="%d" font-size="10">%.2f s</text>' % (left + length + 4, y + bar - 3, seconds))
            y += bar
        y += gap
    out.append('<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="#4a5568"/>' % (left, top - 4, left, y - gap + 4))
    for tick in range(5):
        value = axis * tick / 4
        tx = left + bar_width * tick / 4
        out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#4a5568"/>' % (tx, y - gap + 4, tx, y - gap + 8))
        out.append('<text x="%.1f" y="%d" text-anchor="middle" font-size="10">%g s</text>' % (tx, y - gap + 20, value))
    out.append("</svg>")
    return "\n".join(out) + "\n"


def chart_groups(rows_results):
    """The chart's groups from a run: the sort and merge rows, by median wall time."""
    groups = []
    for row, desc, results in rows_results:
        if "tarnsek" not in results:
            continue
        bars = [(name, statistics.median(w for w, _, _ in results[name]))
                for name in CHART_COLOURS if name in results]
        groups.append((desc.split(":")[0], bars))
    return groups


def chart_from_results(path):
    """(groups, machine, date, records) from the table and the "Machine:" and
    "Date:" lines of a saved run such as bench/RESULTS.md."""
    with open(path, encoding="utf-8") as results:
        text = results.read()
    machine = re.search(r"^Machine: (.*?)(?:;|\n\n)", text, re.M | re.S)
    date = re.search(r"^Date: (.*)$", text, re.M)
    records = re.search(r"^([\d,]+) records, \d+ runs each", text, re.M)
    if not machine or not date or not records:
        raise BenchFailure("%s has no Machine:, Date: or 'N records, N runs each' line" % path)
    groups = []
    for line in text.splitlines():
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if len(cells) != 7 or not cells[2].replace(".", "", 1).isdigit():
            continue
        label, program, wall = cells[0].replace("`", ""), cells[1], float(cells[2])
        if program not in CHART_COLOURS:
            continue
        if label:
            groups.append((label, []))
        groups[-1][1].append((program, wall))
    if not groups:
        raise BenchFailure("%s holds no table of medians" % path)
    return (groups, "Machine: " + " ".join(machine.group(1).split()), "Date: " + date.group(1).strip().rstrip("."),
            int(records.group(1).replace(",", "")))


def write_chart(path, groups, machine, date, records):
    with open(path, "w", encoding="utf-8") as chart:
        chart.write(chart_svg(groups, machine, date, records))
    print("chart:    %s" % path)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", default=os.path.join(HERE, "..", "build", "release", "tarnsek"),
                        help="the tool to time (default build/release/tarnsek)")
    parser.add_argument("--runs", type=int, default=3, help="runs of each program per row (default 3)")
    parser.add_argument("--records", type=int, default=generate.DEFAULT_RECORDS,
                        help="data records (default %d, the most one sort accepts)" % generate.DEFAULT_RECORDS)
    parser.add_argument("--seed", type=int, default=generate.DEFAULT_SEED, help="the generator's seed")
    parser.add_argument("--rows", default=",".join(ALL_ROWS),
                        help="rows to run, of %s (default all)" % ",".join(ALL_ROWS))
    parser.add_argument("--scratch", default=None, help="parent of the scratch directory")
    parser.add_argument("--sort-buffer", default=None,
                        help="-S for sort-C (default: none, GNU sort's own choice)")
    parser.add_argument("--keep", action="store_true", help="keep the scratch directory")
    parser.add_argument("--chart", default=os.path.join(HERE, "results.svg"),
                        help="the SVG bar chart of the medians (default bench/results.svg)")
    parser.add_argument("--chart-from", default=None, metavar="RESULTS_MD",
                        help="only draw the chart from a saved run's table (bench/RESULTS.md)")
    args = parser.parse_args(argv)
    if args.chart_from:
        try:
            write_chart(args.chart, *chart_from_results(args.chart_from))
        except (BenchFailure, OSError) as failure:
            print("CHART FAILED: %s" % failure)
            return 1
        return 0
    args.rows = [r.strip() for r in args.rows.split(",") if r.strip()]
    unknown = [r for r in args.rows if r not in ALL_ROWS]
    if unknown or args.runs < 1 or args.records < 1:
        parser.error("bad --rows, --runs or --records")
    if args.records > generate.DEFAULT_RECORDS:
        print("note: more than %d records: the tool refuses a 20th run file (exit 2002)"
              % generate.DEFAULT_RECORDS)
    if not os.access(args.bin, os.X_OK):
        parser.error("no executable tool at %s (build it first)" % args.bin)

    for line in machine_lines(os.path.abspath(args.bin)):
        print(line)
    print("runs:     %d per program and row, interleaved (order rotated per run); figures are medians"
          % args.runs)
    print("title:    tarnsek gets the title record and /C; GNU sort gets the same file without it")
    print("sort-C:   LC_ALL=C sort --parallel=1%s; sort: default locale and threads"
          % (" -S " + args.sort_buffer if args.sort_buffer else " (no -S: GNU sort's default buffer)"))
    scratch = tempfile.mkdtemp(prefix="tarnsek-bench.",
                               dir=args.scratch or os.environ.get("TMPDIR") or "/tmp")
    print("scratch:  %s" % scratch, flush=True)
    try:
        bench = Bench(args, scratch)
        bench.prepare()
        rows_results = []
        for row, desc, programs in bench.rows():
            print("\n%s" % desc, flush=True)
            rows_results.append((row, desc, bench.measure(programs)))
        print()
        print("tarnsek exit status: 0 in every run")
        for line in summarise(rows_results):
            print(line)
        model = machine_lines(os.path.abspath(args.bin))[0].split(":", 1)[1].strip()
        write_chart(args.chart, chart_groups(rows_results),
                    "Machine: %s, %d cores, %s %s" % (model, os.cpu_count(), platform.system(), platform.release()),
                    "Date: %s" % time.strftime("%Y-%m-%d %H:%M %Z"), args.records)
    except BenchFailure as failure:
        print("\nBENCHMARK FAILED: %s" % failure, flush=True)
        return 1
    finally:
        if args.keep:
            print("kept %s" % scratch)
        else:
            shutil.rmtree(scratch, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
