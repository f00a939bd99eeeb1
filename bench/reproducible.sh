#!/usr/bin/env bash
# Builds the release programs twice, from two copies of the sources in folders of different names and with
# different file times, without ccache, and compares the binaries byte for byte.
# Usage: bench/reproducible.sh [JOBS]   (the working tree as it is, uncommitted changes included)
set -euo pipefail

jobs=${1:-$(nproc)}
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export CCACHE_DISABLE=1
unset SOURCE_DATE_EPOCH QT_RCC_SOURCE_DATE_OVERRIDE
programs=(brasko-decrypt brasko-decrypt-cli)
for tree in a "second-tree-with-a-longer-name"; do
    mkdir -p "$work/$tree"
    (cd "$src" && git ls-files -z | xargs -0 cp --parents -t "$work/$tree")
    # The second copy's files are a day older, as from another checkout.
    [ "$tree" = a ] || find "$work/$tree" -type f -exec touch -d '-1 day' {} +
    echo "reproducible: building in $work/$tree" >&2
    cmake -S "$work/$tree" -B "$work/$tree/out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        >/dev/null
    cmake --build "$work/$tree/out" -j "$jobs" --target "${programs[@]}" >/dev/null
done

status=0
for program in "${programs[@]}"; do
    first=$(sha256sum <"$work/a/out/bin/$program")
    second=$(sha256sum <"$work/second-tree-with-a-longer-name/out/bin/$program")
    if [ "$first" = "$second" ]; then
        echo "reproducible: $program identical (sha256 ${first%% *})"
    else
        echo "reproducible: $program differs between the two builds" >&2
        status=1
    fi
done
exit "$status"
