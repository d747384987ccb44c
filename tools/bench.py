#!/usr/bin/python3
"""`make bench`: the whole installation against GNU tar and bsdtar.

    bench.py [--runs N]

Makes the benchmark payload (tools/bench-payload.py), packs it into an
installer of each build with tappack, and times side by side, each as a
whole process, each run into a fresh folder on a file system made for the
run (a loop-mounted ext4 image as root, else a folder of the build):

  tar        GNU tar -xf of the archive
  bsdtar     bsdtar -xf of the archive
  pc         the complete installation in tapemu, PC build, no pictures
  pictures   the same with a PNG per repaint
  mipsel     the same under qemu-mipsel with the receiver build

and, in the same rounds, what the stand-in costs around any installation:
tapemu started and ended without installing (the EXIT key on the first
screen) on each build, bwrap with the sandbox's namespaces running true,
and one start of the receiver build's tapemu under qemu-mipsel.

The runs go round them all in turn, after one untimed round, with the
page cache written back (sync) before each.  It prints the median, the
spread (fastest and slowest) and the ratio of each median to GNU tar's;
then what the checksum of the payload costs on each build (the installer's
checksum timed alone over the archive, tools/crctime) and the split of the
PC installation's time into its parts (a perf profile of one run).
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HOST = os.path.join(TOP, "build", "host")
MIPSEL = os.path.join(TOP, "build", "mipsel")
WORK = os.path.join(TOP, "build", "bench")
KEYS = "OK FORWARD FORWARD OK OK"  # language, target screen, /ProgramFiles, install, leave
CLOCK = "2018-02-11 12:00:00"
TAP_NAME = "Zephyrdesk-Install.tap"
QEMU = ["qemu-mipsel", "-L", os.environ.get("QEMU_LD_PREFIX", "/usr/mipsel-linux-gnu")]
# The namespaces and file systems of tapemu's sandbox, for a bwrap that runs nothing.
BWRAP = ["--unshare-user", "--unshare-ipc", "--unshare-pid", "--unshare-net", "--unshare-uts", "--unshare-cgroup",
         "--disable-userns", "--cap-drop", "ALL", "--new-session", "--die-with-parent", "--ro-bind", "/", "/", "--dev",
         "/dev", "--proc", "/proc", "--tmpfs", "/tmp", "--tmpfs", "/run", "--tmpfs", "/mnt", "--tmpfs", "/dev/pts"]


def say(text):
    print(text, flush=True)


def run(command, **kwargs):
    return subprocess.run(command, check=True, **kwargs)


class Place:
    """The file system the runs write on: a loop-mounted ext4 image when
    root may mount one, else a folder of the build."""

    def __init__(self):
        self.mounted = False
        self.root = os.path.join(WORK, "fs")
        if os.path.ismount(self.root):
            run(["umount", self.root])
        shutil.rmtree(self.root, ignore_errors=True)
        os.makedirs(self.root)
        image = os.path.join(WORK, "fs.img")
        if os.geteuid() == 0:
            try:
                if os.path.exists(image):
                    os.unlink(image)
                with open(image, "wb") as f:
                    f.truncate(3 << 30)
                run(["mkfs.ext4", "-q", "-F", image], stdout=subprocess.DEVNULL)
                run(["mount", "-o", "loop", image, self.root])
                self.mounted = True
            except (subprocess.CalledProcessError, OSError) as e:
                say("bench: no loop-mounted image (%s); the runs write into %s" % (e, self.root))
        self.what = ("a fresh ext4 image, loop-mounted at %s" % self.root) if self.mounted else self.root

    def close(self):
        if self.mounted:
            subprocess.run(["umount", self.root])
            os.unlink(os.path.join(WORK, "fs.img"))


def checksum_time(build, archive):
    """Milliseconds that the installer's payload checksum of this build
    takes over the archive's bytes, timed alone (tools/crctime; the
    receiver build's under qemu-mipsel); its CRC must be gzip's."""
    command = [os.path.join(build, "tools", "crctime", "crctime"), archive, "5"]
    if build == MIPSEL:
        command = QEMU + command
    crc, ms = subprocess.run(command, check=True, capture_output=True, text=True).stdout.split()
    gzip = subprocess.run(["sh", "-c", 'gzip -c "$1" | tail -c 8 | od -An -tx4', "sh", archive], check=True,
                          capture_output=True, text=True).stdout.split()[0]
    if crc.upper() != gzip.upper():
        raise RuntimeError("crctime of %s gives %s, gzip %s" % (build, crc, gzip))
    return float(ms)


def payload_offset(tap):
    info = subprocess.run([os.path.join(HOST, "tappack"), "info", tap], check=True, capture_output=True,
                          text=True).stdout
    m = re.search(r"payload:\s+offset (\d+) \((0x[0-9A-Fa-f]+)\)", info)
    return m.group(2) if m else "?"


class Bench:
    def __init__(self, place, archive, taps):
        self.place, self.archive, self.taps = place, archive, taps
        self.count = 0

    def fresh(self, name):
        self.count += 1
        folder = os.path.join(self.place.root, "%03d-%s" % (self.count, name))
        os.makedirs(folder)
        return folder

    def command(self, name, tap=None):
        """The command line of one run of name into a fresh folder; the
        installer's TAP file is put onto its disk first, as a user copies
        it onto the receiver (a hard link: the same bytes, no copy)."""
        folder = self.fresh(name)
        if name == "bwrap":
            return ["bwrap"] + BWRAP + ["true"]
        if name == "qemu":
            return QEMU + [os.path.join(MIPSEL, "tapemu"), "--help"]
        if name == "tar":
            return ["tar", "-xf", self.archive, "-C", folder]
        if name == "bsdtar":
            return ["bsdtar", "-xf", self.archive, "-C", folder]
        disk, out = os.path.join(folder, "disk"), os.path.join(folder, "out")
        os.makedirs(os.path.join(disk, "ProgramFiles"))
        os.link(tap or self.taps[name], os.path.join(disk, "ProgramFiles", TAP_NAME))
        keys = "EXIT" if name.startswith("start-") else KEYS  # EXIT: the language screen, then the end
        options = ["--disk", disk, "--out", out, "--keys", keys, "--time", CLOCK]
        if name in ("pc", "start-pc"):
            return [os.path.join(HOST, "tapemu"), "--no-pictures"] + options + ["/ProgramFiles/" + TAP_NAME]
        if name == "pictures":
            return [os.path.join(HOST, "tapemu")] + options + ["/ProgramFiles/" + TAP_NAME]
        return QEMU + [os.path.join(MIPSEL, "tapemu")] + options + ["/ProgramFiles/" + TAP_NAME]

    def time(self, name):
        command = self.command(name)
        os.sync()
        start = time.perf_counter()
        run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL if name == "qemu" else None)
        return time.perf_counter() - start

    def syscalls(self, name):
        """The system calls that the whole process tree of one run made,
        and the run's folder."""
        command = self.command(name)
        folder = os.path.join(self.place.root, "%03d-%s" % (self.count, name))
        os.sync()
        r = subprocess.run(["perf", "stat", "-x", ",", "-e", "raw_syscalls:sys_enter"] + command,
                           capture_output=True, text=True)
        for line in r.stderr.splitlines():
            fields = line.split(",")
            if len(fields) > 2 and "sys_enter" in fields[2] and fields[0].isdigit():
                return int(fields[0]), folder
        return None, folder


def seconds(value):
    return "%.3f" % value


def table(names, times):
    tar = statistics.median(times["tar"])
    what = {"tar": "GNU tar -xf", "bsdtar": "bsdtar -xf", "pc": "installer, PC build, no pictures",
            "pictures": "installer, PC build, with pictures", "mipsel": "installer, receiver build, qemu-mipsel",
            "start-pc": "tapemu start and end, no installation (EXIT), PC build",
            "bwrap": "of that: bwrap with tapemu's sandbox, running true",
            "start-mipsel": "tapemu start and end, no installation (EXIT), receiver build, qemu-mipsel",
            "qemu": "of that: one start of the receiver build's tapemu --help under qemu-mipsel (it starts two)"}
    rows = ["| run | median s | fastest s | slowest s | median / GNU tar |", "|---|---:|---:|---:|---:|"]
    for n in names:
        t = times[n]
        rows.append("| %s | %s | %s | %s | %.2f |" % (what[n], seconds(statistics.median(t)), seconds(min(t)),
                                                     seconds(max(t)), statistics.median(t) / tar))
    return "\n".join(rows)


# What a sample of a profiled run counts for, by the installer's function
# nearest to it on its stack (the TAP has no unwind tables, so the stack
# ends in the TAP's innermost function: the one that made the system or
# firmware call, or that was running).
PARTS = [
    ("log lines", ("LogWriteEntry", "LogEntry", "PrintNet", "StrToISO", "ConvertPathType", "GetPathType",
                   "HDD_ChangeDir", "HDD_TAP_PushDir", "HDD_TAP_PopDir", "HDD_TAP_GetCurrentDir", "TimeFormat",
                   "Now", "PvrTimeToLinux", "createLogFile", "StringEndsWith", "isUTF", "SkipCharTableBytes",
                   "UTF", "FIS_")),
    ("drawing", ("drawScreen", "drawPanels", "drawTitle", "drawButton", "putText", "bodyLine", "exitRoutine")),
    ("checksum of the payload", ("payloadCRC32", "makeCRCTable")),
    ("extraction (files, folders, times)", ("walkArchive", "extractFile", "extractDirectory", "setArchiveTime",
                                           "deliverPayload", "damage", "octalField", "checksumMatches",
                                           "climbsUp", "getFileFlags", "sectionBytesInFile")),
]
REST = "rest of the installer (pre- and post-installation, ELF reader, keys)"
STANDIN = "stand-in: start, loading the TAP, trace, end (receiver side)"
HOSTSIDE = "host side and sandbox: start, bwrap, relay of trace and console"


def split(bench, tap):
    """Where the time of one PC run goes, from a perf profile of its whole
    process tree (cpu-clock samples with their stacks)."""
    perf = os.path.join(WORK, "perf.data")
    # without the sandbox: perf's unwinder cannot follow the stacks of a
    # process in the sandbox's mount namespace once it has ended
    command = bench.command("pc", tap)
    command.insert(1, "--no-sandbox")
    os.sync()
    r = subprocess.run(["perf", "record", "-q", "-o", perf, "-F", "4000", "-e", "cpu-clock", "--call-graph",
                        "dwarf,16384"] + command, capture_output=True, text=True)
    if r.returncode != 0:
        return "(no profile: perf record failed: %s)" % r.stderr.strip()[-200:]
    # The receiver side ran the TAP from a private copy in the sandbox's own
    # /tmp, gone now: the same bytes where perf looks for them.
    maps = subprocess.run(["perf", "script", "-i", perf, "--show-mmap-events", "-F", "comm"],
                          capture_output=True, text=True).stdout
    made = []
    for folder, name in sorted(set(re.findall(r"(/tmp/tapemu-\w+)/(\d+-%s)" % re.escape(TAP_NAME), maps))):
        if not os.path.exists(folder):
            os.makedirs(folder)
            made.append(folder)
        shutil.copyfile(tap, os.path.join(folder, name))
    script = subprocess.run(["perf", "script", "-i", perf, "-F", "comm,pid,ip,sym,dso"], capture_output=True,
                            text=True).stdout
    for folder in made:
        shutil.rmtree(folder)
    os.unlink(perf)
    samples = []
    for sample in script.split("\n\n"):
        lines = [l.strip() for l in sample.strip().splitlines() if l.strip()]
        if lines:
            head = lines[0].split()
            samples.append((head[1] if len(head) > 1 else "?", lines[1:]))
    # the receiver side: the process that ran the TAP's code
    receiver = {pid for pid, frames in samples if any(TAP_NAME + ")" in f for f in frames)}
    counts = {}
    total = len(samples)
    for pid, frames in samples:
        part = STANDIN if pid in receiver else HOSTSIDE
        for frame in frames:
            if TAP_NAME + ")" not in frame:
                continue
            words = frame.split()
            function = words[1] if len(words) > 2 else ""
            part = REST
            for name, functions in PARTS:
                if any(f in function for f in functions):
                    part = name
                    break
            break
        counts[part] = counts.get(part, 0) + 1
    if total == 0:
        return "(no profile: no samples)"
    rows = ["| part of one PC run (no pictures) | share of CPU time |", "|---|---:|"]
    for p in [p for p, _ in PARTS] + [REST, STANDIN, HOSTSIDE]:
        if p in counts:
            rows.append("| %s | %.0f %% |" % (p, 100.0 * counts[p] / total))
    return "\n".join(rows) + ("\n\n(perf record of the whole process tree, %d cpu-clock samples at 4 kHz, "
                              "each counted for the installer's function nearest on its stack; the run "
                              "without the sandbox, so that tapemu checks the paths of the calls that "
                              "change the disk itself, which the kernel does in the sandbox)" % total)


def main():
    runs = 5
    args = sys.argv[1:]
    if len(args) == 2 and args[0] == "--runs":
        runs = int(args[1])
    elif args:
        sys.exit("usage: bench.py [--runs N]")
    os.makedirs(WORK, exist_ok=True)
    archive = os.path.join(WORK, "payload.tar")
    say("bench: making the payload")
    run([sys.executable, os.path.join(TOP, "tools", "bench-payload.py"), archive])
    taps = {}
    for name, build in (("pc", HOST), ("mipsel", MIPSEL)):
        taps[name] = os.path.join(WORK, "%s-%s" % (name, TAP_NAME))
        # the shipped file's code (stripped of debug information), with the bench's payload
        stripped = os.path.join(build, "installer", TAP_NAME.replace(".tap", "-stripped.tap"))
        run([os.path.join(HOST, "tappack"), "pack", stripped, archive, taps[name]],
            stdout=subprocess.DEVNULL)
    taps["pictures"] = taps["start-pc"] = taps["pc"]
    taps["start-mipsel"] = taps["mipsel"]
    place = Place()
    try:
        inside = os.path.join(place.root, "payload.tar")
        shutil.copyfile(archive, inside)
        for name in list(taps):
            inside_tap = os.path.join(place.root, os.path.basename(taps[name]))
            if not os.path.exists(inside_tap):
                shutil.copyfile(taps[name], inside_tap)
            taps[name] = inside_tap
        bench = Bench(place, inside, taps)
        names = ["tar", "bsdtar", "pc", "pictures", "mipsel"]
        limits = ["start-pc", "bwrap", "start-mipsel", "qemu"]
        times = {n: [] for n in names + limits}
        say("bench: %d runs of each on %s (load average %s)" % (runs, place.what, os.getloadavg()[0]))
        for n in names + limits:
            bench.time(n)  # untimed: page cache and programs warm
        for i in range(runs):
            for n in names + limits:
                times[n].append(bench.time(n))
        load = os.getloadavg()[0]

        checksum = [(name, checksum_time(build, inside)) for name, build in (("pc", HOST), ("mipsel", MIPSEL))]
        profile = split(bench, taps["pc"])
        calls = {}
        for name in ("tar", "bsdtar", "pc", "start-pc"):
            calls[name], _ = bench.syscalls(name)
        pc_folder = sorted(d for d in os.listdir(place.root) if d.split("-", 1)[-1] == "pc")[-1]
        log = os.path.join(place.root, pc_folder, "disk", "ProgramFiles", "Settings", "Logs", "Zephyrdesk-Install.log")
        log_lines = sum(1 for _ in open(log, "rb"))
        offsets = (payload_offset(taps["mipsel"]), payload_offset(taps["pc"]))
        pictures = (statistics.median(times["pictures"]) - statistics.median(times["pc"]))
        frames = len([f for f in os.listdir(os.path.join(place.root, sorted(
            d for d in os.listdir(place.root) if d.endswith("-pictures"))[-1], "out")) if f.endswith(".png")])
    finally:
        place.close()

    say("")
    say("Installation of the benchmark payload (485 entries, 19,383,444 bytes in 1930 records), %d runs each, "
        "on %s; load average %.2f after the runs." % (runs, "a loop-mounted ext4 image" if place.mounted
                                                      else "the build's file system", load))
    say("")
    say(table(names, times))
    say("")
    say("What the stand-in costs around any installation (the same rounds):")
    say("")
    say(table(limits, times))
    say("")
    say("One picture costs %.1f ms (with pictures minus without, over %d pictures)." %
        (1000 * pictures / frames, frames))
    say("")
    say("| build | the checksum of the payload alone, ms (crctime, fastest of 5) | share of the run's median |")
    say("|---|---:|---:|")
    for name, ms in checksum:
        say("| %s | %.1f | %.1f %% |" % ("PC" if name == "pc" else "receiver (qemu-mipsel)", ms,
                                        100.0 * ms / (1000 * statistics.median(times[name]))))
    say("")
    say(profile)
    say("")
    say("System calls of one run's whole process tree (perf stat, raw_syscalls:sys_enter): GNU tar %s, bsdtar %s, "
        "installer PC build %s, of them %s for tapemu's start and end (the EXIT run); the installation log has %d "
        "lines." % (calls["tar"], calls["bsdtar"], calls["pc"], calls["start-pc"], log_lines))
    say("")
    say('".Payload" of the receiver TAP starts at %s (PC TAP: %s).' % offsets)
    pc, tar, mips = (statistics.median(times[n]) for n in ("pc", "tar", "mipsel"))
    say("Goals: PC no pictures %.2f x GNU tar (at most 1.3); receiver build %.2f x GNU tar (at most 5)." %
        (pc / tar, mips / tar))
    base_pc, base_mips = statistics.median(times["start-pc"]), statistics.median(times["start-mipsel"])
    say("Without the stand-in's start and end (the EXIT runs): PC %.2f x GNU tar, receiver build %.2f x." %
        ((pc - base_pc) / tar, (mips - base_mips) / tar))
    if load > 0.5:
        say("Note: the machine was busy (load average %.2f); rerun `make bench` on a quiet machine for "
            "figures to compare." % load)


if __name__ == "__main__":
    main()
