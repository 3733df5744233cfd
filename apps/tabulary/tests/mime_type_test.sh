#!/usr/bin/env bash
# Installs the build into a scratch prefix, builds that prefix's shared MIME
# database and asks xdg-mime the type of Access files: a plain .accdb (ACE
# header), an encrypted one (no readable header, only its name), an .mdb,
# and headers without a name. xdg-mime is told it runs on GNOME so that it
# asks gio, which reads the shared MIME database (its fallback, `file`,
# does not).
# Usage: mime_type_test.sh CMAKE BUILD_DIR DESKTOP_ENTRY_IN
# Exit 77 (skip) when one of the tools is missing.
set -uo pipefail

cmake=$1 build=$2 desktop_in=$3

for tool in update-mime-database xdg-mime gio; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "$tool not installed (shared-mime-info, xdg-utils, libglib2.0-bin); skipping"
        exit 77
    fi
done

scratch=$(mktemp -d -t tabulary-mime.XXXXXX) || exit 1
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! log=$("$cmake" --install "$build" --prefix "$prefix" 2>&1); then
    echo "$log"
    echo "FAIL: cmake --install"
    exit 1
fi
[[ -f "$prefix/share/mime/packages/tabulary.xml" ]] || fail "no share/mime/packages/tabulary.xml"
# Searched there, so it has no note to print about the search path.
if ! log=$(XDG_DATA_HOME="$prefix/share" XDG_DATA_DIRS="$prefix/share" \
    update-mime-database "$prefix/share/mime" 2>&1); then
    echo "$log"
    fail "update-mime-database"
fi

# The types the desktop entry offers to open.
access_types=$(sed -n 's/^MimeType=//p' "$desktop_in" | tr ';' ' ')
[[ -n "$access_types" ]] || fail "no MimeType in $desktop_in"

files=$scratch/files
mkdir -p "$files"
header() { # FILE ENGINE: a database page's start, then zeros
    { printf '\000\001\000\000Standard %s DB\000' "$2"; head -c 4000 /dev/zero; } >"$1"
}
header "$files/plain.accdb" ACE
header "$files/plain.mdb" Jet
header "$files/ace-header" ACE
header "$files/jet-header" Jet
head -c 4096 /dev/urandom >"$files/encrypted.accdb"
head -c 4096 /dev/urandom >"$files/noise"
printf 'not a database\n' >"$files/notes.txt"

# FILE and whether it is an Access file.
cases=(
    "plain.accdb yes"
    "encrypted.accdb yes"
    "plain.mdb yes"
    "ace-header yes"
    "jet-header yes"
    "notes.txt no"
    "noise no"
)

check() { # LABEL DATA_DIRS
    local label=$1 dirs=$2 entry name access type
    for entry in "${cases[@]}"; do
        read -r name access <<<"$entry"
        type=$(env XDG_CURRENT_DESKTOP=GNOME GIO_USE_VFS=local XDG_DATA_HOME="$prefix/share" \
            XDG_DATA_DIRS="$dirs" xdg-mime query filetype "$files/$name" 2>&1)
        if [[ " $access_types " == *" $type "* ]]; then
            [[ $access == yes ]] || fail "$label: $name is $type"
        else
            [[ $access == no ]] || fail "$label: $name is '$type', not one of: $access_types"
        fi
    done
}

check "the prefix alone" "$prefix/share"
# With the system's database too, as a user prefix is used.
if [[ -f /usr/share/mime/mime.cache ]]; then
    check "the prefix and the system" "$prefix/share:/usr/share"
fi

if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "MIME types OK"
