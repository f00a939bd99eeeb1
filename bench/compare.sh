#!/usr/bin/env bash
# Throughput and peak memory of the decryption, on one thread and on all cores, against
# `openssl enc -d -des-ede3 -nopad` on the same random file, side by side: alternating runs, medians of
# several rounds. Then many runs on a 4 KiB file, where no thread may be started.
# Usage: bench/compare.sh BIN_DIR [SIZE_MIB] [ROUNDS] [SMALL_RUNS]
# Uses BIN_DIR/brasko-decrypt-cli when it exists, else BIN_DIR/bench-decrypt.
set -euo pipefail
BIN=${1:-build/bin}
SIZE_MIB=${2:-256}
ROUNDS=${3:-3}
SMALL_RUNS=${4:-200}
TIME=/usr/bin/time
CORES=$(nproc)

work=$(mktemp -d "${TMPDIR:-/tmp}/brasko-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
PASSWORD=benchmark
KEY=$(printf '%-24s' "$PASSWORD" | od -An -tx1 | tr -d ' \n')
printf '%s' "$PASSWORD" > "$work/password"

# ours_command FILE JOBS: sets CMD to the command line that decrypts FILE into e_FILE.
if [ -x "$BIN/brasko-decrypt-cli" ]; then
    DRIVER="brasko-decrypt-cli"
    # Its summary line goes to stderr; the benchmark keeps only its own lines.
    # --no-check: the input is random, so its output would be judged random and libmagic loaded every run;
    # this benchmark measures the decryption (bench/plausibility.sh measures the check).
    ours_command() { CMD=("$BIN/brasko-decrypt-cli" --quiet --no-check --password-file "$work/password" --jobs "$2" "$1"); }
else
    DRIVER="bench-decrypt"
    ours_command() { CMD=("$BIN/bench-decrypt" "$1" "$PASSWORD" e_ "$2"); }
fi

# Runs a command under /usr/bin/time; prints "seconds peak_kib".
measure() {
    "$TIME" -f '%e %M' -o "$work/time.txt" "$@" > /dev/null 2> "$work/stderr.txt"
    cat "$work/time.txt"
}
# ours FILE JOBS: decrypts FILE into e_FILE.
ours() {
    rm -f "$work/e_$(basename "$1")"
    ours_command "$1" "$2"
    measure "${CMD[@]}"
}
# theirs FILE: decrypts FILE into o_FILE.
theirs() {
    rm -f "$work/o_$(basename "$1")"
    measure openssl enc -d -des-ede3 -nopad -K "$KEY" -in "$1" -out "$work/o_$(basename "$1")"
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
maximum() { sort -n | tail -1; }
same_output() {
    cmp -s "$work/e_$1" "$work/o_$1" || { echo "MISMATCH: $DRIVER and openssl differ on $1" >&2; exit 1; }
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
head -c $((SIZE_MIB * 1048576)) /dev/urandom > "$work/data.bin"

: > "$work/one.txt"; : > "$work/all.txt"; : > "$work/openssl.txt"
for ((i = 1; i <= ROUNDS; i++)); do
    theirs "$work/data.bin" >> "$work/openssl.txt"
    ours "$work/data.bin" 1 >> "$work/one.txt"
    same_output data.bin
    ours "$work/data.bin" "$CORES" >> "$work/all.txt"
    same_output data.bin
done

# The small file: per-run wall times, taken around each command alone, in alternating blocks.
head -c 4096 "$work/data.bin" > "$work/small.bin"
: > "$work/small_ours.txt"; : > "$work/small_one.txt"; : > "$work/small_openssl.txt"
small_runs() { # LIST N COMMAND...
    local list=$1 n=$2
    shift 2
    for ((r = 0; r < n; r++)); do
        rm -f "$work/e_small.bin" "$work/o_small.bin"
        local t0=$EPOCHREALTIME
        "$@" > /dev/null 2> "$work/stderr.txt"
        local t1=$EPOCHREALTIME
        echo "$t0 $t1" >> "$list"
    done
}
block=$(( SMALL_RUNS >= 4 ? SMALL_RUNS / 4 : 1 ))
for ((done_runs = 0; done_runs < SMALL_RUNS; done_runs += block)); do
    ours_command "$work/small.bin" "$CORES"
    small_runs "$work/small_ours.txt" "$block" "${CMD[@]}"
    small_runs "$work/small_openssl.txt" "$block" openssl enc -d -des-ede3 -nopad -K "$KEY" \
        -in "$work/small.bin" -out "$work/o_small.bin"
    ours_command "$work/small.bin" 1
    small_runs "$work/small_one.txt" "$block" "${CMD[@]}"
done
ours "$work/small.bin" "$CORES" > /dev/null
theirs "$work/small.bin" > /dev/null
same_output small.bin
small_ms() { awk '{printf "%.6f\n", ($2 - $1) * 1000}' "$1" | median; }
s_ours=$(small_ms "$work/small_ours.txt")
s_one=$(small_ms "$work/small_one.txt")
s_openssl=$(small_ms "$work/small_openssl.txt")
m_small=$(ours "$work/small.bin" "$CORES" | cut -d' ' -f2)

t_one=$(cut -d' ' -f1 "$work/one.txt" | median)
t_all=$(cut -d' ' -f1 "$work/all.txt" | median)
t_openssl=$(cut -d' ' -f1 "$work/openssl.txt" | median)
m_one=$(cut -d' ' -f2 "$work/one.txt" | maximum)
m_all=$(cut -d' ' -f2 "$work/all.txt" | maximum)
m_openssl=$(cut -d' ' -f2 "$work/openssl.txt" | maximum)

echo "driver: $DRIVER; $CORES cores; load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "${SIZE_MIB} MiB random file, ${ROUNDS} alternating rounds: median time, highest peak resident memory"
awk -v s="$SIZE_MIB" -v c="$CORES" -v t1="$t_one" -v ta="$t_all" -v to="$t_openssl" \
    -v m1="$m_one" -v ma="$m_all" -v mo="$m_openssl" 'BEGIN {
    printf "  %-13s %6.2f s  %6.1f MiB/s  peak %6.1f MiB\n", "jobs 1:", t1, s / t1, m1 / 1024
    printf "  %-13s %6.2f s  %6.1f MiB/s  peak %6.1f MiB\n", "jobs " c ":", ta, s / ta, ma / 1024
    printf "  %-13s %6.2f s  %6.1f MiB/s  peak %6.1f MiB\n", "openssl enc:", to, s / to, mo / 1024
    printf "  throughput against openssl enc: jobs 1 %.3fx (goal >= 0.95), jobs %d %.3fx (goal >= 1.8)\n", to / t1, c, to / ta
    printf "  speed-up of jobs %d over jobs 1: %.3fx\n", c, t1 / ta
}'
echo "4 KiB file, ${SMALL_RUNS} runs each in alternating blocks: median wall time per run"
awk -v c="$CORES" -v sa="$s_ours" -v s1="$s_one" -v so="$s_openssl" -v m="$m_small" 'BEGIN {
    printf "  %-13s %6.2f ms  (peak %.1f MiB)\n", "jobs " c ":", sa, m / 1024
    printf "  %-13s %6.2f ms\n", "jobs 1:", s1
    printf "  %-13s %6.2f ms\n", "openssl enc:", so
    printf "  time against openssl enc: jobs %d %.3fx, jobs 1 %.3fx (goal <= 1)\n", c, sa / so, s1 / so
}'
