#!/usr/bin/env python3
"""What reading every packed stream back costs `tvk a`.

    bench/verify_cost.py FOLDER [--levels 1 3 4] [--runs 3] [--solid] [--tvk PATH]

Packs FOLDER at each level with the check (the default) and with
--no-verify, alternating the two so that both see the same machine, and
prints the best processor time (user + system, which other work on the
machine disturbs less than the wall clock) and wall time of each, and their
ratio. The goal: under 1.05 at -m4, under 1.20 at -m1.
"""
import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time


def instructions(cmd):
    """Instructions the command executes, counted by callgrind: the same on a
    busy machine as on an idle one."""
    r = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] + cmd,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    for line in r.stderr.splitlines():
        if "Collected :" in line:
            return int(line.split(":")[-1])
    raise RuntimeError("no count from callgrind")


def run(cmd):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return cpu, wall


def main():
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser()
    ap.add_argument("folder")
    ap.add_argument("--levels", nargs="+", type=int, default=[1, 3, 4])
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--solid", action="store_true")
    ap.add_argument("--tvk", default=os.path.join(here, "build/native/tools/tvk/tvk"))
    ap.add_argument("--instructions", action="store_true",
                    help="count instructions with callgrind instead of timing (slow; use a small folder)")
    a = ap.parse_args()
    size = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(a.folder) for f in fs)
    print(f"{a.folder}: {size} bytes{' (solid)' if a.solid else ''}, best of {a.runs}")
    if not a.instructions:
        print(f"{'level':6} {'checked cpu s':>14} {'unchecked cpu s':>16} {'cpu ratio':>10} {'wall ratio':>11}")
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "a.tvk")
        if a.instructions:
            print(f"{'level':6} {'checked':>16} {'unchecked':>16} {'ratio':>8}   (instructions)")
            for level in a.levels:
                base = [a.tvk, "a", "-q", "-f", f"-m{level}"] + (["-s"] if a.solid else []) + [out, a.folder]
                checked = instructions(base)
                unchecked = instructions(base[:2] + ["--no-verify"] + base[2:])
                print(f"-m{level:<4} {checked:16d} {unchecked:16d} {checked / unchecked:8.3f}")
            return 0
        for level in a.levels:
            base = [a.tvk, "a", "-q", "-f", f"-m{level}"] + (["-s"] if a.solid else []) + [out, a.folder]
            best = {True: (1e9, 1e9), False: (1e9, 1e9)}
            for _ in range(a.runs):
                for checked in (True, False):
                    cpu, wall = run(base if checked else base[:2] + ["--no-verify"] + base[2:])
                    c, w = best[checked]
                    best[checked] = (min(c, cpu), min(w, wall))
            (cc, cw), (uc, uw) = best[True], best[False]
            print(f"-m{level:<4} {cc:14.2f} {uc:16.2f} {cc / uc:10.3f} {cw / uw:11.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
