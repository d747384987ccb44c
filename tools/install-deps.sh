#!/bin/sh
# Installs the Debian packages that the builds, the tests and the fuzz
# targets need: as root with apt-get, otherwise it prints the one command
# to run and fails.
PACKAGES="cmake make g++ binutils g++-mipsel-linux-gnu qemu-user googletest libpng-dev libfreetype-dev fonts-dejavu-core zlib1g-dev libelf-dev bubblewrap libseccomp-dev attr libsdl2-dev libx11-dev xvfb xdotool x11-apps clang-14 libclang-rt-14-dev llvm-14"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ]; then
    echo "Installing:$missing"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null || exit 1
else
    echo "Missing Debian packages. Run as root:"
    echo "  apt-get install -y$missing"
    exit 1
fi
