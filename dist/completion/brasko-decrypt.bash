# Bash completion for brasko-decrypt-cli and brasko-decrypt. Installed under both names, so that
# bash-completion finds it for either command.

# The options the program offers, read from its --help once per program. Only the option lines count (an
# indented line that starts with a dash), and of each only its first column, before the gap to the
# description: examples and prose in the help name options of other programs (find -print0).
_brasko_decrypt_cli_options()
{
    if [[ ${_brasko_decrypt_cli_option_program-} != "$1" ]]; then
        _brasko_decrypt_cli_option_program=$1
        _brasko_decrypt_cli_option_list=$("$1" --help 2>/dev/null | LC_ALL=C awk '
            /^[ \t]+-/ {
                sub(/^[ \t]+/, "")
                sub(/(  |\t).*/, "")
                n = split($0, words, /[ ,]+/)
                for (i = 1; i <= n; i++) {
                    sub(/[=[].*/, "", words[i])
                    if (words[i] ~ /^--?[A-Za-z0-9][A-Za-z0-9-]*$/)
                        print words[i]
                }
            }' | LC_ALL=C sort -u | tr '\n' ' ')
    fi
    printf '%s' "$_brasko_decrypt_cli_option_list"
}

_brasko_decrypt_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} i
    COMPREPLY=()
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == -- ]]; then
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
        fi
    done
    case $prev in
        --password-file | --files-from | -o | --output)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
            ;;
        --output-dir)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return
            ;;
        --prefix | --suffix | --extension)
            return
            ;;
        -j | --jobs)
            mapfile -t COMPREPLY < <(compgen -W "0 1 $(nproc 2>/dev/null)" -- "$cur")
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(_brasko_decrypt_cli_options "${COMP_WORDS[0]}")" -- "$cur")
        return
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

# The dialog takes files and folders.
_brasko_decrypt()
{
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "${COMP_WORDS[COMP_CWORD]}")
}

complete -F _brasko_decrypt_cli brasko-decrypt-cli
complete -F _brasko_decrypt brasko-decrypt
