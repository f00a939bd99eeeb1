#!/usr/bin/env bash
# Installs the two packages into a fresh Debian 12 root made by debootstrap, each with what apt brings along
# by default, and checks them there: the command line alone installs no Qt and decrypts a file made by
# `openssl enc`; the dialog brings Qt's German translations and opens its window (under Xvfb on this machine,
# when xvfb-run and xdotool are here). Needs root, debootstrap and Debian's mirror over the network, and takes
# about five minutes, so `make test` does not run it: `make test-fresh-root` does.
# Usage: check-fresh-root.sh DEB-BUILD-DIR [MIRROR]
set -euo pipefail

dir=${1:?usage: check-fresh-root.sh DEB-BUILD-DIR [MIRROR]}
mirror=${2:-http://deb.debian.org/debian}
here=$(cd "$(dirname "$0")" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "check-fresh-root: needs root (debootstrap, chroot)" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "check-fresh-root: needs debootstrap" >&2; exit 1; }
shopt -s nullglob
cli_debs=("$dir"/brasko-decrypt-cli_*.deb)
dialog_debs=("$dir"/brasko-decrypt_*.deb)
shopt -u nullglob
if [ ${#cli_debs[@]} -ne 1 ] || [ ${#dialog_debs[@]} -ne 1 ]; then
    echo "check-fresh-root: expected one brasko-decrypt-cli_*.deb and one brasko-decrypt_*.deb in $dir" >&2
    exit 1
fi
version=$(dpkg-deb -f "${cli_debs[0]}" Version)

work=$(mktemp -d)
root=$work/root
# Every mount below lives in a mount namespace of its own and is gone with it; should one still show, the
# root is left alone rather than removed through it.
cleanup() {
    if awk -v root="$root/" 'index($2 "/", root) == 1 { found = 1 } END { exit !found }' /proc/self/mounts; then
        echo "check-fresh-root: something is still mounted under $root; left $work" >&2
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT

status=0
fail() {
    echo "check-fresh-root: $*" >&2
    status=1
}

# in_root COMMAND...: runs a command in the root with /proc and a private /dev/pts mounted, in a clean
# environment.
in_root() {
    unshare --mount --fork --kill-child sh -c '
        root=$1
        shift
        mount -t proc proc "$root/proc" &&
            mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts" &&
            exec chroot "$root" "$@"' sh "$root" \
        env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root DEBIAN_FRONTEND=noninteractive "$@"
}

start=$SECONDS
if ! debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1; then
    tail -n 20 "$work/debootstrap.log" >&2
    echo "check-fresh-root: debootstrap failed" >&2
    exit 1
fi
echo "check-fresh-root: fresh root made in $((SECONDS - start)) s"
base_packages=$(in_root dpkg-query -W -f '${Package}\n' | wc -l)
cp "${cli_debs[0]}" "${dialog_debs[0]}" "$root/tmp/"
# A file to decrypt, made outside (the root has no openssl): the key is the password laid over 24 blanks.
printf 'Kennwort\n' >"$root/tmp/kennwort"
printf '%05d;Kunde;Musterstadt\n' $(seq 200) >"$root/tmp/kunden.csv" # 24 bytes a line, whole blocks
key=$(printf '%-24s' Kennwort | od -An -tx1 | tr -d ' \n')
openssl enc -des-ede3 -nopad -K "$key" -in "$root/tmp/kunden.csv" -out "$root/tmp/kunden.enc"

# The command line alone.
start=$SECONDS
in_root apt-get update -q >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; exit 1; }
if ! in_root apt-get install -y -q "/tmp/$(basename "${cli_debs[0]}")" >"$work/apt.log" 2>&1; then
    cat "$work/apt.log" >&2
    exit 1
fi
cli_packages=$(in_root dpkg-query -W -f '${Package}\n' | wc -l)
echo "check-fresh-root: brasko-decrypt-cli installed with $((cli_packages - base_packages)) packages" \
    "in $((SECONDS - start)) s"
qt=$(in_root dpkg-query -W -f '${Package}\n' | grep -i 'qt' || true)
[ -z "$qt" ] || fail "installing brasko-decrypt-cli brought Qt:" $qt
cli_version=$(in_root brasko-decrypt-cli --version) || fail "brasko-decrypt-cli does not run in the fresh root"
[ "$cli_version" = "brasko-decrypt-cli $version" ] || fail "unexpected version: $cli_version"
in_root sh -c 'cd /tmp && brasko-decrypt-cli -q --password-file kennwort kunden.enc' 2>"$work/stderr" ||
    fail "brasko-decrypt-cli failed in the fresh root: $(cat "$work/stderr")"
cmp -s "$root/tmp/kunden.csv" "$root/tmp/e_kunden.enc" || fail "brasko-decrypt-cli decrypted wrongly"

# Then the dialog.
start=$SECONDS
if ! in_root apt-get install -y -q "/tmp/$(basename "${dialog_debs[0]}")" >"$work/apt.log" 2>&1; then
    cat "$work/apt.log" >&2
    exit 1
fi
dialog_packages=$(in_root dpkg-query -W -f '${Package}\n' | wc -l)
echo "check-fresh-root: brasko-decrypt installed with $((dialog_packages - cli_packages)) more packages" \
    "in $((SECONDS - start)) s"
[ -f "$root/usr/share/qt6/translations/qtbase_de.qm" ] ||
    fail "installing brasko-decrypt did not bring Qt's German translations"
missing=$(in_root ldd /usr/bin/brasko-decrypt | grep 'not found' || true)
[ -z "$missing" ] || fail "brasko-decrypt misses libraries in the fresh root: $missing"
if command -v xvfb-run >/dev/null && command -v xdotool >/dev/null; then
    # The smoke test's X server is this machine's; the chrooted dialog reaches it through its abstract
    # socket (same network namespace) with a copy of the authority file.
    cat >"$work/dialog" <<EOF
#!/bin/sh
cp "\$XAUTHORITY" "$root/tmp/Xauthority"
exec unshare --mount --fork --kill-child sh -c 'mount -t proc proc "\$1/proc" && exec chroot "\$1" env -i \\
    PATH=/usr/bin:/bin HOME=/root DISPLAY="\$2" XAUTHORITY=/tmp/Xauthority /usr/bin/brasko-decrypt' \\
    sh "$root" "\$DISPLAY"
EOF
    chmod +x "$work/dialog"
    "$here/../tests/ui/smoke.sh" "$work/dialog" >/dev/null || fail "brasko-decrypt does not start in the fresh root"
else
    echo "check-fresh-root: no xvfb-run or xdotool here, the dialog was not started" >&2
fi

[ "$status" -eq 0 ] && echo "check-fresh-root: both packages install and run in a fresh Debian 12 root"
exit "$status"
