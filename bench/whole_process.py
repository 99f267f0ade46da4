#!/usr/bin/env python3
"""Whole-process figures of `ramulon build`: CPU time (user + system) and peak resident size,
median of several runs, for the leafy demo and larger crowns of it; optionally beside another
build of the command line (an earlier commit kept in its own folder), run interleaved in the same
session so that both see the same machine. The peer JavaScript generator's default tree is timed
in node in the same rounds as the leafy demo to GLB (one peer process of twenty trees after each
round of ours), so that the ratio of the two rates is taken round by round, each from one moment
of the machine, and its median reported beside the rates' medians.

    bench/whole_process.py --ramulon build/ramulon [--baseline /path/to/old/build/ramulon]
"""
import argparse
import json
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
LEAFY = os.path.join(SOURCE, "samples", "presets", "leafy.preset")

# (name, arguments after `build`, output file suffix or None, goal CPU s, goal MB)
CASES = [
    ("leafy demo to GLB", ["--preset", LEAFY], ".glb", 0.15, 60),
    ("leafy demo, no output", ["--preset", LEAFY], None, 0.10, None),
    ("leafy demo with --journal", ["--preset", LEAFY], "journal", 0.4, None),
    ("leafy, 2,000 branches, to GLB", ["--preset", LEAFY, "--set", "num_branches=2000"], ".glb", 1.2, 250),
    ("leafy, 10,000 branches, to GLB", ["--preset", LEAFY, "--set", "num_branches=10000"], ".glb", 4.0, 800),
    ("leafy, 30,000 branches, to GLB", ["--preset", LEAFY, "--set", "num_branches=30000"], ".glb", 4.0, 1000),
    ("leafy, 10,000 branches, to OBJ", ["--preset", LEAFY, "--set", "num_branches=10000"], ".obj", None, None),
]


def run_once(ramulon, args, output, scratch):
    command = [ramulon, "build"] + args
    if output == "journal":
        command += ["--journal", os.path.join(scratch, "journal.txt")]
    elif output:
        command += ["--output", os.path.join(scratch, "tree" + output)]
    proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit("failed: " + " ".join(command) + "\n" + proc.stderr.read().decode(errors="replace"))
    proc.stderr.close()
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def glb_triangles(path):
    with open(path, "rb") as f:
        data = f.read()
    length = struct.unpack_from("<I", data, 12)[0]
    gltf = json.loads(data[20:20 + length])
    total = 0
    for mesh in gltf.get("meshes", []):
        for prim in mesh["primitives"]:
            if prim.get("mode", 4) == 4 and "indices" in prim:
                total += gltf["accessors"][prim["indices"]]["count"] // 3
    return total


PEER = os.path.join(HERE, "peer")


def peer_ready():
    """None when the peer can be timed, else why not (its packages installed on first use)."""
    if not os.path.isdir(os.path.join(PEER, "node_modules", "@dgreenheck", "ez-tree")):
        if not shutil.which("npm"):
            return "npm is not installed"
        subprocess.run(["npm", "install", "--no-audit", "--no-fund", "--silent"], cwd=PEER, check=True)
    if not shutil.which("node"):
        return "node is not installed"
    return None


def peer_once():
    """One peer process: its default tree's triangles and CPU ms per tree over twenty trees."""
    env = dict(os.environ, PEER_RUNS="20")
    out = subprocess.run(["node", "peer_tree.mjs"], cwd=PEER, env=env, check=True,
                         capture_output=True, text=True)
    return json.loads(out.stdout.strip().splitlines()[-1])


def in_process_rate(ramulon):
    """The leafy demo grown and written in one warm process (bench/bench_leafy.cpp), triangles per
    millisecond of CPU: the peer's way of measuring. None when the benchmark program is not built."""
    program = os.path.join(os.path.dirname(ramulon), "bench", "ramulon_bench")
    if not os.path.exists(program):
        return None
    out = subprocess.run([program, "--benchmark_filter=^BM_LeafyDemoToGlb/", "--benchmark_format=json"],
                         check=True, capture_output=True, text=True)
    for entry in json.loads(out.stdout)["benchmarks"]:
        if entry.get("aggregate_name") == "median":
            return entry["triangles_per_ms"]
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ramulon", default=os.path.join(SOURCE, "build", "ramulon"))
    parser.add_argument("--baseline", help="another build's ramulon, measured in the same run")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--only", help="run only the cases whose name contains this text")
    parser.add_argument("--no-peer", action="store_true")
    options = parser.parse_args()

    builds = [("this build", os.path.abspath(options.ramulon))]
    if options.baseline:
        builds.append(("baseline", os.path.abspath(options.baseline)))
    scratch = tempfile.mkdtemp(prefix="ramulon_bench_")
    results = {}
    peer_why = "not asked for" if options.no_peer else peer_ready()
    peer_rounds = []  # per round of the leafy demo to GLB: the peer's figures
    rounds = {}  # per build: its CPU seconds in those rounds
    try:
        for name, args, output, goal_s, goal_mb in CASES:
            if options.only and options.only not in name:
                continue
            samples = {label: [] for label, _ in builds}
            with_peer = name == "leafy demo to GLB" and peer_why is None
            for _ in range(options.runs):
                for label, ramulon in builds:  # interleaved: both see the same moments
                    samples[label].append(run_once(ramulon, args, output, scratch))
                if with_peer:
                    peer_rounds.append(peer_once())
            results[name] = {
                label: (statistics.median(s[0] for s in runs_), statistics.median(s[1] for s in runs_))
                for label, runs_ in samples.items()
            }
            if with_peer:
                rounds = {label: [cpu for cpu, _ in runs_] for label, runs_ in samples.items()}
            line = f"{name:34s}"
            cpu, mb = results[name]["this build"]
            line += f" {cpu:7.3f} s CPU {mb:7.1f} MB"
            if options.baseline:
                base_cpu, base_mb = results[name]["baseline"]
                line += f"   baseline {base_cpu:7.3f} s {base_mb:7.1f} MB   ratio {cpu / base_cpu:5.3f} CPU {mb / base_mb:5.3f} memory"
            goal = (f"   (goal <= {goal_s} s" + (f", <= {goal_mb} MB" if goal_mb else "") + ")") if goal_s else ""
            print(line + goal, flush=True)

        if "leafy demo to GLB" in results and "leafy demo, no output" in results:
            # What writing the GLB adds to growing the tree, as a share of the whole process.
            for label, _ in builds:
                whole = results["leafy demo to GLB"][label][0]
                grown = results["leafy demo, no output"][label][0]
                print(f"writer's share of leafy demo to GLB ({label}): {100.0 * (whole - grown) / whole:.0f} %"
                      "   (goal <= 20 %)")

        triangles = 0
        if "leafy demo to GLB" in results:
            run_once(builds[0][1], ["--preset", LEAFY], ".glb", scratch)
            triangles = glb_triangles(os.path.join(scratch, "tree.glb"))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    if triangles and not options.no_peer:
        cpu = results["leafy demo to GLB"]["this build"][0]
        ours = triangles / (cpu * 1000.0)
        print(f"\nramulon, leafy demo to GLB (whole process, file written): {triangles} triangles, "
              f"{ours:.1f} triangles/ms (median of {options.runs})")
        if not peer_rounds:
            print("peer: not measured (" + (peer_why or "no round of the leafy demo") + ")")
        else:
            peer_triangles = peer_rounds[0]["triangles"]
            theirs = [peer_triangles / r["ms"] for r in peer_rounds]
            print(f"peer, default tree generate() in node: {peer_triangles} triangles, "
                  f"{statistics.median(r['ms'] for r in peer_rounds):.1f} CPU ms per tree, "
                  f"{statistics.median(theirs):.1f} triangles/ms (median of {len(peer_rounds)} processes, "
                  f"{min(theirs):.1f} to {max(theirs):.1f})")
            for label, _ in builds:
                # Each round's rate against the peer's in the same round.
                ratios = [triangles / (c * 1000.0) / t for c, t in zip(rounds[label], theirs)]
                print(f"ratio {label} / peer, round by round: median {statistics.median(ratios):.2f}, "
                      f"{min(ratios):.2f} to {max(ratios):.2f} (goal at least 2, aim 3)")
            # As the peer is measured: warm, in one process. Again round by round, each round one
            # benchmark process of ours (the median of its repetitions) and one of the peer's.
            warm, against = [], []
            for _ in range(options.runs):
                rate = in_process_rate(builds[0][1])
                if rate is None:
                    break
                warm.append(rate)
                against.append(rate / (peer_triangles / peer_once()["ms"]))
            if warm:
                print(f"ramulon, leafy demo to GLB in one warm process, as the peer is measured: "
                      f"{statistics.median(warm):.1f} triangles/ms; ratio round by round: median "
                      f"{statistics.median(against):.2f}, {min(against):.2f} to {max(against):.2f}")
            else:
                print("in one warm process: not measured (no bench/ramulon_bench beside this build's "
                      "ramulon: build with -DRAMULON_BENCH=ON)")

if __name__ == "__main__":
    main()
