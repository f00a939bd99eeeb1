#!/usr/bin/env bash
# Drives the bash completion as bash does (COMP_WORDS, COMP_CWORD) and checks what it offers: the options of
# the real program's --help, files for file arguments and positionals, folders for --output-dir.
# Usage: check-completion.sh COMPLETION-FILE PATH-TO-brasko-decrypt-cli
set -uo pipefail

completion=${1:?usage: check-completion.sh COMPLETION-FILE CLI}
cli=${2:?usage: check-completion.sh COMPLETION-FILE CLI}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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

[ "$status" -eq 0 ] && echo "check-completion: options, files and folders completed as expected"
exit "$status"
