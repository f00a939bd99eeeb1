#!/usr/bin/env bash
# Checks the Debian package that `make package` built: its file list, the dependencies dpkg-shlibdeps found,
# that the programs from it run and use the system's libcrypto, and lintian's verdict (no errors).
# Usage: check-package.sh DEB-BUILD-DIR
set -euo pipefail

dir=${1:?usage: check-package.sh DEB-BUILD-DIR}
debs=("$dir"/brasko-decrypt_*.deb)
[ -f "${debs[0]}" ] && [ ${#debs[@]} -eq 1 ] || { echo "check-package: not one .deb in $dir" >&2; exit 1; }
deb=${debs[0]}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
fail() {
    echo "check-package: $*" >&2
    status=1
}

id=org.brasko.DecryptionTool
expected=(
    ./usr/bin/brasko-decrypt
    ./usr/bin/brasko-decrypt-cli
    ./usr/share/man/man1/brasko-decrypt.1.gz
    ./usr/share/man/man1/brasko-decrypt-cli.1.gz
    ./usr/share/bash-completion/completions/brasko-decrypt
    ./usr/share/bash-completion/completions/brasko-decrypt-cli
    ./usr/share/zsh/vendor-completions/_brasko-decrypt-cli
    ./usr/share/applications/$id.desktop
    ./usr/share/icons/hicolor/scalable/apps/$id.svg
    ./usr/share/metainfo/$id.metainfo.xml
    ./usr/share/doc/brasko-decrypt/copyright
    ./usr/share/doc/brasko-decrypt/changelog.gz
)
dpkg-deb -c "$deb" | awk '{ print $1, $6 }' >"$work/contents"
for path in "${expected[@]}"; do
    grep -q " $path\$" "$work/contents" || fail "$path is missing from the package"
done
# Everything lies under /usr, owned by root, the programs executable by all.
outside=$(awk '$2 !~ /^\.\/(usr\/.*)?$/ { print $2 }' "$work/contents")
[ -z "$outside" ] || fail "files outside /usr: $outside"
grep -q '^-rwxr-xr-x \./usr/bin/brasko-decrypt-cli$' "$work/contents" || fail "brasko-decrypt-cli is not 0755"
dpkg-deb -c "$deb" | awk '$2 != "root/root" { print $6 }' | grep . && fail "files not owned by root"

depends=$(dpkg-deb -f "$deb" Depends)
for package in libc6 libssl3 libqt6widgets6 libqt6svg6 libmagic1; do
    grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done

# The programs from the package run, and take libcrypto from the system.
dpkg-deb -x "$deb" "$work/root"
version=$("$work/root/usr/bin/brasko-decrypt-cli" --version) || fail "the packaged brasko-decrypt-cli does not run"
[ "$version" = "brasko-decrypt-cli $(dpkg-deb -f "$deb" Version)" ] || fail "unexpected version: $version"
libraries=$(ldd "$work/root/usr/bin/brasko-decrypt-cli")
grep -q 'libcrypto\.so\.3' <<<"$libraries" ||
    fail "brasko-decrypt-cli is not linked against the shared libcrypto"
page=$(zcat "$work/root/usr/share/man/man1/brasko-decrypt-cli.1.gz")
grep -q '^\.TH BRASKO-DECRYPT-CLI 1 ' <<<"$page" ||
    fail "the packaged manual page is not readable"

# Errors fail; warnings are shown.
if ! verdict=$(lintian --fail-on error "$deb" 2>/dev/null); then
    fail "lintian reports errors"
fi
grep -E '^[EW]: ' <<<"$verdict" >&2 || true

[ "$status" -eq 0 ] && echo "check-package: $(basename "$deb"): contents, dependencies and lintian fine"
exit "$status"
