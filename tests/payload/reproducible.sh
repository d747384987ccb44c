#!/bin/sh
# reproducible.sh SOURCE BUILD SECOND [cmake options...]
# Configures SECOND afresh from SOURCE, builds only the TAP files there and
# compares them byte for byte with those of BUILD: the installer, its debug
# copy and the product TAPs as the payload carries them.
set -e
source=$1 build=$2 second=$3
shift 3
rm -rf "$second"
mkdir -p "$second"
log=$second.log
if ! cmake -S "$source" -B "$second" "$@" > "$log" 2>&1 ||
   ! env -u MAKEFLAGS cmake --build "$second" -j2 --target Zephyrdesk-Install >> "$log" 2>&1; then
    cat "$log"
    echo "the second build failed"
    exit 1
fi
status=0
for file in Zephyrdesk-Install.tap Zephyrdesk-Install-debug.tap \
            payload-tree/mnt/hd/ProgramFiles/Zephyrdesk.tap payload-tree/mnt/hd/ProgramFiles/Zephyrdesk-Config.tap; do
    if cmp "$build/$file" "$second/$file"; then
        echo "same: $file"
    else
        echo "DIFFERENT: $file (built in $build and in $second)"
        status=1
    fi
done
[ $status = 0 ] && rm -rf "$second" "$log"
exit $status
