#!/usr/bin/env python3
"""Solid packing speed of tvk against zstd -19 and gzip -9, in one run.

    bench/pack_speed.py CORPUS_DIR [--sets text,x86-64,all] [--repeat 3]

For each set (a category folder of bench/corpus.sh, or `all` for the whole
corpus) packs, in turns so that load from other work hits every method
alike:

  * tar -c | gzip -9, tar -c | zstd -19 --zstd=wlog=22 -T0;
  * tvk a -q -s at -m3 and -m4 with -mt1, and -m4 with the default threads
    (--no-default leaves that one out).

Prints the median wall time of the runs, the time and size against both
peers, and the peak resident memory of each job (the largest process of a
pipeline). tvk keeps its round-trip check on. The archives of the first and
the last run of each tvk method are compared: the same options must give the
same bytes.
"""
import argparse
import os
import shlex
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def timed(cmd):
    """Wall seconds and peak RSS (KiB) of a shell command; exits on failure."""
    start = time.perf_counter()
    proc = subprocess.Popen(["bash", "-c", "set -o pipefail; " + cmd], stdin=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit(f"pack_speed: failed ({status}): {cmd}")
    return elapsed, usage.ru_maxrss


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("corpus")
    ap.add_argument("--sets", default="text,x86-64,all")
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--tvk", default=os.environ.get("TVK", os.path.join(REPO, "build/native/tools/tvk/tvk")))
    ap.add_argument("--base", help="another tvk whose -m4 -s -mt1 runs beside (before a change)")
    ap.add_argument("--no-default", action="store_true", help="leave out -m4 with default threads")
    args = ap.parse_args()
    tvk = shlex.quote(os.path.abspath(args.tvk))
    corpus = os.path.abspath(args.corpus)
    work = tempfile.mkdtemp(prefix="tvk-pack-speed.")
    methods = [
        ("gzip -9", "tar -C {dir} -c . | gzip -9 -c > {out}"),
        ("zstd -19", "tar -C {dir} -c . | zstd -19 --zstd=wlog=22 -T0 -q -c > {out}"),
        ("tvk -m3 -s -mt1", tvk + " a -q -m3 -s -mt1 {out} {dir}"),
        ("tvk -m4 -s -mt1", tvk + " a -q -m4 -s -mt1 {out} {dir}"),
    ]
    if args.base:
        methods.append(("base -m4 -s -mt1", shlex.quote(os.path.abspath(args.base)) + " a -q -m4 -s -mt1 {out} {dir}"))
    if not args.no_default:
        methods.append(("tvk -m4 -s", tvk + " a -q -m4 -s {out} {dir}"))
    rows = []
    for s in args.sets.split(","):
        folder = corpus if s == "all" else os.path.join(corpus, s)
        times = {m: [] for m, _ in methods}
        rss = {m: 0 for m, _ in methods}
        size = {}
        for rep in range(args.repeat):
            for name, cmd in methods:
                out = os.path.join(work, f"{s}-{name.replace(' ', '_')}-{rep}")
                t, r = timed(cmd.format(dir=shlex.quote(folder), out=shlex.quote(out)))
                times[name].append(t)
                rss[name] = max(rss[name], r)
                with open(out, "rb") as f:
                    data = f.read()
                if name in size and not name.startswith(("gzip", "zstd")) and data != size[name][1]:
                    sys.exit(f"pack_speed: {name} gave other bytes on run {rep + 1}")
                size[name] = (len(data), data)
                if rep > 0:
                    os.remove(out)
            print(f"{s}: run {rep + 1} done", file=sys.stderr)
        med = {m: statistics.median(v) for m, v in times.items()}
        orig = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(folder) for f in fs)
        for name, _ in methods:
            rows.append((s, name, size[name][0], med[name], med[name] / med["zstd -19"],
                         med[name] / med["gzip -9"], size[name][0] / size["zstd -19"][0],
                         size[name][0] / size["gzip -9"][0], orig / 1e6 / med[name], rss[name] / 1024))
    print(f"load average at the end: {os.getloadavg()}, median of {args.repeat} runs\n")
    print("| set | method | size | s | time vs zstd -19 | time vs gzip -9 | size vs zstd -19 | "
          "size vs gzip -9 | MB/s | peak MiB |")
    print("|---|---|--:|--:|--:|--:|--:|--:|--:|--:|")
    for r in rows:
        print(f"| {r[0]} | {r[1]} | {r[2]} | {r[3]:.2f} | {r[4]:.2f} | {r[5]:.2f} | {r[6]:.3f} | "
              f"{r[7]:.3f} | {r[8]:.2f} | {r[9]:.0f} |")
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
