#!/usr/bin/env bash
# Installs what is missing, builds photomap and passes every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
cmake --preset host -DPHOTOMAP_BUILD_TESTS=ON
cmake --build --preset host
ctest --preset host
