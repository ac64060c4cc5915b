#!/usr/bin/env python3
"""Times commands in turn, run after run, so that a change in the machine's load
falls on all of them alike; prints each command's median and the median of the
ratios of each to the first, pair by pair. Two rounds of warm-up go first.

usage: alternate.py RUNS 'command > output' 'command' ...  (each run through sh)
"""
import statistics
import subprocess
import sys
import time


def main():
    runs = int(sys.argv[1])
    commands = sys.argv[2:]
    times = [[] for _ in commands]
    warmup = 2
    for run in range(warmup + runs):
        for i, command in enumerate(commands):
            start = time.perf_counter()
            subprocess.run(["sh", "-c", command], check=True)
            if run >= warmup:
                times[i].append(time.perf_counter() - start)
    for i, command in enumerate(commands):
        ratios = [t / b for t, b in zip(times[i], times[0])]
        print(f"{statistics.median(times[i]) * 1e3:9.1f} ms  {statistics.median(ratios):5.2f}x  {command}")


if __name__ == "__main__":
    main()
