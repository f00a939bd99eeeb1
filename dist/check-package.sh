#!/usr/bin/env bash
# Checks the two Debian packages that `make package` built: brasko-decrypt-cli (the command line, which must
# not pull in Qt) and brasko-decrypt (the dialog and the web page). For each: the exact file list, the
# dependencies, lintian's verdict (no errors, no warnings), and that its program runs from the unpacked
# packages with the system's libraries: the command line decrypts a file made by `openssl enc`, the dialog
# opens its window under Xvfb.
# Usage: check-package.sh DEB-BUILD-DIR
set -euo pipefail

dir=${1:?usage: check-package.sh DEB-BUILD-DIR}
here=$(cd "$(dirname "$0")" && pwd)
shopt -s nullglob
all=("$dir"/*.deb)
cli_debs=("$dir"/brasko-decrypt-cli_*.deb)
dialog_debs=("$dir"/brasko-decrypt_*.deb)
shopt -u nullglob
if [ ${#all[@]} -ne 2 ] || [ ${#cli_debs[@]} -ne 1 ] || [ ${#dialog_debs[@]} -ne 1 ]; then
    echo "check-package: expected brasko-decrypt-cli_*.deb and brasko-decrypt_*.deb in $dir, found:" \
        "${all[@]##*/}" >&2
    exit 1
fi
cli_deb=${cli_debs[0]}
dialog_deb=${dialog_debs[0]}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
fail() {
    echo "check-package: $*" >&2
    status=1
}

# has_package FIELD-VALUE PACKAGE: whether a Depends-style list names the package.
has_package() {
    grep -Eq "(^|, )$2( |,|$)" <<<"$1"
}

# check_contents DEB OPTIONAL-FILE EXPECTED-FILE...: the package holds exactly these files (the optional one
# may be there or not), all under /usr, owned by root, the programs executable by all.
check_contents() {
    local deb=$1 optional=$2 name
    shift 2
    name=$(basename "$deb")
    dpkg-deb -c "$deb" >"$work/listing"
    awk '$1 !~ /^d/ { print $6 }' "$work/listing" | sort >"$work/files"
    printf '%s\n' "$@" | sort >"$work/expected"
    local missing unexpected
    missing=$(comm -13 "$work/files" "$work/expected")
    unexpected=$(comm -23 "$work/files" "$work/expected" | grep -vxF -- "$optional" || true)
    [ -z "$missing" ] || fail "$name lacks:" $missing
    [ -z "$unexpected" ] || fail "$name holds files it should not:" $unexpected
    local outside
    outside=$(awk '$6 !~ /^\.\/(usr\/.*)?$/ { print $6 }' "$work/listing")
    [ -z "$outside" ] || fail "$name has files outside /usr: $outside"
    awk '$2 != "root/root" { print $6 }' "$work/listing" | grep . && fail "$name has files not owned by root"
    awk '$1 !~ /^d/ && $6 ~ /^\.\/usr\/bin\// && $1 != "-rwxr-xr-x" { print $6 }' "$work/listing" | grep . &&
        fail "$name has programs that are not 0755"
    return 0
}

id=org.brasko.DecryptionTool
check_contents "$cli_deb" '' \
    ./usr/bin/brasko-decrypt-cli \
    ./usr/share/man/man1/brasko-decrypt-cli.1.gz \
    ./usr/share/bash-completion/completions/brasko-decrypt-cli \
    ./usr/share/zsh/vendor-completions/_brasko-decrypt-cli \
    ./usr/share/doc/brasko-decrypt-cli/copyright \
    ./usr/share/doc/brasko-decrypt-cli/changelog.gz
check_contents "$dialog_deb" '' \
    ./usr/bin/brasko-decrypt \
    ./usr/share/brasko-decrypt/brasko-decrypt.html \
    ./usr/share/man/man1/brasko-decrypt.1.gz \
    ./usr/share/bash-completion/completions/brasko-decrypt \
    ./usr/share/applications/$id.desktop \
    ./usr/share/icons/hicolor/scalable/apps/$id.svg \
    ./usr/share/metainfo/$id.metainfo.xml \
    ./usr/share/doc/brasko-decrypt/copyright \
    ./usr/share/doc/brasko-decrypt/changelog.gz

# Dependencies: the libraries dpkg-shlibdeps found and what is loaded at run time. Nothing of Qt for the
# command line, in any relation that apt installs by default.
version=$(dpkg-deb -f "$cli_deb" Version)
[ "$(dpkg-deb -f "$dialog_deb" Version)" = "$version" ] || fail "the two packages have different versions"
cli_depends=$(dpkg-deb -f "$cli_deb" Depends)
for package in libc6 libssl3 libmagic1; do
    has_package "$cli_depends" "$package" || fail "brasko-decrypt-cli does not depend on $package: $cli_depends"
done
cli_relations=$(dpkg-deb -f "$cli_deb" Pre-Depends Depends Recommends)
grep -qi 'qt' <<<"$cli_relations" && fail "brasko-decrypt-cli pulls in Qt: $cli_relations"
dialog_depends=$(dpkg-deb -f "$dialog_deb" Depends)
for package in libc6 libssl3 libmagic1 libqt6widgets6 libqt6svg6 qt6-translations-l10n; do
    has_package "$dialog_depends" "$package" || fail "brasko-decrypt does not depend on $package: $dialog_depends"
done
has_package "$(dpkg-deb -f "$dialog_deb" Recommends)" brasko-decrypt-cli ||
    fail "brasko-decrypt does not recommend brasko-decrypt-cli"

# The programs from the packages, unpacked side by side as they would be installed.
root=$work/root
dpkg-deb -x "$cli_deb" "$root"
dpkg-deb -x "$dialog_deb" "$root"
cli=$root/usr/bin/brasko-decrypt-cli
dialog=$root/usr/bin/brasko-decrypt
for program in "$cli" "$dialog"; do
    ldd "$program" | grep 'not found' && fail "$(basename "$program") misses libraries"
done
grep -q 'libcrypto\.so\.3' <<<"$(ldd "$cli")" || fail "brasko-decrypt-cli does not use the shared libcrypto"
ldd "$cli" | grep -i 'libqt' && fail "brasko-decrypt-cli loads Qt libraries"
readelf -d "$cli" | grep 'NEEDED' | grep -i 'qt' && fail "brasko-decrypt-cli needs Qt libraries"

cli_version=$("$cli" --version) || fail "the packaged brasko-decrypt-cli does not run"
[ "$cli_version" = "brasko-decrypt-cli $version" ] || fail "unexpected version: $cli_version"
# A real decryption against `openssl enc`: the key of a password is the password laid over 24 blanks.
printf 'Kennwort\n' >"$work/kennwort"
key=$(printf '%-24s' Kennwort | od -An -tx1 | tr -d ' \n')
printf '%05d;Kunde;Musterstadt\n' $(seq 200) >"$work/kunden.csv" # 24 bytes a line, whole blocks for -nopad
openssl enc -des-ede3 -nopad -K "$key" -in "$work/kunden.csv" -out "$work/kunden.enc"
"$cli" -q --password-file "$work/kennwort" "$work/kunden.enc" 2>"$work/stderr" ||
    fail "the packaged brasko-decrypt-cli failed: $(cat "$work/stderr")"
cmp -s "$work/kunden.csv" "$work/e_kunden.enc" || fail "the packaged brasko-decrypt-cli decrypted wrongly"

# The dialog opens its window and closes on Escape, when an X server can be had.
if command -v xvfb-run >/dev/null && command -v xdotool >/dev/null; then
    "$here/../tests/ui/smoke.sh" "$dialog" "$(cut -d. -f1,2 <<<"$version")" >/dev/null ||
        fail "the packaged brasko-decrypt does not start"
else
    echo "check-package: no xvfb-run or xdotool, the dialog was not started" >&2
fi

for page in brasko-decrypt-cli brasko-decrypt; do
    title=$(tr '[:lower:]' '[:upper:]' <<<"$page")
    grep -q "^\.TH $title 1 " <<<"$(zcat "$root/usr/share/man/man1/$page.1.gz")" ||
        fail "the packaged manual page of $page is not readable"
done

# Errors and warnings fail; both are shown.
if ! verdict=$(lintian --fail-on error,warning "$cli_deb" "$dialog_deb" 2>/dev/null); then
    fail "lintian reports errors or warnings"
fi
grep -E '^[EW]: ' <<<"$verdict" >&2 || true

[ "$status" -eq 0 ] &&
    echo "check-package: $(basename "$cli_deb") and $(basename "$dialog_deb"): contents, dependencies," \
        "programs and lintian fine"
exit "$status"
