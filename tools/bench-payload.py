#!/usr/bin/python3
"""Makes a payload archive shaped like the shipped one, for the benchmark.

    bench-payload.py [--seed N] ARCHIVE.tar

The archive is GNU tar's own (GNU format, 10,240-byte records, the
end-of-archive blocks and the record padding kept) and holds what the
shipped payload holds, in the same order and with the same counts: the
folders mnt/, mnt/hd/, mnt/hd/ProgramFiles/, FirmwareTMS.dat (10,184
bytes), Settings/ with two language files, Fonts/ with 10 fonts and the web
application's Zephyrdesk/ (464 entries: its language file, the program
epgsearch and public_html/ with 83 folders and 378 files), then
Zephyrdesk-Config.tap (383,904 bytes) and Zephyrdesk.tap (459,708 bytes).
485 entries in all (90 folders, 395 files) with 19,383,444 bytes of file
data, 13 names of 101 to 114 characters (long-name entries), 1930 records.
The sizes are spread as a web application's are: many small pages,
scripts and style sheets, a few fonts and images of several hundred
kilobytes.  The same seed gives the same archive, byte for byte.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

ENTRIES, FOLDERS, FILES = 485, 90, 395
FILE_BYTES = 19383444
LONG_NAMES = 13
RECORDS = 1930
BLOCK, RECORD = 512, 10240
FIXED = {  # files whose sizes the shipped payload fixes
    "mnt/hd/ProgramFiles/FirmwareTMS.dat": 10184,
    "mnt/hd/ProgramFiles/Zephyrdesk-Config.tap": 383904,
    "mnt/hd/ProgramFiles/Zephyrdesk.tap": 459708,
}
# Header blocks + long-name blocks + data blocks + 13 empty blocks.
DATA_BLOCKS = RECORDS * RECORD // BLOCK - (ENTRIES + LONG_NAMES) - LONG_NAMES - 13
MTIME = 1518307200  # 2018-02-11 00:00 UTC
WEB = "mnt/hd/ProgramFiles/Settings/Zephyrdesk/public_html/"
SHORT_NAME_MAX = 95  # every other name stays well inside the header's 100 characters

# What the web application's files are, with a typical size (median
# bytes) and spread (sigma of the log-normal) of each kind.
KINDS = [  # extension, median, sigma, text
    ("html", 6000, 0.9, True),
    ("js", 9000, 1.1, True),
    ("css", 5000, 0.9, True),
    ("svg", 2500, 1.0, True),
    ("png", 9000, 1.6, False),
    ("json", 3000, 1.0, True),
    ("lng", 12000, 0.6, True),
]
WORDS = ("epg timer record channel service guide movie series search settings status disk "
         "playlist archive network stream schedule favourite language help about remote "
         "account theme player viewer editor export import filter").split()


def web_tree(rng):
    """The folders (83) and files (378) of public_html/, as relative names."""
    top = ["css", "js", "img", "fonts", "lang", "help", "templates", "api", "themes", "widgets"]
    folders = list(top)
    while len(folders) < 83:
        parent = rng.choice(folders)
        if parent.count("/") >= 3:
            continue
        name = parent + "/" + rng.choice(WORDS)
        if name not in folders and len(WEB + name) < SHORT_NAME_MAX - 30:
            folders.append(name)
    files = set()
    while len(files) < 378:
        folder = rng.choice(folders)
        root = folder.split("/")[0]
        if root == "fonts":
            ext = rng.choice(["woff", "woff2", "ttf"])
        elif root == "img":
            ext = rng.choice(["png", "png", "svg", "jpg"])
        elif root == "lang":
            ext = "lng"
        elif root in ("css", "themes"):
            ext = "css"
        elif root == "js":
            ext = "js"
        else:
            ext = rng.choice(["html", "html", "js", "css", "json", "svg", "png"])
        stem = rng.choice(WORDS) + "-" + rng.choice(WORDS) + "%d" % rng.randint(1, 99)
        if len(WEB + folder + "/" + stem + "." + ext) <= SHORT_NAME_MAX:
            files.add(folder + "/" + stem + "." + ext)
    return sorted(folders), sorted(files)


def raw_size(rng, name):
    """A size drawn for the kind of file that name is."""
    ext = name.rsplit(".", 1)[-1]
    if ext in ("woff", "woff2", "ttf"):
        return int(rng.uniform(60000, 420000))
    if ext == "jpg":
        return int(rng.uniform(150000, 800000))
    for kind, median, sigma, _ in KINDS:
        if kind == ext:
            return max(200, int(rng.lognormvariate(0, sigma) * median))
    return 4000


def long_name(rng, folder, length, ext):
    """A file name in folder that makes the archive name length characters long."""
    stem = ""
    room = length - len(folder) - 1 - len(ext) - 1
    while len(stem) < room:
        stem += ("-" if stem else "") + rng.choice(WORDS)
    return folder + "/" + stem[:room].rstrip("-").ljust(room, "x") + "." + ext


def plan(rng):
    """The archive's entries in order: (name, size or None for a folder)."""
    folders, files = web_tree(rng)
    # 13 of the web files get long names of 101 to 114 characters.
    lengths = rng.sample(range(101, 115), LONG_NAMES)
    picked = rng.sample(files, LONG_NAMES)
    renamed = []
    for name, length in zip(picked, lengths):
        folder, ext = name.rsplit("/", 1)[0], name.rsplit(".", 1)[-1]
        renamed.append(long_name(rng, WEB + folder, length, ext)[len(WEB):])
    files = sorted(set(files) - set(picked) | set(renamed))
    assert len(files) == 378

    entries = [("mnt/", None), ("mnt/hd/", None), ("mnt/hd/ProgramFiles/", None),
               ("mnt/hd/ProgramFiles/FirmwareTMS.dat", 0), ("mnt/hd/ProgramFiles/Settings/", None),
               ("mnt/hd/ProgramFiles/Settings/epg-genre-descriptions.lng", 0),
               ("mnt/hd/ProgramFiles/Settings/epg-parental.lng", 0),
               ("mnt/hd/ProgramFiles/Settings/Fonts/", None)]
    fonts = ["DejaVuSans", "DejaVuSans-Bold", "DejaVuSansMono", "DejaVuSansMono-Bold", "DejaVuSerif",
             "DejaVuSerif-Bold", "Zephyr-Regular", "Zephyr-Bold", "Zephyr-Icons", "Zephyr-Condensed"]
    entries += [("mnt/hd/ProgramFiles/Settings/Fonts/%s.ttf" % f, 0) for f in fonts]
    entries += [("mnt/hd/ProgramFiles/Settings/Zephyrdesk/", None),
                ("mnt/hd/ProgramFiles/Settings/Zephyrdesk/Zephyrdesk-Config.lng", 0),
                ("mnt/hd/ProgramFiles/Settings/Zephyrdesk/epgsearch", 0), (WEB, None)]
    # every folder before what lies in it: sorted names of folders with "/" and files
    web = sorted([(f + "/", None) for f in folders] + [(f, 0) for f in files], key=lambda e: e[0])
    entries += [(WEB + n, s) for n, s in web]
    entries += [("mnt/hd/ProgramFiles/Zephyrdesk-Config.tap", 0), ("mnt/hd/ProgramFiles/Zephyrdesk.tap", 0)]
    return entries


def sizes(rng, names):
    """Sizes for the files whose size is free, so that all files together
    have FILE_BYTES bytes in DATA_BLOCKS blocks."""
    free = [n for n in names if n not in FIXED]
    bytes_left = FILE_BYTES - sum(FIXED.values())
    blocks_left = DATA_BLOCKS - sum((s + BLOCK - 1) // BLOCK for s in FIXED.values())
    raw = {}
    for n in free:
        if "/Fonts/" in n:
            raw[n] = rng.uniform(150000, 700000)
        elif n.endswith(".lng") and "/public_html/" not in n:
            raw[n] = rng.uniform(15000, 60000)
        elif n.endswith("/epgsearch"):
            raw[n] = 6000
        else:
            raw[n] = raw_size(rng, n)
    scale = blocks_left * BLOCK / sum(raw.values())
    blocks = {n: max(1, round(raw[n] * scale / BLOCK)) for n in free}
    by_size = sorted(free, key=lambda n: -blocks[n])[:40]
    i = 0
    while sum(blocks.values()) != blocks_left:
        step = 1 if sum(blocks.values()) < blocks_left else -1
        n = by_size[i % len(by_size)]
        if blocks[n] + step >= 1:
            blocks[n] += step
        i += 1
    # The bytes short of whole blocks: 0 to 511 in each file, summing up.
    padding = {n: rng.randint(0, BLOCK - 1) for n in free}
    wanted = blocks_left * BLOCK - bytes_left
    while sum(padding.values()) != wanted:
        n = rng.choice(free)
        gap = wanted - sum(padding.values())
        padding[n] = min(BLOCK - 1, max(0, padding[n] + gap))
    result = {n: blocks[n] * BLOCK - padding[n] for n in free}
    result.update(FIXED)
    return result


def content(rng, name, size):
    """size bytes for the file: text for pages and scripts, noise otherwise."""
    ext = name.rsplit(".", 1)[-1]
    if ext in ("html", "js", "css", "svg", "json", "lng") or name.endswith("/epgsearch"):
        line = (" ".join(rng.choice(WORDS) for _ in range(12)) + "\n").encode()
        return (line * (size // len(line) + 1))[:size]
    return rng.randbytes(size)


def check(archive):
    """Counts what the walk of the installer meets; fails on a difference."""
    data = open(archive, "rb").read()
    headers = long_entries = folders = files = file_bytes = 0
    at = 0
    while at < len(data):
        block = data[at:at + BLOCK]
        at += BLOCK
        if block[0] == 0:
            continue
        headers += 1
        size = int(block[124:136].split(b"\0")[0].strip() or b"0", 8)
        kind = block[156:157]
        if kind == b"L":
            long_entries += 1
        elif kind == b"5":
            folders += 1
        elif kind in (b"0", b"\0"):
            files += 1
            file_bytes += size
        at += (size + BLOCK - 1) // BLOCK * BLOCK
    found = (len(data), headers, long_entries, folders, files, file_bytes)
    wanted = (RECORDS * RECORD, ENTRIES + LONG_NAMES, LONG_NAMES, FOLDERS, FILES, FILE_BYTES)
    if found != wanted:
        sys.exit("bench-payload: archive has (bytes, headers, long names, folders, files, file bytes) %s, "
                 "wanted %s" % (found, wanted))


def main():
    args = sys.argv[1:]
    seed = 13
    if len(args) == 3 and args[0] == "--seed":
        seed = int(args[1])
        args = args[2:]
    if len(args) != 1:
        sys.exit("usage: bench-payload.py [--seed N] ARCHIVE.tar")
    archive = os.path.abspath(args[0])
    rng = random.Random(seed)
    entries = plan(rng)
    size_of = sizes(rng, [n for n, s in entries if s is not None])
    stage = tempfile.mkdtemp(prefix="bench-payload-", dir=os.path.dirname(archive))
    try:
        for name, size in entries:
            path = os.path.join(stage, name)
            if size is None:
                os.makedirs(path, exist_ok=True)
            else:
                with open(path, "wb") as f:
                    f.write(content(rng, name, size_of[name]))
        listing = os.path.join(stage, ".list")
        with open(listing, "w") as f:
            f.write("".join(n.rstrip("/") + "\n" for n, _ in entries))
        subprocess.run(["tar", "--create", "--format=gnu", "--file", archive, "--directory", stage,
                        "--no-recursion", "--files-from", listing, "--owner=0", "--group=0",
                        "--numeric-owner", "--mode=u+rwX,go+rX,go-w", "--mtime=@%d" % MTIME],
                       check=True)
    finally:
        shutil.rmtree(stage)
    check(archive)


if __name__ == "__main__":
    main()
