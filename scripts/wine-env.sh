# shellcheck shell=bash
# Environment for running the project's Windows programs under Wine.
# Source it:  . scripts/wine-env.sh
#
# PHOTOMAP_WINEPREFIX  Wine prefix to use (default: $HOME/.wine-photomap).
# PHOTOMAP_WINE_TIMEOUT  Seconds tests may wait for one Wine program (default: 120).

export WINEPREFIX="${PHOTOMAP_WINEPREFIX:-${HOME:-/root}/.wine-photomap}"
export WINEARCH=win32
# Wine's debug channels slow every start a lot when emulated; keep them off
# unless the caller asked for some.
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono/Gecko install prompts, no desktop menu entries.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
export PHOTOMAP_WINE_TIMEOUT="${PHOTOMAP_WINE_TIMEOUT:-120}"

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

# Starts a wineserver that stays up between Wine programs (each cold start
# costs seconds under emulation). Stop it with photomap_wine_stop_server.
photomap_wine_start_server() {
    wineserver -p
}

photomap_wine_stop_server() {
    wineserver -k 2>/dev/null || true
}
