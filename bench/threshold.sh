#!/usr/bin/env bash
# Where the parallel path starts to pay: wall time per run of bench-decrypt with jobs 1 and with all cores
# on files of a few chunks, each a fresh process (so each pays the thread start-up once), in alternating
# blocks. Usage: bench/threshold.sh BIN_DIR [RUNS] [CHUNK_KIB]
set -euo pipefail
BIN=${1:-build/bin}
RUNS=${2:-40}
CHUNK_KIB=${3:-256}
CORES=$(nproc)

work=$(mktemp -d "${TMPDIR:-/tmp}/brasko-threshold-XXXXXX")
trap 'rm -rf "$work"' EXIT
head -c $((8 * CHUNK_KIB * 1024 + 64)) /dev/urandom > "$work/all.bin"

per_run_ms() { # FILE JOBS
    local total=0
    for ((r = 0; r < RUNS; r++)); do
        rm -f "$work/e_in.bin"
        local t0=$EPOCHREALTIME
        "$BIN/bench-decrypt" "$1" pw e_ "$2" > /dev/null
        local t1=$EPOCHREALTIME
        total=$(awk -v t="$total" -v a="$t0" -v b="$t1" 'BEGIN {printf "%.6f", t + b - a}')
    done
    awk -v t="$total" -v n="$RUNS" 'BEGIN {printf "%.2f", t * 1000 / n}'
}

echo "$CORES cores, load average $(cut -d' ' -f1-3 /proc/loadavg), $RUNS runs per figure, chunk $CHUNK_KIB KiB"
printf '%-28s %10s %10s %8s\n' "input" "jobs 1" "jobs $CORES" "ratio"
for entry in "4096:4 KiB" "$((CHUNK_KIB * 1024 - 8)):chunk - 8" "$((CHUNK_KIB * 1024 + 8)):chunk + 8" \
    "$((CHUNK_KIB * 1536)):1.5 chunks" "$((CHUNK_KIB * 2048)):2 chunks" "$((CHUNK_KIB * 3072)):3 chunks" \
    "$((CHUNK_KIB * 4096)):4 chunks" "$((CHUNK_KIB * 8192)):8 chunks"; do
    size=${entry%%:*}
    head -c "$size" "$work/all.bin" > "$work/in.bin"
    one=$(per_run_ms "$work/in.bin" 1)
    all=$(per_run_ms "$work/in.bin" "$CORES")
    printf '%-28s %8s ms %8s ms %7.3fx\n' "${entry#*:} ($size B)" "$one" "$all" "$(awk -v a="$one" -v b="$all" 'BEGIN {print a / b}')"
done
