#!/usr/bin/env bash
# The benchmark, side by side in one run: first the kernel table (bench-kernels: MB/s per core and cycles
# per byte of every Triple-DES kernel on a 64 MiB buffer, from thread CPU time), then the command line on one
# random file with all cores, one thread, AVX2 forced, the 64-bit kernel forced, against
# `openssl enc -d -des-ede3 -nopad` and `cp` of the same file: alternating runs, medians of several rounds
# (wall time, and CPU time, which a busy machine spoils less), peak memory. Then many runs on a 4 KiB file.
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
# Nine characters or more: full Triple-DES, no single-DES shortcut.
PASSWORD=benchmark
KEY=$(printf '%-24s' "$PASSWORD" | od -An -tx1 | tr -d ' \n')
printf '%s' "$PASSWORD" > "$work/password"

echo "uptime:$(uptime)"
if [ -x "$BIN/bench-kernels" ]; then
    "$BIN/bench-kernels" 64 3
fi

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

# Runs a command under /usr/bin/time; prints "seconds peak_kib cpu_seconds".
measure() {
    "$TIME" -f '%e %M %U %S' -o "$work/time.txt" "$@" > /dev/null 2> "$work/stderr.txt"
    awk '{printf "%s %s %.2f\n", $1, $2, $3 + $4}' "$work/time.txt"
}
# ours FILE JOBS [KERNEL]: decrypts FILE into e_FILE, with BRASKO_DES_KERNEL=KERNEL when given.
ours() {
    rm -f "$work/e_$(basename "$1")"
    ours_command "$1" "$2"
    if [ -n "${3:-}" ]; then
        measure env BRASKO_DES_KERNEL="$3" "${CMD[@]}"
    else
        measure "${CMD[@]}"
    fi
}
# theirs FILE: decrypts FILE into o_FILE.
theirs() {
    rm -f "$work/o_$(basename "$1")"
    measure openssl enc -d -des-ede3 -nopad -K "$KEY" -in "$1" -out "$work/o_$(basename "$1")"
}
copy() {
    rm -f "$work/c_$(basename "$1")"
    measure cp "$1" "$work/c_$(basename "$1")"
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
maximum() { sort -n | tail -1; }
same_output() {
    cmp -s "$work/e_$1" "$work/o_$1" || { echo "MISMATCH: $DRIVER and openssl differ on $1" >&2; exit 1; }
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
head -c $((SIZE_MIB * 1048576)) /dev/urandom > "$work/data.bin"

rows=(all one avx2 u64 openssl cp)
for row in "${rows[@]}"; do : > "$work/$row.txt"; done
for ((i = 1; i <= ROUNDS; i++)); do
    theirs "$work/data.bin" >> "$work/openssl.txt"
    ours "$work/data.bin" 1 >> "$work/one.txt"
    same_output data.bin
    copy "$work/data.bin" >> "$work/cp.txt"
    ours "$work/data.bin" 0 >> "$work/all.txt"
    same_output data.bin
    ours "$work/data.bin" 1 avx2 >> "$work/avx2.txt"
    same_output data.bin
    ours "$work/data.bin" 1 u64 >> "$work/u64.txt"
    same_output data.bin
done
rm -f "$work/c_data.bin"

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

echo "driver: $DRIVER; $CORES cores; load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "${SIZE_MIB} MiB random file, ${ROUNDS} alternating rounds: median wall time, median CPU time (user + sys),"
echo "highest peak resident memory; speeds from the wall time"
t_openssl=$(cut -d' ' -f1 "$work/openssl.txt" | median)
c_openssl=$(cut -d' ' -f3 "$work/openssl.txt" | median)
t_cp=$(cut -d' ' -f1 "$work/cp.txt" | median)
for row in "${rows[@]}"; do
    case $row in
        all) label="jobs 0 ($CORES):" ;;
        one) label="jobs 1:" ;;
        avx2) label="jobs 1, avx2:" ;;
        u64) label="jobs 1, u64:" ;;
        openssl) label="openssl enc:" ;;
        cp) label="cp:" ;;
    esac
    t=$(cut -d' ' -f1 "$work/$row.txt" | median)
    c=$(cut -d' ' -f3 "$work/$row.txt" | median)
    m=$(cut -d' ' -f2 "$work/$row.txt" | maximum)
    awk -v l="$label" -v s="$SIZE_MIB" -v t="$t" -v c="$c" -v m="$m" -v to="$t_openssl" -v co="$c_openssl" \
        -v tc="$t_cp" 'BEGIN {
        printf "  %-16s %6.2f s %7.1f MiB/s  cpu %6.2f s  peak %6.1f MiB  x%6.1f openssl (cpu x%6.1f)  %5.2f of cp\n",
            l, t, s / t, c, m / 1024, to / t, (c > 0 ? co / c : 0), tc / t
    }'
done
echo "  goals: jobs 1 >= 15x openssl; jobs 0 >= 1/3 of cp (stretch 1/2), peak <= 32 MiB;"
echo "         avx2 forced >= 6x, u64 forced >= 2.5x openssl (all with jobs 1)"
echo "4 KiB file, ${SMALL_RUNS} runs each in alternating blocks: median wall time per run"
awk -v c="$CORES" -v sa="$s_ours" -v s1="$s_one" -v so="$s_openssl" -v m="$m_small" 'BEGIN {
    printf "  %-13s %6.2f ms  (peak %.1f MiB)\n", "jobs " c ":", sa, m / 1024
    printf "  %-13s %6.2f ms\n", "jobs 1:", s1
    printf "  %-13s %6.2f ms\n", "openssl enc:", so
    printf "  time against openssl enc: jobs %d %.3fx, jobs 1 %.3fx (goal <= 1)\n", c, sa / so, s1 / so
}'
echo "uptime:$(uptime)"
