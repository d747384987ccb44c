#!/bin/sh
# Makes the fuzz targets' seed corpora in tests/fuzz-seeds/<target>/ from
# real files: the TAPs of both builds (cut down to their identity
# sections, or the test TAPs stripped), archives of the payload tree and
# of edge cases made with GNU tar, installer files packed from them with
# tappack, and the example strings, paths and times of the support
# library.  Run it from the top of the source tree after `make build`;
# the seeds are committed, so only a change of the formats needs it again.
set -e
top=$(pwd)
seeds=$top/tests/fuzz-seeds
host=$top/build/host
mipsel=$top/build/mipsel
for f in "$host/tappack" "$host/installer/Zephyrdesk-Install-stripped.tap" \
         "$mipsel/installer/Zephyrdesk-Install-stripped.tap" "$mipsel/tests/taps/Sketch.tap"; do
    [ -e "$f" ] || { echo "make-fuzz-seeds: $f is missing; run make build first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$seeds"
mkdir -p "$seeds/extract" "$seeds/tapinfo" "$seeds/tappack" "$seeds/strtoutf8" "$seeds/strtoiso" \
         "$seeds/paths" "$seeds/timeformat"

# ---- Archives, as the build makes them and with every kind of entry ----

# GNU tar as tappack runs it, with a fixed time (11 February 2018).
gnutar() {
    tar --create --format=gnu --sort=name --owner=0 --group=0 --numeric-owner \
        --mode=a+rX,u+w,go-w --mtime=@1518307200 "$@"
}

# A sample of the payload tree with its folders, long names among them.
p=mnt/hd/ProgramFiles
z=$p/Settings/Zephyrdesk
h=$z/public_html/help/recording-and-timer-management/troubleshooting
mkdir -p "$work/payload"
(cd "$top/payload" && tar -cf - mnt/hd/ProgramFiles/FirmwareTMS.dat $z/epgsearch \
    "$h/conflicts-between-overlapping-timers-on-the-same-tuner/what-to-do-when-two-timers-overlap-on-one-tuner.html") |
    (cd "$work/payload" && tar -xf -)
(cd "$work/payload" && find mnt | sort > "$work/payload.list" &&
    gnutar --no-recursion --blocking-factor=20 --file="$seeds/extract/payload-sample.tar" -T "$work/payload.list")

# Entries of every size class and kind: empty, one block, a byte over, a
# name of exactly 100 characters, the three flagged files, a link, a hard
# link, a named pipe.
e=$work/edge
mkdir -p "$e/$p/Settings"
: > "$e/$p/empty.txt"
head -c 512 /dev/zero | tr '\0' 'a' > "$e/$p/block.txt"
head -c 513 /dev/zero | tr '\0' 'b' > "$e/$p/block-and-one.txt"
hundred=$p/Settings/$(printf '%*s' $((100 - ${#p} - 10)) '' | tr ' ' 'n')
echo "exactly 100 characters" > "$e/$hundred"
echo "firmware list" > "$e/$p/FirmwareTMS.dat"
echo "not a TAP" > "$e/$p/Zephyrdesk.tap"
echo "not a TAP either" > "$e/$p/Zephyrdesk-Config.tap"
ln -s Zephyrdesk.tap "$e/$p/link.tap"
ln "$e/$p/block.txt" "$e/$p/Settings/hard.txt"
mkfifo "$e/$p/Settings/pipe"
(cd "$e" && find mnt | sort > "$work/edge.list" &&
    gnutar --no-recursion --blocking-factor=1 --file="$seeds/extract/edge-entries.tar" -T "$work/edge.list" &&
    tar --create --format=posix --blocking-factor=1 --owner=0 --group=0 --numeric-owner --mtime=@1518307200 \
        --pax-option=delete=atime,delete=ctime --file="$seeds/extract/pax.tar" "$p/block-and-one.txt" "$hundred" &&
    tar --create --format=ustar --blocking-factor=1 --owner=0 --group=0 --numeric-owner --mtime=@1518307200 \
        --file="$seeds/extract/ustar.tar" "$hundred")
gnutar --blocking-factor=1 --file="$seeds/extract/empty.tar" -T /dev/null

# ---- TAP files of both builds, cut down ----------------------------------

# The identity sections of a TAP only, unallocated so that objcopy packs them.
flags=""
for n in id program_name author_name description program_version etcinfo header; do
    flags="$flags --set-section-flags ._tap_$n=contents,readonly"
done
objcopy --only-section='._tap_*' $flags "$host/installer/Zephyrdesk-Install-stripped.tap" \
    "$work/host-installer.tap" 2>/dev/null
mipsel-linux-gnu-objcopy --only-section='._tap_*' $flags "$mipsel/installer/Zephyrdesk-Install-stripped.tap" \
    "$work/mipsel-installer.tap" 2>/dev/null
for build in host mipsel; do
    cp "$work/$build-installer.tap" "$seeds/tapinfo/$build-installer-identity.tap"
    SOURCE_DATE_EPOCH=1518307200 "$host/tappack" pack "$work/$build-installer.tap" "$seeds/extract/edge-entries.tar" \
        "$seeds/tappack/$build-installer-edge.tap" 2>/dev/null
    "$host/tappack" pack "$work/$build-installer.tap" "$seeds/extract/empty.tar" \
        "$seeds/tapinfo/$build-installer-empty.tap"
done
"$host/tappack" pack "$work/mipsel-installer.tap" "$seeds/extract/payload-sample.tar" \
    "$seeds/tappack/mipsel-installer-sample.tap"
for tap in Sketch ProbeA NoId Quitter; do
    mipsel-linux-gnu-strip --strip-all -o "$seeds/tapinfo/mipsel-$tap.tap" "$mipsel/tests/taps/$tap.tap"
done
cp "$seeds/tapinfo/mipsel-Sketch.tap" "$seeds/tappack/mipsel-Sketch.tap"

# ---- Strings, paths and times --------------------------------------------

text() { printf "$2" > "$3/$1"; }
for target in strtoutf8 strtoiso; do
    d=$seeds/$target
    text utf8-grusse 'Gr\303\274\303\237e' "$d"
    text iso-grusse 'Gr\374\337e' "$d"
    text utf8-euro 'Preis 5 \342\202\254' "$d"
    text selector-utf8 '\025Gr\303\274\303\237e' "$d"
    text selector-table-16bit '\020\000\005T\374rkiye' "$d"
    text selector-identifier '\037\001text' "$d"
    text selector-8859-5 '\001\274\336\341\332\322\320' "$d"
    text iso6937-pairs 'M\310unchen, Caf\302e' "$d"
    text iso6937-mark-at-end 'abc\310' "$d"
    text installer-german 'W\344hle die Sprache' "$d"
    text mixed 'a\303\251 \351' "$d"
    text malformed '\303(\300\200\360\237\230\200\351' "$d"
    text lone-selector '\020' "$d"
done
# paths: the first byte picks the working directory (0 /, 1 /ProgramFiles,
# 2 /ProgramFiles/Settings, 3 its Logs), the rest is the path
d=$seeds/paths
text log-name '\001Zephyrdesk-Install.log' "$d"
text tap-dir '\001/ProgramFiles/Settings/' "$d"
text relative-dir '\001Settings/' "$d"
text root '\000/' "$d"
text linux-dir '\002/mnt/hd/ProgramFiles/' "$d"
text tap-file '\001/ProgramFiles/Zephyrdesk.tap' "$d"
text relative-file '\001Settings/setup.ini' "$d"
text linux-file '\003/mnt/hd/ProgramFiles/Zephyrdesk.tap' "$d"
text dot '\002.' "$d"
text dot-dot '\003..' "$d"
text mount '\000/mnt/hd' "$d"
text other-mount '\000/mnt/hdx/file' "$d"
text link '\001Link/x' "$d"
text long "\\001/ProgramFiles/$(printf '%*s' 500 '' | tr ' ' 'd')/x.tap" "$d"
# times: the firmware time (little-endian), the second, a format code
d=$seeds/timeformat
text leap-day '\005\015\147\340\011\005\000\000\000' "$d"
text no-date '\005\015\000\000\011\005\000\000\000' "$d"
text hour-25 '\005\031\147\340\011\004\000\000\000' "$d"
text all-ones '\377\377\377\377\377\377\000\000\000' "$d"
echo "seeds in $seeds:"
for d in "$seeds"/*; do echo "  $(basename "$d"): $(ls "$d" | wc -l) files, $(cat "$d"/* | wc -c) bytes"; done
