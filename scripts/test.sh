#!/usr/bin/env bash
# Installs what is missing, builds photomap and passes every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
# mingw-w64 and Wine for the Windows executable and its tests: packages as
# root, the Wine prefix for whoever runs the tests.
[ "$(id -u)" -eq 0 ] || sudo scripts/setup-wine.sh
scripts/setup-wine.sh

# Runs the whole suite of one configure/build/test preset.
run_preset() {
    cmake --preset "$1" -DPHOTOMAP_BUILD_TESTS=ON >/dev/null
    cmake --build --preset "$1"
    ctest --preset "$1"
}

run_preset host
run_preset host-asan
# The host suite and the .deb again, in a Debian 13 system (exiv2 0.28).
if [ "$(id -u)" -eq 0 ]; then scripts/test-debian13.sh; else sudo scripts/test-debian13.sh; fi
run_preset windows-x86

# A bounded fuzzing run of every fuzz target (FUZZ_SECONDS each).
scripts/test-fuzz.sh

# The packages: built from the release and Windows builds (a zip and an
# installer for Windows), then the .deb is
# installed into this machine, run and removed again. With umask 022, as
# tests/package/test_reproducible.py's second build (the .deb's ar members
# take their modes from it).
umask 022
cmake --preset release >/dev/null
cmake --build --preset release
# The shipped program carries no test hook.
/usr/bin/python3 tests/check_no_test_hooks.py nm build/release/photomap
cpack --preset deb
cpack --preset windows-zip
cpack --preset windows-msi
as_root=""
[ "$(id -u)" -eq 0 ] || as_root="sudo"
$as_root /usr/bin/python3 tests/package/test_packages.py
$as_root /usr/bin/python3 tests/package/test_desktop_install.py --root build/debian12
# The set-up's retries of apt-get update, with a stand-in apt-get.
$as_root /usr/bin/python3 tests/scripts/test_apt_update.py
# Signed packages against a throwaway CA; a second build elsewhere that must
# give the same bytes as the packages above.
/usr/bin/python3 tests/package/test_signing.py
/usr/bin/python3 tests/package/test_reproducible.py
