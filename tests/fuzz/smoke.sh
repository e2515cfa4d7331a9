#!/bin/sh
# smoke.sh FUZZER SEED_DIR RUNS: a bounded, repeatable fuzz run. New inputs
# and any crash go to a scratch folder; the seed corpus stays as it is.
set -eu
fuzzer=$1 seeds=$2 runs=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/corpus"
if "$fuzzer" -runs="$runs" -seed=1 -max_len=256 -print_final_stats=1 \
        -artifact_prefix="$scratch/" "$scratch/corpus" "$seeds" >"$scratch/log" 2>&1; then
    grep -E '^#[0-9]+ +DONE|^stat::number_of_executed_units' "$scratch/log"
else
    tail -n 40 "$scratch/log"
    exit 1
fi
