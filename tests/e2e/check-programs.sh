#!/usr/bin/env bash
# Checks that every program the end-to-end tests start is on this machine, before any of them
# runs, and that the package named for each is one scripts/packages.txt installs. A missing
# program otherwise shows up minutes later as a test failing with a riddle ("sway's Xwayland did
# not answer"), and a package installed by hand hides the gap until a fresh machine runs the tests.
#
# Usage: tests/e2e/check-programs.sh [--table FILE] [--packages FILE] [all|x11|pipewire|wayland]
# (default: this folder's programs.txt, scripts/packages.txt, all sessions).
# Exit 0 when all is there; 1 with one line per missing program or unlisted package.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
table="$here/programs.txt"
packages="$here/../../scripts/packages.txt"
session=all
while [[ $# -gt 0 ]]; do
    case "$1" in
        --table) table="$2"; shift 2 ;;
        --packages) packages="$2"; shift 2 ;;
        all|x11|pipewire|wayland) session="$1"; shift ;;
        *) echo "usage: $0 [--table FILE] [--packages FILE] [all|x11|pipewire|wayland]" >&2; exit 2 ;;
    esac
done

listed() {
    sed 's/#.*//' "$packages" | tr -s ' \t' '\n' | grep -qx -- "$1" && return 0
    [[ "$(dpkg-query -W -f='${Essential}' "$1" 2>/dev/null)" == yes ]]
}

present() {
    case "$1" in
        python3:*) /usr/bin/python3 -c "import ${1#python3:}" >/dev/null 2>&1 ;;
        /*) [[ -x "$1" ]] ;;
        *) command -v "$1" >/dev/null 2>&1 ;;
    esac
}

wanted() {
    [[ "$session" == all || ",$1," == *",all,"* || ",$1," == *",$session,"* ]]
}

faults=0
while read -r program package sessions; do
    [[ -z "$program" || "$program" == \#* ]] && continue
    wanted "$sessions" || continue
    if ! listed "$package"; then
        echo "tests need $program from the package $package, which scripts/packages.txt does" \
            "not list: a fresh machine will not have it" >&2
        faults=1
    fi
    if ! present "$program"; then
        echo "tests need $program, which is missing: install the package $package" \
            "(scripts/install-deps installs everything scripts/packages.txt lists)" >&2
        faults=1
    fi
done <"$table"
exit $faults
