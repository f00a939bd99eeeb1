#!/usr/bin/env bash
# Validates the desktop entry (under its installed name) and the AppStream metadata, and checks that both
# name the same application id. Usage: check-metadata.sh RES-DIR
set -euo pipefail

res=${1:?usage: check-metadata.sh RES-DIR}
id=org.brasko.DecryptionTool
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
fail() {
    echo "check-metadata: $*" >&2
    status=1
}

# desktop-file-validate judges the file name too, so it sees the entry as it is installed.
cp "$res/brasko-decrypt.desktop" "$work/$id.desktop"
desktop-file-validate "$work/$id.desktop" || fail "desktop-file-validate found errors"
appstreamcli validate --no-net "$res/$id.metainfo.xml" || fail "appstreamcli validate found errors"

grep -qx "Icon=$id" "$work/$id.desktop" || fail "the desktop entry does not use the icon $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$res/$id.metainfo.xml" ||
    fail "the metadata does not launch $id.desktop"
grep -q "<id>$id</id>" "$res/$id.metainfo.xml" || fail "the metadata's id is not $id"
for key in 'Name\[de\]' 'Keywords' 'Keywords\[de\]'; do
    grep -q "^$key=" "$work/$id.desktop" || fail "the desktop entry has no $key"
done
grep -Eq '^Exec=brasko-decrypt %F$' "$work/$id.desktop" || fail "the desktop entry does not pass files (%F)"

[ "$status" -eq 0 ] && echo "check-metadata: desktop entry and AppStream metadata valid, id $id"
exit "$status"
