#!/bin/sh
# The same TAPs and key script give the same trace.txt and console.bin on
# the PC build and on the receiver build (under qemu-mipsel), byte for
# byte.  Exits 77 (skipped) when there is no PC build to compare with.
#
# usage: same-trace.sh PC_TAPEMU PC_TAP_DIR RECEIVER_TAPEMU RECEIVER_TAP_DIR WORK_DIR
pc=$1 pcTaps=$2 receiver=$3 receiverTaps=$4 work=$5
if [ ! -x "$pc" ] || [ ! -f "$pcTaps/Sketch.tap" ]; then
    echo "no PC build of tapemu at $pc: skipped"
    exit 77
fi
keys="IDLE OK FORWARD BACK 0x10055 PANEL_OK OK EXIT 0x2000000"
run() { # side, taps folder, program...
    side=$1 taps=$2
    shift 2
    rm -rf "$work/$side"
    mkdir -p "$work/$side/disk/ProgramFiles" || exit 1
    "$@" --disk "$work/$side/disk" --out "$work/$side/out" --keys "$keys" --language 2 \
        --time "2016-02-29 13:05:09" --no-pictures \
        "$taps/Sketch.tap" "$taps/TwinA.tap" "$taps/TwinB.tap" >/dev/null || {
        echo "tapemu failed on the $side build"
        exit 1
    }
}
run pc "$pcTaps" "$pc"
run receiver "$receiverTaps" qemu-mipsel -L /usr/mipsel-linux-gnu "$receiver"
status=0
for f in trace.txt console.bin; do
    if ! cmp "$work/pc/out/$f" "$work/receiver/out/$f"; then
        diff "$work/pc/out/$f" "$work/receiver/out/$f" | head -20
        status=1
    fi
done
[ "$status" = 0 ] && echo "same trace.txt ($(wc -l <"$work/pc/out/trace.txt") lines) and console.bin on both builds"
exit $status
