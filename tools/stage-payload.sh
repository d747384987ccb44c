#!/bin/sh
# Stages the installer's payload tree (the build runs it):
#   stage-payload.sh SOURCE_MNT TREE STRIP FONT LICENCE TAP...
# TREE is made afresh: TREE/mnt is a copy of SOURCE_MNT; the font and its
# licence go to mnt/hd/ProgramFiles/Settings/Fonts/, each TAP, stripped of
# debug information, to mnt/hd/ProgramFiles/.
set -e
source=$1 tree=$2 strip=$3 font=$4 licence=$5
shift 5
rm -rf "$tree"
mkdir -p "$tree"
cp -R "$source" "$tree/mnt"
programs=$tree/mnt/hd/ProgramFiles
mkdir -p "$programs/Settings/Fonts"
cp "$font" "$programs/Settings/Fonts/"
cp "$licence" "$programs/Settings/Fonts/DejaVu-copyright.txt"
for tap in "$@"; do
    "$strip" --strip-debug -R .comment -R .pdr -o "$programs/$(basename "$tap")" "$tap"
done
