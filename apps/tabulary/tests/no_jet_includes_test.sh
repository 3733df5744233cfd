#!/usr/bin/env bash
# The program reaches the engine through the ado library alone: no file of
# its own may include a header of the jet library. Lists the offending
# lines and fails when one does.
# Usage: no_jet_includes_test.sh APP_SOURCE_DIR
set -uo pipefail

root=${1:?usage: no_jet_includes_test.sh APP_SOURCE_DIR}
include='^[[:space:]]*#[[:space:]]*include[[:space:]]*'

# A wrong folder would find nothing and pass.
if ! grep -rqIE "$include" "$root"; then
    echo "no include lines under $root" >&2
    exit 1
fi

grep -rnIE "$include"'[<"]tabulary/jet/' "$root"
case $? in
    0)
        echo "the lines above include jet headers; use the ado library instead" >&2
        exit 1
        ;;
    1) exit 0 ;;
    *)
        echo "cannot read $root" >&2
        exit 1
        ;;
esac
