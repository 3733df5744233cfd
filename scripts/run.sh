#!/usr/bin/env bash
# Build and start: installs missing packages, builds tabulary-cli in build/
# (the `dev` preset) and runs it. Until the GUI exists, "start" means
# listing the tables of a database.
#
#   scripts/run.sh                       tables of the generated sample database
#   scripts/run.sh FILE                  tables of FILE
#   scripts/run.sh COMMAND FILE [ARGS]   any tabulary-cli command, e.g.
#                                        scripts/run.sh export FILE TABLE > t.csv
#   --password PW works anywhere, as with tabulary-cli itself.
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

usage() {
    sed -n '2,10s/^# \{0,1\}//p' "$0"
}

case "${1:-}" in
    -h | --help)
        usage
        exit 0
        ;;
esac

ensure_deps >&2
log "configure + build tabulary-cli in ${DEV_DIR}" >&2
configure_preset dev "$DEV_DIR" >&2
build_dir "$DEV_DIR" tabulary-cli tabulary-cli_sample_database >&2
cli="$DEV_DIR/apps/tabulary-cli/tabulary-cli"

args=("$@")
if ((${#args[@]} == 0)); then
    args=(tables "$DEV_DIR/apps/tabulary-cli/Samples/sample.mdb")
else
    # The first word that is not an option: a command, or else the file to list.
    first=""
    for ((i = 0; i < ${#args[@]}; ++i)); do
        case "${args[i]}" in
            -p | --password) ((++i)) ;;
            -*) ;;
            *)
                first=${args[i]}
                break
                ;;
        esac
    done
    case "$first" in
        tables | schema | export | check | create) ;;
        *) args=(tables "${args[@]}") ;;
    esac
fi

log "tabulary-cli ${args[*]}" >&2
exec "$cli" "${args[@]}"
