#!/usr/bin/env python3
"""Times drmpi against the pi programs one would use instead; run through scripts/bench.

Every program runs as a whole process in a temporary folder and writes all its
digits to a file.  The runs go round-robin over the rounds, the sizes and the
programs, so that a slow spell of a shared machine falls on all of them alike.
Prints a markdown table of the median wall times with each program's ratio to
drmpi series 1 and its peak resident set, checks that every program's digits
agree (and agree with the reference digits as far as these reach, and at 10^9
digits with the sha256 of the first 999,999,990), and plots time against digits
on log-log axes with gnuplot.  Exits with status 1 when digits disagree or a
program fails.

The programs: drmpi's three series, GMP's Chudnovsky series, MPFR's const_pi,
and Arb's const_pi on one thread and on two.  --large adds 10^7 and 10^8
digits; --huge adds 10^9, which only drmpi series 1 and Arb on two threads run
(the others would take hours).  A size beyond a program's reach (drmpi's
longest run, 1,006,632,940 digits; 10^8 for the GMP and MPFR programs) leaves
its cell empty ("—").
"""

import argparse
import hashlib
import math
import os
import re
import statistics
import subprocess
import sys
import tempfile
import textwrap
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_SIZES = [10_000, 100_000, 1_000_000, 1_310_700]
# Added by --large: runs of seconds to minutes each.
LARGE_SIZES = [10_000_000, 100_000_000]
# Added by --huge: runs of half an hour, beyond LARGE_SIZES, which only the
# programs marked `huge` run.
HUGE_SIZES = [1_000_000_000]
REFERENCE = ROOT / "tests" / "data" / "pi-digits.txt"
# The sha256 of pi's first digits after the point, for the sizes beyond REFERENCE.
REFERENCE_HASH = ROOT / "tests" / "data" / "pi-digits-1e9.sha256"

# The largest N that drmpi's dialogue accepts (FMT size 2^18), and the longest
# run of its command line (FMT size 3 * 2^26, MaxFmtSize of driver/cli.h): five
# digits a word, four words short of the FMT size.
DRMPI_DIALOGUE_DIGITS = 5 * (2**18 - 4)
DRMPI_LONGEST_RUN = 5 * (3 * 2**26 - 4)


class Program:
    """One way of computing pi: how to start it for N digits, and how to read
    its digits back.  A size beyond max_digits is skipped for this program, and
    so is one beyond LARGE_SIZES unless it is marked huge."""

    name = ""
    max_digits = 100_000_000
    huge = False

    def runs(self, digits):
        """Whether this program runs at digits."""
        return digits <= self.max_digits and (self.huge or digits <= max(LARGE_SIZES))

    def start(self, digits, folder):
        """Returns (argv, standard input text, path of the result file)."""
        raise NotImplementedError

    def read_digits(self, path):
        """The digits after the point in the result file at path."""
        raise NotImplementedError


class Drmpi(Program):
    """drmpi with one series: through its dialogue (ID and N typed at its
    questions, the digits read from RamnDRM<ID>.txt, after "  Pi = 3. ", in
    numbered lines of groups) up to the dialogue's capacity, and through its
    command line (`drmpi -q -s ID -f plain -o FILE DIGITS`) beyond it."""

    max_digits = DRMPI_LONGEST_RUN

    def __init__(self, binary, series):
        self.binary = binary
        self.series = series
        self.name = f"drmpi series {series}"
        self.huge = series == 1

    def start(self, digits, folder):
        if digits > DRMPI_DIALOGUE_DIGITS:
            out = folder / "pi.txt"
            return [str(self.binary), "-q", "-s", str(self.series), "-f", "plain", "-o",
                    str(out), str(digits)], "", out
        typed = f"{self.series}\n{digits}\n"
        return [str(self.binary)], typed, folder / f"RamnDRM{self.series}.txt"

    def read_digits(self, path):
        text = path.read_text()
        if text.startswith("3."):
            return text[2:].rstrip("\n")
        head = "  Pi = 3. "
        at = text.find(head)
        if at < 0:
            return ""
        groups = []
        for line in text[at + len(head):].splitlines():
            groups.extend(line.split()[1:])
        return "".join(groups)


class Yardstick(Program):
    """A program of bench/ called as `BINARY DIGITS FILE [THREADS]`, writing
    "3.", the digits and a newline."""

    def __init__(self, binary, name, threads=None, max_digits=None, huge=False):
        self.binary = binary
        self.name = name
        self.threads = [] if threads is None else [str(threads)]
        self.max_digits = max_digits or self.max_digits
        self.huge = huge

    def start(self, digits, folder):
        out = folder / "pi.txt"
        return [str(self.binary), str(digits), str(out)] + self.threads, "", out

    def read_digits(self, path):
        text = path.read_text()
        return text[2:].rstrip("\n") if text.startswith("3.") else ""


def programs(build):
    """The contestants; the first is the one every ratio is taken against.
    Sizes that a program does not run leave its cells empty."""
    found = [Drmpi(build / "drmpi", s) for s in (1, 2, 3)]
    found.append(Yardstick(build / "bench" / "gmp_chudnovsky", "GMP Chudnovsky"))
    found.append(Yardstick(build / "bench" / "mpfr_pi", "MPFR const_pi"))
    arb = build / "bench" / "arb_pi"
    found.append(Yardstick(arb, "Arb const_pi (1 thread)", 1, max(HUGE_SIZES)))
    found.append(Yardstick(arb, "Arb const_pi (2 threads)", 2, max(HUGE_SIZES), huge=True))
    return found


def run_once(program, digits):
    """Runs program for digits in a fresh folder: (wall seconds, digits read,
    peak resident bytes).  The peak comes from /usr/bin/time, which starts the
    program from its own small process: a child of this one would carry this
    process's pages in its peak."""
    with tempfile.TemporaryDirectory(prefix="drmpi-bench-") as tmp:
        folder = Path(tmp)
        argv, stdin, out = program.start(digits, folder)
        peak_file = folder / "peak"
        began = time.perf_counter()
        done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", str(peak_file)] + argv,
                              input=stdin, cwd=folder, text=True, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, check=False)
        seconds = time.perf_counter() - began
        if done.returncode != 0 or not out.is_file():
            sys.exit(f"{program.name} for {digits} digits failed with status "
                     f"{done.returncode}: {done.stderr.strip()}")
        peak = int(peak_file.read_text().split()[-1]) * 1024
        return seconds, program.read_digits(out), peak


def first_difference(a, b):
    """The 1-based position of the first differing character, or 0."""
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i + 1
    return 0 if len(a) == len(b) else min(len(a), len(b)) + 1


def reference_hash():
    """(count, sha256 in hex) of pi's first count digits after the point, from
    REFERENCE_HASH: "HEX  first COUNT digits of pi after the point"."""
    text = REFERENCE_HASH.read_text()
    match = re.match(r"([0-9a-f]{64})  first (\d+) digits", text)
    if not match:
        sys.exit(f"{REFERENCE_HASH}: not a sha256 of pi's first digits")
    return int(match.group(2)), match.group(1)


def check_digits(found, digits, reference, hashed):
    """Messages for every program that wrote fewer than `digits` digits, or
    whose first `digits` differ from the first program's, or from the
    reference where it reaches that far; and, for runs that reach the count of
    hashed = (count, sha256), for every program whose first count digits do
    not have that sha256."""
    problems = []
    names = list(found)
    base = found[names[0]][:digits]
    if len(reference) >= digits and base != reference[:digits]:
        at = first_difference(base, reference[:digits])
        problems.append(f"{names[0]}, {digits} digits: digit {at} differs from the reference")
    count, sha256 = hashed
    for i, name in enumerate(names):
        mine = found[name][:digits]
        if len(mine) < digits:
            problems.append(f"{name}, {digits} digits: only {len(mine)} written")
        if i > 0 and mine != base:
            at = first_difference(mine, base)
            problems.append(f"{name}, {digits} digits: digit {at} differs from {names[0]}")
        if digits >= count:
            text = found[name].encode("ascii")
            if hashlib.sha256(memoryview(text)[:count]).hexdigest() != sha256:
                problems.append(f"{name}, {digits} digits: the first {count} differ from "
                                f"those of {REFERENCE_HASH.name}")
    return problems


def seconds_text(t):
    """Three significant digits, at least down to milliseconds."""
    return f"{t:.3f}" if t < 1 else f"{t:.2f}" if t < 10 else f"{t:.1f}"


def machine():
    """Processor, cores and memory of this machine, for the table's caption."""
    model = "unknown processor"
    virtual = False
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
            elif line.startswith("flags"):
                virtual = "hypervisor" in line.split()
    if virtual:
        model += " VM"
    with open("/proc/meminfo") as f:
        kib = int(f.readline().split()[1])
    # MemTotal is a little below the memory the machine has: round up.
    return f"{os.cpu_count()}-core {model}, {math.ceil(kib / 2**20)} GB"


def memory_text(peak):
    """A peak resident set in MB (2^20 bytes), three significant digits."""
    mb = peak / 2**20
    return f"{mb:.1f} MB" if mb < 100 else f"{mb:,.0f} MB"


def table(sizes, contestants, medians, peaks, runs):
    """The README's table: a row per size, a column per program."""
    base = contestants[0].name
    times = f"{runs} runs" if runs > 1 else "1 run"
    caption = (f"Median wall seconds of {times}, each writing every digit to a file, in "
               f"parentheses the ratio to {base}, and the largest peak resident set "
               f"(/usr/bin/time); {machine()}.")
    lines = textwrap.wrap(caption, 100) + [""]
    lines.append("| digits | " + " | ".join(p.name for p in contestants) + " |")
    lines.append("|---:|" + "---:|" * len(contestants))
    for n in sizes:
        cells = []
        for p in contestants:
            t = medians.get((p.name, n))
            ref = medians.get((base, n))
            if t is None:
                cells.append("—")
                continue
            ratio = "" if ref is None else f" ({t / ref:.2f})"
            cells.append(f"{seconds_text(t)} s{ratio}, {memory_text(peaks[(p.name, n)])}")
        lines.append(f"| {n:,} | " + " | ".join(cells) + " |")
    return "\n".join(lines)


# Line colours of the plot, in the order of the contestants: drmpi's series in
# blues, GMP's program in red, MPFR's in green, Arb's in two purples.
COLOURS = ["#08519c", "#3182bd", "#9ecae1", "#d62728", "#2ca02c", "#6a3d9a", "#b294c7"]


def plot(path, sizes, contestants, medians, runs):
    """Log-log plot of the median time against digits, one line per program."""
    with tempfile.TemporaryDirectory(prefix="drmpi-plot-") as tmp:
        data = Path(tmp) / "times.dat"
        with open(data, "w") as f:
            for n in sizes:
                row = [str(n)] + [f"{medians[(p.name, n)]:.6f}" if (p.name, n) in medians
                                  else "-" for p in contestants]
                f.write(" ".join(row) + "\n")
        curves = ", ".join(f"'{data}' using 1:{i + 2} with linespoints lw 2 pt 7 "
                           f"lc rgb '{COLOURS[i % len(COLOURS)]}' title '{p.name}' noenhanced"
                           for i, p in enumerate(contestants))
        # One size alone would leave an empty x range: a factor of two each side.
        xrange = (f"set xrange [{min(sizes) / 2}:{max(sizes) * 2}]" if len(set(sizes)) == 1
                  else "set autoscale xfix")
        script = f"""
set terminal pngcairo size 900,600 font 'DejaVu Sans,11'
set output '{path}'
set datafile missing '-'
set logscale xy
{xrange}
set offsets graph 0.04, graph 0.04, 0, 0
set grid xtics ytics mxtics mytics lc rgb '#dddddd'
set xlabel 'decimal digits'
set ylabel 'wall seconds, median of {runs}'
set format x '10^{{%L}}'
set key top left
set title 'pi to N digits, written to a file ({machine()})'
plot {curves}
"""
        subprocess.run(["gnuplot"], input=script, text=True, check=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0],
                                     epilog=__doc__.split("\n\n")[-1])
    parser.add_argument("sizes", nargs="*", type=int, default=DEFAULT_SIZES,
                        help="digit counts (default: %(default)s)")
    parser.add_argument("--runs", type=int, default=5, help="runs of each program at each size")
    parser.add_argument("--large", action="store_true",
                        help="add 10^7 and 10^8 digits (minutes a run; try --runs 1)")
    parser.add_argument("--huge", action="store_true",
                        help="add 10^9 digits, run by drmpi series 1 and Arb on 2 threads "
                             "only, checked against the sha256 of tests/data (drmpi takes some "
                             "7 minutes and 15 GB a run, Arb some 25 minutes and 8 GB; try "
                             "--runs 1)")
    parser.add_argument("--plot", type=Path, default=ROOT / "bench" / "results.png",
                        help="PNG to write (default: bench/results.png)")
    parser.add_argument("--build", type=Path, default=ROOT / "build",
                        help="Release build folder holding drmpi and bench/")
    args = parser.parse_args()
    if args.runs < 1 or any(n < 1 for n in args.sizes):
        parser.error("runs and sizes must be positive")

    sizes = sorted(set(args.sizes + (LARGE_SIZES if args.large else [])
                       + (HUGE_SIZES if args.huge else [])))
    contestants = programs(args.build.resolve())
    reference = REFERENCE.read_text().strip()
    hashed = reference_hash()
    times = {}
    peaks = {}
    problems = []
    for r in range(args.runs):
        for n in sizes:
            found = {}
            for p in contestants:
                if not p.runs(n):
                    continue
                seconds, digits, peak = run_once(p, n)
                times.setdefault((p.name, n), []).append(seconds)
                peaks[(p.name, n)] = max(peaks.get((p.name, n), 0), peak)
                found[p.name] = digits
            if found:
                problems += check_digits(found, n, reference, hashed)
            print(f"round {r + 1} of {args.runs}, {n:,} digits: done", file=sys.stderr)

    medians = {key: statistics.median(v) for key, v in times.items()}
    print(table(sizes, contestants, medians, peaks, args.runs))
    plot(args.plot, sizes, contestants, medians, args.runs)
    print(f"\nplot: {args.plot}")
    for message in dict.fromkeys(problems):
        print(f"digits disagree: {message}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
