#!/usr/bin/env python3
"""A slider dragged in the page, as the real server answers it: `ramulon serve` on a free port,
the leafy preset applied from the shelf, then the Branches slider moved between two values, each
edit followed by the view's GLB, as the page asks. Prints the server's own time per edit (the
Server-Timing "build" of the edit plus the "glb" of the view, median and worst), and the server
process's CPU time and page faults per edit; optionally beside another build, run interleaved.

    bench/page_server.py --ramulon build/ramulon [--baseline /path/to/old/build/ramulon] [--edits 30]
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SHELF = os.path.join(os.path.dirname(HERE), "samples", "presets")


def server_ms(headers):
    """The sum of a Server-Timing header's durations, in milliseconds."""
    total = 0.0
    for entry in (headers.get("Server-Timing") or "").split(","):
        for field in entry.split(";"):
            field = field.strip()
            if field.startswith("dur="):
                total += float(field[4:])
    return total


class Server:
    def __init__(self, ramulon):
        self.process = subprocess.Popen([ramulon, "serve", "--port", "0", "--shelf", SHELF],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        while True:
            line = self.process.stdout.readline().decode()
            if not line:
                sys.exit(ramulon + ": the server did not start")
            if line.startswith("Serving on"):
                break
        self.base = line.split()[-1].rstrip("/")

    def request(self, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        # The server takes writes from its own page only.
        headers = {"Content-Type": "application/json", "Origin": self.base} if body is not None else {}
        with urllib.request.urlopen(urllib.request.Request(self.base + path, data=data, headers=headers)) as r:
            return r.read(), server_ms(r.headers)

    def usage(self):
        """CPU seconds and page faults (minor and major) of the server so far."""
        with open(f"/proc/{self.process.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK"), int(fields[7]) + int(fields[9])

    def stop(self):
        self.process.terminate()
        self.process.wait()


def measure(ramulon, edits):
    server = Server(ramulon)
    try:
        server.request("/api/shelf/apply", {"name": "leafy"})
        state = json.loads(server.request("/api/state")[0])
        slider = next(c["id"] for c in state["controls"] if c.get("label") == "Branches")
        server.request("/api/mesh.glb")  # the page's first view, not timed
        times = []
        start = server.usage()
        for i in range(edits):
            _, build = server.request("/api/set", {"id": slider, "value": 150 + i % 2})
            _, view = server.request("/api/mesh.glb")
            times.append(build + view)
        end = server.usage()
    finally:
        server.stop()
    return statistics.median(times), max(times), (end[0] - start[0]) / edits * 1000.0, (end[1] - start[1]) / edits


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ramulon", default=os.path.join(os.path.dirname(HERE), "build", "ramulon"))
    parser.add_argument("--baseline", help="another build's ramulon, measured in the same run")
    parser.add_argument("--edits", type=int, default=30)
    parser.add_argument("--runs", type=int, default=3)
    options = parser.parse_args()
    builds = [("this build", options.ramulon)] + ([("baseline", options.baseline)] if options.baseline else [])
    for run in range(options.runs):
        for label, ramulon in builds:  # interleaved: both see the same moments
            median, worst, cpu, faults = measure(os.path.abspath(ramulon), options.edits)
            print(f"{label:10s} run {run + 1}: server time per edit {median:5.1f} ms median, {worst:5.1f} ms worst;"
                  f" process CPU {cpu:5.1f} ms, {faults:6.0f} page faults per edit   (goal: server time <= 60 ms)",
                  flush=True)


if __name__ == "__main__":
    main()
