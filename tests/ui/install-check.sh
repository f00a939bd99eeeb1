#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks that the programs, their manual pages and completion,
# the desktop entry, the icon and the AppStream metadata land where desktops and shells look for them.
# Usage: install-check.sh BUILD-DIR
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
id=org.brasko.DecryptionTool
check test -x "$prefix/bin/brasko-decrypt"
check test -x "$prefix/bin/brasko-decrypt-cli"
check test -f "$prefix/share/applications/$id.desktop"
check test -f "$prefix/share/icons/hicolor/scalable/apps/$id.svg"
check test -f "$prefix/share/metainfo/$id.metainfo.xml"
check grep -qx 'Exec=brasko-decrypt %F' "$prefix/share/applications/$id.desktop"
check grep -qx "Icon=$id" "$prefix/share/applications/$id.desktop"
for page in brasko-decrypt brasko-decrypt-cli; do
    check test -f "$prefix/share/man/man1/$page.1.gz"
    check test -f "$prefix/share/bash-completion/completions/$page"
done
if command -v desktop-file-validate >/dev/null 2>&1; then
    check desktop-file-validate "$prefix/share/applications/$id.desktop"
fi
[ "$status" -eq 0 ] && echo "install-check: programs, manual pages, completion, desktop entry, icon and metadata installed"
exit "$status"
