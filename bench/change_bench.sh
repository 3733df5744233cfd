#!/usr/bin/env bash
# Change benchmark: builds change_bench and the benchmark database
# (make-bench-db, written into the build tree once) in build-release/, then
# runs it: a single-row INSERT into a table with three indexes (without and
# with the final sync), an UPDATE of every row, an INSERT ... SELECT of
# 100,000 rows and a DELETE of half the rows, each on a fresh copy, with the
# pages written and the journal's size.
#
#   bench/change_bench.sh [--no-build] [FILE] [--inserts N]
set -euo pipefail
# shellcheck source=../scripts/common.sh
source "$(dirname "$0")/../scripts/common.sh"

bench_setup "$0" 9 change_bench sql_bench_db -- "$@"
((${#BENCH_ARGS[@]} > 0)) || BENCH_ARGS=("$RELEASE_DIR/bench/sql-bench.mdb")
exec "$BENCH_BIN" "${BENCH_ARGS[@]}"
