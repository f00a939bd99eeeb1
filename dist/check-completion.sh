#!/usr/bin/env bash
# Drives the bash completion as bash does (COMP_WORDS, COMP_CWORD) and checks what it offers: the options of
# the option lines of the real program's --help (none from its examples), files for file arguments and
# positionals, folders for --output-dir. Checks that the zsh completion's fixed list names the same options.
# Usage: check-completion.sh COMPLETION-FILE PATH-TO-brasko-decrypt-cli
set -uo pipefail

completion=${1:?usage: check-completion.sh COMPLETION-FILE CLI}
cli=${2:?usage: check-completion.sh COMPLETION-FILE CLI}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
zsh_completion=$(dirname "$completion")/_brasko-decrypt-cli
mkdir "$work/ordner mit blank"
touch "$work/a b.enc" "$work/kennwort.txt" "$work/--pass.enc"
cd "$work" || exit 1

# shellcheck source=/dev/null
source "$completion"

status=0
# expect FUNCTION "WORDS ..." EXPECTED: completes the last word and compares the sorted offers.
expect() {
    local function=$1 expected=$2
    shift 2
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "$function" 2>/dev/null
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd '|')
    if [ "$got" != "$expected" ]; then
        echo "check-completion: '${*:2}' offered '$got', expected '$expected'" >&2
        status=1
    fi
}

expect _brasko_decrypt_cli '--password-file|--password-stdin' "$cli" --pass
expect _brasko_decrypt_cli '--prefix' "$cli" --pre
expect _brasko_decrypt_cli '-j' "$cli" -j
expect _brasko_decrypt_cli '--pass.enc|a b.enc|kennwort.txt|ordner mit blank' "$cli" --quiet ''
expect _brasko_decrypt_cli 'kennwort.txt' "$cli" --password-file k
expect _brasko_decrypt_cli 'ordner mit blank' "$cli" --output-dir ''
expect _brasko_decrypt_cli '' "$cli" --prefix ''
expect _brasko_decrypt_cli '--pass.enc' "$cli" -- --pass
expect _brasko_decrypt 'a b.enc' brasko-decrypt a

# The options of the help's option lines (indented, starting with a dash: "  -j,--jobs N   Threads ..."),
# and nothing from its examples ("find daten -type f -print0 | ...").
help=$("$cli" --help)
options=$(grep -E '^ +-' <<<"$help" | awk '{ print $1 }' | tr ',' '\n' | grep -E '^--?[[:alnum:]]' | sort -u)
expect _brasko_decrypt_cli "$(paste -sd '|' <<<"$options")" "$cli" -
expect _brasko_decrypt_cli '' "$cli" -t
expect _brasko_decrypt_cli '' "$cli" -p

# A help laid out in other ways: ", " between the names, "=" before a value, a tab as the gap, options named
# in descriptions, prose and examples.
cat >"$work/other" <<'EOF'
#!/bin/sh
printf '%s\n' 'Aufruf: other [OPTIONEN] DATEI (mit -r auch Ordner)' \
    '  -a, --alpha          Erste Option' \
    '  --beta=WERT          Zweite, mit Wert (wie --zeta)' \
    '  -c,--gamma N         Dritte (wie find -print0)' \
    "$(printf '\t--delta\tVierte')" \
    'Beispiele:' \
    '  find . -type f -print0 | other -0 --files-from -' \
    '    other --alpha --beta=x a.enc'
EOF
chmod +x "$work/other"
expect _brasko_decrypt_cli '--alpha|--beta|--delta|--gamma|-a|-c' "$work/other" -

# The zsh completion lists its options by hand: the same ones, {-h,--help} pairs and single entries alike.
zsh_options=$({
    grep -oE '\{-[^}]*\}' "$zsh_completion" | tr -d '{}' | tr ',' '\n' | sed -E 's/[=+]$//'
    sed -nE "s/^[[:space:]]*'(\([^)]*\))?(--?[[:alnum:]][[:alnum:]-]*).*/\2/p" "$zsh_completion"
} | sort -u)
if [ "$zsh_options" != "$options" ]; then
    echo "check-completion: the zsh completion's options differ from --help's:" >&2
    diff <(echo "$options") <(echo "$zsh_options") | sed -n 's/^</  only in --help:/p; s/^>/  only in zsh:/p' >&2
    status=1
fi

[ "$status" -eq 0 ] && echo "check-completion: options, files and folders completed as expected"
exit "$status"
