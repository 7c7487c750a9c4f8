#!/usr/bin/env bash
# Runs a Windows program of the build under Wine, in the project's prefix
# (made by scripts/setup-wine.sh).
set -euo pipefail
. "$(dirname "$0")/../../scripts/wine-env.sh"
exec wine "$@"
