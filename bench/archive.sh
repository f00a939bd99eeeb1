#!/usr/bin/env bash
# Archives with the command line: how long planning a batch of one million names takes (--dry-run over a
# --files-from list: every output named, the replace-an-input and duplicate-output checks done), and how
# many files per second a batch of small files decrypts with one thread (--jobs 1) and with every core
# (--jobs 0), side by side in alternating rounds, medians. Prints the load with the figures.
# Usage: bench/archive.sh BIN_DIR [ROUNDS] [PLAN_NAMES] [SMALL_FILES] [MEDIUM_FILES]
set -euo pipefail
BIN=${1:-build/bin}
ROUNDS=${2:-3}
PLAN_NAMES=${3:-1000000}
SMALL_FILES=${4:-20000}
MEDIUM_FILES=${5:-2000}
CLI=$(realpath "$BIN")/brasko-decrypt-cli
TIME=/usr/bin/time
[ -x "$CLI" ] || { echo "archive.sh: $CLI is not built" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/brasko-archive-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'benchmark\n' >password

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
# timed FILE COMMAND...: runs the command, appends "wall_seconds cpu_seconds" to FILE.
timed() {
    local out=$1
    shift
    "$TIME" -f '%e %U %S' -o time.txt "$@" >/dev/null 2>stderr.txt || {
        echo "archive.sh: failed: $* ($(tail -1 stderr.txt))" >&2
        exit 1
    }
    awk '{ printf "%s %.2f\n", $1, $2 + $3 }' time.txt >>"$out"
}

echo "load before: $(uptime)"
echo "$(nproc) cores"

# Planning: names in 1000 folders that exist, files that do not (each is looked at with stat all the same).
mkdir -p plan
awk -v n="$PLAN_NAMES" 'BEGIN { for (i = 0; i < n; i++) printf "plan/d%03d/bericht-%07d.xls\n", i % 1000, i }' >plan.txt
mkdir -p plan/d{000..999}
: >plan-times.txt
for ((i = 1; i <= ROUNDS; i++)); do
    timed plan-times.txt "$CLI" --dry-run --files-from plan.txt
done
printf 'plan %d names (--dry-run --files-from): median %s s wall, %s s CPU\n' "$PLAN_NAMES" \
    "$(cut -d' ' -f1 plan-times.txt | median)" "$(cut -d' ' -f2 plan-times.txt | median)"
rm -rf plan plan.txt

# sizes: COUNT BYTES NAME. Files cut from one random stream; the outputs go to a fresh folder each run.
run_set() {
    local count=$1 bytes=$2 name=$3
    mkdir -p "$name"
    head -c $((count * bytes)) /dev/urandom | split -b "$bytes" -a 6 -d - "$name/f"
    find "$name" -type f | sort >"$name.txt"
    : >"$name-1.txt"
    : >"$name-0.txt"
    # One run first, so that every round finds the inputs in the page cache. --no-check: random inputs
    # decrypt to random-looking bytes, which the password's trial would take for a wrong password.
    rm -rf out && mkdir out && "$CLI" -q --no-check --password-file password --output-dir out \
        --files-from "$name.txt" 2>/dev/null
    # Each round's outputs are moved aside, not removed, until the set ends: ext4 without a journal checks
    # every inode freed in the last minute when it allocates one, which would make the next round pay for
    # the removal (seconds of kernel time for 20 000 files).
    for ((i = 1; i <= ROUNDS; i++)); do
        for jobs in 1 0; do
            mkdir -p aside && mv out "aside/$i-$jobs" && mkdir out
            timed "$name-$jobs.txt" "$CLI" -q --no-check --password-file password --jobs "$jobs" --output-dir out \
                --files-from "$name.txt"
        done
    done
    [ "$(find out -type f | wc -l)" -eq "$count" ] || { echo "archive.sh: outputs missing" >&2; exit 1; }
    local one all
    one=$(cut -d' ' -f1 "$name-1.txt" | median)
    all=$(cut -d' ' -f1 "$name-0.txt" | median)
    awk -v c="$count" -v b="$bytes" -v one="$one" -v all="$all" \
        -v cpu1="$(cut -d' ' -f2 "$name-1.txt" | median)" -v cpu0="$(cut -d' ' -f2 "$name-0.txt" | median)" \
        'BEGIN {
            printf "%d files of %d KiB: jobs 1 %6.2f s %7.0f files/s (CPU %.2f s) | jobs 0 %6.2f s %7.0f files/s (CPU %.2f s) | %.2fx\n",
                c, b / 1024, one, c / one, cpu1, all, c / all, cpu0, one / all
        }'
    rm -rf "$name" out aside
}
run_set "$SMALL_FILES" 4096 small
run_set "$MEDIUM_FILES" 65536 medium
echo "load after: $(uptime)"
