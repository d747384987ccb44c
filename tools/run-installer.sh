#!/bin/sh
# `make run`: the installer in the stand-in receiver, on each build, on a
# fresh disk folder, as a user meets it.  First boot: the language screen
# in all four languages, the target "/ProgramFiles/AutoStart", the
# installation with its progress screens, the finished screen, EXIT.
# Second boot, on the installed disk with --autostart: the main Zephyrdesk
# TAP starts from /ProgramFiles/AutoStart, then the installer again, which
# stops it and installs into "/ProgramFiles" (the copy into AutoStart
# follows, since the TAP was there).
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
run=$top/build/run
install_keys="FORWARD FORWARD FORWARD FORWARD OK BACK BACK OK EXIT"
reinstall_keys="OK BACK OK EXIT"
log=ProgramFiles/Settings/Logs/Zephyrdesk-Install.log
# Both builds see the same receiver clock.
now=$(date -u "+%Y-%m-%d %H:%M:%S")

rm -rf "$run"
tapemu() { # build, boot, keys, options...
    build=$1 boot=$2 keys=$3
    shift 3
    case $build in
    host) set -- "$top/build/host/tapemu" "$@" ;;
    mipsel) set -- qemu-mipsel -L /usr/mipsel-linux-gnu "$top/build/mipsel/tapemu" "$@" ;;
    esac
    "$@" --disk "$run/$build/disk" --out "$run/$build/$boot" --keys "$keys" --time "$now" \
        >"$run/$build/$boot.txt" || {
        echo "tapemu failed on the $build build ($boot boot); see $run/$build/$boot.txt"
        exit 1
    }
}
for build in host mipsel; do
    mkdir -p "$run/$build/disk/ProgramFiles/AutoStart"
    tapemu $build install "$install_keys" "$top/build/$build/Zephyrdesk-Install.tap"
    tapemu $build reboot "$reinstall_keys" --autostart /ProgramFiles/Zephyrdesk-Install.tap
done

pictures() { ls "$1" | grep -c '\.png$' || true; }
# The last picture is the screen after the installer has left it; the one
# before it is the finished install screen.
final=$(ls "$run/host/install" | grep '\.png$' | tail -n 2 | head -n 1)
cat <<MSG
The installer ran in the stand-in receiver on both builds, on the clock $now UTC.
First boot, keys: $install_keys
Second boot (--autostart, the installed main TAP first), keys: $reinstall_keys

PC build (build/host/Zephyrdesk-Install.tap):
  installed disk    $run/host/disk  (the receiver's /mnt/hd)
  installation log  $run/host/disk/$log
  screenshots       $run/host/install/screen-*.png ($(pictures "$run/host/install") pictures, one per screen update;
                    the finished screen is $final), $run/host/reboot/screen-*.png ($(pictures "$run/host/reboot"))
  firmware traces   $run/host/install/trace.txt, $run/host/reboot/trace.txt
  console output    $run/host/install/console.bin, $run/host/reboot/console.bin
Receiver build (build/mipsel/Zephyrdesk-Install.tap under qemu-mipsel; no screenshots):
  installed disk    $run/mipsel/disk
  installation log  $run/mipsel/disk/$log
  firmware traces   $run/mipsel/install/trace.txt, $run/mipsel/reboot/trace.txt
  console output    $run/mipsel/install/console.bin, $run/mipsel/reboot/console.bin

Second boot on the PC build: the main TAP said "$(tr -d '\000' <"$run/host/reboot/console.bin" | grep -m 1 'Zephyrdesk 2.20 started')"
and the reinstall logged:
$(grep -a -e 'TAPID' -e 'Terminating' -e 'Copying' -e 'Return code' -e 'Installation complete' "$run/host/disk/$log" | tail -n 5 | sed 's/^/  /')
MSG

# The builds' payloads carry their own TAPs: apart from those files, their
# sizes, the payload's place in the installer and the moment the first
# boot changed the firmware table (its ctime), both must have installed the
# same and logged the same.
same=1
diff -r -x '*.tap' -x Zephyrdesk-Install.log "$run/host/disk" "$run/mipsel/disk" || same=0
mask() {
    sed -e 's/^.\{19\} //' -e 's/Payload offset: [0-9]*, payload size: [0-9]*/Payload offset: N, payload size: N/' \
        -e "/\.tap', [0-9]* bytes/s/[0-9]* bytes/N bytes/" -e 's/ctime [0-9]*\./ctime N./' "$1"
}
mask "$run/host/disk/$log" >"$run/host/log-masked.txt"
mask "$run/mipsel/disk/$log" >"$run/mipsel/log-masked.txt"
cmp -s "$run/host/log-masked.txt" "$run/mipsel/log-masked.txt" || {
    diff "$run/host/log-masked.txt" "$run/mipsel/log-masked.txt" | head -20
    same=0
}
if [ $same = 1 ]; then
    echo "Both builds installed the same files and logged the same lines (apart from their own TAPs and payload size)."
else
    echo "The two builds installed or logged differently (see above)."
    exit 1
fi
