# Shared by the scripts in this folder; source it, don't run it.
# shellcheck shell=bash disable=SC2034  # the variables are used by the scripts that source this
# Every path is found from the repository root, never hard-coded.

TABULARY_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TABULARY_JOBS=${TABULARY_JOBS:-$(nproc)}

# Build directories; overridable so that several checkouts or people can share a tree.
DEV_DIR=${TABULARY_BUILD_DIR:-$TABULARY_ROOT/build}
ASAN_DIR=${TABULARY_ASAN_BUILD_DIR:-$TABULARY_ROOT/build-asan}
RELEASE_DIR=${TABULARY_RELEASE_BUILD_DIR:-$TABULARY_ROOT/build-release}

# The Access corpus beside the repository (tests skip without it).
TABULARY_CORPUS_DIR=${TABULARY_CORPUS:-$TABULARY_ROOT/../shared/corpus}
[[ -d "$TABULARY_CORPUS_DIR" ]] && TABULARY_CORPUS_DIR=$(cd "$TABULARY_CORPUS_DIR" && pwd)

log() { printf '\n==> %s\n' "$*"; }

# Set TABULARY_SKIP_DEPS=1 to skip the package check (e.g. no apt on the machine).
ensure_deps() {
    if [[ "${TABULARY_SKIP_DEPS:-0}" != 1 ]]; then
        "$TABULARY_ROOT/scripts/deps.sh"
        # mdb-reader for the oracle tests; without it they skip, so never fatal.
        "$TABULARY_ROOT/scripts/oracle-deps.sh" ||
            echo "ensure_deps: mdb-reader not installed; the three-reader oracle tests will skip" >&2
    fi
}

# configure_preset PRESET DIR [CMAKE ARGS...]
configure_preset() {
    local preset=$1 dir=$2
    shift 2
    cmake -S "$TABULARY_ROOT" --preset "$preset" -B "$dir" "$@"
}

# build_dir DIR [TARGETS...]
build_dir() {
    local dir=$1
    shift
    local targets=()
    (($# > 0)) && targets=(--target "$@")
    cmake --build "$dir" -j "$TABULARY_JOBS" "${targets[@]}"
}

# The start of every bench/*.sh script:
#   bench_setup SCRIPT HELP_LAST TARGET [MORE TARGETS...] -- "$@"
# takes --no-build and --help (lines 2..HELP_LAST of SCRIPT's header), builds
# TARGET and the others in the release tree unless told not to, and leaves
# the benchmark's path in BENCH_BIN and the other arguments in BENCH_ARGS.
bench_setup() {
    local script=$1 help_last=$2 target=$3
    shift 3
    local targets=("$target")
    while (($#)) && [[ "$1" != -- ]]; do
        targets+=("$1")
        shift
    done
    (($#)) && shift
    local build=1
    BENCH_ARGS=()
    while (($#)); do
        case "$1" in
            --no-build) build=0 ;;
            -h | --help)
                sed -n "2,${help_last}s/^# \{0,1\}//p" "$script"
                exit 0
                ;;
            *) BENCH_ARGS+=("$1") ;;
        esac
        shift
    done
    if ((build)); then
        ensure_deps >&2
        log "build (release preset, -O2) in $RELEASE_DIR" >&2
        configure_preset release "$RELEASE_DIR" >/dev/null
        build_dir "$RELEASE_DIR" "${targets[@]}" >&2
    fi
    BENCH_BIN=$RELEASE_DIR/bench/$target
    [[ -x "$BENCH_BIN" ]] || {
        echo "$target: $BENCH_BIN not built (drop --no-build)" >&2
        exit 1
    }
}
