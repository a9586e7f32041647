# bash completion for velnoria-get

_velnoria_get() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local options="--save-folder --timeout --piece-size --rules --linked-images --print-targets
        --check-rules --all-pages --max-pages --retry-failed --skip-existing --parallel --archive
        --folder --name --watch --cookies --user-agent --no-referer --help --version"

    case $prev in
        --save-folder)
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return ;;
        --rules | --check-rules)
            mapfile -t COMPREPLY < <(compgen -f -X '!*.toml' -- "$cur"; compgen -d -- "$cur")
            return ;;
        --archive)
            # Its FILE is optional: an archive, a page or a folder may follow.
            mapfile -t COMPREPLY < <(compgen -f -X '!*.sqlite' -- "$cur"
                                     compgen -f -X '!*.[hH][tT][mM]*' -- "$cur"
                                     compgen -d -- "$cur")
            return ;;
        --cookies)
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        --timeout | --piece-size | --max-pages | --parallel | --folder | --name | --watch | \
            --user-agent)
            return ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    else
        # PAGE: an address, or a local HTML file.
        mapfile -t COMPREPLY < <(compgen -f -X '!*.[hH][tT][mM]*' -- "$cur"; compgen -d -- "$cur")
    fi
} &&
    complete -o filenames -F _velnoria_get velnoria-get
