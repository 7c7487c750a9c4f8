#!/usr/bin/env bash
# Benchmark: how fast photomap gets a position to the browser, against the
# tools a user would pick instead (exiv2 -g, exiftool) and against a floor
# (a do-nothing C program built with the release flags).
#
#   bench/run.sh [--remake-pictures] [--storage-only]
#
# Installs what is missing (Debian; as root or through sudo), builds the
# release binary (release preset), makes the pictures once (build/bench/
# pictures; --remake-pictures makes them anew), checks that every tool finds
# the GPS position in every picture, then measures on this machine:
#   - time from start to exit, with hyperfine: every command in one run, in
#     a few rounds whose runs are pooled; photomap hands its URL to a
#     stand-in xdg-open (the floor program) that exits at once, so its time
#     is the time to hand-over and the stand-in's exit, which photomap waits
#     for to report a failed launch;
#   - what the confined reader process costs: photomap beside the same
#     program parsing in its own process (photomap_unconfined), in the same
#     rounds;
#   - where photomap's time goes on the small JPEG (a short run a round);
#   - peak memory (max RSS, /usr/bin/time -v);
#   - bytes read from the picture (strace);
#   - pages of the picture touched (evicted first, counted with fincore) and
#     the time on a share answering each read in 20 ms (a FUSE file system,
#     tests/support/slowfs.py), beside exiv2 -g and exiftool (bench/storage.py);
#   - the time until a real browser has the tab (bench/browser.py: headless
#     chromium, the real xdg-open), beside photomap's and xdg-open's own.
# Prints the tables and the targets (reported, never failing the run), and
# writes bench/results.md and bench/results.svg.
#
# --storage-only measures only the pages touched and the slow share, and
# puts just those tables into bench/results.md; with BENCH_PHOTOMAP it
# measures that build of photomap instead of building the release preset.
#
# Settings: BENCH_ROUNDS (8); for each round and command BENCH_WARMUP (1),
# BENCH_MIN_RUNS (5) and BENCH_MAX_RUNS (10); BENCH_RSS_RUNS (3);
# BENCH_BROWSER_RUNS (10) with chromium running, BENCH_BROWSER_COLD_RUNS (3)
# starting it; BENCH_SLOW_RUNS (3) on the slow share. Takes about five
# minutes, plus about a minute the first time, for the pictures.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$PWD
work=$root/build/bench
pictures_dir=$work/pictures
bin=$work/bin            # the floor as xdg-open: timing, memory, strace
check_bin=$work/check-bin  # an xdg-open that records the URL: the check
empty_bin=$work/empty-bin  # no xdg-open at all: the breakdown
rounds=${BENCH_ROUNDS:-8}
warmup=${BENCH_WARMUP:-1}
min_runs=${BENCH_MIN_RUNS:-5}
max_runs=${BENCH_MAX_RUNS:-10}
rss_runs=${BENCH_RSS_RUNS:-3}
browser_runs=${BENCH_BROWSER_RUNS:-10}
browser_cold_runs=${BENCH_BROWSER_COLD_RUNS:-3}
expected_url="https://www.google.com/maps/place/48.85822222,2.29450000"

slow_runs=${BENCH_SLOW_RUNS:-3}

remake=false
storage_only=false
for argument in "$@"; do
    case "$argument" in
        --remake-pictures) remake=true ;;
        --storage-only) storage_only=true ;;
        *) echo "usage: bench/run.sh [--remake-pictures] [--storage-only]" >&2; exit 2 ;;
    esac
done

say() { printf '==> %s\n' "$*" >&2; }

# ---------------------------------------------------------------- installs
packages=(cmake g++ make pkg-config libexiv2-dev hyperfine exiv2 libimage-exiftool-perl
          gnuplot-nox strace time imagemagick libheif-examples python3 chromium xdg-utils
          util-linux python3-fusepy fuse3)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    say "installing ${missing[*]}"
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "run as root, or install sudo" >&2; exit 1; }
        sudo=sudo
    fi
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
# ImageMagick's own convert, even where something else named convert comes first on PATH.
convert=/usr/bin/convert
[ -x "$convert" ] || convert=$(command -v convert)
exiv2=$(command -v exiv2)
exiftool=$(command -v exiftool)

# ------------------------------------------------------------------ builds
unconfined=""
if $storage_only && [ -n "${BENCH_PHOTOMAP:-}" ]; then
    # A build made elsewhere; the floor, only the stand-in xdg-open here, as cc makes it.
    photomap=$(realpath "$BENCH_PHOTOMAP")
    flags="-O2"
else
    say "building photomap (release preset)"
    cmake --preset release >/dev/null
    cmake --build --preset release --target photomap photomap_unconfined >/dev/null
    photomap=$root/build/release/photomap
    # The same program with the picture parsed in its own process instead of the
    # confined reader process (bench/unconfined_reader.cpp): what the reader costs.
    $storage_only || unconfined=$root/build/release/photomap_unconfined

    # The same compiler flags as photomap's own objects (-std=… aside), read from
    # the release build, so the floor is built the way photomap is.
    flags=$(sed -n 's/^CXX_FLAGS = //p' build/release/CMakeFiles/photomap.dir/flags.make |
            sed -e 's/-std=[^ ]*//g' -e 's/  */ /g' -e 's/^ //' -e 's/ $//')
fi
mkdir -p "$bin" "$check_bin" "$empty_bin" "$pictures_dir"
# shellcheck disable=SC2086  # the flags are words
cc $flags -o "$work/floor" bench/floor.c
# shellcheck disable=SC2086,SC2046  # flags and pkg-config's output are words
c++ $flags -std=c++17 -Wno-deprecated-declarations $(pkg-config --cflags exiv2) \
    -o "$work/linked-floor" bench/linked_floor.cpp $(pkg-config --libs exiv2)
cp "$work/floor" "$bin/xdg-open"
cp bench/record_url.sh "$check_bin/xdg-open"
say "floor built with: cc $flags"

# ---------------------------------------------------------------- pictures
# Keys: FORMAT-SIZE. Small pictures are about 50 kB, large ones about 50 MB
# of noise (so that nothing compresses it away), each with the Eiffel
# Tower's position in EXIF GPS tags.
keys=(jpeg-small jpeg-large tiff-small tiff-large heic-small heic-large png-small png-large)
declare -A file=(
    [jpeg-small]=small.jpg [jpeg-large]=large.jpg [tiff-small]=small.tif [tiff-large]=large.tif
    [heic-small]=small.heic [heic-large]=large.heic [png-small]=small.png [png-large]=large.png)
declare -A pixels=(
    [jpeg-small]=180x136 [jpeg-large]=6000x4000 [tiff-small]=128x128 [tiff-large]=4096x4096
    [heic-small]=180x136 [heic-large]=6000x4000 [png-small]=130x130 [png-large]=4096x4096)
recipe=2  # raise when the pictures' recipe changes

gps_tags=(
    -M"set Exif.GPSInfo.GPSVersionID 2 3 0 0"
    -M"set Exif.GPSInfo.GPSLatitudeRef N"
    -M"set Exif.GPSInfo.GPSLatitude 48/1 51/1 296/10"
    -M"set Exif.GPSInfo.GPSLongitudeRef E"
    -M"set Exif.GPSInfo.GPSLongitude 2/1 17/1 402/10")

# noise SIZE OUT [convert options…]: an image of random pixels.
noise() {
    local size=$1 out=$2
    shift 2
    local width=${size%x*} height=${size#*x}
    head -c $((width * height * 3)) /dev/urandom |
        "$convert" -size "$size" -depth 8 rgb:- "$@" "$out"
}

make_pictures() {
    local d=$pictures_dir key
    rm -f "$d"/*
    say "making the pictures (the large HEIC takes a while)"
    for key in jpeg-small jpeg-large; do
        noise "${pixels[$key]}" "$d/${file[$key]}" -quality 95
    done
    for key in tiff-small tiff-large; do
        noise "${pixels[$key]}" "$d/${file[$key]}" -compress none
    done
    for key in png-small png-large; do
        noise "${pixels[$key]}" "$d/${file[$key]}" -define png:compression-level=1
    done
    for key in jpeg-small jpeg-large tiff-small tiff-large png-small png-large; do
        "$exiv2" -q "${gps_tags[@]}" "$d/${file[$key]}"
    done
    # ImageMagick does not carry EXIF into HEIC and exiv2 0.27 cannot write
    # it; heif-enc copies the EXIF block of the JPEG it encodes. Even sizes
    # only: for an odd one heif-enc writes a grid, whose item locations
    # (iloc version 1) exiv2 0.27 misreads, so it finds no EXIF at all.
    heif-enc -q 95 -p preset=ultrafast "$d/small.jpg" -o "$d/small.heic" >/dev/null
    heif-enc -q 95 -p preset=ultrafast "$d/large.jpg" -o "$d/large.heic" >/dev/null
    echo "$recipe" >"$d/recipe"
}

if $remake || [ "$(cat "$pictures_dir/recipe" 2>/dev/null)" != "$recipe" ]; then
    make_pictures
fi
: >"$work/pictures.tsv"
for key in "${keys[@]}"; do
    printf '%s\t%s\t%s\t%s\n' "$key" "${file[$key]}" "$(stat -c %s "$pictures_dir/${file[$key]}")" \
        "${pixels[$key]}" >>"$work/pictures.tsv"
done

# -------------------------------------------------------------------- check
# Every tool must find the position in every picture, and photomap must hand
# over the URL (not print its error), before anything is timed.
say "checking that every tool finds the GPS position in every picture"
failed=false
for key in "${keys[@]}"; do
    picture=$pictures_dir/${file[$key]}
    url_file=$work/handed-over-url
    for program in "$photomap" $unconfined; do
        rm -f "$url_file"
        errors=$(PATH="$check_bin:$PATH" PHOTOMAP_BENCH_URL_FILE="$url_file" "$program" "$picture" 2>&1)
        for _ in $(seq 50); do [ -e "$url_file" ] && break; sleep 0.1; done
        url=$(cat "$url_file" 2>/dev/null || true)
        if [ -n "$errors" ] || [ "$url" != "$expected_url" ]; then
            echo "$(basename "$program") on $key: handed over '${url}', printed '${errors}'" >&2
            failed=true
        fi
    done
    "$exiv2" -g Exif.GPSInfo.GPSLatitude -Pv "$picture" 2>/dev/null | grep -q "48/1 51/1 296/10" ||
        { echo "exiv2 finds no GPS latitude in $key" >&2; failed=true; }
    "$exiftool" -n -GPSLatitude -GPSLongitude "$picture" | grep -q "48.858" ||
        { echo "exiftool finds no GPS latitude in $key" >&2; failed=true; }
done
if $failed; then
    echo "a picture is not fit for the benchmark; try bench/run.sh --remake-pictures" >&2
    exit 1
fi

# ------------------------------------------------------------------ storage
# Pages touched and the slow share; the share needs FUSE (/dev/fuse).
storage() {
    /usr/bin/python3 bench/storage.py --work "$work" --pictures "$pictures_dir" --bin "$bin" \
        --photomap "$photomap" --exiv2 "$exiv2" --exiftool "$exiftool" --slow-runs "$slow_runs"
}
if $storage_only; then
    storage
    python3 bench/report.py --work "$work" --markdown bench/results.md --storage-only
    say "put the storage tables into bench/results.md (raw figures in build/bench/)"
    exit 0
fi

# --------------------------------------------------------------- about
{
    printf 'date\t%s\n' "$(date -u '+%Y-%m-%d %H:%M UTC')"
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        printf 'commit\t%s%s\n' "$(git rev-parse --short HEAD)" \
            "$(git diff --quiet HEAD -- . ':(exclude)bench' || echo ', with local changes')"
    else
        printf 'commit\tnot a git checkout\n'
    fi
    printf 'machine\t%s, %s cores, %s GiB memory, Linux %s\n' \
        "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)" "$(nproc)" \
        "$(awk '/MemTotal/ {printf "%.0f", $2 / 1048576}' /proc/meminfo)" "$(uname -r)"
    printf 'load average at start\t%s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
    printf 'photomap\tbuild/release/photomap, release preset (%s)\n' "$flags"
    printf 'floor\tbench/floor.c, cc %s\n' "$flags"
    printf 'exiv2\t%s\n' "$("$exiv2" --version | head -1)"
    printf 'exiftool\t%s\n' "$("$exiftool" -ver)"
    printf 'hyperfine\t%s, --shell=none; %s rounds, each with %s warm-up and %s–%s timed runs a command\n' \
        "$(hyperfine --version)" "$rounds" "$warmup" "$min_runs" "$max_runs"
} >"$work/about.tsv"

# ------------------------------------------------------------------- timing
# The timing is done in rounds, each one hyperfine run of every command in a
# new random order; the runs of all rounds are pooled, so that a burst of
# load from elsewhere is spread over the commands instead of falling on one.
q() { printf '%q' "$1"; }
rm -f "$work"/timing-*.json "$work"/breakdown-*.json "$work"/timing.log "$work"/breakdown.log
: >"$work/commands.tsv"
for key in "${keys[@]}"; do
    picture=$(q "$pictures_dir/${file[$key]}")
    printf '%s\t%s\n' "photomap $key" "$(q "$photomap") $picture" \
        "exiv2 $key" "$(q "$exiv2") -g Exif.GPSInfo -Pv $picture" \
        "exiftool $key" "$(q "$exiftool") -n -GPSLatitude -GPSLongitude $picture" \
        "floor $key" "$(q "$work/floor") $picture" \
        "unconfined $key" "$(q "$unconfined") $picture" >>"$work/commands.tsv"
done
count=$(wc -l <"$work/commands.tsv")
for round in $(seq "$rounds"); do
    say "timing round $round of $rounds: $count commands with hyperfine"
    commands=()
    while IFS=$'\t' read -r name command; do
        commands+=(-n "$name" "$command")
    done < <(shuf "$work/commands.tsv")
    PATH="$bin:$PATH" hyperfine --shell=none --style basic --warmup "$warmup" \
        --min-runs "$min_runs" --max-runs "$max_runs" \
        --export-json "$work/timing-$round.json" "${commands[@]}" >>"$work/timing.log" 2>&1

    # Where photomap's time goes, on the small JPEG. Each command is started
    # through env, which sets PATH: with the stand-in, or with no xdg-open.
    small=$(q "$pictures_dir/small.jpg")
    env_=$(command -v env)
    PATH="$bin:$PATH" hyperfine --shell=none --style basic --warmup "$warmup" \
        --min-runs "$min_runs" --max-runs "$max_runs" --export-json "$work/breakdown-$round.json" \
        -n "floor" "$env_ PATH=$(q "$bin") $(q "$work/floor") $small" \
        -n "linked floor" "$env_ PATH=$(q "$bin") $(q "$work/linked-floor") $small" \
        -n "photomap, no hand-over" "$env_ PATH=$(q "$empty_bin") $(q "$photomap") $small" \
        -n "photomap" "$env_ PATH=$(q "$bin") $(q "$photomap") $small" \
        -n "exiv2 -g" "$env_ PATH=$(q "$bin") $(q "$exiv2") -g Exif.GPSInfo -Pv $small" \
        >>"$work/breakdown.log" 2>&1
done

# ------------------------------------------------------------------- memory
say "measuring peak memory"
: >"$work/rss.tsv"
for key in "${keys[@]}"; do
    picture=$pictures_dir/${file[$key]}
    for tool in photomap exiv2 exiftool floor; do
        case $tool in
            photomap) command=("$photomap" "$picture") ;;
            exiv2) command=("$exiv2" -g Exif.GPSInfo -Pv "$picture") ;;
            exiftool) command=("$exiftool" -n -GPSLatitude -GPSLongitude "$picture") ;;
            floor) command=("$work/floor" "$picture") ;;
        esac
        for _ in $(seq "$rss_runs"); do
            PATH="$bin:$PATH" /usr/bin/time -v -o "$work/time.txt" "${command[@]}" >/dev/null
            printf '%s\t%s\t%s\n' "$tool" "$key" \
                "$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")" \
                >>"$work/rss.tsv"
        done
    done
done

# ---------------------------------------------------------------------- I/O
say "counting bytes read from the pictures (strace)"
: >"$work/io.tsv"
for key in "${keys[@]}"; do
    picture=$pictures_dir/${file[$key]}
    for tool in photomap exiv2 exiftool; do
        case $tool in
            photomap) command=("$photomap" "$picture") ;;
            exiv2) command=("$exiv2" -g Exif.GPSInfo -Pv "$picture") ;;
            exiftool) command=("$exiftool" -n -GPSLatitude -GPSLongitude "$picture") ;;
        esac
        # -f: photomap reads the picture in its reader process.
        PATH="$bin:$PATH" strace -f -qq -o "$work/strace.log" \
            -e trace=open,openat,read,pread64,readv,preadv,preadv2,mmap,close,dup,dup2,dup3 \
            "${command[@]}" >/dev/null
        printf '%s\t%s\t%s\n' "$tool" "$key" \
            "$(python3 bench/io_bytes.py "$work/strace.log" "$picture" | tr ' ' '\t')" >>"$work/io.tsv"
    done
done

# ------------------------------------------------------------------ browser
say "timing the way to a tab in headless chromium (real xdg-open)"
python3 bench/browser.py --photomap "$photomap" --picture "$pictures_dir/small.jpg" \
    --url "$expected_url" --runs "$browser_runs" --cold-runs "$browser_cold_runs" \
    --output "$work/browser.tsv"

storage

# ------------------------------------------------------------------ results
python3 bench/report.py --work "$work" --markdown bench/results.md --chart-data "$work/chart.dat"
gnuplot -e "data='$work/chart.dat'; output='bench/results.svg'; subtitle='$(
    sed -n 's/^machine\t//p' "$work/about.tsv" | sed "s/'//g"), $(
    sed -n 's/^date\t//p' "$work/about.tsv")'" bench/chart.gp
echo
say "wrote bench/results.md and bench/results.svg (raw figures in build/bench/)"
