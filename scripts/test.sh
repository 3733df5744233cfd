#!/usr/bin/env bash
# Build and run every test, twice:
#   1. build/       `dev` preset (g++, RelWithDebInfo, warnings on)
#   2. build-asan/  `asan-ubsan` preset (clang, AddressSanitizer + UBSan,
#                   leaks checked, first error aborts); tests labelled
#                   "once" (the heavy oracle batteries) run in pass 1 only
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
            sed -n '2,11s/^# \{0,1\}//p' "$0"
            exit 0
            ;;
        *) ctest_args+=("$a") ;;
    esac
done

ensure_deps

# slowest DIR: the ten tests of the last run that took longest, from ctest's own record.
slowest() {
    local costs=$1/Testing/Temporary/CTestCostData.txt
    [[ -f "$costs" ]] || return 0
    echo "slowest tests (seconds):"
    awk 'NF == 3 { printf "  %8.1f  %s\n", $3, $1 }' "$costs" | sort -rn | head -10
}

# run_pass NAME PRESET DIR [CTEST ARGS...]: configure, build and test one tree;
# returns non-zero on failure.
run_pass() {
    local name=$1 preset=$2 dir=$3 start=$SECONDS status=0 built tested
    shift 3
    log "[$name] configure ($preset) in $dir"
    configure_preset "$preset" "$dir" || return 1
    log "[$name] build (-j$TABULARY_JOBS)"
    build_dir "$dir" || return 1
    built=$((SECONDS - start))
    log "[$name] ctest"
    (cd "$dir" && ctest --output-on-failure --no-tests=error -j "$TABULARY_JOBS" "$@" \
        "${ctest_args[@]}") || status=1
    tested=$((SECONDS - start - built))
    slowest "$dir"
    log "[$name] configure and build $built s, tests $tested s"
    if command -v ccache >/dev/null 2>&1; then ccache --show-stats 2>/dev/null | grep -Ei 'hits|misses' | head -3 || true; fi
    ((status == 0)) || return 1
    log "[$name] passed in $((SECONDS - start)) s"
}

declare -A result
run_pass dev dev "$DEV_DIR" && result[dev]=ok || result[dev]=FAILED

if ((sanitize)); then
    (
        export CC=clang CXX=clang++
        export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
        export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
        # The oracle batteries labelled "once" compare output with other
        # readers; the sanitizers add nothing the in-process corpus tests
        # do not already check, at many times the cost.
        run_pass asan-ubsan asan-ubsan "$ASAN_DIR" --label-exclude once
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
