#!/usr/bin/env bash
# Lints the manual pages and checks that every option brasko-decrypt-cli --help prints is described in its
# page. Usage: check-manpages.sh PATH-TO-brasko-decrypt-cli MAN-DIR (the folder of the generated *.1)
set -euo pipefail

cli=${1:?usage: check-manpages.sh CLI MAN-DIR}
man_dir=${2:?usage: check-manpages.sh CLI MAN-DIR}

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
