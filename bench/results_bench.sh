#!/usr/bin/env bash
# Handing a large result on: each document written from the million rows in
# memory (as the workspace holds them), then whole processes, each measured
# in the same run as its peer where there is one:
#   - tabulary-cli query ... --format csv against mdb-export of the same table
#   - the workbook's peak memory on 250,000 and on 1,000,000 rows (it must
#     not grow with the rows)
#   - the PDF of the first 10,000 rows
#
#   bench/results_bench.sh [--no-build] [FILE [TABLE]]
#     FILE   default: big1m.accdb from the shared benchmark folder beside the repository
#     SMALL  the 250,000-row database beside it is used for the memory comparison
set -euo pipefail
# shellcheck source=../scripts/common.sh
source "$(dirname "$0")/../scripts/common.sh"

build=1
positional=()
while (($#)); do
    case "$1" in
        --no-build) build=0 ;;
        -h | --help)
            sed -n '2,13s/^# \{0,1\}//p' "$0"
            exit 0
            ;;
        *) positional+=("$1") ;;
    esac
    shift
done
bench_dir=$TABULARY_ROOT/../shared/bench
file=${positional[0]:-$bench_dir/big1m.accdb}
table=${positional[1]:-Big}
small=$bench_dir/big250k.mdb
[[ -f "$file" ]] || { echo "results_bench: no such file: $file" >&2; exit 2; }

ensure_deps >&2
if ((build)); then
    log "build (release preset, -O2) in $RELEASE_DIR" >&2
    configure_preset release "$RELEASE_DIR" >/dev/null
    build_dir "$RELEASE_DIR" tabulary-cli results_bench >&2
fi
cli=$RELEASE_DIR/apps/tabulary-cli/tabulary-cli
bench=$RELEASE_DIR/bench/results_bench
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# run NAME CMD...: wall seconds and peak MiB of one run (after one warm-up).
run() {
    local name=$1
    shift
    "$@" >/dev/null 2>"$scratch/err" || { echo "$name failed: $(head -3 "$scratch/err")" >&2; return 1; }
    local t0 t1
    t0=$(date +%s%N)
    /usr/bin/time -f %M -o "$scratch/rss" "$@" >/dev/null 2>"$scratch/err" ||
        { echo "$name failed: $(head -3 "$scratch/err")" >&2; return 1; }
    t1=$(date +%s%N)
    awk -v t="$((t1 - t0))" -v k="$(tail -n 1 "$scratch/rss")" 'BEGIN { printf "%.2f %.1f\n", t / 1e9, k / 1024 }'
}

echo "file: $file ($(du -h "$file" | cut -f1)), table $table"
echo
echo "== documents of the result held in memory"
"$bench" "$file" "$table" "$scratch" || status=$?
echo
echo "== whole processes"
read -r ours_s ours_m < <(run csv "$cli" query "$file" "SELECT * FROM [$table]" --format csv --output "$scratch/q.csv")
printf '%-44s %6.2f s  %7.1f MiB peak\n' "tabulary-cli query --format csv" "$ours_s" "$ours_m"
if command -v mdb-export >/dev/null; then
    read -r peer_s peer_m < <(run mdb-export mdb-export "$file" "$table")
    printf '%-44s %6.2f s  %7.1f MiB peak\n' "mdb-export (same table, same run)" "$peer_s" "$peer_m"
    awk -v p="$peer_s" -v o="$ours_s" 'BEGIN { printf "CSV ratio (mdb-export / tabulary-cli): %.2fx\n", (o > 0) ? p / o : 0 }'
fi
for db in "$small" "$file"; do
    [[ -f "$db" ]] || continue
    read -r s m < <(run xlsx "$cli" query "$db" "SELECT * FROM [$table]" --format xlsx --output "$scratch/q.xlsx")
    printf '%-44s %6.2f s  %7.1f MiB peak\n' "tabulary-cli --format xlsx, $(basename "$db")" "$s" "$m"
done
read -r s m < <(run pdf "$cli" query "$file" "SELECT TOP 10000 * FROM [$table] ORDER BY ID" --format pdf --output "$scratch/q.pdf")
printf '%-44s %6.2f s  %7.1f MiB peak  (target < 10 s)\n' "tabulary-cli --format pdf, first 10,000 rows" "$s" "$m"
exit "${status:-0}"
