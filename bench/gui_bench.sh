#!/usr/bin/env bash
# Window benchmark: builds gui_bench and the benchmark database (make-bench-db,
# written into the build tree once) in build-release/, then drives the real
# workspace window offscreen on it: field listing of the million-row table,
# Execute of SELECT * until the first rows and the count show, scrolling to
# the last row. Prints each run, the medians and PASS/MISS.
#
#   bench/gui_bench.sh [--no-build] [FILE] [RUNS] [--exports txt,csv,xml,xls,pdf]
#     FILE        default: sql-bench.mdb in build-release/bench/
#     RUNS        default 3, after one warm-up run; --exports: which documents
set -euo pipefail
# shellcheck source=../scripts/common.sh
source "$(dirname "$0")/../scripts/common.sh"

bench_setup "$0" 10 gui_bench sql_bench_db -- "$@"
((${#BENCH_ARGS[@]} > 0)) || BENCH_ARGS=("$RELEASE_DIR/bench/sql-bench.mdb")
QT_QPA_PLATFORM=offscreen exec "$BENCH_BIN" "${BENCH_ARGS[@]}"
