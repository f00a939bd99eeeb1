#!/usr/bin/env bash
# Lints the manual pages, checks that no word is hyphenated and no option or command name is written with a
# hyphen instead of a minus, and that every option brasko-decrypt-cli --help prints is described in its page.
# Usage: check-manpages.sh PATH-TO-brasko-decrypt-cli MAN-DIR (the folder of the generated *.1)
set -euo pipefail

cli=${1:?usage: check-manpages.sh CLI MAN-DIR}
man_dir=${2:?usage: check-manpages.sh CLI MAN-DIR}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
strict=$work/strict.1

status=0
fail() {
    echo "check-manpages: $*" >&2
    status=1
}

pages=("$man_dir"/*.1)
[ -e "${pages[0]}" ] || { echo "check-manpages: no pages in $man_dir" >&2; exit 1; }
for page in "${pages[@]}"; do
    # Warnings and errors fail; style notes (such as long source lines) do not.
    mandoc -T lint -W warning "$page" || fail "mandoc found problems in $page"
    # groff as man-db runs it, with its warnings on.
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null) || true
    [ -z "$out" ] || fail "groff warns about $page: $out"
    # The pages are German, and groff's patterns here are English ("Ken-nwort", "--pass-word-file"): no word
    # may be broken with a hyphen (U+2010), at any width.
    for width in 50 80 120; do
        broken=$(LC_ALL=C.UTF-8 MANWIDTH=$width man -E UTF-8 -l "$page" 2>/dev/null | grep -n '‐' || true)
        [ -z "$broken" ] || fail "$(basename "$page") hyphenates at width $width:"$'\n'"$broken"
    done
    # Rendered with every plain "-" as a hyphen, as groff does where nothing maps it back to ASCII: an option
    # or a command name written that way could not be copied into a shell, so each of its dashes must be a
    # minus ("\-"). The request follows .TH, which would undo it.
    awk '{ print } /^\.TH / && !done { print ".char - \\[hy]"; done = 1 }' "$page" >"$strict"
    hyphens=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -E UTF-8 -l "$strict" 2>/dev/null |
        LC_ALL=C.UTF-8 grep -nE '(^|[[:space:](["])(‐|-{1,2}[[:alnum:]][[:alnum:]-]*‐)|brasko‐|openssl‐' || true)
    [ -z "$hyphens" ] || fail "$(basename "$page") writes options or commands with a hyphen (use \\-):"$'\n'"$hyphens"
done

# Every option token of the help (-x, --long-name) must head an entry of the page's OPTIONEN section: the
# entries' tags are the lines indented by seven blanks that start with a dash.
rendered=$(mandoc -T utf8 "$man_dir/brasko-decrypt-cli.1" | col -bx)
tags=$(sed -n '/^OPTIONEN$/,/^[^ ]/p' <<<"$rendered" | grep -E '^ {7}-' || true)
help=$("$cli" --help)
# The options are the first column of the help's option lines ("  -j,--jobs N   Threads: ...").
options=$(grep -E '^ +-' <<<"$help" | awk '{ print $1 }' | tr ',' '\n' | grep -E '^--?[[:alnum:]]' | sort -u)
[ -n "$options" ] || fail "no options found in the help"
for option in $options; do
    grep -qE -- "(^|[^[:alnum:]-])$option([^[:alnum:]-]|$)" <<<"$tags" ||
        fail "the option $option of --help has no entry under OPTIONEN in brasko-decrypt-cli(1)"
done
# And the exit statuses the help names.
for code in $(grep -oE '(^|[ ;:])[0-9]+,? (wenn|bei|falls)' <<<"$help" | grep -oE '[0-9]+'); do
    grep -qE "^ {7}$code( |$)" <<<"$rendered" || fail "exit status $code of --help is not described in the page"
done

[ "$status" -eq 0 ] && echo "check-manpages: ${#pages[@]} pages lint clean; options in the page:" $options
exit "$status"
