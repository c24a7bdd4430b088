#!/usr/bin/env bash
# The program check against tables of its own: a missing program and a package that
# scripts/packages.txt does not list are each named with the package to add, and a session's
# check leaves out what only other sessions start.
set -uo pipefail
check="$(cd "$(dirname "$0")" && pwd)/check-programs.sh"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
failures=0
cases=0
expect() { # expect STATUS PATTERN -- ARGS...: the check exits STATUS and prints PATTERN
    local status="$1" pattern="$2"
    shift 3
    local out
    out="$("$check" --table "$dir/programs.txt" --packages "$dir/packages.txt" "$@" 2>&1)"
    local got=$?
    cases=$((cases + 1))
    if [[ $got -ne $status ]] || ! grep -qE -- "$pattern" <<<"$out"; then
        echo "FAIL: check $* exited $got (wanted $status) and printed: $out" >&2
        failures=$((failures + 1))
    fi
}

printf 'sh    shpkg   all\n' >"$dir/programs.txt"
printf '# comment\nshpkg other\n' >"$dir/packages.txt"
expect 0 '^$' -- all

printf 'sh    shpkg   all\nvantel-no-such-tool   toolpkg   wayland\n' >"$dir/programs.txt"
printf 'shpkg toolpkg\n' >"$dir/packages.txt"
expect 1 'vantel-no-such-tool, which is missing: install the package toolpkg' -- wayland
expect 1 'vantel-no-such-tool, which is missing' -- all
expect 0 '^$' -- x11

printf '/bin/sh    missingpkg   x11,pipewire\n' >"$dir/programs.txt"
printf 'shpkg\n' >"$dir/packages.txt"
expect 1 'package missingpkg, which scripts/packages.txt does not list' -- pipewire
expect 0 '^$' -- wayland

printf 'python3:vantel_no_such_module   python3-nope   all\n' >"$dir/programs.txt"
printf 'python3-nope\n' >"$dir/packages.txt"
expect 1 'python3:vantel_no_such_module, which is missing: install the package python3-nope' -- all

expect 2 'usage' -- bogus

echo "$((cases - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
