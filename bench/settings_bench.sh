#!/usr/bin/env bash
# Settings benchmark: builds settings_bench in build-release/, then types a
# path key by key into the real start window offscreen, with a settings sync
# after every keystroke and with one when the box loses the focus. Prints
# each run, the medians and the fsync calls.
#
#   bench/settings_bench.sh [--no-build] [--chars N] [--runs N] [--dir FOLDER]
#     --dir       where the settings file is written, default build-release/bench/
#                 (on tmpfs a sync costs nothing)
set -euo pipefail
# shellcheck source=../scripts/common.sh
source "$(dirname "$0")/../scripts/common.sh"

build=1
dir=
args=()
while (($#)); do
    case "$1" in
        --no-build) build=0 ;;
        --dir)
            dir=${2:?--dir needs a folder}
            shift
            ;;
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
    build_dir "$RELEASE_DIR" settings_bench >&2
fi
bench=$RELEASE_DIR/bench/settings_bench
[[ -x "$bench" ]] || { echo "settings_bench: $bench not built (drop --no-build)" >&2; exit 1; }
QT_QPA_PLATFORM=offscreen exec "$bench" --dir "${dir:-$RELEASE_DIR/bench}" "${args[@]}"
