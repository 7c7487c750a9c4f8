#!/usr/bin/env bash
# Installs the Debian packages that photomap's builds and tests need.
#   install-deps.sh host    what the Linux build and its run need
#   install-deps.sh test    that, plus what every test needs
# Run as root, or as a user who may use sudo. Packages already present are
# left alone, so a second run is quick.
set -euo pipefail

want="${1:-host}"
host_packages=(cmake g++ make pkg-config libexiv2-dev xdg-utils)
test_packages=(googletest exiv2 imagemagick python3 python3-pefile util-linux
    dpkg-dev desktop-file-utils zenity xvfb xdotool tesseract-ocr tesseract-ocr-eng
    libheif-examples strace valgrind clang libclang-rt-14-dev)

packages=("${host_packages[@]}")
[ "$want" = test ] && packages+=("${test_packages[@]}")

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
