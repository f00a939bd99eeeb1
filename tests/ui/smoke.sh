#!/usr/bin/env bash
# Starts the dialog application under a virtual X server, finds its window by its exact title, checks the
# title as the X server holds it, presses Escape and expects the program to end by itself. The program is
# given files named like Qt's options, before and after "--": were they taken as options, the window would go
# to the offscreen platform and never reach the X server.
# Usage: smoke.sh PATH-TO-brasko-decrypt VERSION (major.minor, as the build has it)
set -euo pipefail

exe=${1:?usage: smoke.sh PATH-TO-brasko-decrypt VERSION}
version=${2:?usage: smoke.sh PATH-TO-brasko-decrypt VERSION}
title="Brasko Decrypter. Version $version"

if [ -z "${BRASKO_SMOKE_INSIDE_X:-}" ]; then
    export BRASKO_SMOKE_INSIDE_X=1
    # The whole run is bounded, so that a stuck X server or program can never hang the test suite.
    # A display number of its own to start from, so that X servers started at the same moment by other
    # tests or builds on the machine do not race for the same one.
    exec timeout 90 xvfb-run -a -n $((100 + RANDOM % 800)) -s '-screen 0 1024x768x24' "$0" "$exe" "$version"
fi

unset QT_QPA_PLATFORM
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$exe" -platform offscreen -reverse -- -platform offscreen -style fusion -platformpluginpath . >"$log" 2>&1 &
pid=$!

fail() {
    echo "smoke: $*" >&2
    sed 's/^/  program: /' "$log" >&2
    kill "$pid" 2>/dev/null || true
    exit 1
}

window=''
for _ in $(seq 100); do
    window=$(xdotool search --name "^${title//./\\.}\$" 2>/dev/null | head -n 1) && [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || fail "the program ended before its window appeared"
    sleep 0.1
done
[ -n "$window" ] || fail "no window titled '$title'"

wm_name=$(xprop -id "$window" WM_NAME)
net_wm_name=$(xprop -id "$window" _NET_WM_NAME)
[ "$wm_name" = "WM_NAME(STRING) = \"$title\"" ] || [ "$wm_name" = "WM_NAME(UTF8_STRING) = \"$title\"" ] ||
    fail "unexpected $wm_name"
[ "$net_wm_name" = "_NET_WM_NAME(UTF8_STRING) = \"$title\"" ] || fail "unexpected $net_wm_name"
echo "smoke: found window $window: $net_wm_name"

xdotool windowfocus --sync "$window"
xdotool key Escape

for _ in $(seq 100); do
    if ! kill -0 "$pid" 2>/dev/null; then
        wait "$pid" && status=0 || status=$?
        [ "$status" -eq 0 ] || fail "the program ended with status $status"
        echo "smoke: Escape ended the program"
        exit 0
    fi
    sleep 0.1
done
fail "the program did not end after Escape"
