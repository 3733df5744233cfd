#!/usr/bin/env bash
# Export benchmark: the whole process `tabulary-cli export FILE TABLE > /dev/null`
# against mdbtools' `mdb-export FILE TABLE > /dev/null`, measured in the same run
# (machines are noisy). Each: one warm-up run, then the median of N timed runs
# (wall time and peak RSS from GNU time). Then the open micro-benchmark.
#
#   bench/export_bench.sh [--no-build] [--runs N] [FILE [TABLE]]
#     FILE   default: big1m.accdb from the shared benchmark folder beside the repository
#     TABLE  default: Big
#     --no-build  use the binaries already in build-release/
#     --runs N    timed runs per program (default 3)
#   TABULARY_CLI=path times another tabulary-cli binary (implies --no-build for it).
set -euo pipefail
# shellcheck source=../scripts/common.sh
source "$(dirname "$0")/../scripts/common.sh"

build=1
runs=3
positional=()
while (($#)); do
    case "$1" in
        --no-build) build=0 ;;
        --runs)
            runs=${2:?--runs needs a number}
            shift
            ;;
        -h | --help)
            sed -n '2,13s/^# \{0,1\}//p' "$0"
            exit 0
            ;;
        *) positional+=("$1") ;;
    esac
    shift
done
file=${positional[0]:-$TABULARY_ROOT/../shared/bench/big1m.accdb}
table=${positional[1]:-Big}

if [[ ! -f "$file" ]]; then
    echo "export_bench: no such file: $file (pass FILE [TABLE])" >&2
    exit 2
fi
file=$(cd "$(dirname "$file")" && pwd)/$(basename "$file")

ensure_deps >&2
if ((build)); then
    log "build (release preset, -O2) in $RELEASE_DIR" >&2
    configure_preset release "$RELEASE_DIR" >/dev/null
    build_dir "$RELEASE_DIR" tabulary-cli open_bench >&2
fi
cli=${TABULARY_CLI:-$RELEASE_DIR/apps/tabulary-cli/tabulary-cli}
open_bench=$RELEASE_DIR/bench/open_bench
gnu_time=/usr/bin/time
[[ -x "$cli" ]] || { echo "export_bench: $cli not built" >&2; exit 1; }
[[ -x "$gnu_time" ]] || { echo "export_bench: GNU time missing (scripts/deps.sh)" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# measure NAME CMD...: prints "wall_seconds peak_kib output_bytes"; fails if CMD fails.
measure() {
    local name=$1
    shift
    local bytes
    if ! bytes=$("$@" 2>"$scratch/$name.err" | wc -c); then
        echo "export_bench: $name failed:" >&2
        head -5 "$scratch/$name.err" >&2
        return 1
    fi
    : >"$scratch/$name.wall"
    : >"$scratch/$name.rss"
    local i t0 t1
    for ((i = 0; i < runs; ++i)); do
        t0=$(date +%s%N)
        if ! "$gnu_time" -f %M -o "$scratch/$name.time" "$@" >/dev/null 2>"$scratch/$name.err"; then
            echo "export_bench: $name failed on run $((i + 1)):" >&2
            head -5 "$scratch/$name.err" >&2
            return 1
        fi
        t1=$(date +%s%N)
        echo $(((t1 - t0) / 1000)) >>"$scratch/$name.wall"
        tail -n 1 "$scratch/$name.time" >>"$scratch/$name.rss"
    done
    local wall rss
    wall=$(median <"$scratch/$name.wall")
    rss=$(median <"$scratch/$name.rss")
    awk -v w="$wall" -v r="$rss" -v b="$bytes" 'BEGIN { printf "%.3f %d %d\n", w / 1e6, r, b }'
}

echo "file:  $file ($(du -h "$file" | cut -f1))"
echo "table: $table"
echo "runs:  1 warm-up + median of $runs"
echo

ours=$(measure tabulary "$cli" export "$file" "$table") || exit 1
read -r ours_wall ours_rss ours_bytes <<<"$ours"
printf '%-22s %8.3f s wall  %8.1f MiB peak RSS  (%d bytes of CSV)\n' "tabulary-cli export" \
    "$ours_wall" "$(awk -v k="$ours_rss" 'BEGIN { print k / 1024 }')" "$ours_bytes"

if command -v mdb-export >/dev/null 2>&1; then
    peer=$(measure mdb-export mdb-export "$file" "$table") || exit 1
    read -r peer_wall peer_rss peer_bytes <<<"$peer"
    printf '%-22s %8.3f s wall  %8.1f MiB peak RSS  (%d bytes of CSV)\n' "mdb-export" \
        "$peer_wall" "$(awk -v k="$peer_rss" 'BEGIN { print k / 1024 }')" "$peer_bytes"
    awk -v p="$peer_wall" -v o="$ours_wall" \
        'BEGIN { printf "ratio (mdb-export / tabulary-cli): %.2fx\n", (o > 0) ? p / o : 0 }'
else
    echo "mdb-export not installed; peer skipped"
fi

echo
if [[ -x "$open_bench" ]]; then
    TABULARY_BENCH_FILE=$file "$open_bench" --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true \
        --benchmark_out="$scratch/open.csv" --benchmark_out_format=csv >"$scratch/open.txt" 2>&1 || {
        echo "open_bench failed:" >&2
        tail -5 "$scratch/open.txt" >&2
        exit 1
    }
    awk -F, '$1 == "name" { for (i = 1; i <= NF; ++i) if ($i ~ /objects/) oc = i }
        $9 == "true" && !failed { gsub(/"/, "", $10); print "open_bench failed: " $10; failed = 1 }
        $1 ~ /_mean"?$/ {
            printf "Database::open (header + catalogue, %d objects): mean %.3f %s wall, %.3f %s CPU over 5 repetitions\n",
                oc ? $oc : 0, $3, $5, $4, $5
        }
        END { exit failed }' "$scratch/open.csv"
else
    echo "open_bench not built (configure with -DTABULARY_BENCH=ON, or drop --no-build)"
fi
