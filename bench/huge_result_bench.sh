#!/usr/bin/env bash
# Huge-result benchmark: builds huge_result_bench in build-release/ and runs
# it offscreen on big250k.mdb of the shared benchmark folder (or FILE): the
# join of Big with itself stopped with Escape, then run to the grid's budget.
#
#   bench/huge_result_bench.sh [--no-build] [FILE] [--sql TEXT] [--escape-after S] [--budget MB]
set -euo pipefail
# shellcheck source=../scripts/common.sh
source "$(dirname "$0")/../scripts/common.sh"

bench_setup "$0" 6 huge_result_bench -- "$@"
if ((${#BENCH_ARGS[@]} == 0)) || [[ "${BENCH_ARGS[0]}" == --* ]]; then
    BENCH_ARGS=("$TABULARY_ROOT/../shared/bench/big250k.mdb" "${BENCH_ARGS[@]}")
fi
QT_QPA_PLATFORM=offscreen exec /usr/bin/time -f "process peak RSS %M KB, %e s" "$BENCH_BIN" "${BENCH_ARGS[@]}"
