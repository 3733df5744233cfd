#!/usr/bin/env bash
# Window benchmark: builds gui_bench and the benchmark database (make-bench-db,
# written into the build tree once) in build-release/, then drives the real
# workspace window offscreen on it: field listing of the million-row table,
# Execute of SELECT * until the first rows and the count show, scrolling to
# the last row. Prints each run, the medians and PASS/MISS.
#
#   bench/gui_bench.sh [--no-build] [FILE] [RUNS]
#     FILE        default: sql-bench.mdb in build-release/bench/
#     RUNS        default 3, after one warm-up run
set -euo pipefail
# shellcheck source=../scripts/common.sh
source "$(dirname "$0")/../scripts/common.sh"

build=1
args=()
while (($#)); do
    case "$1" in
        --no-build) build=0 ;;
        -h | --help)
            sed -n '2,10s/^# \{0,1\}//p' "$0"
            exit 0
            ;;
        *) args+=("$1") ;;
    esac
    shift
done

if ((build)); then
    ensure_deps >&2
    log "build (release preset, -O2) in $RELEASE_DIR" >&2
    configure_preset release "$RELEASE_DIR" >/dev/null
    build_dir "$RELEASE_DIR" gui_bench sql_bench_db >&2
fi
bench=$RELEASE_DIR/bench/gui_bench
[[ -x "$bench" ]] || { echo "gui_bench: $bench not built (drop --no-build)" >&2; exit 1; }
((${#args[@]} > 0)) || args=("$RELEASE_DIR/bench/sql-bench.mdb")
QT_QPA_PLATFORM=offscreen exec "$bench" "${args[@]}"
