# bash completion for tripwire
_tripwire() {
    local cur prev words cword
    _init_completion || return
    local commands="info running check start install ensure status stop watch help"
    local common="--mode --json --log-mask --log-file --verbose --first-folder-override
                  --second-folder-override --help"
    case $prev in
        --mode)
            COMPREPLY=($(compgen -W "standard drive" -- "$cur"))
            return ;;
        --log-file)
            _filedir
            return ;;
        --first-folder-override | --second-folder-override | --installation-root)
            _filedir -d
            return ;;
        --log-mask | --triggered-by | --grace | --patience)
            return ;;
    esac
    local command="" word
    for word in "${words[@]:1:cword-1}"; do
        case " $commands " in *" $word "*) command=$word; break ;; esac
    done
    local own=""
    case $command in
        install) own="--triggered-by --installation-root" ;;
        ensure) own="--triggered-by" ;;
        stop) own="--grace" ;;
        watch) own="--patience" ;;
        help) COMPREPLY=($(compgen -W "$commands" -- "$cur")); return ;;
    esac
    if [[ $cur == -* || -n $command ]]; then
        COMPREPLY=($(compgen -W "$common $own" -- "$cur"))
    else
        COMPREPLY=($(compgen -W "$commands --version $common" -- "$cur"))
    fi
}
complete -F _tripwire tripwire
