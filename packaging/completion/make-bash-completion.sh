#!/bin/sh
# Writes the bash completion of kestrova-cli from the program's own --help texts, so that a
# new command or option is completed without anyone editing this file.
set -eu
program=$1
commands=$("$program" --help | sed -n '/^commands:/,/^$/p' | awk 'NF && $1 != "commands:" {print $1}' | sort -u)

cat <<'HEAD'
# bash completion for kestrova-cli; generated from its --help at build time.
_kestrova_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=""
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local command="" sub="" i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
        --data-dir | --database) ((i++)) ;;
        -*) ;;
        *)
            if [[ -z $command ]]; then
                command=${COMP_WORDS[i]}
            elif [[ -z $sub ]]; then
                sub=${COMP_WORDS[i]}
            fi
            ;;
        esac
    done
    if [[ $prev == --data-dir ]]; then
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -d -- "$cur"))
        return
    fi
    # A server address is the user's to type.
    [[ $prev == --database ]] && return
    local words subs=""
    case $command in
HEAD
printf '    "")\n        words="--data-dir --database --help %s" ;;\n' "$(echo $commands)"
for c in $commands; do
    help=$("$program" "$c" --help)
    # "export shops|ratings ...": the first word after the name names the kinds.
    # "parse search ... | parse profile ...": a word after the name each time.
    usage=$(echo "$help" | head -n 1 | sed "s/   .*//; s/\[--data-dir DIR\] //; s/\[--database URL\] //")
    kinds=$({
        echo "$usage" | awk '{print $4}' | grep -E '^[a-z]+(\|[a-z]+)+$' | tr '|' '\n'
        echo "$usage" | grep -oE "(^| )$c [a-z][a-z-]*" | awk '{print $2}'
    } | awk '!seen[$0]++' | tr '\n' ' ')
    kinds=${kinds% }
    options=$(echo "$help" | grep -oE '(^| |\[)--[a-z][a-z-]*' | tr -d ' [' | sort -u | grep -vx -e '--data-dir' -e '--database' -e '--help' | tr '\n' ' ')
    printf '    %s)\n        words="--help %s"\n        subs="%s" ;;\n' "$c" "${options% }" "$kinds"
done
cat <<'TAIL'
    *) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$words" -- "$cur"))
    elif [[ -n $command && -n $subs && -z $sub ]]; then
        COMPREPLY=($(compgen -W "$subs" -- "$cur"))
    elif [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "${words//--data-dir --database --help/}" -- "$cur"))
    else
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -F _kestrova_cli kestrova-cli
TAIL
