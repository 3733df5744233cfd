#!/usr/bin/env bash
# Build and start: installs missing packages, builds the program in build/
# (the `dev` preset) and starts it. The sample database is then one click
# away: "Load Sample/Example Database", then "Next >".
#
#   scripts/run.sh                       the Tabulary window
#   scripts/run.sh cli COMMAND [ARGS]    tabulary-cli instead, e.g.
#                                        scripts/run.sh cli tables FILE.mdb
#                                        scripts/run.sh cli export FILE TABLE > t.csv
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

usage() {
    sed -n '2,9s/^# \{0,1\}//p' "$0"
}

case "${1:-}" in
    -h | --help)
        usage
        exit 0
        ;;
esac

ensure_deps >&2
log "configure + build in ${DEV_DIR}" >&2
configure_preset dev "$DEV_DIR" >&2

if [[ "${1:-}" == cli ]]; then
    shift
    build_dir "$DEV_DIR" tabulary-cli tabulary-cli_sample_database >&2
    exec "$DEV_DIR/apps/tabulary-cli/tabulary-cli" "$@"
fi

build_dir "$DEV_DIR" tabulary >&2
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    echo "run: no display (DISPLAY and WAYLAND_DISPLAY are unset); start it from a desktop session," >&2
    echo "     or under a virtual one: xvfb-run -a scripts/run.sh" >&2
    exit 1
fi
log "tabulary" >&2
exec "$DEV_DIR/apps/tabulary/tabulary"
