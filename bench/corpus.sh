#!/usr/bin/env bash
# Gathers a benchmark corpus of real files found on a Debian machine.
#
#   bench/corpus.sh DIR [SIZE_MB]
#
# DIR receives one folder per category:
#   text/     C and C++ headers from /usr/include, uncompressed docs from /usr/share/doc
#   x86-64/   ELF programs and libraries from /usr/bin and /usr/lib/x86_64-linux-gnu
#   win32/    32-bit PE programs and DLLs from the mingw-w64 and Wine i386 folders
#   sound/    16-bit stereo PCM WAV: speech when espeak-ng and sox are installed,
#             and a synthesised piece (tones, chords, noise)
#   images/   uncompressed BMP/PPM images (PNG and JPEG files converted when the
#             netpbm tools are there) and CSV/TSV tables, when any are found
#
# SIZE_MB (default 300; 30 makes a quick corpus) is shared out between the
# categories. The choice is deterministic: candidates are ordered by a hash of
# their path (a spread sample rather than the first folders alphabetically),
# identical contents are taken once, and each category stops at its cap.
# The same machine therefore always gives the same corpus; DIR/MANIFEST.tsv
# lists every file with its source and SHA-256.
#
# Idempotent: a complete corpus of the same size in DIR is reused as it is.
set -eu

usage() {
  echo "usage: $0 DIR [SIZE_MB]   (SIZE_MB default 300; 30 for a quick corpus)" >&2
  exit 1
}

[ $# -ge 1 ] && [ $# -le 2 ] || usage
DIR=$1
SIZE_MB=${2:-300}
case $SIZE_MB in
  ''|*[!0-9]*) echo "corpus.sh: SIZE_MB must be a whole number of megabytes, not '$SIZE_MB'" >&2; exit 1 ;;
esac
if [ "$SIZE_MB" -lt 5 ] || [ "$SIZE_MB" -gt 4000 ]; then
  echo "corpus.sh: SIZE_MB must lie between 5 and 4000" >&2
  exit 1
fi
command -v python3 >/dev/null || { echo "corpus.sh: python3 is needed" >&2; exit 1; }

# Bump when the selection rules change, so that an old corpus is rebuilt.
CORPUS_VERSION=2
STAMP="version=$CORPUS_VERSION size_mb=$SIZE_MB"

if [ -f "$DIR/.corpus-complete" ] && [ "$(cat "$DIR/.corpus-complete")" = "$STAMP" ]; then
  echo "corpus.sh: reusing the complete corpus in $DIR ($STAMP)"
  exit 0
fi

if [ -e "$DIR" ]; then
  [ -d "$DIR" ] || { echo "corpus.sh: $DIR exists and is not a folder" >&2; exit 1; }
  # Only a folder this script made (or an empty one) is cleared and rebuilt:
  # never wipe somebody's data because of a typo.
  if [ ! -f "$DIR/.corpus-marker" ] && [ -n "$(ls -A "$DIR")" ]; then
    echo "corpus.sh: $DIR is not empty and was not made by this script; choose another folder" >&2
    exit 1
  fi
  if [ -f "$DIR/.corpus-marker" ]; then
    echo "corpus.sh: $DIR holds an incomplete or different corpus; rebuilding it"
    rm -rf "${DIR:?}/text" "${DIR:?}/x86-64" "${DIR:?}/win32" "${DIR:?}/sound" "${DIR:?}/images" \
      "${DIR:?}/MANIFEST.tsv" "${DIR:?}/.corpus-complete"
  fi
fi
mkdir -p "$DIR"
echo "$STAMP" > "$DIR/.corpus-marker"

# The corpus plus room for the speech and image conversions.
avail_kb=$(df -Pk "$DIR" | awk 'NR == 2 { print $4 }')
if [ -n "$avail_kb" ] && [ "$avail_kb" -lt $((SIZE_MB * 1100)) ]; then
  echo "corpus.sh: $DIR has $((avail_kb / 1024)) MiB free; a $SIZE_MB MB corpus needs about $((SIZE_MB * 11 / 10)) MB" >&2
  exit 1
fi

SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/tvk-corpus.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT

python3 - "$DIR" "$SIZE_MB" "$SCRATCH" <<'PYTHON'
import hashlib
import math
import os
import random
import shutil
import stat
import struct
import subprocess
import sys
import wave

out_dir, size_mb, scratch = sys.argv[1], int(sys.argv[2]), sys.argv[3]
MB = 1000 * 1000
total = size_mb * MB

# Shares of the total. Sound is a single kind of signal, so a modest share is
# enough; images and tables take what is found, up to their share.
caps = {
    "text": int(total * 0.30),
    "x86-64": int(total * 0.30),
    "win32": int(total * 0.30),
    "sound": int(total * 0.07),
    "images": int(total * 0.03),
}

manifest = []
seen_content = set()


def path_key(path):
    return hashlib.sha1(path.encode("utf-8", "surrogateescape")).hexdigest()


def walk_files(roots, accept_name=None, min_size=1, max_size=None, skip_dirs=()):
    """Regular files (no symbolic links) below roots, in a deterministic spread order."""
    found = []
    for root in roots:
        if not os.path.isdir(root):
            continue
        for dirpath, dirnames, filenames in os.walk(root, followlinks=False):
            dirnames[:] = sorted(d for d in dirnames if os.path.join(dirpath, d) not in skip_dirs)
            for name in sorted(filenames):
                if accept_name and not accept_name(name):
                    continue
                path = os.path.join(dirpath, name)
                try:
                    st = os.lstat(path)
                except OSError:
                    continue
                if not stat.S_ISREG(st.st_mode):
                    continue
                if st.st_size < min_size or (max_size and st.st_size > max_size):
                    continue
                found.append((path_key(path), path, st.st_size))
    found.sort()
    return [(p, s) for _, p, s in found]


def head(path, n):
    try:
        with open(path, "rb") as f:
            return f.read(n)
    except OSError:
        return b""


def file_digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


def place(category, source, data_path=None):
    """Copy source into the category, keeping its folders. Returns bytes added or 0."""
    data_path = data_path or source
    try:
        digest = file_digest(data_path)
    except OSError:
        return 0
    if digest in seen_content:
        return 0
    seen_content.add(digest)
    rel = source.lstrip("/")
    dest = os.path.join(out_dir, category, rel)
    os.makedirs(os.path.dirname(dest), exist_ok=True)
    shutil.copyfile(data_path, dest)
    os.chmod(dest, 0o644 if category not in ("x86-64", "win32") else 0o755)
    try:
        st = os.stat(source)
        os.utime(dest, ns=(st.st_mtime_ns, st.st_mtime_ns))
    except OSError:
        pass
    size = os.path.getsize(dest)
    manifest.append((category, rel, size, digest, source))
    return size


def fill(category, candidates, cap, accept):
    """Take candidates in order while they fit under cap."""
    used = 0
    taken = 0
    for path, size in candidates:
        if used + size > cap:
            continue
        if not accept(path):
            continue
        added = place(category, path)
        used += added
        taken += 1 if added else 0
        if cap - used < 512:
            break
    return used, taken


def is_text(path):
    data = head(path, 16384)
    if not data or b"\0" in data:
        return False
    printable = sum(1 for b in data if b in (9, 10, 13) or 32 <= b < 127 or b >= 128)
    return printable >= len(data) * 0.97


def is_elf_x86_64(path):
    h = head(path, 20)
    return len(h) == 20 and h[:4] == b"\x7fELF" and h[4] == 2 and h[5] == 1 and \
        struct.unpack_from("<H", h, 18)[0] == 0x3E


def is_pe_i386(path):
    h = head(path, 4096)
    if len(h) < 64 or h[:2] != b"MZ":
        return False
    pe = struct.unpack_from("<I", h, 60)[0]
    if pe + 6 > len(h):
        return False
    return h[pe:pe + 4] == b"PE\0\0" and struct.unpack_from("<H", h, pe + 4)[0] == 0x14C


def report(category, used, taken):
    print(f"corpus.sh: {category:7} {taken:5} files {used / MB:8.1f} MB")


# --- text: headers and documentation -----------------------------------------
compressed_ext = (".gz", ".xz", ".bz2", ".zst", ".lz", ".lzma", ".zip", ".png", ".jpg",
                  ".jpeg", ".gif", ".pdf", ".svgz", ".ico", ".woff", ".woff2", ".ttf")
text_cap = caps["text"]
per_file = max(64 * 1024, min(2 * MB, text_cap // 8))
headers = walk_files(["/usr/include"], min_size=256, max_size=per_file)
docs = walk_files(["/usr/share/doc"], min_size=256, max_size=per_file,
                  accept_name=lambda n: not n.lower().endswith(compressed_ext))
used_h, taken_h = fill("text", headers, int(text_cap * 0.6), is_text)
used_d, taken_d = fill("text", docs, text_cap - used_h, is_text)
report("text", used_h + used_d, taken_h + taken_d)

# --- x86-64 programs and libraries --------------------------------------------
elf_cap = caps["x86-64"]
per_file = max(256 * 1024, min(12 * MB, elf_cap // 6))
elves = walk_files(["/usr/bin", "/usr/lib/x86_64-linux-gnu"], min_size=1024, max_size=per_file)
report("x86-64", *fill("x86-64", elves, elf_cap, is_elf_x86_64))

# --- 32-bit Windows programs and DLLs -----------------------------------------
pe_cap = caps["win32"]
per_file = max(256 * 1024, min(12 * MB, pe_cap // 6))
pe_roots = ["/usr/lib/gcc/i686-w64-mingw32", "/usr/i686-w64-mingw32/lib",
            "/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/wine/i386-windows"]
pes = walk_files(pe_roots, min_size=1024, max_size=per_file)
used, taken = fill("win32", pes, pe_cap, is_pe_i386)
report("win32", used, taken)
if taken == 0:
    print("corpus.sh: note: no 32-bit PE files found (install mingw-w64 or wine32)", file=sys.stderr)

# --- sound --------------------------------------------------------------------
RATE = 44100
sound_dir = os.path.join(out_dir, "sound", "wav")
os.makedirs(sound_dir, exist_ok=True)
sound_cap = caps["sound"]
sound_used = 0
sound_files = 0


def add_generated(name, tmp_path, what):
    global sound_used, sound_files
    dest_rel = os.path.join("wav", name)
    dest = os.path.join(out_dir, "sound", dest_rel)
    shutil.move(tmp_path, dest)
    os.chmod(dest, 0o644)
    os.utime(dest, (1767225600, 1767225600))  # fixed time: the file is made here
    size = os.path.getsize(dest)
    manifest.append(("sound", dest_rel, size, file_digest(dest), what))
    sound_used += size
    sound_files += 1


speech_source = "/usr/share/common-licenses/GPL-3"
if shutil.which("espeak-ng") and shutil.which("sox") and os.path.exists(speech_source):
    # Speech at half the sound share; espeak-ng speaks at 22050 Hz mono, sox
    # makes it CD-style stereo with unequal channels so that stereo modes matter.
    target = sound_cap // 2
    seconds = target / (RATE * 4)
    words = open(speech_source, encoding="utf-8", errors="replace").read().split()
    # about 2.6 words a second at 160 words a minute; take a few more and trim
    text = " ".join(words[: int(seconds * 3.2) + 20])
    raw = os.path.join(scratch, "speech-raw.wav")
    cooked = os.path.join(scratch, "speech.wav")
    try:
        subprocess.run(["espeak-ng", "-v", "en", "-s", "160", "-w", raw, text], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["sox", "-R", "-D", raw, "-r", str(RATE), "-b", "16", "-c", "2", cooked,
                        "remix", "1v0.9", "1v0.6", "trim", "0", f"{seconds:.3f}"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        add_generated("speech.wav", cooked, "espeak-ng + sox: " + speech_source)
    except (subprocess.CalledProcessError, OSError) as e:
        print(f"corpus.sh: note: speech could not be made ({e}); synthesising only", file=sys.stderr)


def synthesise(path, frames, seed):
    """A deterministic piece: a melody with harmonics, chords, a bass line,
    panned voices, short percussive noise and a low noise floor."""
    rng = random.Random(seed)
    left = [0.0] * frames
    right = [0.0] * frames
    scale = [0, 2, 4, 5, 7, 9, 11, 12]
    beat = RATE // 4  # quarter of a second
    pos = 0
    while pos < frames:
        degree = rng.choice(scale)
        chord_root = rng.choice([0, 5, 7, 9])
        length = beat * rng.choice([1, 1, 2, 2, 4])
        end = min(frames, pos + length)
        voices = [
            (440.0 * 2 ** ((degree + 3) / 12), 0.22, rng.uniform(0.2, 0.8), (1.0, 0.5, 0.25, 0.12)),
            (110.0 * 2 ** ((chord_root + 3) / 12), 0.18, 0.5, (1.0, 0.3)),
            (220.0 * 2 ** ((chord_root + 7) / 12), 0.08, 0.3, (1.0, 0.4)),
            (220.0 * 2 ** ((chord_root + 10) / 12), 0.08, 0.7, (1.0, 0.4)),
        ]
        n = end - pos
        attack = max(1, min(n // 8, 882))
        for freq, amp, pan, harmonics in voices:
            w = 2 * math.pi * freq / RATE
            gl = amp * (1 - pan)
            gr = amp * pan
            decay = 3.0 / n
            for i in range(n):
                env = (i / attack if i < attack else 1.0) * math.exp(-decay * i)
                s = 0.0
                for k, h in enumerate(harmonics, 1):
                    s += h * math.sin(w * k * i)
                s *= env
                left[pos + i] += s * gl
                right[pos + i] += s * gr
        if rng.random() < 0.5:
            for i in range(min(n, 2205)):
                hit = rng.uniform(-0.3, 0.3) * math.exp(-i / 300.0)
                left[pos + i] += hit
                right[pos + i] += hit * 0.8
        pos = end
    buf = bytearray(frames * 4)
    for i in range(frames):
        l = left[i] + rng.gauss(0, 0.004)
        r = right[i] + rng.gauss(0, 0.004)
        struct.pack_into("<hh", buf, i * 4,
                         max(-32768, min(32767, int(l * 26000))),
                         max(-32768, min(32767, int(r * 26000))))
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(buf))


frames = max(RATE, (sound_cap - sound_used - 44) // 4)
synth = os.path.join(scratch, "synth.wav")
synthesise(synth, frames, seed=20261208)
add_generated("synth.wav", synth, "synthesised (python3)")
report("sound", sound_used, sound_files)

# --- images and tables --------------------------------------------------------
img_cap = caps["images"]
img_used = 0
img_files = 0
image_roots = ["/usr/share", "/usr/lib"]
# Machine-local lists that are not data of the installed system.
skip = {"/usr/share/package-lists"}


def is_plain_image(path):
    h = head(path, 64)
    if h[:2] == b"BM" and len(h) >= 34:
        return struct.unpack_from("<I", h, 30)[0] in (0, 3)  # BI_RGB or BI_BITFIELDS
    return h[:2] in (b"P5", b"P6")


plain = walk_files(image_roots, min_size=16 * 1024, max_size=max(img_cap // 2, 64 * 1024),
                   skip_dirs=skip,
                   accept_name=lambda n: n.lower().endswith((".bmp", ".ppm", ".pgm", ".pnm")))
used, taken = fill("images", plain, img_cap, is_plain_image)
img_used += used
img_files += taken

tables = walk_files(image_roots, min_size=4096, max_size=max(img_cap // 4, 64 * 1024),
                    skip_dirs=skip, accept_name=lambda n: n.lower().endswith((".csv", ".tsv")))
used, taken = fill("images", tables, img_cap // 3, is_text)
img_used += used
img_files += taken

to_pnm = {".png": shutil.which("pngtopnm"), ".jpg": shutil.which("jpegtopnm"),
          ".jpeg": shutil.which("jpegtopnm")}
ppmtobmp = shutil.which("ppmtobmp")
if any(to_pnm.values()):
    packed = walk_files(image_roots, min_size=24 * 1024, max_size=8 * MB, skip_dirs=skip,
                        accept_name=lambda n: os.path.splitext(n.lower())[1] in to_pnm)
    for path, _ in packed:
        tool = to_pnm[os.path.splitext(path.lower())[1]]
        if not tool:
            continue
        pnm = os.path.join(scratch, "image.pnm")
        with open(pnm, "wb") as f:
            r = subprocess.run([tool, path], stdout=f, stderr=subprocess.DEVNULL)
        if r.returncode != 0 or os.path.getsize(pnm) < 1024:
            continue
        data_path, ext = pnm, ".ppm"
        if ppmtobmp:
            bmp = os.path.join(scratch, "image.bmp")
            with open(bmp, "wb") as f:
                r = subprocess.run([ppmtobmp, "-bpp", "24", pnm], stdout=f, stderr=subprocess.DEVNULL)
            if r.returncode == 0 and os.path.getsize(bmp) > 0:
                data_path, ext = bmp, ".bmp"
        size = os.path.getsize(data_path)
        if img_used + size > img_cap:
            continue
        # The converted image takes the source's place and name, with a new extension.
        src_rel = os.path.splitext(path)[0] + ext
        added = place("images", src_rel, data_path)
        img_used += added
        img_files += 1 if added else 0
        if img_cap - img_used < 64 * 1024:
            break
report("images", img_used, img_files)

with open(os.path.join(out_dir, "MANIFEST.tsv"), "w", encoding="utf-8", errors="surrogateescape") as f:
    f.write("category\tpath\tbytes\tsha256\tsource\n")
    for row in manifest:
        f.write("\t".join(str(x) for x in row) + "\n")
grand = sum(r[2] for r in manifest)
print(f"corpus.sh: total   {len(manifest):5} files {grand / MB:8.1f} MB")
PYTHON

echo "$STAMP" > "$DIR/.corpus-complete"
echo "corpus.sh: corpus complete in $DIR"
