#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what desktop menus
# read: the entry passes desktop-file-validate, names the installed program,
# the icon and the names the program gives its windows, and every hicolor
# size of the icon is a PNG of that size.
# Usage: desktop_entry_test.sh CMAKE BUILD_DIR MAIN_CPP PRODUCT_H
# Exit 77 (skip) without desktop-file-validate.
set -uo pipefail

cmake=$1 build=$2 main_cpp=$3 product_h=$4

if ! command -v desktop-file-validate >/dev/null 2>&1; then
    echo "desktop-file-validate not installed (desktop-file-utils); skipping"
    exit 77
fi

# A blank in the prefix exercises the quoting of Exec.
prefix=$(mktemp -d -t "tabulary install.XXXXXX") || exit 1
trap 'rm -rf "$prefix"' EXIT

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

# The names the program uses: Wayland matches windows to the entry by the
# desktop file name, X11 by the window class (the application name).
desktop_name=$(sed -n 's/.*setDesktopFileName(QStringLiteral("\([^"]*\)")).*/\1/p' "$main_cpp")
wm_class=$(sed -n 's/.*kProductTitle = QStringLiteral("\([^"]*\)").*/\1/p' "$product_h")
[[ -n "$desktop_name" ]] || fail "no setDesktopFileName in $main_cpp"
[[ -n "$wm_class" ]] || fail "no kProductTitle in $product_h"

entry="$prefix/share/applications/${desktop_name:-tabulary}.desktop"
if [[ ! -f "$entry" ]]; then
    fail "no desktop entry at share/applications/${desktop_name}.desktop"
else
    # Any output fails, hints included, so the entry stays clean.
    report=$(desktop-file-validate "$entry" 2>&1)
    status=$?
    if ((status != 0)) || [[ -n "$report" ]]; then fail "desktop-file-validate: $report"; fi

    value() { sed -n "s/^$1=//p" "$entry"; }
    # Exec holds the installed link, quoted because the prefix has a blank,
    # and takes the one file a file manager hands over.
    expected_exec="\"$prefix/bin/tabulary\" %f"
    [[ "$(value Exec)" == "$expected_exec" ]] ||
        fail "Exec is '$(value Exec)', expected '$expected_exec'"
    [[ -x "$prefix/bin/tabulary" && -f "$prefix/bin/tabulary" ]] ||
        fail "bin/tabulary does not lead to an executable"
    expected=(
        "Icon=tabulary"
        "StartupWMClass=$wm_class"
        "MimeType=application/vnd.ms-access;application/x-msaccess;"
    )
    for line in "${expected[@]}"; do
        [[ "$(value "${line%%=*}")" == "${line#*=}" ]] ||
            fail "${line%%=*} is '$(value "${line%%=*}")', expected '${line#*=}'"
    done
    [[ ";$(value Categories)" == *";Database;"* ]] ||
        fail "Categories '$(value Categories)' lacks Database"
fi

# Every hicolor size: PNG signature, then IHDR width and height (big-endian)
# equal to the folder's size.
for size in 16 22 24 32 48 64 128 256; do
    png="$prefix/share/icons/hicolor/${size}x${size}/apps/tabulary.png"
    if [[ ! -f "$png" ]]; then
        fail "icon ${size}x${size} missing"
        continue
    fi
    read -r -a bytes < <(od -An -v -tu1 -N24 "$png" | tr -s ' \n' '  ')
    signature="${bytes[*]:0:8}"
    if [[ "$signature" != "137 80 78 71 13 10 26 10" || "${bytes[*]:12:4}" != "73 72 68 82" ]]; then
        fail "icon ${size}x${size} is not a PNG"
        continue
    fi
    width=$(((bytes[16] << 24) | (bytes[17] << 16) | (bytes[18] << 8) | bytes[19]))
    height=$(((bytes[20] << 24) | (bytes[21] << 16) | (bytes[22] << 8) | bytes[23]))
    ((width == size && height == size)) ||
        fail "icon ${size}x${size} is ${width}x${height}"
done

if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "desktop entry and icons OK"
