# bash completion for pemo: its switches, and job files after -file, in -file:PATH and alone.

# Sets the caller's cur and prev, with the pieces readline split off at ":" joined back on, so
# that -file:PATH and -letter:X stay one word.
_pemo_words() {
    local i=$COMP_CWORD
    cur=${COMP_WORDS[COMP_CWORD]}
    while ((i > 1)) && [[ ${COMP_WORDS[i]} == : || ${COMP_WORDS[i - 1]} == : ]]; do
        i=$((i - 1))
        cur=${COMP_WORDS[i]}$cur
    done
    prev=${COMP_WORDS[i - 1]}
}

# Job files and directories under a path as typed, its quotes and backslashes taken off. Directories
# come without a final "/": readline adds it once itself (a "/" of ours would be doubled when the
# cursor is not at the end of the line).
_pemo_jobs() {
    local path=$1
    [[ $path == [\"\']* ]] && path=${path:1}
    path=$(sed 's/\\\(.\)/\1/g' <<<"$path")
    compgen -f -X '!*.job' -- "$path"
    compgen -d -- "$path"
}

_pemo() {
    local cur prev IFS=$'\n'
    _pemo_words
    if [[ $prev == -restore || $prev == -to ]]; then
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        compopt -o filenames 2>/dev/null
    elif [[ $prev == -at ]]; then
        return
    elif [[ $prev == -file || $cur != -* ]]; then
        # A file is followed by a space and a directory by "/", and blanks are escaped, by readline.
        mapfile -t COMPREPLY < <(_pemo_jobs "$cur")
        compopt -o filenames 2>/dev/null
    elif [[ $cur == -file:* ]]; then
        mapfile -t COMPREPLY < <(_pemo_jobs "${cur#-file:}")
        compopt -o filenames 2>/dev/null
        if [[ $COMP_WORDBREAKS != *:* ]]; then
            # Readline replaces the whole word, which it cannot mark as a directory.
            local i
            for i in "${!COMPREPLY[@]}"; do
                [[ -d ${COMPREPLY[i]} ]] && COMPREPLY[i]+=/
                COMPREPLY[i]=-file:${COMPREPLY[i]}
            done
            [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == */ ]] && compopt -o nospace 2>/dev/null
        fi
    else
        local switches="-file -runall -show -stay -auto -fakeit -verbose -quiet -maxdelete: -shutdown -ignoreerrors -datelog
            -logexclusions -noballoon -showdetlog -letter: -undo -restore -at -to -task: --help --version"
        IFS=$' \t\n'
        mapfile -t COMPREPLY < <(compgen -W "$switches" -- "$cur")
        [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *: ]] && compopt -o nospace 2>/dev/null
        if [[ $COMP_WORDBREAKS == *:* && $cur == *:* ]]; then
            # Readline replaces only what follows the last ":".
            COMPREPLY=("${COMPREPLY[@]##*:}")
        fi
    fi
}
complete -F _pemo pemo
