#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, ASan and UBSan), replays every
# fuzz target's committed corpus (fuzz/corpus/TARGET/) and the seeds that
# scripts/make-fuzz-seeds.sh makes, then searches each target for a short
# while from a seed that changes per run and is printed first. Fails when a
# target finds anything: a crash, a sanitizer report, a leak, a hang, or one
# of the targets' own checks. Prints, per target, how many inputs ran, in how
# long, and the coverage reached.
#   FUZZ_SECONDS   seconds of search per target (default 20)
#   FUZZ_SEED      the search's seed (default: a new one)
# A crashing input is kept in build/fuzz/artifacts/; what the searches add to
# a corpus stays in build/fuzz/corpus/ and is picked up by the next run.
# Longer runs, and how the committed corpus is refreshed: fuzz/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-20}"
seed="${FUZZ_SEED:-$(($(od -An -N4 -tu4 /dev/urandom) % 2147483646 + 1))}"
echo "fuzz seed $seed (FUZZ_SEED=$seed $0 searches the same way again)"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
scripts/make-fuzz-seeds.sh build/fuzz/seeds

mkdir -p build/fuzz/artifacts build/fuzz/logs
failed=0
summary=()
# Runs TARGET's fuzzer with OPTIONS... into log LOG; false when it found something.
fuzz() {
    local log=$1
    shift
    if "$@" >"$log" 2>&1; then return 0; fi
    tail -n 60 "$log"
    return 1
}
final_stat() { sed -n "s/^stat::$1: *//p" "$2" | tail -n 1; }
for target in picture_parser_fuzzer prop_value_fuzzer bmff_exif_fuzzer exif_gps_fuzzer own_exif_fuzzer; do
    name="${target%_fuzzer}"
    corpus="build/fuzz/corpus/$name"
    committed="fuzz/corpus/$name"
    log="build/fuzz/logs/$name"
    mkdir -p "$corpus"
    [ -d "$committed" ] || { echo "no committed corpus for $name in $committed" >&2; exit 1; }
    options=(-timeout=10 -rss_limit_mb=2048 -print_final_stats=1
             -artifact_prefix="build/fuzz/artifacts/$name-")
    if [ "$name" != prop_value ]; then
        options+=(-dict=fuzz/gps.dict)
    fi
    inputs=$(find "$committed" "build/fuzz/seeds/$name" -type f | wc -l)
    echo "replaying $inputs inputs of $name, then searching for ${seconds}s"
    # -runs=0: every input of the directories once, and no search.
    if ! fuzz "$log-replay.log" build/fuzz/fuzz/"$target" "${options[@]}" -runs=0 \
        "$committed" "build/fuzz/seeds/$name"; then
        summary+=("$name: FAILED on an input of $committed or the seeds")
        failed=1
        continue
    fi
    # The first directory receives new inputs; the others are only read.
    result=passed
    fuzz "$log.log" build/fuzz/fuzz/"$target" "${options[@]}" -seed="$seed" \
        -max_total_time="$seconds" "$corpus" "$committed" "build/fuzz/seeds/$name" ||
        { result=FAILED; failed=1; }
    coverage="$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log.log" | tail -n 1)"
    summary+=("$name: replay of $inputs passed; search $result, $(final_stat number_of_executed_units "$log.log") runs in ${seconds}s ($(final_stat average_exec_per_sec "$log.log")/s), ${coverage:-no coverage line}, corpus $(find "$corpus" -type f | wc -l) new files")
done

echo
printf '%s\n' "${summary[@]}"
if [ "$failed" -eq 0 ]; then
    echo "fuzzing found nothing (seed $seed)"
else
    echo "fuzzing found a fault (seed $seed): see above and build/fuzz/artifacts/"
fi
exit "$failed"
