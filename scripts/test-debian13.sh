#!/usr/bin/env bash
# Builds photomap and passes its host suite (every label of the plain build:
# unit, e2e, desktop, browser) in a Debian 13 system, whose exiv2 is 0.28,
# GCC 14 and desktop newer, then builds the .deb there and installs, runs and
# removes it. The system is made with debootstrap from the Debian archive
# this machine's apt already uses, outside the clone, and kept for the next
# run of any clone; so is its compiler cache. Run as root.
#   PHOTOMAP_DEBIAN13_ROOT   where the system lives (default
#                            /var/cache/photomap/debian13)
#   PHOTOMAP_DEBIAN_MIRROR   the archive to use instead
#   PHOTOMAP_DEBIAN13_ASAN=1 adds the sanitizer build's unit and e2e tests
#   PHOTOMAP_TEST_JOBS       tests run at once (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
root=${PHOTOMAP_DEBIAN13_ROOT:-/var/cache/photomap/debian13}
staging=$root.partial
started=$SECONDS
mkdir -p "$(dirname "$root")"
# One run at a time uses the system: two clones would copy over each other.
exec 9>"$root.lock"
flock -w 3600 9 || { echo "test-debian13: $root.lock stayed locked" >&2; exit 1; }

# The archive that serves this machine's own release, from one-line or
# deb822 apt sources.
debian_mirror() {
    local codename file sources=()
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
        /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] && sources+=("$file")
    done
    [ ${#sources[@]} -gt 0 ] || return 0
    awk -v suite="$codename" '
        FNR == 1 { uris = ""; found = 0 }
        done { next }
        /^deb / { sub(/\[[^]]*\] */, ""); if ($3 == suite) { print $2; done = 1 } }
        /^URIs:/ { uris = $2 }
        /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) found = 1 }
        /^[ \t]*$/ { if (found && uris != "") { print uris; done = 1 } uris = ""; found = 0 }
        END { if (!done && found && uris != "") print uris }
    ' "${sources[@]}"
}

# Everything mounted under `where` (debootstrap's own mounts included),
# deepest first.
mounts_under() { awk -v top="$1/" 'index($2, top) == 1 { print $2 }' /proc/mounts | sort -r; }

unmount_under() {
    local point
    for point in $(mounts_under "$1"); do
        umount "$point" || umount --lazy "$point"
    done
}

# Unmounts, on every path, what this script and debootstrap mounted.
cleanup() {
    unmount_under "$root"
    unmount_under "$staging"
}
trap cleanup EXIT

make_system() {
    [ -f "$root/etc/photomap-debian13" ] && return 0
    local mirror=${PHOTOMAP_DEBIAN_MIRROR:-$(debian_mirror)}
    if [ -z "$mirror" ]; then
        echo "test-debian13: no Debian archive in this machine's apt sources;" \
            "set PHOTOMAP_DEBIAN_MIRROR" >&2
        exit 1
    fi
    # Made aside and moved into place whole, so a broken run leaves nothing
    # that looks ready. Never delete through a mount.
    cleanup
    [ -z "$(mounts_under "$staging")$(mounts_under "$root")" ] || exit 1
    rm -rf "$staging" "$root"
    echo "test-debian13: making Debian 13 from $mirror"
    debootstrap --variant=minbase trixie "$staging" "$mirror" >"$staging.log" 2>&1 || {
        tail -20 "$staging.log" >&2
        exit 1
    }
    # Packages do not start services here.
    printf '#!/bin/sh\nexit 101\n' >"$staging/usr/sbin/policy-rc.d"
    chmod 755 "$staging/usr/sbin/policy-rc.d"
    touch "$staging/etc/photomap-debian13"
    mv "$staging" "$root"
}

# The checkout as it is now, over what the last run copied. Its build/
# folder stays (the configure steps are kept), but every file is copied as
# new (tar -m): a source whose time stamp is older than what the last run
# built from it would otherwise not be rebuilt.
copy_checkout() {
    local copy=$root/src/photomap
    mkdir -p "$copy"
    find "$copy" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
    if git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1; then
        git -C "$source_dir" ls-files -z --cached --others --exclude-standard |
            tar --null --files-from=- -cf - | tar -xmf - -C "$copy"
    else
        tar --exclude=./build -cf - . | tar -xmf - -C "$copy"
    fi
}

bind_into_system() {
    local point
    for point in /proc /dev; do
        mountpoint -q "$root$point" || mount --bind "$point" "$root$point"
    done
}

make_system
copy_checkout
bind_into_system
chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    PHOTOMAP_DEBIAN13_ASAN="${PHOTOMAP_DEBIAN13_ASAN:-0}" PHOTOMAP_TEST_JOBS="${PHOTOMAP_TEST_JOBS:-2}" \
    /bin/bash -euo pipefail -c '
    cd /src/photomap
    scripts/install-deps.sh test >/var/log/photomap-install-deps.log 2>&1 ||
        { tail -20 /var/log/photomap-install-deps.log >&2; exit 1; }
    echo "test-debian13: $(. /etc/os-release && echo "$PRETTY_NAME"), exiv2 $(pkg-config --modversion exiv2), $(g++ --version | head -1)"
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
    export CCACHE_DIR=/var/cache/photomap/ccache
    # Configures and builds PRESET with its tests, then runs those of LABELS.
    run_preset() {
        cmake --preset "$1" -DPHOTOMAP_BUILD_TESTS=ON >/dev/null
        cmake --build --preset "$1"
        ctest --preset "$1" -L "^($2)\$" -j "$PHOTOMAP_TEST_JOBS"
    }
    run_preset host "unit|e2e|desktop|browser"
    [ "$PHOTOMAP_DEBIAN13_ASAN" = 0 ] || run_preset host-asan "unit|e2e"
    cmake --preset release >/dev/null
    cmake --build --preset release
    rm -f build/packages/photomap_*.deb
    cpack --preset deb
    deb=$(ls build/packages/photomap_*.deb)
    echo "test-debian13: $deb Depends: $(dpkg-deb -f "$deb" Depends)"
    dpkg-deb -f "$deb" Depends | grep -q "libexiv2-28" ||
        { echo "test-debian13: the .deb does not depend on libexiv2-28" >&2; exit 1; }
    python3 tests/package/test_packages.py DebianPackage
    python3 tests/package/test_desktop_install.py
'
echo "test-debian13: passed in $((SECONDS - started)) s"
