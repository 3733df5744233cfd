#!/usr/bin/env bash
# Installs mdb-reader, the JavaScript Access reader that tests use as a third,
# independent oracle, into a folder that is not committed.
#   scripts/oracle-deps.sh [DIR]    DIR defaults to build-tools/node at the repository root
# The tests find it through TABULARY_NODE_MODULES=DIR/node_modules (CMake passes
# that folder). Quick no-op when the wanted version is already there.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=${1:-$root/build-tools/node}
# Pinned: the corpus reference dumps were made with this version.
want=3.2.0

installed_version() {
    local pkg=$dir/node_modules/mdb-reader/package.json
    [[ -f "$pkg" ]] || return 1
    sed -n 's/^[[:space:]]*"version":[[:space:]]*"\([^"]*\)".*/\1/p' "$pkg" | head -n 1
}

if [[ "$(installed_version || true)" == "$want" ]] && command -v node >/dev/null 2>&1; then
    echo "oracle-deps: mdb-reader $want present"
    exit 0
fi

if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    if [[ $(id -u) -eq 0 ]]; then
        as_root=()
    elif command -v sudo >/dev/null 2>&1; then
        as_root=(sudo -n)
    else
        echo "oracle-deps: node/npm missing and not root" >&2
        exit 1
    fi
    echo "oracle-deps: installing nodejs and npm"
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q </dev/null
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold \
        nodejs npm </dev/null
fi

mkdir -p "$dir"
# A package.json of its own keeps npm from walking up into the repository.
[[ -f "$dir/package.json" ]] || printf '{ "name": "tabulary-oracle-tools", "private": true }\n' >"$dir/package.json"
npm install --prefix "$dir" --no-audit --no-fund --no-package-lock --loglevel=error "mdb-reader@$want" </dev/null
echo "oracle-deps: mdb-reader $(installed_version) installed in $dir"
