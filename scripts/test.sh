#!/usr/bin/env bash
# Installs what is missing, builds photomap and passes every test. Each test
# runs where it can fail differently (its label, tests/CMakeLists.txt):
#   set-up          the packages, Wine and its prefix
#   debian13        in a Debian 13 system (exiv2 0.28, GCC 14, another
#                   desktop): every host test of the plain build, and the .deb
#                   (scripts/test-debian13.sh); it runs beside the stages
#                   below, as on a new machine it waits mostly for the network
#   asan            the unit and e2e tests under AddressSanitizer and UBSan
#   desktop         the desktop and browser tests of the plain build
#   windows         the Windows build's tests, under Wine
#   fuzz            every fuzz target's committed corpus, then a short search
#                   from a seed of this run (scripts/test-fuzz.sh)
#   packages        the .deb (installed, run, removed), the zip and the MSI,
#                   signed, and built a second time for the same bytes
# Each stage writes build/logs/STAGE.log and shows its end when it fails. The
# last lines give each stage's name, time and result, a failing stage last.
# Environment:
#   PHOTOMAP_DEBIAN13=0       leaves the Debian 13 stage out
#   PHOTOMAP_DEBIAN13_ASAN=1  adds the sanitizer pass in Debian 13
#   PHOTOMAP_DEBIAN12_ROOT    where the packages' Debian 12 system is kept
#   PHOTOMAP_TEST_JOBS        tests run at once in each stage (default 2)
#   FUZZ_SECONDS              seconds of search per fuzz target
# Builds compile through ccache when it is installed, with the cache outside
# the clone (/var/cache/photomap/ccache as root, else ccache's own default),
# so that a new clone compiles little on a machine that has built before:
# the builds that only test, from any folder (CCACHE_BASEDIR, which makes the
# paths in what they compile relative), the others from the same folder as
# before (their paths, which the packages hold, stay as a build without
# ccache has them).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
jobs="${PHOTOMAP_TEST_JOBS:-2}"
as_root=""
[ "$(id -u)" -eq 0 ] || as_root="sudo"
if command -v ccache >/dev/null; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
    [ -n "${CCACHE_DIR:-}" ] || [ -n "$as_root" ] || export CCACHE_DIR=/var/cache/photomap/ccache
fi
logs=$source_dir/build/logs
mkdir -p "$logs"

summary=()
failed=()
# Starts stage NAME (a function of this script) in the background, its output
# in its log. Run apart, a stage function stops at its first failing command.
declare -A stage_pid stage_start
start_stage() {
    echo "test.sh: $1 started (build/logs/$1.log)"
    stage_start[$1]=$SECONDS
    rm -f "$logs/$1.end"
    # The end is noted as it comes: a stage beside the others is waited for later.
    (
        stage=$1
        trap 'echo $SECONDS >"$logs/$stage.end"' EXIT
        "stage_$stage"
    ) >"$logs/$1.log" 2>&1 &
    stage_pid[$1]=$!
}
finish_stage() {
    local name=$1 result=passed line end
    wait "${stage_pid[$name]}" || result="FAILED (status $?)"
    end=$(cat "$logs/$name.end" 2>/dev/null || echo $SECONDS)
    line=$(printf '%-9s %5d s  %s' "$name" $((end - ${stage_start[$name]})) "$result")
    echo "test.sh: $line"
    if [ "$result" = passed ]; then
        summary+=("$line")
    else
        tail -n 60 "$logs/$name.log"
        failed+=("$line")
    fi
}
# Never in a condition or after && or ||: bash would run the stage, in its
# subshell too, without stopping at a failing command.
run_stage() {
    start_stage "$1"
    finish_stage "$1"
}
report() {
    echo
    printf '%s\n' "${summary[@]}" "${failed[@]}"
    [ ${#failed[@]} -eq 0 ]
}

# Configures and builds PRESET with its tests, then runs those of LABELS.
build_and_test() {
    local preset=$1 labels=$2
    cmake --preset "$preset" -DPHOTOMAP_BUILD_TESTS=ON >/dev/null
    if [ "$preset" = windows-x86 ]; then  # the packages' build
        cmake --build --preset "$preset"
    else
        CCACHE_BASEDIR=$source_dir cmake --build --preset "$preset"
    fi
    ctest --preset "$preset" -N -LE '^(unit|e2e|desktop|browser|package|windows)$' |
        grep -q '^Total Tests: 0$' || { echo "a test of $preset has no label" >&2; return 1; }
    ctest --preset "$preset" -L "^($labels)\$" -j "$jobs"
}

stage_setup() {
    scripts/install-deps.sh test
    # Wine's packages as root, its prefix for whoever runs the tests.
    [ -z "$as_root" ] || sudo scripts/setup-wine.sh
    scripts/setup-wine.sh
}
stage_debian13() { $as_root env PHOTOMAP_TEST_JOBS="$jobs" scripts/test-debian13.sh; }
stage_asan() { build_and_test host-asan 'unit|e2e'; }
stage_desktop() { build_and_test host 'desktop|browser'; }
stage_windows() { build_and_test windows-x86 windows; }
stage_fuzz() { CCACHE_BASEDIR=$source_dir scripts/test-fuzz.sh; }
stage_packages() {
    # With umask 022, as tests/package/test_reproducible.py's second build
    # (the .deb's ar members take their modes from it).
    umask 022
    cmake --preset release >/dev/null
    cmake --build --preset release
    # The shipped program carries no test hook.
    /usr/bin/python3 tests/check_no_test_hooks.py nm build/release/photomap
    cpack --preset deb
    cpack --preset windows-zip
    cpack --preset windows-msi
    # Installs the .deb into this machine, runs it and removes it.
    $as_root /usr/bin/python3 tests/package/test_packages.py
    # Each desktop's install line of the README, in a Debian 12 system kept
    # outside the clone for the next run.
    $as_root /usr/bin/python3 tests/package/test_desktop_install.py \
        --root "${PHOTOMAP_DEBIAN12_ROOT:-/var/cache/photomap/debian12}"
    # The set-up's waits and retries of apt-get, with a stand-in apt-get.
    $as_root /usr/bin/python3 tests/scripts/test_apt_update.py
    # Signed packages against a throwaway CA; a second build elsewhere that
    # must give the same bytes as the packages above.
    /usr/bin/python3 tests/package/test_signing.py
    /usr/bin/python3 tests/package/test_reproducible.py
}

run_stage setup
if [ ${#failed[@]} -ne 0 ]; then
    report
    exit 1
fi
if [ "${PHOTOMAP_DEBIAN13:-1}" != 0 ]; then
    start_stage debian13
fi
for stage in asan desktop windows fuzz packages; do
    run_stage "$stage"
    [ ${#failed[@]} -eq 0 ] || break
done
if [ -n "${stage_pid[debian13]:-}" ]; then
    finish_stage debian13
fi
report
