#!/usr/bin/env bash
# Installs the Debian packages needed to build, test and benchmark Tabulary.
# Fast and silent-ish when everything is already there: only missing packages
# trigger apt-get. Usage: scripts/deps.sh [--list | --check]
#   --list   print the packages with the reason for each, install nothing
#   --check  exit 1 (and name them) if any are missing, install nothing
set -euo pipefail

# The one list of dependencies: package, then why we need it.
PACKAGES=(
    "g++                 C++20 compiler for the normal and release builds"
    "cmake               build system (3.25 or newer, presets)"
    "ninja-build         build backend used by every preset"
    "pkg-config          locating system libraries"
    "libicu-dev          code pages for Jet3 text, later collation"
    "libssl-dev          crypto primitives for encrypted databases"
    "libgtest-dev        unit and corpus tests"
    "libgmock-dev        mocks in tests"
    "nlohmann-json3-dev  tests read the corpus JSON reference dumps"
    "clang               sanitizer build and libFuzzer targets"
    "libclang-rt-14-dev  clang's ASan/UBSan/libFuzzer runtimes"
    "zlib1g-dev          attachments are deflate-compressed"
    "mdbtools            test oracle and benchmark peer (mdb-export)"
    "libsqlite3-dev      the SQL layer"
    "time                GNU time, peak memory in benchmarks"
    "python3             oracle tests that compare our export with mdb-export"
    "libbenchmark-dev    Google Benchmark for the C++ micro-benchmarks"
    "qt6-base-dev        Qt 6 Widgets, Print Support and Test for the program"
    "libgl-dev           OpenGL headers that Qt 6 Gui's CMake package asks for"
    "fonts-liberation    Liberation Sans stands in for Arial, the windows' font"
    "desktop-file-utils  desktop-file-validate checks the installed desktop entry"
    "xvfb                a virtual X server: window titles as X11 shows them"
    "libxcb1-dev         the title test reads them back through xcb"
    "libxlsxwriter-dev   the spreadsheet export writes .xlsx workbooks"
    "fonts-dejavu-core   printed tables: Latin, Greek, Cyrillic and Hebrew"
    "fonts-noto-cjk      printed tables: Chinese, Japanese and Korean"
    "poppler-utils       tests read the printed PDF's text back (pdftotext)"
    "python3-openpyxl    tests read the exported workbook with an independent reader"
    "ccache              compiler cache outside the clone: a later run rebuilds only what changed"
    "xdotool             a test clicks a table with the X pointer under the virtual X server"
    "xdg-utils           xdg-mime: a test asks the desktop's type of the Access files"
    "shared-mime-info    update-mime-database builds that test's MIME database"
    "libglib2.0-bin      gio, through which xdg-mime reads the shared MIME database"
)

names=()
for entry in "${PACKAGES[@]}"; do names+=("${entry%% *}"); done

case "${1:-}" in
    --list)
        printf '%s\n' "${PACKAGES[@]}"
        exit 0
        ;;
    --check | "") ;;
    *)
        echo "usage: $0 [--list | --check]" >&2
        exit 2
        ;;
esac

missing=()
for p in "${names[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
    echo "deps: all ${#names[@]} packages installed"
    exit 0
fi

echo "deps: missing: ${missing[*]}"
if [[ "${1:-}" == "--check" ]]; then exit 1; fi

if [[ $(id -u) -eq 0 ]]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    # -n: fail instead of waiting for a password nobody can type (CI, no stdin).
    as_root=(sudo -n)
else
    echo "deps: not root and no sudo; install the packages above by hand" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q </dev/null
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold \
    "${missing[@]}" </dev/null
echo "deps: installed ${missing[*]}"
