#!/usr/bin/env python3
"""Where the self-extractor's bytes go: per section, per layer, per function.

Relinks each program from its build folder without -s and with a link map,
then attributes every symbol of the unstripped copy to a layer: the module's
own symbols by the library that defines them (read with the gcc-nm of the
toolchain, which also reads link-time-optimised objects), the rest by the
archive the link map says the linker took it from.

  bench/size.py [BUILD_DIR...]    (default: build/musl build/win32)
  bench/size.py --top 50 build/musl

Markdown goes to standard output. The unstripped copy, its map and a
stripped copy (to check that the relink gives the shipped program) are left
in BUILD_DIR/size/.
"""
import argparse
import bisect
import os
import re
import shlex
import subprocess
import sys

MODULE_LIBS = {
    "platform/libtvk_platform.a": "platform",
    "crypto/libtvk_crypto.a": "crypto",
    "codec/libtvk_codec.a": "codec",
    "archive/libtvk_archive.a": "archive",
    "host/libtvk_host.a": "host",
}
LAYERS = ["programs", "host", "archive", "codec", "crypto", "platform",
          "module, file-local (LTO)", "C runtime", "libgcc", "libstdc++", "import stubs", "linker/other"]


def run(cmd, cwd=None):
    return subprocess.run(cmd, cwd=cwd, check=True, capture_output=True, text=True).stdout


def link_command(build, target):
    lines = run(["ninja", "-C", build, "-t", "commands", target]).strip().splitlines()
    cmd = lines[-1].strip()
    cmd = re.sub(r"^:\s*&&\s*", "", cmd)
    cmd = re.sub(r"\s*&&\s*:\s*$", "", cmd)
    return shlex.split(cmd)


def tools(build):
    """The nm, gcc-nm, objdump and strip of the build's toolchain."""
    cache = open(os.path.join(build, "CMakeCache.txt")).read()
    m = re.search(r"^CMAKE_CXX_COMPILER_AR:\w+=(.*)$", cache, re.M)
    cxx = m.group(1) if m else "gcc-ar"
    prefix = ""
    base = os.path.basename(cxx)
    if "-w64-mingw32-" in base:
        prefix = base[: base.index("-w64-mingw32-")] + "-w64-mingw32-"
    return {k: prefix + k for k in ("nm", "gcc-nm", "objdump", "strip")}, bool(prefix)


def relink(build, target, outdir):
    cmd = link_command(build, target)
    out, keep = None, []
    skip = False
    for i, a in enumerate(cmd):
        if skip:
            skip = False
            continue
        if a == "-s" or a.startswith("-Wl,--out-implib"):
            continue
        if a == "-o":
            out = cmd[i + 1]
            skip = True
            continue
        keep.append(a)
    full = os.path.join(outdir, "tvksfx.full")
    mapf = os.path.join(outdir, "tvksfx.map")
    keep += ["-o", full, "-Wl,-Map=" + mapf]
    run(keep, cwd=build)
    objects = [a for a in cmd if a.endswith((".o", ".obj"))]
    return os.path.join(build, out), full, mapf, objects


def symbol_layers(t, build, objects):
    """Mangled name -> layer, for the symbols our own code defines."""
    owner = {}
    def read(path, layer):
        try:
            text = run([t["gcc-nm"], "--defined-only", path], cwd=build)
        except subprocess.CalledProcessError:
            return
        for line in text.splitlines():
            f = line.split()
            if len(f) >= 3 and f[1].lower() in "tdrbv":
                owner.setdefault(f[2], layer)
    for obj in objects:
        read(obj, "programs")
    for lib, layer in MODULE_LIBS.items():
        read(lib, layer)
    return owner


def archive_layer(path):
    p = os.path.basename(path.split("(")[0])
    # Link-time optimisation compiles the module again into these; the
    # symbols the libraries export are found by name before this.
    if "ltrans" in p:
        return "module, file-local (LTO)"
    if "tvksfx" in path or "programs/" in path:
        return "programs"
    for lib, layer in MODULE_LIBS.items():
        if path.startswith(lib) or lib in path:
            return layer
    if p.startswith("libgcc"):
        return "libgcc"
    if p.startswith("libstdc++") or p.startswith("libsupc++"):
        return "libstdc++"
    if re.match(r"lib(kernel32|user32|gdi32|shell32|advapi32|comctl32|ole32|oleaut32|"
                r"comdlg32|winspool|uuid|shlwapi|ntdll)\.a", p):
        return "import stubs"
    if p.startswith(("libc.a", "crt", "libmingw", "libmsvcrt", "libucrt", "libmoldname",
                     "libpthread", "libwinpthread", "Scrt", "rcrt")) or "musl" in path:
        return "C runtime"
    return "linker/other"


def map_ranges(mapf):
    """(start, end, layer) of every input section the map names."""
    ranges = []
    pending = None
    sect = re.compile(r"^ (\.\S+|COMMON)(?:\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+)\s+(\S.*))?$")
    cont = re.compile(r"^\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+)\s+(\S.*)$")
    for line in open(mapf, errors="replace"):
        line = line.rstrip("\n")
        m = sect.match(line)
        if m:
            if m.group(2):
                ranges.append((int(m.group(2), 16), int(m.group(3), 16), m.group(4)))
                pending = None
            else:
                pending = m.group(1)
            continue
        if pending:
            m = cont.match(line)
            if m:
                ranges.append((int(m.group(1), 16), int(m.group(2), 16), m.group(3)))
            pending = None
    ranges = [(a, a + s, archive_layer(f)) for a, s, f in ranges if s > 0 and a > 0]
    ranges.sort()
    return ranges


def section_ranges(t, prog):
    """(start, end, name) of the allocated sections, by address."""
    rows = []
    for line in run([t["objdump"], "-h", prog]).splitlines():
        f = line.split()
        if len(f) >= 7 and f[0].isdigit():
            size, vma = int(f[2], 16), int(f[3], 16)
            if vma:
                rows.append((vma, vma + size, f[1]))
    return sorted(rows)


def symbols(t, full, is_pe):
    """(address, size, type, mangled name) of the functions and data of the program."""
    secs = section_ranges(t, full)
    sec_starts = [r[0] for r in secs]
    text = run([t["nm"], "-n", "-S", "--defined-only", full])
    rows = []
    for line in text.splitlines():
        f = line.split()
        if len(f) == 4:
            rows.append([int(f[0], 16), int(f[1], 16), f[2], f[3]])
        elif len(f) == 3:
            rows.append([int(f[0], 16), None, f[1], f[2]])
    # PE symbols carry no size (nor do some of the C runtime's): such a
    # symbol runs to the next one or to the end of its section.
    for i, r in enumerate(rows):
        if r[1] is None:
            nxt = rows[i + 1][0] if i + 1 < len(rows) else r[0]
            j = bisect.bisect_right(sec_starts, r[0]) - 1
            if j >= 0 and secs[j][0] <= r[0] < secs[j][1]:
                nxt = min(nxt, secs[j][1])
                if secs[j][2] in (".bss", ".tbss"):
                    r[2] = "b"
            r[1] = max(nxt - r[0], 0)
    keep = []
    for a, s, ty, name in rows:
        if ty.lower() not in "tdrb" or s <= 0 or s > (1 << 20):
            continue
        # Markers the PE linker script sets at section bounds are no code.
        if is_pe and (name.startswith(("__imp_", "_head_", "__IMPORT", "__rt_psrelocs", "."))
                      or name.endswith("__")):
            continue
        keep.append((a, s, ty, name))
    return keep


def demangle(names, is_pe):
    if not names:
        return {}
    # 32-bit Windows names carry one more leading underscore.
    out = subprocess.run(["c++filt"] + (["-_"] if is_pe else []), input="\n".join(names), capture_output=True,
                         text=True).stdout.splitlines()
    return dict(zip(names, out))


def sections(t, prog):
    rows = []
    for line in run([t["objdump"], "-h", prog]).splitlines():
        f = line.split()
        if len(f) >= 7 and f[0].isdigit():
            rows.append((f[1], int(f[2], 16)))
    return rows


def report(build, top):
    t, is_pe = tools(build)
    target = "host/tvksfx.exe" if is_pe else "host/tvksfx"
    build = os.path.abspath(build)
    outdir = os.path.join(build, "size")
    os.makedirs(outdir, exist_ok=True)
    shipped, full, mapf, objects = relink(build, target, outdir)
    stripped = os.path.join(outdir, "tvksfx.stripped")
    run([t["strip"], "-o", stripped, full])
    shipped_size = os.path.getsize(shipped)
    print(f"## {os.path.relpath(shipped, os.getcwd())}: {shipped_size:,} bytes\n")
    relinked = os.path.getsize(stripped)
    if relinked != shipped_size:
        print(f"(the relinked copy stripped is {relinked:,} bytes: figures below are of it)\n")

    print("| section | bytes |\n|---|---:|")
    for name, size in sections(t, shipped):
        print(f"| {name} | {size:,} |")
    print()

    owner = symbol_layers(t, build, objects)
    ranges = map_ranges(mapf)
    starts = [r[0] for r in ranges]
    syms = symbols(t, full, is_pe)
    per_layer = {k: [0, 0, 0] for k in LAYERS}
    attributed = []
    for a, s, ty, name in syms:
        base = name.split(".")[0] if not name.startswith(".") else name
        layer = owner.get(name) or owner.get(base) or owner.get("_" + name)
        if layer is None and is_pe and name.startswith("_"):
            layer = owner.get(name[1:])
        if layer is None:
            i = bisect.bisect_right(starts, a) - 1
            layer = ranges[i][2] if i >= 0 and ranges[i][0] <= a < ranges[i][1] else "linker/other"
        kind = {"t": 0, "b": 2}.get(ty.lower(), 1)
        per_layer[layer][kind] += s
        attributed.append((s, ty, name, layer))

    # Zeroed data costs memory, not file bytes (except where a PE linker
    # gives it room in the file: then it shows in the section table).
    print("| layer | code | data | code + data | zeroed (memory) |\n|---|---:|---:|---:|---:|")
    tc = td = tb = 0
    for k in LAYERS:
        c, d, b = per_layer[k]
        if c or d or b:
            print(f"| {k} | {c:,} | {d:,} | {c + d:,} | {b:,} |")
            tc, td, tb = tc + c, td + d, tb + b
    print(f"| **all symbols** | {tc:,} | {td:,} | {tc + td:,} | {tb:,} |")
    print(f"| file less code and data: headers, imports, resources, padding | | | "
          f"{relinked - tc - td:,} | |")
    print()

    attributed = [a for a in attributed if a[1].lower() != "b"]
    attributed.sort(reverse=True)
    names = demangle([n for _, _, n, _ in attributed[:top]], is_pe)
    print(f"| {top} largest | kind | layer | bytes |\n|---|---|---|---:|")
    for s, ty, name, layer in attributed[:top]:
        shown = names.get(name, name).replace("|", "\\|")
        if len(shown) > 90:
            shown = shown[:87] + "..."
        print(f"| `{shown}` | {'code' if ty.lower() == 't' else 'data'} | {layer} | {s:,} |")
    print()


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("builds", nargs="*", default=["build/musl", "build/win32"])
    ap.add_argument("--top", type=int, default=30)
    args = ap.parse_args()
    for b in args.builds:
        if not os.path.exists(os.path.join(b, "build.ninja")):
            print(f"{b}: no build here (scripts/build.sh CONFIG first)", file=sys.stderr)
            return 1
        report(b, args.top)
    return 0


if __name__ == "__main__":
    sys.exit(main())
