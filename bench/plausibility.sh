#!/usr/bin/env bash
# The wrong-password hint, measured on real files: false warnings with the right password, detection with
# wrong passwords, and what the check costs a short run. The corpus is made here (bench/make-corpus.pl and
# the usual tools) and taken from the machine (executables, libraries, translations, fonts, icons, ...).
# Usage: bench/plausibility.sh BIN_DIR [WRONG_PASSWORDS] [TRIALS_PER_FILE] [COST_RUNS]
set -euo pipefail
BIN=$(cd "${1:-build/bin}" && pwd)
WRONG=${2:-1000}
TRIALS=${3:-10}
COST_RUNS=${4:-400}
HERE=$(cd "$(dirname "$0")" && pwd)
CLI=$BIN/brasko-decrypt-cli

work=$(mktemp -d "${TMPDIR:-/tmp}/brasko-plaus-XXXXXX")
trap 'rm -rf "$work"' EXIT
gen=$work/gen
mkdir -p "$gen" "$work/enc" "$work/cost"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

# Made here, so that every machine has them.
perl "$HERE/make-corpus.pl" "$gen" 8
for f in "$gen"/text*.txt; do iconv -f UTF-8 -t ISO-8859-1 "$f" > "${f%.txt}-latin1.txt"; done
for f in "$gen"/bild*.ppm; do cjpeg -quality 85 "$f" > "${f%.ppm}.jpg"; rm "$f"; done
for i in 1 2 3 4 5 6 7 8; do
    gzip -9 -c "$gen/text$i.txt" > "$gen/text$i.txt.gz"
    bzip2 -c "$gen/tabelle$i.csv" > "$gen/tabelle$i.csv.bz2"
    xz -c "$gen/buchungen$i.xml" > "$gen/buchungen$i.xml.xz"
    (cd "$gen" && tar cf "archiv$i.tar" "text$i.txt" "bild$i.png" && zip -q -X "archiv$i.zip" "bericht$i.html" "bild$i.jpg" "ton$i.wav")
    sqlite3 "$gen/daten$i.sqlite" "create table buchung(nr integer primary key, text, betrag real);
        with recursive n(i) as (select 1 union all select i + 1 from n where i < $((i * 150)))
        insert into buchung select i, 'Buchung ' || i || ' ' || hex(randomblob(4)), i * 3.7 from n;"
    # An Office Open XML document: its parts zipped, [Content_Types].xml first.
    d=$work/docx$i; mkdir -p "$d/_rels" "$d/word"
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>\n' > "$d/[Content_Types].xml"
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>\n' > "$d/_rels/.rels"
    { printf '<?xml version="1.0" encoding="UTF-8"?>\n<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>'
      sed 's/.*/<w:p><w:r><w:t>&<\/w:t><\/w:r><\/w:p>/' "$gen/text$i.txt"; printf '</w:body></w:document>\n'; } > "$d/word/document.xml"
    (cd "$d" && zip -q -X "$gen/brief$i.docx" "[Content_Types].xml" _rels/.rels word/document.xml)
done

# Taken from the machine: up to 12 files of each kind, spread over the sorted candidates.
candidates() {
    local p
    for p in /usr/bin/* /usr/lib/x86_64-linux-gnu/*.so.* /usr/lib/x86_64-linux-gnu/*.a /usr/share/doc/*/copyright \
        /usr/share/doc/*/*.gz /usr/share/common-licenses/* /usr/share/zoneinfo/Europe/* /usr/share/terminfo/*/* \
        /usr/share/locale/de/LC_MESSAGES/*.mo /usr/share/qt6/translations/*.qm /usr/include/*.h \
        /usr/share/mime/packages/*.xml /usr/share/pixmaps/* /usr/lib/locale/C.utf8/LC_* /etc/*.conf \
        /usr/lib/x86_64-linux-gnu/cmake/*/*.cmake /usr/share/perl/5*/*.pm /usr/share/perl/5*/*/*.pm \
        /usr/lib/python3/dist-packages/*/*.py /usr/share/keyrings/*.gpg; do
        [ -f "$p" ] && [ -r "$p" ] && [ -s "$p" ] && printf '%s\n' "$p"
    done
    find /usr/share/icons /usr/share/fonts /usr/share/qt6 -maxdepth 5 -type f -size +0 \
        \( -name '*.png' -o -name '*.svg' -o -name '*.ttf' -o -name '*.jpg' -o -name '*.gif' -o -name '*.pdf' \) 2>/dev/null
}
candidates | LC_ALL=C sort -u > "$work/candidates"
file -L --mime-type -F $'\t' -f "$work/candidates" | awk -F'\t' '{sub(/^ +/, "", $2); print $2 "\t" $1}' > "$work/typed"
awk -F'\t' '{n[$1]++; line[$1, n[$1]] = $0}
    END {for (t in n) {k = n[t] < 12 ? n[t] : 12; for (i = 0; i < k; i++) print line[t, 1 + int(i * n[t] / k)]}}' \
    "$work/typed" > "$work/list"
ls -d "$gen"/* > "$work/generated"
file -L --mime-type -F $'\t' -f "$work/generated" | awk -F'\t' '{sub(/^ +/, "", $2); print $2 "\t" $1}' >> "$work/list"
# Text is told apart by its encoding too (UTF-8, ISO-8859-1, ASCII).
cut -f2 "$work/list" > "$work/paths"
file -L --mime-encoding -b -f "$work/paths" | paste - "$work/list" |
    awk -F'\t' '{t = $2; if (t == "text/plain") t = t "; " $1; print t "\t" $3}' | LC_ALL=C sort > "$work/list.tsv"

echo "== false warnings and detection (bench-plausibility, $WRONG wrong passwords, $TRIALS per file)"
"$BIN/bench-plausibility" "$work/list.tsv" "$work/enc" "$WRONG" "$TRIALS" || status=$?

# The same through the command line: --check over the whole corpus, right and wrong password; how often the
# process loads libmagic (the dynamic loader's own log).
printf 'benchmark' > "$work/right"; printf 'Benchmark' > "$work/wrong"
n_files=$(ls "$work/enc" | wc -l)
check() {
    (cd "$work/enc" && LD_DEBUG=files "$CLI" --check --password-file "$1" *.enc > "$work/check.out" 2> "$work/check.err") || true
    printf '%s of %s files said to look random, libmagic loaded %s time(s)' \
        "$(grep -c 'sieht zufällig aus' "$work/check.out" || true)" "$n_files" \
        "$(grep -c 'file=libmagic.so.1 \[0\];  dynamically loaded' "$work/check.err" || true)"
}
echo "== brasko-decrypt-cli --check over the corpus"
echo "  right password: $(check "$work/right")"
echo "  wrong password: $(check "$work/wrong")"

# Cost: a 4 KiB plausible file decrypted by a fresh process, with the check (the default) and without it
# (--no-check, which is what the program did before), in alternating blocks; CPU time of the children.
head -c 4096 "$gen/text8.txt" | openssl enc -e -des-ede3 -nopad -K "$(printf '%-24s' benchmark | od -An -tx1 | tr -d ' \n')" \
    > "$work/cost/klein.bin"
echo "== cost of the check: 4 KiB text file, $COST_RUNS runs each, alternating blocks of 20"
"$BIN/bench-plausibility-cost" "$COST_RUNS" "$work/cost" "$CLI" --quiet --password-file "$work/right" klein.bin
# Instructions are not disturbed by a busy machine: where valgrind is installed, count them too.
if command -v valgrind > /dev/null; then
    instructions() {
        (cd "$work/cost" && valgrind --tool=callgrind --callgrind-out-file=/dev/null "$CLI" --quiet "$@" \
            --password-file "$work/right" klein.bin 2>&1 | sed -n 's/.*Collected : \([0-9]*\).*/\1/p')
    }
    on=$(instructions); off=$(instructions --no-check)
    awk -v on="$on" -v off="$off" 'BEGIN {printf "  instructions (callgrind): with the check %d, --no-check %d: %.4fx\n", on, off, on / off}'
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit "${status:-0}"
