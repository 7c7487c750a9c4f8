#!/usr/bin/env bash
# Prepares a Debian 12 (bookworm) amd64 machine to build the project's 32-bit
# Windows programs and run them under Wine:
#   - mingw-w64 i686 cross compilers,
#   - wixl (msitools), which builds the Windows installer,
#   - Debian's wine, wine32:i386 and wine64,
#   - qemu-user from bookworm-backports, registered in binfmt_misc for i386
#     ELF binaries (for kernels that cannot run 32-bit x86 code themselves),
#   - a 32-bit Wine prefix using the null graphics driver.
# Safe to run again: steps already done are skipped.
#
# Must run as root for the install steps. Environment:
#   PHOTOMAP_WINEPREFIX  prefix to create (default $HOME/.wine-photomap)
#   PHOTOMAP_WINE_QEMU   auto (default): use qemu only if the kernel cannot
#                        run i386 code; 1: always use qemu; 0: never.
set -euo pipefail

script_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=scripts/wine-env.sh
. "$script_dir/wine-env.sh"

log() { printf 'setup-wine: %s\n' "$*" >&2; }
die() { log "error: $*"; exit 1; }

export DEBIAN_FRONTEND=noninteractive

# shellcheck disable=SC1091
codename="$(. /etc/os-release && printf '%s' "${VERSION_CODENAME:-}")"
[ -n "$codename" ] || die "cannot tell the Debian release from /etc/os-release"
backports="${codename}-backports"

# qemu older than this cannot run 32-bit Wine ("failed to map the shared
# user data").
qemu_min_version="1:8.0"

wine_packages=(wine wine32:i386 wine64)
mingw_packages=(g++-mingw-w64-i686-posix)
# wixl builds the installer, osslsigncode signs it and photomap.exe; for
# the tests, msitools' msiextract unpacks it and openssl makes certificates.
msi_packages=(wixl osslsigncode msitools openssl)

is_installed() {
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true)" = installed ]
}

qemu_is_recent() {
    local v
    is_installed qemu-user || return 1
    v="$(dpkg-query -W -f='${Version}' qemu-user)"
    dpkg --compare-versions "$v" ge "$qemu_min_version"
}

need_root() {
    [ "$(id -u)" -eq 0 ] || die "$1 needs root"
}

# --- apt sources ---------------------------------------------------------

# True if an enabled apt source already lists the backports suite.
have_backports_source() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        if grep -Eq "^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?[^[:space:]]+[[:space:]]+${backports}([[:space:]]|$)" "$f"; then
            return 0
        fi
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        if awk -v want="$backports" '
            function flush() { if (suite_ok && enabled) found = 1; suite_ok = 0; enabled = 1 }
            BEGIN { enabled = 1 }
            /^[[:space:]]*$/ { flush(); next }
            /^#/ { next }
            tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i == want) suite_ok = 1 }
            tolower($1) == "enabled:" && tolower($2) == "no" { enabled = 0 }
            END { flush(); exit found ? 0 : 1 }' "$f"; then
            return 0
        fi
    done
    return 1
}

# Writes a backports entry that copies the URIs, components and options of
# the first enabled deb822 entry whose suites include the release codename.
# Prints nothing and fails if there is no such entry.
backports_from_deb822() {
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        if awk -v codename="$codename" -v want="$backports" '
            function flush(   i) {
                if (n > 0 && has_deb && suite_ok && enabled && !done) {
                    print "Types: deb"
                    print "Suites: " want
                    for (i = 1; i <= n; i++) print kept[i]
                    done = 1
                }
                n = 0; has_deb = 0; suite_ok = 0; enabled = 1; cur = ""
            }
            BEGIN { enabled = 1 }
            /^[[:space:]]*$/ { flush(); next }
            /^#/ { next }
            # Continuation line of a multi-line field (e.g. an inline key).
            /^[[:space:]]/ { if (cur != "") kept[++n] = $0; next }
            {
                field = tolower($1)
                cur = ""
                if (field == "types:") {
                    for (i = 2; i <= NF; i++) if ($i == "deb") has_deb = 1
                } else if (field == "suites:") {
                    for (i = 2; i <= NF; i++) if ($i == codename) suite_ok = 1
                } else if (field == "enabled:") {
                    if (tolower($2) == "no") enabled = 0
                } else {
                    kept[++n] = $0
                    cur = field
                }
            }
            END { flush(); exit done ? 0 : 1 }' "$f"; then
            return 0
        fi
    done
    return 1
}

# Same for one-line entries ("deb [opts] URI suite components...").
backports_from_one_line() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        if awk -v codename="$codename" -v want="$backports" '
            $1 != "deb" { next }
            {
                line = $0
                sub(/^[[:space:]]*deb[[:space:]]+/, "", line)
                opts = ""
                if (substr(line, 1, 1) == "[") {
                    end = index(line, "]")
                    opts = substr(line, 1, end) " "
                    line = substr(line, end + 1)
                }
                split(line, w, /[[:space:]]+/)
                k = (w[1] == "") ? 2 : 1
                uri = w[k]; suite = w[k + 1]
                if (suite != codename) next
                comps = ""
                for (i = k + 2; i in w; i++) if (w[i] != "") comps = comps " " w[i]
                print "deb " opts uri " " want comps
                found = 1
                exit
            }
            END { exit found ? 0 : 1 }' "$f"; then
            return 0
        fi
    done
    return 1
}

add_backports_source() {
    local entry
    if have_backports_source; then
        return 0
    fi
    if entry="$(backports_from_deb822)"; then
        printf '%s\n' "$entry" > /etc/apt/sources.list.d/photomap-backports.sources
        log "added $backports (/etc/apt/sources.list.d/photomap-backports.sources)"
    elif entry="$(backports_from_one_line)"; then
        printf '%s\n' "$entry" > /etc/apt/sources.list.d/photomap-backports.list
        log "added $backports (/etc/apt/sources.list.d/photomap-backports.list)"
    else
        die "no apt source for '$codename' found to derive '$backports' from"
    fi
}

# --- packages ------------------------------------------------------------

# apt-get install, waiting for the package system's locks; a lock that is
# not let go in time ends the set-up with apt-get.sh's line about it last.
apt_install() {
    "$script_dir/apt-get.sh" setup-wine install -y -q --no-install-recommends "$@" ||
        { [ $? -ne 75 ] || exit 75; return 1; }
}

install_packages() {
    local missing=() p
    dpkg --print-foreign-architectures | grep -qx i386 || missing+=(i386-arch)
    for p in "${wine_packages[@]}" "${mingw_packages[@]}" "${msi_packages[@]}"; do
        is_installed "$p" || missing+=("$p")
    done
    qemu_is_recent || missing+=(qemu-user)
    if [ ${#missing[@]} -eq 0 ]; then
        log "packages already installed"
        return 0
    fi
    need_root "installing ${missing[*]}"
    log "installing: ${missing[*]}"

    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    local qemu_target=()
    if [ "$codename" = bookworm ]; then
        add_backports_source
        qemu_target=(-t "$backports")
    fi
    "$script_dir/apt-update.sh" setup-wine -q || exit 1
    apt_install "${wine_packages[@]}" "${mingw_packages[@]}" "${msi_packages[@]}" \
        || die "apt-get could not install ${wine_packages[*]} ${mingw_packages[*]} ${msi_packages[*]}: the Windows build and its tests cannot run without them"
    apt_install "${qemu_target[@]}" qemu-user \
        || die "apt-get could not install qemu-user${qemu_target[*]:+ from $backports}"
    qemu_is_recent || die "qemu-user $(dpkg-query -W -f='${Version}' qemu-user) is older than $qemu_min_version"
}

# --- binfmt_misc ---------------------------------------------------------

binfmt_dir=/proc/sys/fs/binfmt_misc
binfmt_name='qemu-i386'
# ELF, 32-bit, little endian, type EXEC or DYN (mask fe), machine EM_386.
binfmt_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
binfmt_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
binfmt_entry="$binfmt_dir/$binfmt_name"

# Runs the 32-bit Wine loader; true if it starts.
i386_runs() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

binfmt_enabled() {
    [ -e "$binfmt_entry" ] && grep -qx enabled "$binfmt_entry"
}

register_binfmt() {
    local qemu
    if [ ! -e "$binfmt_dir/register" ]; then
        need_root "mounting binfmt_misc"
        mount -t binfmt_misc binfmt_misc "$binfmt_dir" \
            || die "cannot mount binfmt_misc on $binfmt_dir"
    fi
    if [ -e "$binfmt_entry" ]; then
        if binfmt_enabled && grep -Eq '^flags:.*F' "$binfmt_entry"; then
            return 0
        fi
        # Present but disabled or without the F flag: replace it.
        need_root "re-registering $binfmt_name"
        echo -1 > "$binfmt_entry"
    fi
    need_root "registering $binfmt_name"
    qemu="$(command -v qemu-i386 || true)"
    [ -n "$qemu" ] || die "qemu-i386 not found"
    # F: the kernel opens the interpreter now, so it is found from any mount
    # namespace or chroot later on.
    printf ':%s:M::%s:%s:%s:F\n' "$binfmt_name" "$binfmt_magic" "$binfmt_mask" "$qemu" \
        > "$binfmt_dir/register"
    log "registered $qemu for i386 ELF binaries"
}

# PHOTOMAP_WINE_QEMU: 1 = always run 32-bit code under qemu, 0 = never,
# auto (default) = only if the kernel cannot run it itself (qemu is about ten
# times slower to start Wine).
setup_i386() {
    local mode="${PHOTOMAP_WINE_QEMU:-auto}"
    case "$mode" in
        1)
            register_binfmt
            ;;
        0)
            if binfmt_enabled; then
                need_root "disabling $binfmt_name"
                echo 0 > "$binfmt_entry"
                log "disabled binfmt_misc entry $binfmt_name"
            fi
            ;;
        auto)
            if binfmt_enabled; then
                # binfmt_misc comes before the kernel's own ELF loader, so
                # the entry must be off to see whether the kernel runs i386.
                need_root "probing native i386 support"
                echo 0 > "$binfmt_entry"
                if i386_runs; then
                    log "kernel runs i386 code itself; disabled binfmt_misc entry $binfmt_name"
                else
                    echo 1 > "$binfmt_entry"
                    register_binfmt
                fi
            elif ! i386_runs; then
                log "kernel cannot run i386 code; using qemu"
                register_binfmt
            fi
            ;;
        *)
            die "PHOTOMAP_WINE_QEMU must be 1, 0 or auto (got '$mode')"
            ;;
    esac
    if binfmt_enabled; then
        log "i386 code runs under $(sed -n 's/^interpreter //p' "$binfmt_entry")"
    else
        log "i386 code runs natively"
    fi
}

check_i386_runs() {
    local out
    out="$(/usr/lib/wine/wine --version 2>&1)" \
        || die "the 32-bit Wine loader does not run: $out"
    log "32-bit loader runs: $out"
}

# --- Wine prefix ---------------------------------------------------------

prefix_marker="$WINEPREFIX/.photomap-prefix-ready"

make_prefix() {
    if [ -f "$prefix_marker" ]; then
        log "Wine prefix $WINEPREFIX already set up"
        return 0
    fi
    if [ -e "$WINEPREFIX/system.reg" ] && ! grep -q '^#arch=win32' "$WINEPREFIX/system.reg"; then
        die "$WINEPREFIX exists but is not a 32-bit prefix; remove it or set PHOTOMAP_WINEPREFIX"
    fi
    log "creating Wine prefix $WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i
    # Windows exist without a display; no crash dialog that would wait for a
    # click forever.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
    # Wait until the registry is written to disk.
    wineserver -w
    grep -q '"Graphics"="null"' "$WINEPREFIX/user.reg" \
        || die "null graphics driver not recorded in $WINEPREFIX/user.reg"
    date -u +%FT%TZ > "$prefix_marker"
    log "Wine prefix ready"
}

start=$SECONDS
install_packages
setup_i386
check_i386_runs
make_prefix
log "done in $((SECONDS - start)) s (WINEPREFIX=$WINEPREFIX)"
