#!/usr/bin/env bash
# Checks that the built programs carry the hardening the build asks for: position-independent, full RELRO
# with immediate binding, the stack protector and fortified calls. Usage: hardening-check.sh PROGRAM...
set -euo pipefail
status=0
fail() { echo "hardening-check: $1: $2" >&2; status=1; }
for program in "$@"; do
    readelf -hW "$program" | grep -q 'Type:.*DYN' || fail "$program" "not position-independent"
    readelf -lW "$program" | grep -q 'GNU_RELRO' || fail "$program" "no RELRO segment"
    readelf -dW "$program" | grep -Eq 'BIND_NOW|FLAGS_1.*NOW' || fail "$program" "not bound at start (no -z now)"
    readelf -lW "$program" | grep 'GNU_STACK' | grep -q 'RWE' && fail "$program" "executable stack"
    symbols=$(readelf --dyn-syms -W "$program")
    grep -q '__stack_chk_fail' <<<"$symbols" || fail "$program" "no stack protector"
    grep -Eq '__[a-z]+_chk' <<<"$symbols" || fail "$program" "no fortified calls"
done
exit $status
