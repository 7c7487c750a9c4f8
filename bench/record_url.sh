#!/bin/sh
# Stands in for xdg-open while the benchmark checks its pictures: writes the
# address that photomap handed over to $PHOTOMAP_BENCH_URL_FILE.
printf '%s\n' "$1" > "$PHOTOMAP_BENCH_URL_FILE.tmp" && mv "$PHOTOMAP_BENCH_URL_FILE.tmp" "$PHOTOMAP_BENCH_URL_FILE"
