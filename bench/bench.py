#!/usr/bin/env python3
"""Benchmark of KOLVA against the cost of copying its files.

usage: bench.py [--kolva PATH] [--kolva32 PATH] [--sizes 1e3,1e6,1e7]
                [--keys random,few,sorted] [--runs N] [--work DIR]
                [--no-baseline] [--no-callgrind]

For every size and key pattern it writes a parts list, checks each program's
result against an ordering computed here, then times the programs and two
copies in alternation, so that all see the same machine, each after the file
system was synced. The copies read the list and write the result's bytes
with cat: "limit" writes them over a file in place (cat LIST > /dev/null;
cat RESULT > COPY), "copy by rename" writes them to a new file and renames it
over the one of the run before, as KOLVA replaces a result (cat LIST >
/dev/null; cat RESULT > NEW; mv NEW OLD). The programs are KOLVA with the
result of the previous run still in place ("KOLVA"), KOLVA with no result
present ("KOLVA, new"), the 32-bit Linux program replacing its result as
"KOLVA" does ("KOLVA 32-bit"; the nearest stand-in for the 32-bit Windows
program, and skipped where the kernel cannot run 32-bit programs), and
bench/baseline.cc, a straightforward program of the same work compiled with
c++ -O2 ("baseline"). It prints the date and the machine, then a Markdown
table: median and range of wall time, MB/s of list read, peak resident
memory in all and per entry, and the ratio of each median to the limit's
and to the copy by rename's; below it, the 32-bit program's median divided
by the 64-bit one's ("KOLVA"). Unless --no-callgrind is
given it also counts instructions with valgrind's callgrind: the fixed cost
at 0 entries and the cost per entry at 1e5 entries.
"""
import argparse
import datetime
import os
import platform
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INT32_MIN = -(1 << 31)


def write_list(path, count, keys, seed=1):
    """Writes a parts list of `count` entries "part,host,seconds,key"."""
    rng = random.Random(seed)
    parts = list(range(1, count + 1))
    rng.shuffle(parts)
    if keys == "random":
        key_list = [rng.getrandbits(32) + INT32_MIN for _ in range(count)]
    elif keys == "few":
        key_list = [3000 * rng.randrange(-4, 12) for _ in range(count)]
    elif keys == "sorted":
        key_list = list(range(0, 200 * count, 200))
    else:
        raise ValueError(keys)
    with open(path, "w", newline="\n") as out:
        out.write("Input:src.avi\nOutput:movie.avi\n"
                  "Options:quality=85,bitrate=1800,pass=2\n")
        chunk = 65536
        for start in range(0, count, chunk):
            stop = min(count, start + chunk)
            out.write("".join(
                "%d,host%d,%d.%d,%d\n" % (parts[i], rng.randrange(1, 65),
                                          rng.randrange(1000),
                                          rng.randrange(10), key_list[i])
                for i in range(start, stop)))
    return parts, key_list


def expected_result(parts, keys):
    """The result bytes, ordered here by Python's stable sort."""
    order = sorted(range(len(parts)), key=keys.__getitem__)
    lines = []
    for n, i in enumerate(order):
        if n == 0:
            lines.append('Framequill.Open("movie.%d.avi",0,0);\r\n' % parts[i])
        else:
            lines.append('Framequill.Append("movie.%d.avi");\r\n' % parts[i])
    return "".join(lines).encode("ascii")


def run_timed(command, cwd, remove=None):
    """Runs `command`; returns (wall seconds, exit code). Not timed before
    it: the file `remove`, if given, is removed, and everything written so
    far is written out to disk, so that every run finds an older result as
    one from an earlier day would be, and pays for none of the earlier
    runs' writing."""
    if remove and os.path.exists(os.path.join(cwd, remove)):
        os.remove(os.path.join(cwd, remove))
    os.sync()
    start = time.perf_counter()
    code = subprocess.call(command, cwd=cwd, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start, code


def peak_rss(command, cwd, remove=None):
    """Peak resident memory of `command` in bytes, as GNU time reports it,
    after removing the file `remove` if given.

    Not taken from this process's own wait: a child forked from Python
    counts Python's memory too until it starts the program.
    """
    if remove and os.path.exists(os.path.join(cwd, remove)):
        os.remove(os.path.join(cwd, remove))
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] +
                       command, cwd=cwd, stdout=subprocess.DEVNULL, check=True)
        return int(report.read().split()[-1]) * 1024


def callgrind_instructions(command, cwd):
    """Instructions the command executes, counted by callgrind."""
    result = subprocess.run(
        ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] +
        command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
        text=True, check=True)
    match = re.search(r"Collected : (\d+)", result.stderr)
    return int(match.group(1))


def runs_here(command, cwd):
    """Why `command` cannot run here, or None if it starts. It is started
    without arguments, which makes KOLVA print its usage and end."""
    if not os.path.exists(command[0]):
        return "%s is not built" % command[0]
    try:
        subprocess.run(command[:1], cwd=cwd, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)
    except OSError as error:
        return "this kernel cannot run it (%s)" % error.strerror
    return None


def machine_line(work):
    """One line that names the machine: processor, cores, system, compiler
    and the file system of the work folder."""
    cpu = platform.machine()
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    compiler = subprocess.run(["c++", "--version"], capture_output=True,
                              text=True).stdout.splitlines()[0]
    fs = subprocess.run(["stat", "-f", "-c", "%T", work], capture_output=True,
                        text=True).stdout.strip()
    return "%s, %d cores, %s %s, %s, %s" % (
        cpu, os.cpu_count(), platform.system(), platform.release(), compiler,
        fs)


def fmt_time(seconds):
    return "%.1f ms" % (seconds * 1e3) if seconds < 1 else "%.2f s" % seconds


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--kolva",
                    default=os.path.join(ROOT, "build", "program", "KOLVA"))
    ap.add_argument("--kolva32",
                    default=os.path.join(ROOT, "build", "program-x86", "KOLVA"))
    ap.add_argument("--sizes", default="1e3,1e6,1e7")
    ap.add_argument("--keys", default="random,few,sorted")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--work", default=os.path.join(ROOT, "build", "bench"))
    ap.add_argument("--no-baseline", action="store_true")
    ap.add_argument("--no-callgrind", action="store_true")
    args = ap.parse_args()

    kolva = os.path.abspath(args.kolva)
    os.makedirs(args.work, exist_ok=True)
    work = os.path.abspath(args.work)
    # (name, command, file removed before each run or None)
    programs = [("KOLVA", [kolva, "movie.avi"], None),
                ("KOLVA, new", [kolva, "movie.avi"], "movie.jobs.part")]
    kolva32 = [os.path.abspath(args.kolva32), "movie.avi"]
    skipped32 = runs_here(kolva32, work)
    if skipped32 is None:
        programs.append(("KOLVA 32-bit", kolva32, None))
    if not args.no_baseline:
        baseline = os.path.join(work, "baseline")
        subprocess.run(["c++", "-std=c++20", "-O2", "-o", baseline,
                        os.path.join(ROOT, "bench", "baseline.cc")],
                       check=True)
        programs.append(("baseline", [baseline, "movie.parts",
                                      "movie.jobs.part"], None))

    print("date: %s" % datetime.datetime.now().strftime("%Y-%m-%d %H:%M"))
    print("machine: %s" % machine_line(work))
    print("medians of %d runs" % args.runs)
    if skipped32 is not None:
        print("KOLVA 32-bit: row skipped, %s" % skipped32)
    print()
    print("| entries | keys | program | median | min-max | list MB/s "
          "| peak RSS | RSS/entry | x limit | x copy by rename |")
    print("|---:|---|---|---:|---:|---:|---:|---:|---:|---:|")
    # The copies, timed like the programs: over a file in place, and to a new
    # file renamed over the one of the run before.
    copies = [("limit", "cat movie.parts > /dev/null; "
               "cat reference.jobs.part > copy.jobs.part"),
              ("copy by rename", "cat movie.parts > /dev/null; "
               "cat reference.jobs.part > new.jobs.part; "
               "mv new.jobs.part renamed.jobs.part")]
    ratios32 = []
    for size in [int(float(s)) for s in args.sizes.split(",")]:
        for keys in args.keys.split(","):
            list_path = os.path.join(work, "movie.parts")
            parts, key_list = write_list(list_path, size, keys)
            expected = expected_result(parts, key_list)
            del parts, key_list
            list_bytes = os.path.getsize(list_path)
            reference = os.path.join(work, "reference.jobs.part")
            with open(reference, "wb") as out:
                out.write(expected)
            # Every copy and program runs once before the timing, so that
            # each timed run replaces the file of the run before.
            for name, script in copies:
                if run_timed(["sh", "-c", script], work)[1] != 0:
                    sys.exit("%s failed for %d %s keys" % (name, size, keys))
            for name, command, remove in programs:
                _, code = run_timed(command, work, remove)
                with open(os.path.join(work, "movie.jobs.part"), "rb") as f:
                    if code != 0 or f.read() != expected:
                        sys.exit("%s: wrong result for %d %s keys" %
                                 (name, size, keys))
            del expected
            rss = {name: peak_rss(command, work, remove)
                   for name, command, remove in programs}
            rows = [(name, None) for name, _ in copies] + [
                (name, rss[name]) for name, _, _ in programs]
            times = {name: [] for name, _ in rows}
            for _ in range(args.runs):
                for name, script in copies:
                    times[name].append(
                        run_timed(["sh", "-c", script], work)[0])
                for name, command, remove in programs:
                    times[name].append(run_timed(command, work, remove)[0])
            if skipped32 is None:
                ratios32.append((size, keys, statistics.median(
                    times["KOLVA 32-bit"]) / statistics.median(times["KOLVA"])))
            limit_median = statistics.median(times["limit"])
            rename_median = statistics.median(times["copy by rename"])
            for name, peak in rows:
                samples = times[name]
                median = statistics.median(samples)
                print("| %d | %s | %s | %s | %s-%s | %.0f | %s | %s | %.2f "
                      "| %.2f |" % (
                          size, keys, name, fmt_time(median),
                          fmt_time(min(samples)), fmt_time(max(samples)),
                          list_bytes / median / 1e6,
                          "" if peak is None else "%.1f MiB" % (peak / 2**20),
                          "" if peak is None or size == 0 else
                          "%.1f B" % (peak / size),
                          median / limit_median, median / rename_median))
    if ratios32:
        print()
    for size, keys, ratio in ratios32:
        print("KOLVA 32-bit at %d entries, %s keys: %.2f times the 64-bit "
              "program's median" % (size, keys, ratio))
    if not args.no_callgrind and shutil.which("valgrind"):
        counts = {}
        for size in (0, 100000):
            write_list(os.path.join(work, "movie.parts"), size, "random")
            counts[size] = callgrind_instructions([kolva, "movie.avi"], work)
        print()
        print("callgrind: %d instructions at 0 entries (fixed cost), "
              "%.0f instructions per entry at 1e5 entries" %
              (counts[0], (counts[100000] - counts[0]) / 100000))


if __name__ == "__main__":
    main()
