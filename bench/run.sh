#!/usr/bin/env bash
# Benchmark: how fast photomap gets a position to the browser and how much of
# the picture it leaves in the page cache, against the tools a user would
# pick instead (exiv2 -g, exiftool) and against a floor (bench/floor.c: one
# 64 KiB pread, then xdg-open spawned and waited for).
#
#   bench/run.sh [--remake-pictures] [--reader-only]
#
# Installs what is missing (Debian; as root or through sudo), builds the
# release preset (or takes the photomap named in BENCH_PHOTOMAP), makes the
# pictures once (build/bench/pictures; --remake-pictures makes them anew),
# checks that every tool finds the GPS position in every picture, then
# measures on this machine:
#   - pages of the picture left in the page cache after one run (evicted
#     first, counted with fincore), beside the kernel's read-ahead
#     (bench/storage.py), and whether photomap loaded libexiv2;
#   - time from start to exit, with hyperfine: every command in one run, in
#     rounds whose runs are pooled; photomap and the floor hand their URL to
#     a stand-in xdg-open (/bin/true), and wait for its exit;
#   - the full run also: what the confined reader process costs (beside
#     photomap_unconfined, where that target builds), peak memory
#     (/usr/bin/time -v), bytes read (strace), the time on a share answering
#     each read in 20 ms (FUSE, tests/support/slowfs.py) and the time until
#     a real browser has the tab (bench/browser.py: headless chromium, the
#     real xdg-open).
# Prints the tables and the goals (reported, never failing the run). The full
# run writes bench/results.md and bench/results.svg; --reader-only measures
# only the pages (the five large pictures) and the hand-over (the two JPEGs,
# one hyperfine run), in about two minutes, and writes build/bench/reader.md.
#
# Settings: BENCH_PHOTOMAP (a photomap binary; nothing is built for it);
# BENCH_ROUNDS (8; 1 with --reader-only); for each round and command
# BENCH_WARMUP (1; 3), BENCH_MIN_RUNS (5; 30) and BENCH_MAX_RUNS (10; 30);
# BENCH_RSS_RUNS (3); BENCH_BROWSER_RUNS (10) with chromium running,
# BENCH_BROWSER_COLD_RUNS (3) starting it; BENCH_SLOW_RUNS (3) on the slow
# share. The full run takes about five minutes, plus a few the first time,
# for the pictures.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$PWD
work=$root/build/bench
pictures_dir=$work/pictures
bin=$work/bin              # xdg-open = /bin/true: timing, pages, memory, strace
check_bin=$work/check-bin  # an xdg-open that records the URL: the check
expected_url="https://www.google.com/maps/place/48.85822222,2.29450000"

reader_only=false
remake=false
for argument in "$@"; do
    case "$argument" in
        --remake-pictures) remake=true ;;
        --reader-only) reader_only=true ;;
        *) echo "usage: bench/run.sh [--remake-pictures] [--reader-only]" >&2; exit 2 ;;
    esac
done
if $reader_only; then
    rounds=${BENCH_ROUNDS:-1} warmup=${BENCH_WARMUP:-3}
    min_runs=${BENCH_MIN_RUNS:-30} max_runs=${BENCH_MAX_RUNS:-30}
else
    rounds=${BENCH_ROUNDS:-8} warmup=${BENCH_WARMUP:-1}
    min_runs=${BENCH_MIN_RUNS:-5} max_runs=${BENCH_MAX_RUNS:-10}
fi
rss_runs=${BENCH_RSS_RUNS:-3}
browser_runs=${BENCH_BROWSER_RUNS:-10}
browser_cold_runs=${BENCH_BROWSER_COLD_RUNS:-3}
slow_runs=${BENCH_SLOW_RUNS:-3}

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
    $sudo apt-get -o DPkg::Lock::Timeout=600 update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y \
        --no-install-recommends "${missing[@]}"
fi
# ImageMagick's own convert, even where something else named convert comes first on PATH.
convert=/usr/bin/convert
[ -x "$convert" ] || convert=$(command -v convert)
exiv2=$(command -v exiv2)
exiftool=$(command -v exiftool)

# ------------------------------------------------------------------ builds
unconfined=""
release_flags=build/release/CMakeFiles/photomap.dir/flags.make
if [ -n "${BENCH_PHOTOMAP:-}" ]; then
    photomap=$(realpath "$BENCH_PHOTOMAP")
    photomap_source="$BENCH_PHOTOMAP, as given"
else
    say "building photomap (release preset)"
    cmake --preset release >/dev/null
    cmake --build --preset release >/dev/null
    photomap=$root/build/release/photomap
    photomap_source="build/release/photomap, release preset"
    # The same program parsing in its own process (bench/unconfined_reader.cpp):
    # what the confined reader costs. Only where the checkout still has it.
    if ! $reader_only; then
        mkdir -p "$work"
        if cmake --build --preset release --target photomap_unconfined \
            >"$work/unconfined-build.log" 2>&1; then
            unconfined=$root/build/release/photomap_unconfined
        else
            say "no photomap_unconfined in this checkout: the reader's cost is left out"
        fi
    fi
fi
# The floor with photomap's own compiler flags (-std=… aside), where a
# release build is there to read them from.
flags=-O2
if [ -f "$release_flags" ]; then
    flags=$(sed -n 's/^CXX_FLAGS = //p' "$release_flags" |
            sed -e 's/-std=[^ ]*//g' -e 's/  */ /g' -e 's/^ //' -e 's/ $//')
fi
mkdir -p "$bin" "$check_bin" "$pictures_dir"
# shellcheck disable=SC2086  # the flags are words
cc $flags -o "$work/floor" bench/floor.c
ln -sf /bin/true "$bin/xdg-open"
cp bench/record_url.sh "$check_bin/xdg-open"
say "photomap: $photomap; floor built with: cc $flags"

# ---------------------------------------------------------------- pictures
# Keys: FORMAT-SIZE. Small pictures are about 50 kB, large ones about 50 MB
# of noise (so that nothing compresses it away), each with the Eiffel
# Tower's position in Exif GPS tags. The JPEG's and the PNG's Exif come
# before the image data, the TIFF's directories and the WebP's EXIF chunk
# after it.
all_keys=(jpeg-small jpeg-large tiff-small tiff-large heic-small heic-large
          webp-small webp-large png-small png-large)
declare -A file=(
    [jpeg-small]=small.jpg [jpeg-large]=large.jpg [tiff-small]=small.tif [tiff-large]=large.tif
    [heic-small]=small.heic [heic-large]=large.heic [webp-small]=small.webp
    [webp-large]=large.webp [png-small]=small.png [png-large]=large.png)
declare -A pixels=(
    [jpeg-small]=180x136 [jpeg-large]=6000x4000 [tiff-small]=128x128 [tiff-large]=4096x4096
    [heic-small]=180x136 [heic-large]=6000x4000 [webp-small]=128x128 [webp-large]=4096x4096
    [png-small]=130x130 [png-large]=4096x4096)
# Where the Exif must sit: in the first 64 KiB, or in the last tenth.
declare -A exif_place=([jpeg]=front [tiff]=end [webp]=end [png]=front [heic]=any)
recipe=3  # raise when the pictures' recipe changes

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
    local d=$pictures_dir size
    rm -f "$d"/*
    say "making the pictures (the large HEIC takes a while)"
    for size in small large; do
        noise "${pixels[jpeg-$size]}" "$d/$size.jpg" -quality 95
        noise "${pixels[webp-$size]}" "$d/$size.webp" -define webp:lossless=true \
            -define webp:method=0
        "$exiv2" -q "${gps_tags[@]}" "$d/$size.jpg" "$d/$size.webp"
        # exiv2 would put the TIFF's directories first and PNG Exif in a text chunk.
        python3 bench/pictures.py tiff "$d/$size.tif" "${pixels[tiff-$size]}"
        python3 bench/pictures.py png "$d/$size.png" "${pixels[png-$size]}"
        # heif-enc copies the Exif block of the JPEG it encodes. Even sizes
        # only: for an odd one heif-enc writes a grid, whose item locations
        # (iloc version 1) exiv2 0.27 misreads, so it finds no Exif at all.
        heif-enc -q 95 -p preset=ultrafast "$d/$size.jpg" -o "$d/$size.heic" >/dev/null
    done
    echo "$recipe" >"$d/recipe"
}

if $remake || [ "$(cat "$pictures_dir/recipe" 2>/dev/null)" != "$recipe" ]; then
    make_pictures
fi
if $reader_only; then
    keys=(jpeg-small jpeg-large tiff-large heic-large webp-large png-large)
    page_keys=jpeg-large,tiff-large,heic-large,webp-large,png-large
    timing_keys=(jpeg-small jpeg-large)
else
    keys=("${all_keys[@]}")
    page_keys=$(IFS=,; echo "${all_keys[*]}")
    timing_keys=("${all_keys[@]}")
fi

# -------------------------------------------------------------------- check
# Every tool must find the position in every picture, photomap must hand
# over the URL (not print its error), and the Exif must sit where the
# tables say, before anything is measured.
say "checking that every tool finds the GPS position in every picture"
failed=false
: >"$work/pictures.tsv"
for key in "${keys[@]}"; do
    picture=$pictures_dir/${file[$key]}
    size=$(stat -c %s "$picture")
    exif_at=$(python3 bench/pictures.py exif-at "$picture")
    case ${exif_place[${key%-*}]} in
        front) [ "$exif_at" -ge 0 ] && [ "$exif_at" -lt 65536 ] ;;
        end) [ "$exif_at" -gt $((size * 9 / 10)) ] ;;
        any) [ "$exif_at" -ge 0 ] ;;
    esac || { echo "$key: Exif at byte $exif_at of $size" >&2; failed=true; }
    printf '%s\t%s\t%s\t%s\t%s\n' "$key" "${file[$key]}" "$size" "${pixels[$key]}" "$exif_at" \
        >>"$work/pictures.tsv"
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

# Whether photomap opened libexiv2 (linked, or loaded for this picture).
: >"$work/loads.tsv"
for key in "${keys[@]}"; do
    PATH="$bin:$PATH" strace -f -qq -e trace=open,openat -o "$work/opens.log" \
        "$photomap" "$pictures_dir/${file[$key]}"
    loaded=no
    grep -v ' = -1 ' "$work/opens.log" | grep -q 'libexiv2\.so' && loaded=yes
    printf '%s\t%s\n' "$key" "$loaded" >>"$work/loads.tsv"
done

# ----------------------------------------------------------------- about
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
    printf 'photomap\t%s\n' "$photomap_source"
    printf 'floor\tbench/floor.c, cc %s\n' "$flags"
    printf 'stand-in xdg-open\t/bin/true\n'
    printf 'exiv2\t%s\n' "$("$exiv2" --version | head -1)"
    printf 'exiftool\t%s\n' "$("$exiftool" -ver)"
    runs=$min_runs
    [ "$min_runs" = "$max_runs" ] || runs="$min_runs–$max_runs"
    printf 'hyperfine\t%s, --shell=none; %s round(s), each with %s warm-up and %s timed runs a command\n' \
        "$(hyperfine --version)" "$rounds" "$warmup" "$runs"
} >"$work/about.tsv"

# ------------------------------------------------------------------ storage
# Pages left in the cache and, in the full run, the slow share (needs /dev/fuse).
storage_runs=$slow_runs
$reader_only && storage_runs=0
/usr/bin/python3 bench/storage.py --work "$work" --pictures "$pictures_dir" --bin "$bin" \
    --photomap "$photomap" --exiv2 "$exiv2" --exiftool "$exiftool" \
    --keys "$page_keys" --slow-runs "$storage_runs"

# ------------------------------------------------------------------- timing
# Each round is one hyperfine run of every command, in a new random order;
# the runs of all rounds are pooled, so that a burst of load from elsewhere
# is spread over the commands instead of falling on one.
q() { printf '%q' "$1"; }
rm -f "$work"/timing-*.json "$work"/timing.log
: >"$work/commands.tsv"
for key in "${timing_keys[@]}"; do
    picture=$(q "$pictures_dir/${file[$key]}")
    printf '%s\t%s\n' "photomap $key" "$(q "$photomap") $picture" \
        "exiv2 $key" "$(q "$exiv2") -g Exif.GPSInfo -Pv $picture" \
        "exiftool $key" "$(q "$exiftool") -n -GPSLatitude -GPSLongitude $picture" \
        "floor $key" "$(q "$work/floor") $picture" >>"$work/commands.tsv"
    [ -z "$unconfined" ] || printf '%s\t%s\n' "unconfined $key" "$(q "$unconfined") $picture" \
        >>"$work/commands.tsv"
done
count=$(wc -l <"$work/commands.tsv")
for round in $(seq "$rounds"); do
    say "timing round $round of $rounds: $count commands in one hyperfine run"
    commands=()
    while IFS=$'\t' read -r name command; do
        commands+=(-n "$name" "$command")
    done < <(shuf "$work/commands.tsv")
    PATH="$bin:$PATH" hyperfine --shell=none --style basic --warmup "$warmup" \
        --min-runs "$min_runs" --max-runs "$max_runs" \
        --export-json "$work/timing-$round.json" "${commands[@]}" >>"$work/timing.log" 2>&1
done

printf 'load average after the timing\t%s\n' "$(cut -d' ' -f1-3 /proc/loadavg)" >>"$work/about.tsv"
if $reader_only; then
    python3 bench/report.py --work "$work" --markdown "$work/reader.md" --reader-only
    say "wrote build/bench/reader.md (raw figures in build/bench/)"
    exit 0
fi

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

# ------------------------------------------------------------------ results
python3 bench/report.py --work "$work" --markdown bench/results.md --chart-data "$work/chart.dat"
gnuplot -e "data='$work/chart.dat'; output='bench/results.svg'; subtitle='$(
    sed -n 's/^machine\t//p' "$work/about.tsv" | sed "s/'//g"), $(
    sed -n 's/^date\t//p' "$work/about.tsv")'" bench/chart.gp
echo
say "wrote bench/results.md and bench/results.svg (raw figures in build/bench/)"
