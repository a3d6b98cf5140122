# bash completion for pemo: its switches, and job files after -file.
_pemo() {
    local cur prev
    # Readline splits words at ":", which would cut -file:PATH and -letter:X in two.
    if declare -F _get_comp_words_by_ref >/dev/null; then
        _get_comp_words_by_ref -n : cur prev
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD - 1]}
    fi
    if [[ $prev == -restore || $prev == -to ]]; then
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        compopt -o filenames 2>/dev/null
        return
    fi
    if [[ $prev == -at ]]; then
        return
    fi
    if [[ $prev == -file ]]; then
        mapfile -t COMPREPLY < <(compgen -f -X '!*.job' -- "$cur"; compgen -d -S / -- "$cur")
        compopt -o filenames -o nospace 2>/dev/null
        return
    fi
    if [[ $cur == -file:* ]]; then
        mapfile -t COMPREPLY < <({ compgen -f -X '!*.job' -- "${cur#-file:}"; compgen -d -S / -- "${cur#-file:}"; } |
            sed 's/^/-file:/')
        compopt -o nospace 2>/dev/null
    else
        local switches="-file -runall -show -stay -auto -fakeit -verbose -quiet -maxdelete: -shutdown -ignoreerrors -datelog
            -logexclusions -noballoon -showdetlog -letter: -undo -restore -at -to -task: --help --version"
        mapfile -t COMPREPLY < <(compgen -W "$switches" -- "$cur")
        [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *: ]] && compopt -o nospace 2>/dev/null
    fi
    if declare -F __ltrim_colon_completions >/dev/null; then
        __ltrim_colon_completions "$cur"
    fi
}
complete -F _pemo pemo
