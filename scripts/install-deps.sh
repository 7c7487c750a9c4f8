#!/usr/bin/env bash
# Installs the Debian packages that photomap's builds and tests need.
#   install-deps.sh host    what the Linux build, its run and its .deb need
#   install-deps.sh test    that, plus what every test needs
# Run as root, or as a user who may use sudo. Packages already present are
# left alone, so a second run is quick.
set -euo pipefail

want="${1:-host}"
host_packages=(cmake g++ make pkg-config libexiv2-dev libseccomp-dev zlib1g-dev xdg-utils
    dpkg-dev)
test_packages=(googletest exiv2 libimage-exiftool-perl imagemagick python3 python3-pefile util-linux
    file lintian desktop-file-utils libglib2.0-bin zenity xvfb xdotool at-spi2-core
    python3-pyatspi libheif-examples strace valgrind chromium clang libclang-rt-dev
    libgtest-dev libjxr-tools debootstrap
    python3-nautilus gir1.2-caja-2.0 python3-caja thunar devscripts
    python3-fusepy fuse3 ccache)

packages=("${host_packages[@]}")
[ "$want" = test ] && packages+=("${test_packages[@]}")

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
updated=no
update_once() {
    [ "$updated" = yes ] || $sudo "$(dirname "$0")/apt-update.sh" install-deps
    updated=yes
}

candidate() { apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p'; }
known() { [ -n "$(candidate "$1")" ] && [ "$(candidate "$1")" != "(none)" ]; }

# Debian 13 ships libheif's encoders as plugins of libheif's own version;
# Debian 12 builds them in (the plugins in its backports would not match).
heif_encoders() {
    local libheif plugin
    known libheif1 || return 0
    libheif=$(candidate libheif1)
    for plugin in libheif-plugin-x265 libheif-plugin-aomenc; do
        [ "$(candidate "$plugin")" = "$libheif" ] && echo "$plugin"
    done
    return 0
}
# The file manager tests load GNOME Files' extension API from its typelib,
# whose package is named after the API's version.
nautilus_typelib() {
    local name
    for name in gir1.2-nautilus-4.1 gir1.2-nautilus-4.0; do
        known "$name" && { echo "$name"; return 0; }
    done
    return 0
}
if [ "$want" = test ]; then
    known libheif1 || update_once  # a machine that has never fetched the lists
    mapfile -t -O ${#packages[@]} packages < <(heif_encoders; nautilus_typelib)
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

update_once
$sudo env DEBIAN_FRONTEND=noninteractive "$(dirname "$0")/apt-get.sh" install-deps \
    install -y --no-install-recommends "${missing[@]}"
