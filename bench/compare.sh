#!/usr/bin/env bash
# Throughput and peak memory of the core against `openssl enc` on the same random file, side by side:
# alternating runs, medians of several rounds. Usage: bench/compare.sh BIN_DIR [SIZE_MIB] [ROUNDS]
set -euo pipefail
BIN=${1:-build/bin}
SIZE_MIB=${2:-64}
ROUNDS=${3:-5}
BIG_MIB=256
TIME=/usr/bin/time

work=$(mktemp -d "${TMPDIR:-/tmp}/brasko-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
PASSWORD=benchmark
KEY=$(printf '%-24s' "$PASSWORD" | od -An -tx1 | tr -d ' \n')

head -c $((SIZE_MIB * 1048576)) /dev/urandom > "$work/data.bin"

# Runs a command under /usr/bin/time; prints "seconds peak_kib".
measure() {
    "$TIME" -f '%e %M' -o "$work/time.txt" "$@" > /dev/null
    cat "$work/time.txt"
}
ours() { rm -f "$work/$2$(basename "$1")"; measure "$BIN/bench-decrypt" "$1" "$PASSWORD" "$2"; }
theirs() { rm -f "$work/o_$(basename "$1")"; measure openssl enc -d -des-ede3 -nopad -K "$KEY" -in "$1" -out "$work/o_$(basename "$1")"; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

# Same bytes from both?
ours "$work/data.bin" e_ > /dev/null
theirs "$work/data.bin" > /dev/null
cmp -s "$work/e_data.bin" "$work/o_data.bin" || { echo "MISMATCH: outputs differ" >&2; exit 1; }

: > "$work/ours.txt"; : > "$work/theirs.txt"
for ((i = 1; i <= ROUNDS; i++)); do
    ours "$work/data.bin" e_ >> "$work/ours.txt"
    theirs "$work/data.bin" >> "$work/theirs.txt"
done
t_ours=$(cut -d' ' -f1 "$work/ours.txt" | median)
t_theirs=$(cut -d' ' -f1 "$work/theirs.txt" | median)
m_ours=$(cut -d' ' -f2 "$work/ours.txt" | median)
m_theirs=$(cut -d' ' -f2 "$work/theirs.txt" | median)

: > "$work/empty.bin"
m_empty=$(ours "$work/empty.bin" e_ | cut -d' ' -f2)
head -c $((BIG_MIB * 1048576)) /dev/urandom > "$work/big.bin"
m_big=$(ours "$work/big.bin" e_ | cut -d' ' -f2)

echo "file: ${SIZE_MIB} MiB random, ${ROUNDS} alternating rounds, medians; $(nproc) cores"
awk -v to="$t_ours" -v tt="$t_theirs" -v s="$SIZE_MIB" -v mo="$m_ours" -v mt="$m_theirs" 'BEGIN {
    printf "core:        %6.2f s  %7.1f MiB/s  peak %6.1f MiB\n", to, s / to, mo / 1024
    printf "openssl enc: %6.2f s  %7.1f MiB/s  peak %6.1f MiB\n", tt, s / tt, mt / 1024
    printf "throughput ratio core/openssl: %.3fx\n", tt / to
}'
awk -v e="$m_empty" -v b="$m_big" -v big="$BIG_MIB" 'BEGIN {
    printf "peak memory of the core: empty file %.1f MiB, %d MiB file %.1f MiB (+%.1f MiB)\n", e / 1024, big, b / 1024, (b - e) / 1024
}'
