#!/usr/bin/env bash
# Build and run every test, twice:
#   1. build/       `dev` preset (g++, RelWithDebInfo, warnings on)
#   2. build-asan/  `asan-ubsan` preset (clang, AddressSanitizer + UBSan,
#                   leaks checked, first error aborts)
# Both passes always run; the exit status is non-zero if either fails.
#
#   scripts/test.sh                    everything
#   scripts/test.sh --no-sanitize      only the first pass
#   scripts/test.sh [CTEST ARGS...]    e.g. scripts/test.sh -R ValueText
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

sanitize=1
ctest_args=()
for a in "$@"; do
    case "$a" in
        --no-sanitize) sanitize=0 ;;
        -h | --help)
            sed -n '2,10s/^# \{0,1\}//p' "$0"
            exit 0
            ;;
        *) ctest_args+=("$a") ;;
    esac
done

ensure_deps

# run_pass NAME PRESET DIR: configure, build and test one tree; returns non-zero on failure.
run_pass() {
    local name=$1 preset=$2 dir=$3 start=$SECONDS
    log "[$name] configure ($preset) in $dir"
    configure_preset "$preset" "$dir" || return 1
    log "[$name] build (-j$TABULARY_JOBS)"
    build_dir "$dir" || return 1
    log "[$name] ctest"
    (cd "$dir" && ctest --output-on-failure --no-tests=error -j "$TABULARY_JOBS" "${ctest_args[@]}") ||
        return 1
    log "[$name] passed in $((SECONDS - start)) s"
}

declare -A result
run_pass dev dev "$DEV_DIR" && result[dev]=ok || result[dev]=FAILED

if ((sanitize)); then
    (
        export CC=clang CXX=clang++
        export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
        export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
        run_pass asan-ubsan asan-ubsan "$ASAN_DIR"
    ) && result[asan]=ok || result[asan]=FAILED
fi

log "summary"
status=0
for pass in dev asan; do
    [[ -n "${result[$pass]:-}" ]] || continue
    echo "  $pass: ${result[$pass]}"
    [[ "${result[$pass]}" == ok ]] || status=1
done
exit $status
