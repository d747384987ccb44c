#!/bin/sh
# The confinement of tapemu's sandbox, tried by a hostile TAP (Hostile.tap,
# tests/taps/hostile.cpp): every attempt to create, change or delete a
# file of a canary folder beside the disk and output folders fails, the
# canary is the same before and after (every file, mode, time, link count,
# extended attribute and byte), and tapemu neither crashes nor loses its
# trace.  tapemu runs twice on the same disk, so the second run also puts
# the TAP file where the first one planted a link to the canary (a write
# through it would show in the canary).  A control run without
# the sandbox, on a canary of its own, shows that the attempts are real:
# there the canary changes.  Exits 77 (skipped) where the sandbox cannot
# be made.
#
# usage: hostile.sh WORK_DIR TAP_DIR TAPEMU_COMMAND...
work=$1 taps=$2
shift 2
if ! check=$("$@" --sandbox-check 2>&1); then
    echo "$check"
    echo "skipped: tapemu cannot make its sandbox on this machine"
    exit 77
fi
echo "$check"
status=0
fail() {
    echo "FAILED: $*"
    status=1
}

# The canary: files, a read-only one, a folder, an empty folder, a
# symbolic link, two hard links of one file and an extended attribute, all
# with a time of the past.
makeCanary() { # folder
    mkdir -p "$1/dir" "$1/empty"
    printf 'canary victim\n' >"$1/victim"
    printf 'read only\n' >"$1/readonly"
    chmod 0444 "$1/readonly"
    printf 'inner\n' >"$1/dir/inner"
    ln -s victim "$1/link"
    printf 'hard\n' >"$1/hard1"
    ln "$1/hard1" "$1/hard2"
    setfattr -n user.canary -v 1 "$1/victim" || fail "no extended attributes in $1"
    find "$1" -depth -exec touch -h -d "2015-06-01 12:00:00" {} +
}

# Everything that a change would show, in an order of its own.
snapshot() { # folder
    (
        cd "$1" || exit 1
        find . -printf '%p %y mode %m links %n size %s owner %U:%G inode %i mtime %T@ ctime %C@ -> %l\n' | sort
        find . -type f -exec sha256sum {} + | sort -k 2
        getfattr -R -h -d -m - . 2>/dev/null
    )
}

setup() { # folder [control]
    rm -rf "$1"
    mkdir -p "$1/disk/ProgramFiles" "$1/out"
    makeCanary "$1/canary"
    {
        echo "canary $1/canary"
        echo "out $1/out"
        echo "pts 0"
        [ -n "$2" ] && echo "control"
    } >"$1/disk/hostile.cfg"
}

run() { # folder, then tapemu's options
    folder=$1
    shift
    "$@" --disk "$folder/disk" --out "$folder/out" --keys "EXIT" --no-pictures --time "2016-02-29 13:05:09" \
        "$taps/Hostile.tap" >"$folder/stdout.txt" 2>"$folder/stderr.txt"
}

# ---- The control run: no sandbox, so the attempts reach the canary ----
control=$work/control
setup "$control" control
snapshot "$control/canary" >"$control/before.txt"
tapemu=$*
run "$control" "$@" --no-sandbox
snapshot "$control/canary" >"$control/after.txt"
if cmp -s "$control/before.txt" "$control/after.txt"; then
    fail "without the sandbox the hostile TAP changed nothing in its canary: its attempts are no real ones"
else
    echo "control run without the sandbox: the canary changed, $(diff "$control/before.txt" "$control/after.txt" | grep -c '^>') line(s) of its listing differ"
fi

# ---- Two runs in the sandbox ------------------------------------------
box=$work/sandbox
setup "$box"
snapshot "$box/canary" >"$box/before.txt"
for round in 1 2; do
    rm -f "$box/disk/hostile-report.txt"
    run "$box" "$@"
    code=$?
    cp "$box/disk/hostile-report.txt" "$box/report-$round.txt" 2>/dev/null || fail "run $round: no report"
    cp "$box/out/trace.txt" "$box/trace-$round.txt" 2>/dev/null
    [ $code = 0 ] || fail "run $round: tapemu exited with $code: $(cat "$box/stderr.txt")"
    # the shell's complaints about the read-only canary come through; tapemu's own would be a fault
    grep '^tapemu: ' "$box/stderr.txt" && fail "run $round: tapemu complained"
    # the first run leaves a link where the second one's copy of the TAP goes
    [ $round = 1 ] && [ ! -L "$box/disk/ProgramFiles/Hostile.tap" ] &&
        fail "the first run planted no link in place of its own TAP file"
    last=$(tail -n 1 "$box/trace-$round.txt")
    [ "$last" = 'SLOT 0 "/ProgramFiles/Hostile.tap" id 0x51525695 heap 0 dirstack unknown ended by TAP_Exit' ] ||
        fail "run $round: the trace does not end with the closing summary: $last"
    grep -q '^TAP_Print "hostile: [0-9]* attempts made\\x0A"' "$box/trace-$round.txt" ||
        fail "run $round: the trace misses the TAP's last line"
    grep -q '^TAP_Print "hostile: system(\\"exit 3\\") -> 768\\x0A"' "$box/trace-$round.txt" ||
        fail "run $round: system() is not the receiver's own shell"
    for group in descriptor constructor libc at raw loader exec state race cwd temp node socket xattr handle \
        planted kernel terminal; do
        grep -q "^$group: " "$box/report-$round.txt" || fail "run $round: no attempts of group $group"
    done
    # pipes to the host side, the console terminal the receiver keeps open,
    # and what it opened itself on the disk
    if grep '^descriptor: ' "$box/report-$round.txt" | grep -v -e '-> pipe:' -e '-> /dev/pts/' -e '-> /mnt/hd/' |
        grep .; then
        fail "run $round: the TAP holds a descriptor of a file of the PC"
    fi
    if grep '^kernel: ' "$box/report-$round.txt" | grep -v -- '-> refused' | grep .; then
        fail "run $round: the sandbox allowed a call it refuses"
    fi
done
snapshot "$box/canary" >"$box/after.txt"
if ! cmp -s "$box/before.txt" "$box/after.txt"; then
    fail "the canary changed in the sandbox:"
    diff "$box/before.txt" "$box/after.txt"
fi
for f in trace.txt console.bin; do
    [ -f "$box/out/$f" ] && [ ! -L "$box/out/$f" ] || fail "out/$f is no plain file"
done

echo "What the hostile TAP's attempts got in the sandbox ($tapemu):"
cat "$box/report-1.txt"
[ $status = 0 ] && echo "the canary is unchanged after two runs of the hostile TAP in the sandbox"
exit $status
