# bash completion for tovaro-cli: its options, read from its own --help so that they are never out of date;
# folders after --from and --to; files after --settings; capture and file after --date-from; patterns after --folders.
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
    --text | --rename | --number | --move-extensions | --zip-extensions)
        return
        ;;
    --folders)
        COMPREPLY=($(compgen -W '%Y/%Y-%m-%d %Y/%m %Y-%m-%d' -- "$cur"))
        return
        ;;
    --date-from)
        COMPREPLY=($(compgen -W 'capture file' -- "$cur"))
        return
        ;;
    esac
    $split && return
    COMPREPLY=($(compgen -W '$(_parse_help "$1" | sort -u)' -- "$cur"))
    [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
} &&
    complete -F _tovaro_cli tovaro-cli
