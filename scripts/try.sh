#!/usr/bin/env bash
# Installs what is missing, builds photomap for Linux and runs it on the
# sample picture: the browser opens at the Eiffel Tower.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh host
cmake --preset host -DPHOTOMAP_BUILD_TESTS=OFF >/dev/null
cmake --build --preset host --target photomap
build/host/photomap samples/eiffel-tower.jpg
