#!/usr/bin/env python3
"""Compares tvk and the Linux self-extractor with gzip, zstd and xz on a corpus.

    bench/compare.py CORPUS_DIR [--quick] [options]

CORPUS_DIR is a folder made by bench/corpus.sh: each sub-folder is a category.
Every category is packed, in the same run, by

  * tvk a -m1..-m4, solid (-s) and not, as an archive of the category folder;
  * gzip -9, zstd -19 --zstd=wlog=22 (a 4 MiB window) and xz -6, each fed a tar
    of the category (tar -c | compressor, timed as one job);

and unpacked again by tvk x, by the peers (decompressor | tar -x into a fresh
folder), by a quiet self-extractor built with tvk sfx (when tvk has it) and by
cp -r of the unpacked tree (the cost of writing the files at all). Decoding
without writing files is timed too: tvk t against decompressor > /dev/null.

The figures that matter are the ratios against a peer measured in the same
run; absolute MB/s depend on the machine, which the report describes. MB are
10^6 bytes of the original data (the sum of the category's file sizes), for
every method, so speeds compare directly. Results go to standard output as
Markdown; progress goes to standard error.
"""
import argparse
import hashlib
import json
import os
import platform
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MB = 1000 * 1000

# (name, packing pipeline after "tar -c |", decoding command, output suffix)
PEERS = [
    ("gzip -9", "gzip -9 -c", "gzip -d -c", ".tar.gz"),
    ("zstd -19", "zstd -19 --zstd=wlog=22 -T1 -q -c", "zstd -d -q -c", ".tar.zst"),
    ("xz -6", "xz -6 -T1 -q -c", "xz -d -T1 -q -c", ".tar.xz"),
]
PEER_TOOLS = {"gzip -9": "gzip", "zstd -19": "zstd", "xz -6": "xz"}


def log(msg):
    print(msg, file=sys.stderr, flush=True)


class Row:
    """One method on one category. Times are seconds; None means not measured."""

    def __init__(self, name, kind):
        self.name = name
        self.kind = kind  # "peer", "tvk", "sfx" or "copy"
        self.size = None
        self.pack = None
        self.unpack = None
        self.decode = None
        self.error = None
        self.note = ""
        self.skipped = None

    def fail(self, what):
        if not self.error:
            self.error = what

    def as_dict(self):
        return dict(name=self.name, kind=self.kind, size=self.size, pack_s=self.pack,
                    unpack_s=self.unpack, decode_s=self.decode, error=self.error,
                    skipped=self.skipped, note=self.note)


class Failed(Exception):
    pass


def run(cmd, timeout, cwd=None, shell=False, stdout=subprocess.DEVNULL, input=None):
    """Runs a command, returns its wall time; raises Failed with a short reason.
    input: bytes for its standard input (else it reads nothing)."""
    if shell:
        cmd = ["bash", "-c", "set -o pipefail; " + cmd]
    start = time.perf_counter()
    try:
        # A session of its own, so that a timeout or Ctrl+C ends the whole
        # pipeline and not only the shell in front of it.
        proc = subprocess.Popen(cmd, cwd=cwd,
                                stdin=subprocess.DEVNULL if input is None else subprocess.PIPE,
                                stdout=stdout,
                                stderr=subprocess.PIPE, start_new_session=True)
    except OSError as e:
        raise Failed(f"cannot start: {e.strerror}")
    try:
        _, err = proc.communicate(input=input, timeout=timeout)
    except BaseException as e:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait()
        if isinstance(e, subprocess.TimeoutExpired):
            raise Failed(f"timed out after {timeout} s")
        raise
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        tail = err.decode("utf-8", "replace").strip().splitlines()
        detail = tail[-1] if tail else ""
        if proc.returncode < 0:
            raise Failed(f"killed by signal {-proc.returncode}" + (f": {detail}" if detail else ""))
        raise Failed(f"exit {proc.returncode}" + (f": {detail}" if detail else ""))
    return elapsed


def best_of(n, prepare, action):
    """Best wall time of n runs; prepare() runs untimed before each."""
    best = None
    for _ in range(n):
        prepare()
        t = action()
        best = t if best is None or t < best else best
    return best


def clear_dir(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


def tree_digest(root):
    """{relative path: (size, sha256)} for every regular file below root."""
    out = {}
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames.sort()
        for name in filenames:
            path = os.path.join(dirpath, name)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            h = hashlib.sha256()
            with open(path, "rb") as f:
                for chunk in iter(lambda: f.read(1 << 20), b""):
                    h.update(chunk)
            out[os.path.relpath(path, root)] = (os.path.getsize(path), h.hexdigest())
    return out


def same_tree(expected, root, ignore=()):
    """None when root holds exactly the expected files, else what differs."""
    got = tree_digest(root)
    for name in ignore:
        got.pop(name, None)
    missing = sorted(set(expected) - set(got))
    extra = sorted(set(got) - set(expected))
    wrong = sorted(k for k in expected if k in got and got[k] != expected[k])
    if not (missing or extra or wrong):
        return None
    parts = []
    for label, names in (("missing", missing), ("unexpected", extra), ("different", wrong)):
        if names:
            parts.append(f"{len(names)} {label} (e.g. {names[0]})")
    return "wrong output: " + ", ".join(parts)


def machine_notes(work):
    cpu = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mem = ""
    try:
        with open("/proc/meminfo") as f:
            kb = int(f.readline().split()[1])
            mem = f", {kb / 1024 / 1024:.1f} GiB memory"
    except (OSError, ValueError, IndexError):
        pass
    fs = ""
    try:
        r = subprocess.run(["stat", "-f", "-c", "%T", work], capture_output=True, text=True)
        fs = r.stdout.strip()
    except OSError:
        pass
    return (f"{cpu}, {os.cpu_count()} logical CPUs (nproc {len(os.sched_getaffinity(0))}){mem}; "
            f"Linux {platform.release()}; work folder {work} on {fs or 'unknown'} file system")


def tool_version(cmd):
    try:
        r = subprocess.run(cmd, capture_output=True, text=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return "missing"
    text = (r.stdout or r.stderr).strip().splitlines()
    # Only the version number: the first word that starts with a digit or a v and a digit.
    for word in (text[0].replace(",", " ").split() if text else []):
        w = word.lstrip("v")
        if w[:1].isdigit():
            return w
    return "unknown version"


def find_tvk(given):
    for cand in (given, os.environ.get("TVK"), os.path.join(REPO, "build/native/tools/tvk/tvk")):
        if cand:
            if os.path.isfile(cand) and os.access(cand, os.X_OK):
                return os.path.abspath(cand)
            if given or cand == os.environ.get("TVK"):
                sys.exit(f"compare.py: tvk not found or not executable: {cand}")
    sys.exit("compare.py: no tvk: build it (build/native/tools/tvk/tvk) or name it with --tvk or $TVK")


def tvk_has_sfx(tvk):
    try:
        r = subprocess.run([tvk, "sfx", "--help"], capture_output=True, text=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return r.returncode == 0 and "unknown command" not in (r.stdout + r.stderr)


def category_size(root):
    total = 0
    files = 0
    for dirpath, _, filenames in os.walk(root):
        for name in filenames:
            path = os.path.join(dirpath, name)
            if os.path.isfile(path) and not os.path.islink(path):
                total += os.path.getsize(path)
                files += 1
    return total, files


def bench_category(cat, corpus, work, args, tvk, sfx_ok):
    src = os.path.join(corpus, cat)
    orig, files = category_size(src)
    log(f"[{cat}] {files} files, {orig / MB:.1f} MB")
    expected = tree_digest(src)
    cwork = os.path.join(work, cat)
    os.makedirs(cwork, exist_ok=True)
    out = os.path.join(cwork, "out")
    rows = []
    q = shlex.quote

    for name, pack, decode, suffix in PEERS:
        row = Row(name, "peer")
        rows.append(row)
        if not shutil.which(PEER_TOOLS[name]):
            row.skipped = f"{PEER_TOOLS[name]} not installed"
            continue
        packed = os.path.join(cwork, cat + suffix)
        try:
            log(f"[{cat}] {name}: packing")
            row.pack = run(f"tar -cf - -C {q(corpus)} {q(cat)} | {pack} > {q(packed)}", args.timeout,
                           shell=True)
            row.size = os.path.getsize(packed)
            log(f"[{cat}] {name}: unpacking")
            row.unpack = best_of(args.repeat, lambda: clear_dir(out),
                                 lambda: run(f"{decode} {q(packed)} | tar -xf - -C {q(out)}",
                                             args.timeout, shell=True))
            row.decode = best_of(args.repeat, lambda: None,
                                 lambda: run(f"{decode} {q(packed)} > /dev/null", args.timeout, shell=True))
        except Failed as e:
            row.fail(str(e))
            log(f"[{cat}] {name}: failed: {e}")
        finally:
            shutil.rmtree(out, ignore_errors=True)
            if os.path.exists(packed):
                os.remove(packed)

    archives = {}
    for level in args.levels:
        for solid in (False, True):
            name = f"tvk -m{level}" + (" -s" if solid else "")
            row = Row(name, "tvk")
            rows.append(row)
            archive = os.path.join(cwork, f"m{level}{'s' if solid else ''}.tvk")
            cmd = [tvk, "a", "-q", f"-m{level}"] + (["-s"] if solid else []) + [archive, cat]
            if os.path.exists(archive):
                os.remove(archive)  # left by an earlier run with --keep
            try:
                log(f"[{cat}] {name}: packing")
                row.pack = run(cmd, args.timeout, cwd=corpus)
                row.size = os.path.getsize(archive)
                log(f"[{cat}] {name}: unpacking")
                clear_dir(out)
                first = run([tvk, "x", "-q", "-y", "-o", out, archive], args.timeout)
                wrong = same_tree(expected, os.path.join(out, cat))
                if wrong or len(os.listdir(out)) != 1:
                    raise Failed(wrong or "wrong output: entries outside the category folder")
                if args.repeat > 1:
                    again = best_of(args.repeat - 1, lambda: clear_dir(out),
                                    lambda: run([tvk, "x", "-q", "-y", "-o", out, archive], args.timeout))
                    first = min(first, again)
                row.unpack = first
                row.decode = best_of(args.repeat, lambda: None,
                                     lambda: run([tvk, "t", "-q", archive], args.timeout))
                archives[(level, solid)] = archive
            except Failed as e:
                row.fail(str(e))
                log(f"[{cat}] {name}: failed: {e}")
            finally:
                shutil.rmtree(out, ignore_errors=True)

    if args.sfx_from:
        level, solid = args.sfx_from
        row = Row(f"self-extractor (-m{level}{' -s' if solid else ''}, quiet)", "sfx")
        rows.append(row)
        if not sfx_ok:
            row.skipped = "this tvk has no sfx command yet"
        elif (level, solid) not in archives:
            what = f"tvk -m{level}{' -s' if solid else ''}"
            row.skipped = (f"the {what} archive failed" if any(r.name == what for r in rows)
                           else f"no {what} archive in this run")
        else:
            bench_sfx(row, cat, archives[(level, solid)], cwork, expected, args, tvk)

    if args.sfx_stored and sfx_ok:
        # Stored and AES-256 stored: what the program adds to copying bytes.
        for label, extra in (("-m0", []), ("-m0, AES-256", ["-p" + SFX_PASSWORD])):
            row = Row(f"self-extractor ({label}, quiet)", "sfx")
            rows.append(row)
            archive = os.path.join(cwork, "stored" + ("-aes" if extra else "") + ".tvk")
            try:
                if os.path.exists(archive):
                    os.remove(archive)
                log(f"[{cat}] {row.name}: packing")
                run([tvk, "a", "-q", "-m0"] + extra + [archive, cat], args.timeout, cwd=corpus)
                bench_sfx(row, cat, archive, cwork, expected, args, tvk,
                          password=(SFX_PASSWORD + "\n").encode() if extra else None)
            except Failed as e:
                row.fail(str(e))
                log(f"[{cat}] {row.name}: failed: {e}")

    row = Row("cp -r (copy limit)", "copy")
    rows.append(row)
    try:
        log(f"[{cat}] cp -r")
        row.unpack = best_of(args.repeat, lambda: clear_dir(out),
                             lambda: run(["cp", "-r", src, os.path.join(out, cat)], args.timeout))
    except Failed as e:
        row.fail(str(e))
    finally:
        shutil.rmtree(out, ignore_errors=True)

    if not args.keep:
        shutil.rmtree(cwork, ignore_errors=True)
    return dict(category=cat, files=files, original=orig, rows=rows)


SFX_PASSWORD = "bench-secret"


def bench_sfx(row, cat, archive, cwork, expected, args, tvk, password=None):
    settings = os.path.join(cwork, "sfx-settings.ini")
    with open(settings, "w") as f:
        # An empty target folder means the program's own folder, so the
        # program runs from a folder of its own.
        f.write("mode = 0\nquiet = 1\noverwrite = 1\n")
    program_name = "bench-sfx"
    built = os.path.join(cwork, program_name)
    rundir = os.path.join(cwork, "sfx-run")
    cmd = [tvk, "sfx", "-f", "--settings", settings]
    if args.sfx:
        cmd += ["--sfx", args.sfx]
    try:
        log(f"[{cat}] {row.name}: building")
        run(cmd + [built, archive], args.timeout)
        row.size = os.path.getsize(built)
        row.note = f"program, texts and settings: {row.size - os.path.getsize(archive):,} bytes"

        def prepare():
            clear_dir(rundir)
            shutil.copy2(built, os.path.join(rundir, program_name))

        def extract():
            return run([os.path.join(rundir, program_name)], args.timeout, cwd=rundir, input=password)

        log(f"[{cat}] {row.name}: unpacking")
        prepare()
        first = extract()
        wrong = same_tree(expected, os.path.join(rundir, cat))
        if wrong or sorted(os.listdir(rundir)) != sorted([cat, program_name]):
            raise Failed(wrong or "wrong output: entries outside the category folder")
        if args.repeat > 1:
            first = min(first, best_of(args.repeat - 1, prepare, extract))
        row.unpack = first
    except Failed as e:
        row.fail(str(e))
        log(f"[{cat}] {row.name}: failed: {e}")
    finally:
        shutil.rmtree(rundir, ignore_errors=True)


def total_of(results):
    """Sums sizes and times per method over the categories; a method that
    failed or was skipped anywhere has no total for that figure."""
    names = [r.name for r in results[0]["rows"]]
    rows = []
    for i, name in enumerate(names):
        parts = [res["rows"][i] for res in results]
        row = Row(name, parts[0].kind)
        for field in ("size", "pack", "unpack", "decode"):
            values = [getattr(p, field) for p in parts]
            if all(v is not None for v in values):
                setattr(row, field, sum(values))
        errors = [f"{res['category']}: {p.error}" for res, p in zip(results, parts) if p.error]
        if errors:
            row.error = "; ".join(errors)
        skips = sorted({p.skipped for p in parts if p.skipped})
        if skips:
            row.skipped = "; ".join(skips)
        rows.append(row)
    return dict(category="total", files=sum(r["files"] for r in results),
                original=sum(r["original"] for r in results), rows=rows)


def fmt_ratio(a, b):
    return f"{a / b:.3f}" if a is not None and b else "–"


def fmt_speed(orig, seconds):
    return f"{orig / seconds / MB:.1f}" if seconds else "–"


def markdown_table(res):
    rows = res["rows"]
    orig = res["original"]
    by_name = {r.name: r for r in rows}
    gz, zs = by_name.get("gzip -9"), by_name.get("zstd -19")
    lines = [
        f"### {res['category']}: {res['files']} files, {orig / MB:.1f} MB",
        "",
        "| method | size (bytes) | % of original | size vs gzip -9 | size vs zstd -19 | pack MB/s "
        "| unpack MB/s | unpack vs gzip -d | unpack vs zstd -d | decode MB/s | note |",
        "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|",
    ]
    for r in rows:
        size_known = r.size is not None and r.kind in ("peer", "tvk")
        size = f"{r.size:,}" if r.size is not None else "–"
        unpack_speed = (lambda s: orig / s if s else None)
        vs_gz = vs_zs = "–"
        if r.unpack is not None:
            if gz and gz.unpack:
                vs_gz = f"{unpack_speed(r.unpack) / unpack_speed(gz.unpack):.2f}×"
            if zs and zs.unpack:
                vs_zs = f"{unpack_speed(r.unpack) / unpack_speed(zs.unpack):.2f}×"
        note = ""
        if r.error:
            note = "failed: " + r.error.replace("|", "\\|")
        elif r.skipped:
            note = "skipped: " + r.skipped
        elif r.note:
            note = r.note
        lines.append("| " + " | ".join([
            r.name,
            size,
            f"{100.0 * r.size / orig:.1f}" if size_known and orig else "–",
            fmt_ratio(r.size, gz.size if gz else None) if size_known else "–",
            fmt_ratio(r.size, zs.size if zs else None) if size_known else "–",
            fmt_speed(orig, r.pack),
            fmt_speed(orig, r.unpack),
            vs_gz,
            vs_zs,
            fmt_speed(orig, r.decode),
            note,
        ]) + " |")
    return "\n".join(lines)


def parse_levels(text):
    try:
        levels = sorted({int(x) for x in text.split(",") if x.strip()})
    except ValueError:
        raise argparse.ArgumentTypeError(f"levels are numbers 0..4 separated by commas, not {text!r}")
    if not levels or any(l < 0 or l > 4 for l in levels):
        raise argparse.ArgumentTypeError("levels lie between 0 and 4")
    return levels


def parse_sfx_from(text):
    t = text.strip()
    if t.lower() == "none":
        return None
    solid = t.endswith("s")
    digits = t[:-1] if solid else t
    if digits not in ("0", "1", "2", "3", "4"):
        raise argparse.ArgumentTypeError("--sfx-from takes a level 0..4, optionally followed by s "
                                         "(solid), or none")
    return int(digits), solid


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("corpus", help="folder made by bench/corpus.sh")
    ap.add_argument("--quick", action="store_true",
                    help="time every step once (not best of 3) and pack with tvk -m1 and -m4 only")
    ap.add_argument("--tvk", help="the tvk program (default $TVK, else build/native/tools/tvk/tvk)")
    ap.add_argument("--sfx", help="self-extractor program handed to tvk sfx --sfx (default: tvk's own)")
    ap.add_argument("--sfx-from", type=parse_sfx_from, default=(4, True),
                    help="which tvk archive the self-extractor carries: LEVEL[s], e.g. 4s "
                         "(the default) or 3; none skips it")
    ap.add_argument("--sfx-stored", action="store_true",
                    help="also time self-extractors of stored (-m0) and AES-256 stored archives")
    ap.add_argument("--levels", type=parse_levels, help="tvk levels, e.g. 1,3 (default 1,2,3,4)")
    ap.add_argument("--categories", help="comma-separated categories (default: every sub-folder)")
    ap.add_argument("--repeat", type=int, help="timed runs per unpacking, best kept (default 3)")
    ap.add_argument("--timeout", type=int, default=3600, help="seconds allowed per command")
    ap.add_argument("--work", help="scratch folder (default: a new one under $TMPDIR or /tmp)")
    ap.add_argument("--keep", action="store_true", help="keep archives in the scratch folder")
    ap.add_argument("--json", help="also write the raw figures to this file")
    args = ap.parse_args()

    corpus = os.path.abspath(args.corpus)
    if not os.path.isdir(corpus):
        sys.exit(f"compare.py: no corpus folder {corpus} (make one with bench/corpus.sh)")
    if not os.path.exists(os.path.join(corpus, ".corpus-complete")):
        log(f"compare.py: note: {corpus} has no completion mark from bench/corpus.sh")
    if args.repeat is None:
        args.repeat = 1 if args.quick else 3
    if args.repeat < 1:
        sys.exit("compare.py: --repeat must be at least 1")
    if args.levels is None:
        args.levels = [1, 4] if args.quick else [1, 2, 3, 4]
    if args.sfx_from and args.sfx_from[0] not in args.levels:
        args.sfx_from = (args.levels[-1], args.sfx_from[1])
    if args.sfx and not os.path.isfile(args.sfx):
        sys.exit(f"compare.py: no self-extractor program {args.sfx}")
    for tool in ("tar", "cp", "bash"):
        if not shutil.which(tool):
            sys.exit(f"compare.py: {tool} is needed")

    tvk = find_tvk(args.tvk)
    sfx_ok = tvk_has_sfx(tvk)
    if not sfx_ok:
        log("compare.py: note: this tvk has no sfx command; the self-extractor rows are skipped")

    present = sorted(d for d in os.listdir(corpus)
                     if os.path.isdir(os.path.join(corpus, d)) and not d.startswith("."))
    if args.categories:
        cats = [c.strip() for c in args.categories.split(",") if c.strip()]
        unknown = [c for c in cats if c not in present]
        if unknown:
            sys.exit(f"compare.py: no category {', '.join(unknown)} in {corpus} (there are: "
                     f"{', '.join(present)})")
    else:
        cats = present
    empty = [c for c in cats if category_size(os.path.join(corpus, c))[0] == 0]
    for c in empty:
        log(f"compare.py: note: category {c} holds no data; left out")
    cats = [c for c in cats if c not in empty]
    if not cats:
        sys.exit(f"compare.py: {corpus} holds no category folders with data")

    own_work = args.work is None
    work = tempfile.mkdtemp(prefix="tvk-bench.", dir=os.environ.get("TMPDIR", "/tmp")) if own_work \
        else os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    results = []
    load_before = os.getloadavg()[0]
    try:
        for cat in cats:
            results.append(bench_category(cat, corpus, work, args, tvk, sfx_ok))
        load_after = os.getloadavg()[0]
        notes = machine_notes(work) + (f"; load average {load_before:.1f} at the start and "
                                       f"{load_after:.1f} at the end")
        if max(load_before, load_after) > len(os.sched_getaffinity(0)):
            notes += " (more than the CPUs: other work shared the machine, so timings are noisy)"
    finally:
        if own_work and not args.keep:
            shutil.rmtree(work, ignore_errors=True)

    total = total_of(results) if len(results) > 1 else None
    sfx_program = args.sfx or "tvk's own"
    print("## tvk against gzip, zstd and xz")
    print()
    print(f"- Machine: {notes}")
    print(f"- Date: {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}")
    print(f"- tvk: {tvk} (version {tool_version([tvk, '--version'])}); self-extractor program: {sfx_program}")
    print(f"- Peers: gzip {tool_version(['gzip', '--version'])}, zstd {tool_version(['zstd', '-V'])}, "
          f"xz {tool_version(['xz', '-V'])}; all single-threaded (-T1)")
    print(f"- Corpus: {corpus}; timings are the best of {args.repeat} run(s) for unpacking and "
          f"decoding, one run for packing")
    print("- size vs gzip -9 / zstd -19: packed size divided by the peer's (below 1: smaller). "
          "unpack vs gzip -d / zstd -d: unpacking speed divided by the peer's (above 1: faster). "
          "Peers pack a tar and unpack through tar -x into a fresh folder; decode is tvk t "
          "against decompressing to /dev/null.")
    print()
    for res in ([total] if total else []) + results:
        print(markdown_table(res))
        print()
    if args.json:
        with open(args.json, "w") as f:
            json.dump(dict(machine=notes, tvk=tvk, corpus=corpus, repeat=args.repeat,
                           results=[dict(category=r["category"], files=r["files"], original=r["original"],
                                         rows=[x.as_dict() for x in r["rows"]])
                                    for r in ([total] if total else []) + results]),
                      f, indent=1)
    failed = [f"{res['category']}/{r.name}" for res in results for r in res["rows"]
              if r.error and r.kind in ("tvk", "sfx")]
    if failed:
        log(f"compare.py: {len(failed)} tvk measurement(s) failed: {', '.join(failed)}")


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("compare.py: interrupted")
