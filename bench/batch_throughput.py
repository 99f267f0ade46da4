#!/usr/bin/env python3
"""Throughput of `ramulon batch`: the same 200 variants of a small tree with -j 1 and with -j 2,
in one run, each into a fresh folder; the files of both must be the same bytes. Prints variants
per second of each and their ratio (on two free cores, close to 2).

    bench/batch_throughput.py --ramulon build/ramulon [--variants 200] [--rounds 2]
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time


def run(ramulon, jobs, out, processes):
    shutil.rmtree(out, ignore_errors=True)
    start = time.monotonic()
    done = subprocess.run([ramulon, "batch", jobs, "--out", out, "-j", str(processes)],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    seconds = time.monotonic() - start
    if done.returncode != 0:
        sys.exit(f"ramulon batch -j {processes} failed: {done.stdout}")
    return seconds


def contents(folder):
    return {name: open(os.path.join(folder, name), "rb").read()
            for name in sorted(os.listdir(folder)) if name != "ramulon-batch.ledger"}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ramulon", required=True)
    parser.add_argument("--variants", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=2, help="runs of each, interleaved; the best counts")
    args = parser.parse_args()
    # On a memory file system where there is one: every file is put on the disk before it is
    # renamed into place, and on a disk those waits, not the builds, would set the pace.
    scratch = tempfile.mkdtemp(prefix="ramulon_batch_bench_", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        jobs = os.path.join(scratch, "jobs.jsonl")
        job = {"name": "small", "set": {"Branches": 40, "Render Type": "Polygonal", "Twig/Type": "random"},
               "seeds": [1, args.variants], "outputs": ["glb"]}
        with open(jobs, "w") as f:
            f.write(json.dumps(job) + "\n")
        best = {1: float("inf"), 2: float("inf")}
        for _ in range(args.rounds):
            for processes in (1, 2):
                best[processes] = min(best[processes], run(args.ramulon, jobs, os.path.join(scratch, f"j{processes}"),
                                                           processes))
        if contents(os.path.join(scratch, "j1")) != contents(os.path.join(scratch, "j2")):
            sys.exit("-j 1 and -j 2 wrote different files")
        rate = {p: args.variants / best[p] for p in best}
        print(f"{args.variants} variants of a small tree (40 branches, polygonal, random twigs, GLB), "
              f"best of {args.rounds}:")
        for p in (1, 2):
            print(f"  -j {p}: {best[p]:6.2f} s, {rate[p]:6.1f} variants/s")
        print(f"  throughput ratio -j 2 / -j 1: {rate[2] / rate[1]:.2f}x "
              f"(load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores)")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
