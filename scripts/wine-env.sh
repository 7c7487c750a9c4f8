# shellcheck shell=bash
# Environment for running the project's Windows programs under Wine.
# Source it:  . scripts/wine-env.sh
#
# PHOTOMAP_WINEPREFIX  Wine prefix to use (default: $HOME/.wine-photomap).

export WINEPREFIX="${PHOTOMAP_WINEPREFIX:-${HOME:-/root}/.wine-photomap}"
export WINEARCH=win32
# Wine's debug channels slow every start a lot when emulated; keep them off
# unless the caller asked for some.
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono/Gecko install prompts, no desktop menu entries.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"

# Prints the Wine (drive Z:) form of a Unix path without starting Wine,
# e.g. /tmp/a b/x.exe -> Z:\tmp\a b\x.exe. Relative paths are made absolute.
photomap_winpath() {
    local p="$1"
    case "$p" in
        /*) ;;
        *) p="$PWD/$p" ;;
    esac
    p="${p//\//\\}"
    printf 'Z:%s\n' "$p"
}

# Starts a wineserver that stays up between Wine programs, then starts Wine's
# own services once, so later programs start in a fraction of the time.
# Stop it with photomap_wine_stop_server.
photomap_wine_start_server() {
    # Fails harmlessly when a wineserver for this prefix is already running.
    wineserver -p >/dev/null 2>&1 || true
    wine wineboot >/dev/null 2>&1
}

photomap_wine_stop_server() {
    wineserver -k 2>/dev/null || true
}
