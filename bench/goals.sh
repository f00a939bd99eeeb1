#!/usr/bin/env bash
# Every speed goal of the command line beside its anchor, in one run: each case and its anchor run in
# alternating rounds (ROUNDS of them, 5 or more), and the table gives min and median wall time of each, the
# median user time, and the ratio the goal is about (from the medians). The load stands before and after.
#   small: 20 000 files of 4 KiB on tmpfs and on the disk: --jobs 1, --jobs 0, two processes of --jobs 1
#          on the two halves of the list (xargs -P2), cp -r of the tree
#   medium: 2 000 files of 64 KiB on tmpfs: --jobs 1, --jobs 0, cp -r; user time per file against the
#          kernel's time for 64 KiB (bench-kernels)
#   large: one 256 MiB file, page cache warm, on tmpfs and on the disk: --jobs 0, --jobs 1, cp,
#          openssl enc; the peak resident memory of --jobs 0
#   tiny: one 4 KiB file: ours against openssl enc, TINY_RUNS runs per round
# Usage: bench/goals.sh BIN_DIR [ROUNDS] [SMALL_FILES] [LARGE_MIB] [TINY_RUNS]
# GOALS_ONLY=small (or medium, large, tiny) runs that part alone and gives its rows and goals.
# The disk is the file system of TMPDIR's parent unless BENCH_DISK names a folder; tmpfs is /dev/shm.
set -euo pipefail
BIN=$(cd "${1:-build/bin}" && pwd)
ROUNDS=${2:-5}
SMALL_FILES=${3:-20000}
LARGE_MIB=${4:-256}
TINY_RUNS=${5:-100}
MEDIUM_FILES=2000
CLI=$BIN/brasko-decrypt-cli
TIME=/usr/bin/time
[ -x "$CLI" ] || { echo "goals.sh: $CLI is not built" >&2; exit 1; }
[ -d /dev/shm ] || { echo "goals.sh: no /dev/shm" >&2; exit 1; }

DISK=${BENCH_DISK:-${TMPDIR:-/var/tmp}}
shm=$(mktemp -d /dev/shm/brasko-goals-XXXXXX)
disk=$(mktemp -d "$DISK/brasko-goals-XXXXXX")
work=$(mktemp -d "${TMPDIR:-/tmp}/brasko-goals-times-XXXXXX")
trap 'rm -rf "$shm" "$disk" "$work"' EXIT
PASSWORD=benchmark
KEY=$(printf '%-24s' "$PASSWORD" | od -An -tx1 | tr -d ' \n')
printf '%s\n' "$PASSWORD" > "$work/password"
# --no-check: the inputs are random, so their plaintexts look random too (bench/plausibility.sh measures
# the check).
OURS=("$CLI" -q --no-check --password-file "$work/password")

load() { cut -d' ' -f1-3 /proc/loadavg; }
ONLY=${GOALS_ONLY:-}
case "$ONLY" in '' | small | medium | large | tiny) ;; *) echo "goals.sh: GOALS_ONLY is small, medium, large or tiny" >&2; exit 2 ;; esac
want() { [ -z "$ONLY" ] || [ "$ONLY" = "$1" ]; }
cpu_field() { grep -m1 "^$1" /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'; }
# Family and model tell the host's processor where the name does not (a VM may move between hosts; AMD
# family 25 runs 512-bit instructions on 256-bit units, so its AVX-512 kernel is hardly faster than AVX2).
echo "machine: $(nproc) cores, $(cpu_field 'model name') (family $(cpu_field 'cpu family'), model $(cpu_field 'model\s')); $(uname -r)"
echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'); load before: $(load)"
echo "disk: $(df -T "$disk" | awk 'NR == 2 {print $2}') ($DISK); $ROUNDS rounds, alternating"

# timed NAME COMMAND...: appends "wall user sys peak_kib" to $work/NAME.
timed() {
    local name=$1
    shift
    "$TIME" -f '%e %U %S %M' -o "$work/time.txt" "$@" > /dev/null 2> "$work/stderr.txt" || {
        echo "goals.sh: failed: $* ($(tail -1 "$work/stderr.txt"))" >&2
        exit 1
    }
    cat "$work/time.txt" >> "$work/$name"
}
column_of() { cut -d' ' -f"$2" "$work/$1" | sort -g; }
median() { awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
med() { column_of "$1" "$2" | median; }
least() { column_of "$1" "$2" | head -1; }
most() { column_of "$1" "$2" | tail -1; }
row() { # NAME LABEL
    printf '  %-34s min %7.3f s  median %7.3f s  user %7.3f s\n' "$2" "$(least "$1" 1)" "$(med "$1" 1)" \
        "$(med "$1" 2)"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }

# tree DIR COUNT BYTES: COUNT files cut from one random stream, and the list of them in two halves.
tree() {
    mkdir -p "$1/in"
    head -c $(($2 * $3)) /dev/urandom | split -b "$3" -a 6 -d - "$1/in/f"
    find "$1/in" -type f | sort > "$1/list"
    split -n l/2 -d "$1/list" "$1/half"
}
# Each case starts with the file system's dirty data written back (sync -f, not timed): on a disk the
# writeback of the case before would otherwise fall into the next. The outputs of the case before are moved
# aside, not removed, until the part ends: ext4 without a journal (this VM's disk) does not hand out again an
# inode freed in the last seconds, and checks every such inode it passes over, so that 20 000 files written
# right after 20 000 were removed cost seconds of kernel time (the writer's and cp's alike).
aside=0
fresh() {
    if [ -e "$1/out" ]; then
        aside=$((aside + 1))
        mkdir -p "$1/aside" && mv "$1/out" "$1/aside/$aside"
    fi
    mkdir "$1/out" && sync -f "$1"
}
small_round() { # DIR PREFIX
    local d=$1 p=$2
    fresh "$d"; timed "$p-one" "${OURS[@]}" --jobs 1 --output-dir "$d/out" --files-from "$d/list"
    fresh "$d"; timed "$p-all" "${OURS[@]}" --jobs 0 --output-dir "$d/out" --files-from "$d/list"
    fresh "$d"; timed "$p-halves" sh -c 'd=$1; shift; printf "%s\n" "$d/half00" "$d/half01" |
        xargs -P2 -I{} "$@" --jobs 1 --output-dir "$d/out" --files-from {}' sh "$d" "${OURS[@]}"
    fresh "$d"; rmdir "$d/out"; timed "$p-cp" cp -r "$d/in" "$d/out"
}

want small && echo "== $SMALL_FILES files of 4 KiB"
want small && for fs in shm disk; do
    dir=${!fs}/small
    tree "$dir" "$SMALL_FILES" 4096
    fresh "$dir"; "${OURS[@]}" --output-dir "$dir/out" --files-from "$dir/list" # page cache warm
    for ((i = 1; i <= ROUNDS; i++)); do small_round "$dir" "small-$fs"; done
    [ "$(find "$dir/out" -type f | wc -l)" -eq "$SMALL_FILES" ] || { echo "goals.sh: outputs missing" >&2; exit 1; }
    rm -rf "$dir"
done

if want medium; then
echo "== $MEDIUM_FILES files of 64 KiB"
dir=$shm/medium
tree "$dir" "$MEDIUM_FILES" 65536
for ((i = 1; i <= ROUNDS; i++)); do
    fresh "$dir"; timed medium-one "${OURS[@]}" --jobs 1 --output-dir "$dir/out" --files-from "$dir/list"
    fresh "$dir"; timed medium-all "${OURS[@]}" --jobs 0 --output-dir "$dir/out" --files-from "$dir/list"
    fresh "$dir"; rmdir "$dir/out"; timed medium-cp cp -r "$dir/in" "$dir/out"
done
rm -rf "$dir"
# The kernel the command line uses, alone: MB/s per core of full Triple-DES.
kernel_mbs=$("$BIN/bench-kernels" 16 3 | awk '$2 == "full" && $1 != "evp" {v = $6} END {print v + 0}')
fi

want large && echo "== one file of $LARGE_MIB MiB"
want large && for fs in shm disk; do
    d=${!fs}
    head -c $((LARGE_MIB << 20)) /dev/urandom > "$d/large.bin"
    cat "$d/large.bin" > /dev/null
    for ((i = 1; i <= ROUNDS; i++)); do
        rm -f "$d/e_large.bin"; sync -f "$d"; timed "large-$fs-all" "${OURS[@]}" --jobs 0 "$d/large.bin"
        rm -f "$d/c_large.bin"; sync -f "$d"; timed "large-$fs-cp" cp "$d/large.bin" "$d/c_large.bin"
        rm -f "$d/e_large.bin"; sync -f "$d"; timed "large-$fs-one" "${OURS[@]}" --jobs 1 "$d/large.bin"
        if [ "$fs" = shm ]; then
            timed large-openssl openssl enc -d -des-ede3 -nopad -K "$KEY" -in "$d/large.bin" -out "$d/o_large.bin"
            cmp -s "$d/e_large.bin" "$d/o_large.bin" || { echo "goals.sh: output differs from openssl's" >&2; exit 1; }
        fi
        rm -f "$d/c_large.bin" "$d/o_large.bin"
    done
    rm -f "$d/large.bin" "$d/e_large.bin"
done

if want tiny; then
echo "== one file of 4 KiB, $TINY_RUNS runs per round"
head -c 4096 /dev/urandom > "$shm/tiny.bin"
# tiny_block NAME COMMAND...: the wall time of TINY_RUNS runs, per run, appended as a "wall" line.
tiny_block() {
    local name=$1
    shift
    local t0=$EPOCHREALTIME
    for ((r = 0; r < TINY_RUNS; r++)); do "$@" > /dev/null 2>&1; done
    local t1=$EPOCHREALTIME
    awk -v a="$t0" -v b="$t1" -v n="$TINY_RUNS" 'BEGIN {printf "%.6f 0 0 0\n", (b - a) / n}' >> "$work/$name"
}
for ((i = 1; i <= ROUNDS; i++)); do
    tiny_block tiny-ours "${OURS[@]}" -o "$shm/e_tiny.bin" "$shm/tiny.bin"
    tiny_block tiny-openssl openssl enc -d -des-ede3 -nopad -K "$KEY" -in "$shm/tiny.bin" -out "$shm/o_tiny.bin"
done
cmp -s "$shm/e_tiny.bin" "$shm/o_tiny.bin" || { echo "goals.sh: output differs from openssl's" >&2; exit 1; }
fi

echo "load after: $(load)"
echo
want small && echo "$SMALL_FILES x 4 KiB:"
want small && for fs in shm disk; do
    name=$([ "$fs" = shm ] && echo tmpfs || echo disk)
    row "small-$fs-one" "$name --jobs 1"
    row "small-$fs-all" "$name --jobs 0"
    row "small-$fs-halves" "$name two --jobs 1 on halves (xargs -P2)"
    row "small-$fs-cp" "$name cp -r"
done
if want medium; then
echo "$MEDIUM_FILES x 64 KiB on tmpfs:"
row medium-one "--jobs 1"
row medium-all "--jobs 0"
row medium-cp "cp -r"
fi
if want large; then
echo "$LARGE_MIB MiB, page cache warm:"
for fs in shm disk; do
    name=$([ "$fs" = shm ] && echo tmpfs || echo disk)
    row "large-$fs-all" "$name --jobs 0"
    row "large-$fs-one" "$name --jobs 1"
    row "large-$fs-cp" "$name cp"
done
row large-openssl "tmpfs openssl enc"
fi
if want tiny; then
echo "4 KiB, one run:"
printf '  %-34s min %7.2f ms  median %7.2f ms\n' "ours" "$(least tiny-ours 1 | awk '{print $1 * 1000}')" \
    "$(med tiny-ours 1 | awk '{print $1 * 1000}')"
printf '  %-34s min %7.2f ms  median %7.2f ms\n' "openssl enc" "$(least tiny-openssl 1 | awk '{print $1 * 1000}')" \
    "$(med tiny-openssl 1 | awk '{print $1 * 1000}')"
fi

echo
echo "goals (from medians):"
goal() { printf '  %-58s %8s   goal %s\n' "$1" "$2" "$3"; }
if want medium; then
kernel_us=$(awk -v m="$kernel_mbs" 'BEGIN {printf "%.1f", (m > 0 ? 65536 / m : 0)}')
per_file_us=$(awk -v u="$(med medium-one 2)" -v n="$MEDIUM_FILES" 'BEGIN {printf "%.1f", u / n * 1e6}')
goal "64 KiB: user time per file / kernel time ($per_file_us / $kernel_us us)" \
    "$(ratio "$per_file_us" "$kernel_us")x" "<= 1.5x"
goal "64 KiB: --jobs 0 / cp -r" "$(ratio "$(med medium-all 1)" "$(med medium-cp 1)")x" "<= 3x"
fi
if want small; then
goal "4 KiB tmpfs: --jobs 1 / cp -r" "$(ratio "$(med small-shm-one 1)" "$(med small-shm-cp 1)")x" "<= 2x"
goal "4 KiB tmpfs: speed-up of --jobs 0 over --jobs 1" \
    "$(ratio "$(med small-shm-one 1)" "$(med small-shm-all 1)")x" ">= 1.7x"
goal "4 KiB tmpfs: speed of --jobs 0 / two processes on halves" \
    "$(ratio "$(med small-shm-halves 1)" "$(med small-shm-all 1)")x" "(ceiling 1x)"
goal "4 KiB disk: speed of --jobs 0 / two processes on halves" \
    "$(ratio "$(med small-disk-halves 1)" "$(med small-disk-all 1)")x" ">= 1x"
fi
if want large; then
goal "$LARGE_MIB MiB disk: speed of --jobs 0 / cp" "$(ratio "$(med large-disk-cp 1)" "$(med large-disk-all 1)")x" \
    ">= 1x"
goal "$LARGE_MIB MiB tmpfs: speed of --jobs 0 / cp" "$(ratio "$(med large-shm-cp 1)" "$(med large-shm-all 1)")x" \
    ">= 0.8x"
goal "$LARGE_MIB MiB tmpfs: speed of --jobs 1 / openssl enc" \
    "$(ratio "$(med large-openssl 1)" "$(med large-shm-one 1)")x" ">= 30x"
fi
if want tiny; then
goal "4 KiB: time of ours / openssl enc" "$(ratio "$(med tiny-ours 1)" "$(med tiny-openssl 1)")x" "<= 0.7x"
fi
if want large; then
goal "peak memory, $LARGE_MIB MiB at --jobs 0" \
    "$(awk -v k="$(most large-shm-all 4)" 'BEGIN {printf "%.1f MiB", k / 1024}')" "<= 32 MiB"
fi
