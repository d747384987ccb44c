#!/bin/sh
# The same TAPs and key script give the same trace.txt and console.bin on
# the PC build and on the receiver build (under qemu-mipsel), byte for
# byte: the test TAPs together, and the installer through all its screens
# (leaving from the target screen).  Exits 77 (skipped) when there is no PC build to compare with.
#
# usage: same-trace.sh PC_TAPEMU PC_TAP_DIR RECEIVER_TAPEMU RECEIVER_TAP_DIR WORK_DIR
pc=$1 pcTaps=$2 receiver=$3 receiverTaps=$4 work=$5
if [ ! -x "$pc" ] || [ ! -f "$pcTaps/Sketch.tap" ]; then
    echo "no PC build of tapemu at $pc: skipped"
    exit 77
fi
run() { # side, program...
    side=$1
    shift
    rm -rf "$work/$side"
    mkdir -p "$work/$side/disk/ProgramFiles" || exit 1
    "$@" --disk "$work/$side/disk" --out "$work/$side/out" --keys "$keys" --language 2 \
        --time "2016-02-29 13:05:09" --no-pictures $taps >/dev/null || {
        echo "tapemu failed on the $side build"
        exit 1
    }
}
status=0
compare() { # what
    run pc "$pc"
    taps=$(echo "$taps" | sed "s|$pcTaps|$receiverTaps|g")
    run receiver qemu-mipsel -L /usr/mipsel-linux-gnu "$receiver"
    for f in trace.txt console.bin; do
        if ! cmp "$work/pc/out/$f" "$work/receiver/out/$f"; then
            diff "$work/pc/out/$f" "$work/receiver/out/$f" | head -20
            status=1
        else
            echo "$1: same $f ($(wc -c <"$work/pc/out/$f") bytes) on both builds"
        fi
    done
}
keys="IDLE OK FORWARD BACK 0x10055 PANEL_OK OK EXIT 0x2000000"
taps="$pcTaps/Sketch.tap $pcTaps/TwinA.tap $pcTaps/TwinB.tap"
compare "test TAPs"
# The installer sits at the top of each build folder, two levels above its
# test TAPs: through all its screens and out from the target screen (an
# installation itself differs between the builds, whose payloads carry
# their own TAPs; the installation tests run it on each build).
keys="FORWARD FORWARD FORWARD FORWARD OK FORWARD FORWARD EXIT"
taps="$pcTaps/../../Zephyrdesk-Install.tap"
compare "installer"
exit $status
