#!/usr/bin/env python3
"""The whole show with hashes beside busy loops: wall and CPU time of each way
of running it, taken in turns so that all of them see the same minutes.

Usage: scripts/load-bench.py [--runs N] [--loads 0,1,2,...] [--data DIR]
                             [NAME=COMMAND ...]

Each NAME=COMMAND is a way to run: a vornisk-capture command line without the
--data and --hash it is given here (default: `auto` = build/release's
vornisk-capture, `one` = the same with --threads 1). For every load (the
number of busy loops, one process each; default 0, 1, 2 and the number of
processors) the busy loops start, every way runs once per round, round after
round, and the loops stop. Prints, per load and way, the median, fastest and
slowest wall time, the scatter (slowest / fastest), the median CPU time of the
capture's own threads, and the ratios of the median wall time to the first
way's under the same load and to the way's own quiet median.
"""
import argparse
import os
import shlex
import signal
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_BIN = os.path.join(ROOT, "build", "release", "bin")


def busy_loops(count):
    # Plain loops at the default priority: what a build or a second program
    # does to the show on a user's machine.
    return [
        subprocess.Popen([sys.executable, "-c", "while True: pass"], start_new_session=True)
        for _ in range(count)
    ]


def stop(loops):
    for loop in loops:
        os.killpg(loop.pid, signal.SIGKILL)
        loop.wait()


def run_once(command):
    started = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - started
    child.returncode = os.waitstatus_to_exitcode(status)
    errors = child.stderr.read().decode(errors="replace")
    child.stderr.close()
    if child.returncode != 0:
        sys.exit(f"load-bench: {' '.join(command)} failed ({child.returncode}): {errors.strip()}")
    return wall, usage.ru_utime + usage.ru_stime


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=5, help="rounds per load (default 5)")
    parser.add_argument("--loads", help="busy loops per load, comma-separated")
    parser.add_argument("--data", default=DEFAULT_BIN, help="folder with the data files")
    parser.add_argument("ways", nargs="*", metavar="NAME=COMMAND")
    args = parser.parse_args()

    capture = os.path.join(DEFAULT_BIN, "vornisk-capture")
    ways = [("auto", [capture]), ("one", [capture, "--threads", "1"])]
    if args.ways:
        ways = []
        for way in args.ways:
            name, _, command = way.partition("=")
            if not command:
                sys.exit(f"load-bench: '{way}' is not NAME=COMMAND")
            ways.append((name, shlex.split(command)))
    processors = len(os.sched_getaffinity(0))
    loads = sorted({0, 1, 2, processors})
    if args.loads:
        loads = [int(n) for n in args.loads.split(",")]

    results = {}
    for load in loads:
        loops = busy_loops(load)
        try:
            time.sleep(0.2)  # let the loops take their processors
            for _ in range(args.runs):
                for name, command in ways:
                    wall, cpu = run_once(command + ["--data", args.data, "--hash"])
                    results.setdefault((load, name), []).append((wall, cpu))
        finally:
            stop(loops)

    print(f"{processors} processors, {args.runs} rounds per load, ways taken in turns")
    print("| busy loops | way | median wall s | fastest | slowest | scatter | median CPU s"
          f" | wall / {ways[0][0]} | wall / own quiet |")
    print("| --- | --- | --- | --- | --- | --- | --- | --- | --- |")
    for load in loads:
        first = statistics.median(w for w, _ in results[(load, ways[0][0])])
        for name, _ in ways:
            walls = [w for w, _ in results[(load, name)]]
            cpus = [c for _, c in results[(load, name)]]
            median = statistics.median(walls)
            quiet = results.get((0, name))
            own = f"{median / statistics.median(w for w, _ in quiet):.2f}" if quiet else "-"
            print(f"| {load} | {name} | {median:.3f} | {min(walls):.3f} | {max(walls):.3f}"
                  f" | {max(walls) / min(walls):.2f} | {statistics.median(cpus):.3f}"
                  f" | {median / first:.2f} | {own} |")


if __name__ == "__main__":
    main()
