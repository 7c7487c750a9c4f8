#!/usr/bin/env bash
# Runs apt-get for the set-up scripts, waiting a bounded time for the package
# system's locks while another apt holds them (an unattended upgrade, a second
# terminal): dpkg's through apt's own DPkg::Lock::Timeout, the others (the
# package lists', the download cache's), which apt does not wait for, by
# running it again. When it gives up, its last line names the lock and the
# process that held it.
#   apt-get.sh NAME apt-get-argument...
# NAME is the calling script's, for its messages. Exits with apt-get's status,
# or 75 when a lock was not let go in time. Environment:
#   PHOTOMAP_APT_LOCK_WAIT   seconds to wait for the locks (default 900)
#   PHOTOMAP_APT_LOCK_PAUSE  seconds between two tries (default 10)
set -euo pipefail

name="${1:?usage: apt-get.sh NAME apt-get-argument...}"
shift
wait="${PHOTOMAP_APT_LOCK_WAIT:-900}"
pause="${PHOTOMAP_APT_LOCK_PAUSE:-10}"

output="$(mktemp)"
trap 'rm -f "$output"' EXIT

# The lock that apt-get could not get, from its "E: Could not get lock FILE."
# or "E: Unable to acquire the dpkg frontend lock (FILE), ...".
missed_lock() {
    sed -n -e 's/^E: Could not get lock \([^ ]*[^ .]\).*/\1/p' \
        -e 's/^E: Unable to acquire the .* lock (\([^)]*\)).*/\1/p' "$output" | head -n 1
}

# The processes holding a lock on FILE, from the kernel's table of locks
# (/proc/locks: "N: POSIX ADVISORY WRITE PID MAJOR:MINOR:INODE ..."), else
# those that have it open; one "PID (command line)" a line.
holders() {
    local device inode key pids pid
    device=$(stat -c %d "$1" 2>/dev/null) && inode=$(stat -c %i "$1") || return 0
    key=$(printf '%02x:%02x:%s' $(((device >> 8) & 0xfff)) \
        $(((device & 0xff) | ((device >> 12) & 0xfff00))) "$inode")
    pids=$(awk -v key="$key" '$2 != "->" && $6 == key { print $5 }' /proc/locks | sort -un)
    [ -n "$pids" ] || pids=$(find /proc/[0-9]*/fd -lname "$1" 2>/dev/null | cut -d/ -f3 | sort -un)
    for pid in $pids; do
        printf 'process %s (%s)\n' "$pid" \
            "$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | sed 's/ $//')"
    done
}

deadline=$((SECONDS + wait))
waited=0
while :; do
    left=$((deadline - SECONDS))
    [ "$left" -gt 0 ] || left=0
    if apt-get -o DPkg::Lock::Timeout="$left" "$@" 2>&1 | tee "$output"; then
        exit 0
    else
        status=$?
    fi
    lock=$(missed_lock)
    [ -n "$lock" ] || exit "$status"
    # The pauses count as well as the clock, for a sleep that returns early.
    if [ "$SECONDS" -ge "$deadline" ] || [ "$waited" -ge "$wait" ]; then break; fi
    printf '%s: %s is locked; trying again in %s s\n' "$name" "$lock" "$pause" >&2
    sleep "$pause"
    waited=$((waited + pause))
done

held_by=$(holders "$lock" | paste -sd, - | sed 's/,/, /g')
[ -n "$held_by" ] ||
    held_by="no process now (apt-get said: $(grep -m1 -o 'held by process .*' "$output" ||
        echo nothing))"
printf '%s: error: gave up after %s s waiting for the lock %s (apt-get %s), held by %s\n' \
    "$name" "$wait" "$lock" "$*" "$held_by" >&2
exit 75
