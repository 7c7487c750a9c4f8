#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, ASan and UBSan) and runs each
# fuzz target for a bounded time from the seed corpus. Fails when a target
# finds anything: a crash, a sanitizer report, a leak, a hang, or one of the
# targets' own checks. Prints, per target, how many inputs ran, in how long,
# and the coverage reached.
#   FUZZ_SECONDS   seconds per target (default 60)
# A crashing input is kept in build/fuzz/artifacts/; the corpus that the
# runs grow stays in build/fuzz/corpus/ and is picked up by the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
scripts/make-fuzz-seeds.sh build/fuzz/seeds

mkdir -p build/fuzz/artifacts build/fuzz/logs
failed=0
summary=()
for target in picture_parser_fuzzer prop_value_fuzzer bmff_exif_fuzzer exif_gps_fuzzer own_exif_fuzzer; do
    name="${target%_fuzzer}"
    corpus="build/fuzz/corpus/$name"
    log="build/fuzz/logs/$name.log"
    mkdir -p "$corpus"
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -seed=1
             -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$name-")
    if [ "$name" != prop_value ]; then
        options+=(-dict=fuzz/gps.dict)
    fi
    echo "fuzzing $name for ${seconds}s"
    # The first directory receives new inputs; the seeds are only read.
    if build/fuzz/fuzz/"$target" "${options[@]}" "$corpus" "build/fuzz/seeds/$name" \
        >"$log" 2>&1; then
        result=passed
    else
        result=FAILED
        failed=1
        tail -n 60 "$log"
    fi
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)"
    coverage="$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)"
    files="$(find "$corpus" -type f | wc -l)"
    line="$name: $result, ${runs:-?} runs in ${seconds}s (${rate:-?}/s)"
    summary+=("$line, ${coverage:-no coverage line}, corpus $files files")
done

echo
printf '%s\n' "${summary[@]}"
if [ "$failed" -eq 0 ]; then
    echo "fuzzing found nothing"
else
    echo "fuzzing found a fault: see above and build/fuzz/artifacts/"
fi
exit "$failed"
