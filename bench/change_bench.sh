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

build=1
args=()
while (($#)); do
    case "$1" in
        --no-build) build=0 ;;
        -h | --help)
            sed -n '2,9s/^# \{0,1\}//p' "$0"
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
    build_dir "$RELEASE_DIR" change_bench sql_bench_db >&2
fi
bench=$RELEASE_DIR/bench/change_bench
[[ -x "$bench" ]] || { echo "change_bench: $bench not built (drop --no-build)" >&2; exit 1; }
if ((${#args[@]} == 0)); then args=("$RELEASE_DIR/bench/sql-bench.mdb"); fi
exec "$bench" "${args[@]}"
