#!/usr/bin/env bash
# Encryption benchmark: builds crypto_bench in build-release/ and runs it on
# the shared benchmark database (big1m.accdb): its encrypted copies, one per
# Office scheme, are written into the build tree once; then opening and
# listing the tables, and a full scan of Big, plain and encrypted.
#
#   bench/crypto_bench.sh [--no-build] [FILE] [--runs N]
set -euo pipefail
# shellcheck source=../scripts/common.sh
source "$(dirname "$0")/../scripts/common.sh"

bench_setup "$0" 7 crypto_bench -- "$@"
exec "$BENCH_BIN" "${BENCH_ARGS[@]}"
