# bash completion for tovaro-cli: its options, read from its own --help so that they are never out of date;
# folders after --from and --to; files after --settings; capture and file after --date-from.
_tovaro_cli() {
    local cur prev words cword split
    _init_completion -s || return
    case $prev in
    --from | --to)
        _filedir -d
        return
        ;;
    --settings)
        _filedir
        return
        ;;
    --date-from)
        COMPREPLY=($(compgen -W 'capture file' -- "$cur"))
        return
        ;;
    --text | --rename | --number)
        return
        ;;
    esac
    $split && return
    COMPREPLY=($(compgen -W '$(_parse_help "$1" | sort -u)' -- "$cur"))
    [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
} &&
    complete -F _tovaro_cli tovaro-cli
