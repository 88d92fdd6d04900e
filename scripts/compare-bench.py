#!/usr/bin/python3
"""Compares two builds of vornisk_bench on the whole-show benchmark.

Runs them in ABBA order (then BAAB), so that both see the same minutes of a
machine whose speed drifts, and prints for every counter of
BM_WholeShowFrames (the median frame, the 99th percentile and each part's
median) each build's fastest and median run and the median of the paired
ratios B/A.

Usage: scripts/compare-bench.py BENCH_A BENCH_B [ROUNDS]   (default 8 rounds)
"""
import re
import statistics
import subprocess
import sys


def run(bench):
    out = subprocess.run([bench, "--benchmark_filter=WholeShow"], check=True,
                         capture_output=True, text=True).stdout
    return {name: float(value) for name, value in re.findall(r"(\w+_us)=([\d.]+)", out)}


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__.strip().splitlines()[-1])
    a, b = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) == 4 else 8
    runs = {a: [], b: []}
    for r in range(rounds):
        order = [a, b, b, a] if r % 2 == 0 else [b, a, a, b]
        got = {a: [], b: []}
        for bench in order:
            got[bench].append(run(bench))
        for bench in (a, b):
            runs[bench].append({k: statistics.mean(g[k] for g in got[bench]) for k in got[bench][0]})
    for name in sorted(runs[a][0]):
        va = [x[name] for x in runs[a]]
        vb = [x[name] for x in runs[b]]
        ratio = statistics.median(y / x for x, y in zip(va, vb))
        print(f"{name:13s} A fastest {min(va):7.2f} median {statistics.median(va):7.2f} | "
              f"B fastest {min(vb):7.2f} median {statistics.median(vb):7.2f} | B/A {ratio:.3f}")


if __name__ == "__main__":
    main()
