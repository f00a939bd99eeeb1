# Bash completion for brasko-decrypt-cli and brasko-decrypt. Installed under both names, so that
# bash-completion finds it for either command.

# The options the installed program offers, read once from its --help.
_brasko_decrypt_cli_options()
{
    if [[ -z ${_brasko_decrypt_cli_option_list-} ]]; then
        _brasko_decrypt_cli_option_list=$("$1" --help 2>/dev/null |
            grep -oE '(^|[ ,])--?[[:alnum:]][[:alnum:]-]*' | tr -d ' ,' | sort -u | tr '\n' ' ')
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
        --password-file | --files-from)
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
