#!/usr/bin/env bash
# The README's recipe for an archive too large for one machine, run on this one: GNU parallel shards one
# NUL-separated file list over several command-line processes (over ssh with -S, or as the tasks of a
# scheduler's array job), each decrypting its share with --files-from and --skip-existing. A failed shard
# shows in parallel's exit status; running the same command again finishes the rest and leaves every
# output that was done as it is. Checked against openssl enc. Usage: parallel-recipe.sh BRASKO-DECRYPT-CLI
set -euo pipefail

cli=${1:?usage: parallel-recipe.sh BRASKO-DECRYPT-CLI}
command -v parallel >/dev/null || { echo "parallel-recipe: GNU parallel is missing (scripts/install-deps)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() { echo "parallel-recipe: $*" >&2; exit 1; }

printf 'geheim\n' >kennwort
key=$(printf '%-24s' geheim | od -An -tx1 | tr -d ' \n')
mkdir -p archiv/2019 archiv/2020/märz klar
n=0
for name in archiv/2019/a{1..9}.xls archiv/2020/b{1..9}.doc "archiv/2020/märz/mit leer "{1..9}.txt archiv/c{1..8}.bin; do
    n=$((n + 1))
    # Text, as an archive holds: random bytes would look like a wrong password, and the run would stop.
    head -c $((6 * n)) /dev/urandom | base64 -w0 >"$name.klar"
    openssl enc -des-ede3 -nopad -K "$key" -in "$name.klar" -out "$name"
done

# The list is made once, before the first run, and reused by every rerun: a fresh find would list the
# outputs too.
find archiv -type f ! -name '*.klar' -print0 | sort -z >liste
[ "$(tr -cd '\0' <liste | wc -c)" -eq "$n" ] || fail "list has the wrong length"
# One listed file is missing at first: its shard fails.
missing="archiv/2019/a5.xls"
mv "$missing" "$missing.weg"

run() {
    parallel --will-cite --pipe -0 --recend '\0' -N 5 -j 3 \
        "$cli" --password-file kennwort -q -n -0 --files-from - <liste 2>stderr.txt
}

status=0
run || status=$?
[ "$status" -eq 1 ] || fail "first run: parallel reported $status failed shards, expected 1"
grep -qF "Die Datei '$missing' kann nicht gefunden werden !" stderr.txt || fail "first run: no message for $missing"

# Everything else is done; remember the outputs' inodes, which a second decryption would replace.
inodes=$(find archiv -name 'e_*' -printf '%i %p\n' | sort)
[ "$(find archiv -name 'e_*' | wc -l)" -eq $((n - 1)) ] || fail "first run: not every other file was decrypted"

mv "$missing.weg" "$missing"
run || fail "second run failed: $(cat stderr.txt)"
skipped=$(awk '/ übersprungen, da ihre Ausgabedatei bereits existiert\.$/ { sum += $1 } END { print sum + 0 }' stderr.txt)
[ "$skipped" -eq $((n - 1)) ] || fail "second run skipped $skipped files, expected $((n - 1))"
after=$(find archiv -name 'e_*' ! -path "*/e_a5.xls" -printf '%i %p\n' | sort)
[ "$after" = "$inodes" ] || fail "second run touched outputs that were done"

# Every output, checked against openssl.
while IFS= read -r -d '' name; do
    output="$(dirname "$name")/e_$(basename "$name")"
    cmp -s "$output" "$name.klar" || fail "wrong output $output"
done <liste
echo "parallel-recipe: $n files over $(( (n + 4) / 5 )) shards, a failed shard rerun, all outputs correct"
