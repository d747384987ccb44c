#!/bin/sh
# `make run`: the installer in the stand-in receiver, on a fresh disk
# folder, driven by a key script that walks through every screen: the
# language screen in all four languages, the target screen with each
# option highlighted, the install screen, and out again with EXIT.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
run=$top/build/run
keys="FORWARD FORWARD FORWARD FORWARD OK FORWARD FORWARD OK EXIT"
# Both runs see the same receiver clock, so that their traces can be compared.
now=$(date -u "+%Y-%m-%d %H:%M:%S")

rm -rf "$run"
for target in host mipsel; do
    mkdir -p "$run/$target/disk/ProgramFiles"
done

"$top/build/host/tapemu" --disk "$run/host/disk" --out "$run/host/out" \
    --keys "$keys" --time "$now" "$top/build/host/Zephyrdesk-Install.tap" > "$run/host/stdout.txt"
qemu-mipsel -L /usr/mipsel-linux-gnu "$top/build/mipsel/tapemu" --disk "$run/mipsel/disk" \
    --out "$run/mipsel/out" --keys "$keys" --time "$now" "$top/build/mipsel/Zephyrdesk-Install.tap" \
    > "$run/mipsel/stdout.txt"

cat <<MSG
The installer ran in the stand-in receiver with the keys: $keys

PC build (build/host/Zephyrdesk-Install.tap):
  screenshots     $run/host/out/screen-*.png ($(ls "$run/host/out" | grep -c '\.png$') pictures, one per screen update)
  firmware trace  $run/host/out/trace.txt
  console output  $run/host/out/console.bin
  disk folder     $run/host/disk  (the receiver's /mnt/hd)
Receiver build (build/mipsel/Zephyrdesk-Install.tap under qemu-mipsel):
  firmware trace  $run/mipsel/out/trace.txt
  console output  $run/mipsel/out/console.bin
  disk folder     $run/mipsel/disk
MSG
if cmp -s "$run/host/out/trace.txt" "$run/mipsel/out/trace.txt"; then
    echo "The two traces are the same."
else
    echo "The two traces differ: diff $run/host/out/trace.txt $run/mipsel/out/trace.txt"
    exit 1
fi
