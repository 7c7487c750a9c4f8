#!/usr/bin/env bash
# Installs what is missing, builds photomap and passes every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

# Runs the whole suite of one configure/build/test preset.
run_preset() {
    cmake --preset "$1" -DPHOTOMAP_BUILD_TESTS=ON >/dev/null
    cmake --build --preset "$1"
    ctest --preset "$1"
}

run_preset host
run_preset host-asan
