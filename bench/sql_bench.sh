#!/usr/bin/env bash
# SQL benchmark: builds sql_bench and its database (make-bench-db, written into
# the build tree once) in build-release/, then runs it: Access SQL through a
# fresh connection per run, the median of N runs after a warm-up, peak RSS,
# target and PASS/MISS per query, mdb-sql timed beside where it takes the
# same statement.
#
#   bench/sql_bench.sh [--no-build] [FILE] [sql_bench options]
#     FILE        default: sql-bench.mdb in build-release/bench/
#     --no-build  use the binaries already in build-release/
#   sql_bench options: --runs N, --peer-runs N, --no-peer, --only NAME
set -euo pipefail
# shellcheck source=../scripts/common.sh
source "$(dirname "$0")/../scripts/common.sh"

bench_setup "$0" 11 sql_bench sql_bench_db -- "$@"
exec "$BENCH_BIN" "${BENCH_ARGS[@]}"
