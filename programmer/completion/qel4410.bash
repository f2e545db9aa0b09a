# bash completion of the QEL4410 console tools qel-flash and qel-bench:
# commands, options, --add kinds, TIM names and fault kinds.

# With the bash-completion package its helpers are used; without, plain bash.
_qel4410_init() {
    if declare -F _init_completion >/dev/null; then
        _init_completion
        return
    fi
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
}

_qel4410_files() {
    if declare -F _filedir >/dev/null; then
        _filedir "$@"
    elif [[ $1 == -d ]]; then
        COMPREPLY+=($(compgen -d -- "$cur"))
    else
        COMPREPLY+=($(compgen -f -- "$cur"))
    fi
}

_qel4410_tims() {
    # The TIM types as qel-flash lists them: "  NAME  0xCODE  comment".
    "$1" tims 2>/dev/null | awk 'NR > 1 { print $1 }'
}

_qel_flash() {
    local cur prev words cword
    _qel4410_init || return
    local commands="list tims show program erase verify"
    local general="--yes --no --registry --json --quiet --verbose --wait-notice --help --version"
    local job="--tim --bootloader --bitstream --add --id --version --block-version --bootable
               --big-endian --at --remove --move --dynamic --remove-dynamic --clear-dynamics
               --dry-run --replace-all"
    case "$prev" in
        --tim)
            COMPREPLY=($(compgen -W "$(_qel4410_tims "${words[0]}")" -- "$cur"))
            return ;;
        --add)
            COMPREPLY=($(compgen -W "exec app data srec" -- "$cur"))
            return ;;
        --bootloader | --bitstream)
            COMPREPLY=($(compgen -W "standard" -- "$cur"))
            _qel4410_files
            return ;;
        --registry)
            _qel4410_files -d
            return ;;
        exec | app | data | srec)
            if [[ ${words[cword - 2]} == --add ]]; then
                _qel4410_files
                return
            fi ;;
    esac
    local command="" w
    for w in "${words[@]:1:cword-1}"; do
        case "$w" in list | tims | show | program | erase | verify) command=$w; break ;; esac
    done
    if [[ $cur == -* ]]; then
        case "$command" in
            program) COMPREPLY=($(compgen -W "$general $job" -- "$cur")) ;;
            list) COMPREPLY=($(compgen -W "$general --probe" -- "$cur")) ;;
            show | erase | verify) COMPREPLY=($(compgen -W "$general --tim" -- "$cur")) ;;
            *) COMPREPLY=($(compgen -W "$general" -- "$cur")) ;;
        esac
    elif [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    elif [[ $command == verify ]]; then
        _qel4410_files
    fi
}

_qel_bench() {
    local cur prev words cword
    _qel4410_init || return
    local commands="list show erase fault description"
    local faults="fail-memory fail-load restart-failure unrequested-halt unrequested-reset
                  unrequested-address missing-events refuse programmer-hang power-cut
                  progress-lockstep"
    case "$prev" in
        --description)
            _qel4410_files
            return ;;
        --state)
            _qel4410_files -d
            return ;;
    esac
    local command="" position=0 w
    for w in "${words[@]:1:cword-1}"; do
        [[ $w == -* ]] && continue
        if [[ -z $command ]]; then command=$w; else position=$((position + 1)); fi
    done
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--description --state --help --version --clear" -- "$cur"))
    elif [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    elif [[ $command == fault && $position == 2 ]]; then
        COMPREPLY=($(compgen -W "$faults" -- "$cur"))
    fi
}

complete -F _qel_flash qel-flash
complete -F _qel_bench qel-bench
