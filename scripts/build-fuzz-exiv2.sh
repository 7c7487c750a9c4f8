#!/usr/bin/env bash
# Builds exiv2 of the version Debian has installed, from Debian's own source
# package (its patches, its configuration: BMFF, video readers, web-ready,
# NLS), with clang, AddressSanitizer, UndefinedBehaviorSanitizer and
# libFuzzer's coverage instrumentation, so that the fuzz targets see and
# check exiv2's parsers as well as photomap's own code.
#   build-fuzz-exiv2.sh [PREFIX]     default PREFIX: build/exiv2-fuzz/prefix
# Then configure the fuzz preset against it:
#   cmake --preset fuzz -DPHOTOMAP_EXIV2_PREFIX="$PWD/build/exiv2-fuzz/prefix"
# Needs root (or sudo) only when no deb-src entry exists yet: it then adds
# one, mirroring the machine's Debian deb entries, in
# /etc/apt/sources.list.d/photomap-deb-src.sources. Not part of CI.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD/build/exiv2-fuzz"
prefix="${1:-$root/prefix}"
version="$(dpkg-query -W -f='${Version}' libexiv2-dev)"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
apt=("$PWD/scripts/apt-get.sh" build-fuzz-exiv2)

# A deb-src entry for every Debian deb entry of the machine's deb822 lists.
add_source_entries() {
    local list=/etc/apt/sources.list.d/photomap-deb-src.sources
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /(^|\n)Types:[^\n]*deb/ && /debian/ { sub(/Types:[^\n]*/, "Types: deb-src"); print }' \
        /etc/apt/sources.list.d/debian.sources | $sudo tee "$list" >/dev/null
    $sudo "${apt[@]}" update
}

mkdir -p "$root"
cd "$root"
if [ ! -d src ]; then
    rm -rf download && mkdir download && cd download
    if ! "${apt[@]}" source --only-source --download-only "exiv2=$version"; then
        add_source_entries
        "${apt[@]}" source --only-source --download-only "exiv2=$version"
    fi
    # Unpacks and applies Debian's patches.
    dpkg-source -x ./*.dsc ../src
    cd ..
fi

sanitizers="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
flags="-O1 -g $sanitizers -fno-omit-frame-pointer -Wno-deprecated-declarations"
cmake -S src -B obj -G "Unix Makefiles" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
    -DBUILD_SHARED_LIBS=ON \
    -DEXIV2_ENABLE_BMFF=ON -DEXIV2_ENABLE_NLS=ON -DEXIV2_ENABLE_VIDEO=ON \
    -DEXIV2_ENABLE_WEBREADY=ON -DEXIV2_ENABLE_CURL=OFF \
    -DEXIV2_BUILD_SAMPLES=OFF -DEXIV2_BUILD_EXIV2_COMMAND=OFF \
    -DEXIV2_BUILD_UNIT_TESTS=OFF -DEXIV2_BUILD_DOC=OFF -DEXIV2_ENABLE_LENSDATA=ON
cmake --build obj -j "${PHOTOMAP_JOBS:-1}"
cmake --install obj >/dev/null
echo "exiv2 $version with sanitizers and fuzzing instrumentation in $prefix"
