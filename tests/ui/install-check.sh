#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks that the program, its desktop entry and its icon land
# where desktops look for them. Usage: install-check.sh BUILD-DIR
set -euo pipefail

build=${1:?usage: install-check.sh BUILD-DIR}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null

status=0
check() {
    if ! "$@"; then
        echo "install-check: failed: $*" >&2
        status=1
    fi
}
check test -x "$prefix/bin/brasko-decrypt"
check test -x "$prefix/bin/brasko-decrypt-cli"
check test -f "$prefix/share/applications/brasko-decrypt.desktop"
check test -f "$prefix/share/icons/hicolor/scalable/apps/brasko-decrypt.svg"
check grep -qx 'Exec=brasko-decrypt %F' "$prefix/share/applications/brasko-decrypt.desktop"
check grep -qx 'Icon=brasko-decrypt' "$prefix/share/applications/brasko-decrypt.desktop"
if command -v desktop-file-validate >/dev/null 2>&1; then
    check desktop-file-validate "$prefix/share/applications/brasko-decrypt.desktop"
fi
[ "$status" -eq 0 ] && echo "install-check: both programs, desktop entry and icon installed"
exit "$status"
