#!/usr/bin/env bash
# Runs apt-get update for the set-up scripts, and again after a pause when it
# fails: an archive mirror in the middle of a sync serves index files of the
# wrong size for a while. A lock that another apt holds is apt-get.sh's to
# wait for: when it gives up, so does this, with its line last.
#   apt-update.sh NAME [apt-get option...]
# NAME is the calling script's, for its messages. If an index stays
# unavailable, the last line names its suite and architecture. Environment:
#   PHOTOMAP_APT_TRIES  how many times to run apt-get update (default 4)
#   PHOTOMAP_APT_PAUSE  seconds to wait before each new try (default 30)
set -euo pipefail

name="${1:?usage: apt-update.sh NAME [apt-get option...]}"
shift
tries="${PHOTOMAP_APT_TRIES:-4}"
pause="${PHOTOMAP_APT_PAUSE:-30}"

output="$(mktemp)"
trap 'rm -f "$output"' EXIT

# "SUITE (ARCH)" for every index that apt could not fetch, from its lines
# "E: Failed to fetch URL  reason" (or "W:" where it went on without it):
# the URL holds dists/SUITE/ and, for a list of packages, binary-ARCH/ or
# Contents-ARCH; a Release file serves every architecture.
failed_indexes() {
    awk '/^[EW]: Failed to fetch / {
            url = $5
            if (!match(url, /\/dists\/[^\/]+/)) next
            suite = substr(url, RSTART + 7, RLENGTH - 7)
            arch = "every architecture"
            if (match(url, /\/binary-[^\/]+\//)) arch = substr(url, RSTART + 8, RLENGTH - 9)
            else if (match(url, /\/Contents-(udeb-)?[^.\/]+/)) {
                arch = substr(url, RSTART + 10, RLENGTH - 10); sub(/^udeb-/, "", arch)
            }
            key = suite " (" arch ")"
            if (!(key in seen)) { seen[key] = 1; list = list (list == "" ? "" : ", ") key }
         }
         END { printf "%s", list }' "$output"
}

for ((try = 1; ; try++)); do
    # apt-get.sh writes apt-get's own messages, errors too, on its stdout.
    if "$(dirname "$0")/apt-get.sh" "$name" update "$@" | tee "$output"; then
        status=0
    else
        status=$?
    fi
    [ "$status" -ne 75 ] || exit 75
    indexes="$(failed_indexes)"
    [ "$status" -eq 0 ] && [ -z "$indexes" ] && exit 0
    [ "$try" -lt "$tries" ] || break
    printf '%s: apt-get update failed (try %d of %d); trying again in %s s\n' \
        "$name" "$try" "$tries" "$pause" >&2
    sleep "$pause"
done

if [ -n "$indexes" ]; then
    printf '%s: error: the archive index of %s stayed unavailable in %d run(s) of apt-get update: the fault is the archive'"'"'s (a mirror in mid-sync, most often), and a later retry may pass\n' \
        "$name" "$indexes" "$tries" >&2
else
    printf '%s: error: apt-get update failed in %d run(s) (status %d); its messages are above\n' \
        "$name" "$tries" "$status" >&2
fi
exit 1
