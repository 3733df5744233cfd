#!/usr/bin/env bash
# Results at scale: each figure for a million-row and a ten-million-row Big
# table, with its goal, in one run:
#   - tabulary-cli export against mdb-export of the same table (goal: 10x faster)
#   - tabulary-cli query "SELECT * FROM Big" streamed: time against export
#     (goal: within 1.5x) and peak memory (goal: no growth with the rows)
#   - open and catalogue (< 10 ms), field listing (< 50 ms), Count(*) and a
#     GROUP BY over one column (< 5 s); on the generated files also GROUP BY
#     City with two sums and the Customer join (< 1 s for a million rows)
#   - the window: field listing, Execute of SELECT * until the count and the
#     first rows show (< 0.7 s for a million rows) with the memory the result
#     holds (< 150 MB for a million rows), scrolling to the last row, and
#     Save Results As CSV with the memory it adds
# Timed figures are the median of RUNS after a warm-up, with min and max.
# The ten-million-row database (about 1.1 GB) is written into the release
# tree by make-bench-db the first time, which takes a few minutes.
#
#   bench/scale_bench.sh [--no-build] [--runs N] [--no-10m] [FILE...]
#     FILE      databases with a table Big; default: big1m.accdb of the shared
#               benchmark folder, the generated million-row sql-bench.mdb and
#               the generated ten-million-row big10m.mdb
#     --no-10m  leave the ten-million-row database out of the default set
set -euo pipefail
# shellcheck source=../scripts/common.sh
source "$(dirname "$0")/../scripts/common.sh"

bench_setup "$0" 23 sql_bench tabulary-cli gui_bench make-bench-db sql_bench_db -- "$@"
sql_bench=$BENCH_BIN
runs=3
with10m=1
files=()
set -- "${BENCH_ARGS[@]}"
while (($#)); do
    case "$1" in
        --no-10m) with10m=0 ;;
        --runs)
            runs=${2:?--runs needs a number}
            shift
            ;;
        *) files+=("$1") ;;
    esac
    shift
done
cli=$RELEASE_DIR/apps/tabulary-cli/tabulary-cli
gui_bench=$RELEASE_DIR/bench/gui_bench
generator=$RELEASE_DIR/bench/generator/make-bench-db
for bin in "$cli" "$gui_bench" "$generator"; do
    [[ -x "$bin" ]] || { echo "scale_bench: $bin not built (drop --no-build)" >&2; exit 1; }
done
[[ -x /usr/bin/time ]] || { echo "scale_bench: GNU time missing (scripts/deps.sh)" >&2; exit 1; }

if ((${#files[@]} == 0)); then
    shared=$TABULARY_ROOT/../shared/bench/big1m.accdb
    [[ -f "$shared" ]] && files+=("$shared")
    files+=("$RELEASE_DIR/bench/sql-bench.mdb")
    if ((with10m)); then
        big10m=$RELEASE_DIR/bench/big10m.mdb
        if [[ ! -f "$big10m" ]]; then
            log "writing $big10m (ten million rows, notes on one row in ten)"
            "$generator" "$big10m.part" --rows 10000000 --notes 10
            mv "$big10m.part" "$big10m"
        fi
        files+=("$big10m")
    fi
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# timed CMD...: one warm-up, then RUNS timed runs with output to /dev/null;
# prints "median min max peak_MiB" (seconds; the largest peak RSS of the runs).
timed() {
    "$@" >/dev/null 2>"$scratch/err" || {
        echo "scale_bench: failed: $* ($(head -c 300 "$scratch/err"))" >&2
        return 1
    }
    : >"$scratch/times"
    local i t0 t1 peak=0 kib
    for ((i = 0; i < runs; ++i)); do
        t0=$(date +%s%N)
        /usr/bin/time -f %M -o "$scratch/rss" "$@" >/dev/null 2>"$scratch/err"
        t1=$(date +%s%N)
        echo $((t1 - t0)) >>"$scratch/times"
        kib=$(tail -n 1 "$scratch/rss")
        ((kib > peak)) && peak=$kib
    done
    sort -n "$scratch/times" | awk -v peak="$peak" '{ v[NR] = $1 / 1e9 }
        END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
              printf "%.3f %.3f %.3f %.1f\n", m, v[1], v[NR], peak / 1024 }'
}

# line NAME MEDIAN MIN MAX MIB [GOAL]
line() {
    printf '  %-44s %8.3f s  (%.3f .. %.3f)  %8.1f MiB peak  %s\n' "$@"
}

echo "machine: $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)," \
    "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)," \
    "load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "runs: 1 warm-up + median of $runs (min .. max)"

declare -A query_peak
for file in "${files[@]}"; do
    [[ -f "$file" ]] || { echo "scale_bench: no such file: $file" >&2; exit 2; }
    rows=$("$cli" query "$file" "SELECT Count(*) FROM Big" | tail -n 1)
    echo
    echo "== $(basename "$file") ($(du -h "$file" | cut -f1)), Big: $rows rows"

    read -r e_med e_min e_max e_mib < <(timed "$cli" export "$file" Big)
    line "tabulary-cli export" "$e_med" "$e_min" "$e_max" "$e_mib"
    if command -v mdb-export >/dev/null; then
        read -r p_med p_min p_max p_mib < <(timed mdb-export "$file" Big)
        line "mdb-export (same table, same run)" "$p_med" "$p_min" "$p_max" "$p_mib"
        awk -v p="$p_med" -v o="$e_med" 'BEGIN {
            r = (o > 0) ? p / o : 0
            printf "  %-44s %8.1fx  goal >= 10x  %s\n", "export ratio (mdb-export / ours)", r, (r >= 10) ? "PASS" : "MISS" }'
    else
        echo "  mdb-export not installed; peer skipped"
    fi

    read -r q_med q_min q_max q_mib < <(timed "$cli" query "$file" "SELECT * FROM Big")
    line "tabulary-cli query \"SELECT * FROM Big\"" "$q_med" "$q_min" "$q_max" "$q_mib"
    awk -v q="$q_med" -v e="$e_med" 'BEGIN {
        r = (e > 0) ? q / e : 0
        printf "  %-44s %8.2fx  goal <= 1.5x  %s\n", "query / export", r, (r <= 1.5) ? "PASS" : "MISS" }'
    query_peak[$file]=$q_mib

    # The goals of the whole fill, the two-sum GROUP BY and the join are
    # for a million rows.
    only=open-catalogue,fields-only,count,group-one
    if ((rows <= 2000000)); then
        only+=,select-all
        "$cli" tables "$file" | grep -q '^Customer' && only+=,group-by,join
    fi
    echo
    "$sql_bench" "$file" --runs "$runs" --no-peer --only "$only" | sed -n '/^query/,$p' | sed 's/^/  /'

    echo
    QT_QPA_PLATFORM=offscreen "$gui_bench" "$file" "$runs" --exports csv |
        sed 's/^/  /'
done

if ((${#query_peak[@]} > 1)); then
    echo
    echo "== streaming query memory (goal: no growth with the rows)"
    for file in "${files[@]}"; do
        printf '  %-44s %8.1f MiB peak\n' "$(basename "$file")" "${query_peak[$file]}"
    done
fi
