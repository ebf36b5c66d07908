# Sourced by ./run: the paths on its command line are the caller's, so they
# are made absolute before ./run moves to the checkout to build; and the
# build says nothing when there is nothing to build.

# The player's options whose value names a file or folder (upper case; the
# player matches option names in any case).
QB_RUN_PATH_OPTIONS=(BRUSHFILE TEMPDIR)

qb_absolute_path() {
    case "$1" in
        /* | "") printf '%s' "$1" ;;
        *) printf '%s/%s' "$PWD" "$1" ;;
    esac
}

# qb_resolve_run_args ARGS...: QB_RUN_ARGS becomes ARGS with the applet (a
# first argument that is no option) and the values of the path options
# (-tempdir DIR or -tempdir=DIR) made absolute against the current folder.
qb_resolve_run_args() {
    QB_RUN_ARGS=()
    local arg name option pathValueDue=0 first=1
    for arg in "$@"; do
        if [ "$pathValueDue" -eq 1 ]; then
            QB_RUN_ARGS+=("$(qb_absolute_path "$arg")")
            pathValueDue=0
        elif [ "$first" -eq 1 ] && [[ "$arg" != -* ]]; then
            QB_RUN_ARGS+=("$(qb_absolute_path "$arg")")
        elif [[ "$arg" == -* ]]; then
            # The name runs to the first character that can't be part of it.
            name="${arg#-}"
            name="${name%%[!A-Za-z0-9_]*}"
            option=""
            for option in "${QB_RUN_PATH_OPTIONS[@]}" ""; do
                [ "${name^^}" = "$option" ] && break
            done
            if [ -z "$option" ]; then
                QB_RUN_ARGS+=("$arg")
            elif [ "$arg" = "-$name" ]; then
                QB_RUN_ARGS+=("$arg")
                pathValueDue=1
            else
                QB_RUN_ARGS+=("-$name${arg:${#name}+1:1}$(qb_absolute_path "${arg:${#name}+2}")")
            fi
        else
            QB_RUN_ARGS+=("$arg")
        fi
        first=0
    done
}

# qb_build_quietly DIR TARGETS...: builds the targets with ninja, whose
# progress goes to standard error; an up-to-date tree leaves it empty, so
# that a run's standard error holds what the player wrote and nothing else.
# The status is ninja's.
qb_build_quietly() {
    local dir="$1"
    shift
    ninja -C "$dir" "$@" 2>&1 | {
        grep --line-buffered -v -e '^ninja: Entering directory ' -e 'Re-checking globbed directories\.\.\.$' \
            -e '^ninja: no work to do\.$' || true
    } >&2
    return "${PIPESTATUS[0]}"
}
