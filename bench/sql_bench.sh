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

build=1
args=()
while (($#)); do
    case "$1" in
        --no-build) build=0 ;;
        -h | --help)
            sed -n '2,11s/^# \{0,1\}//p' "$0"
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
    build_dir "$RELEASE_DIR" sql_bench sql_bench_db >&2
fi
bench=$RELEASE_DIR/bench/sql_bench
[[ -x "$bench" ]] || { echo "sql_bench: $bench not built (drop --no-build)" >&2; exit 1; }
exec "$bench" "${args[@]}"
