#!/usr/bin/env bash
# Regenerates the committed fixtures with the openssl command line, independently of the program.
# Key: the password "geheim" laid over 24 blanks, as hex.
set -euo pipefail
cd "$(dirname "$0")"
KEY=$(printf 'geheim                  ' | xxd -p | tr -d '\n')

printf 'Streng geheim: Quartalszahlen 2026, bitte nicht weitergeben!\n...' > sample.txt   # 64 bytes
openssl enc -e -des-ede3 -nopad -K "$KEY" -in sample.txt -out sample.enc

# A 13-byte input: the first whole block and 5 bytes of the second. The old tool decrypts those 5 bytes
# laid over the tail (bytes 5..7) of the first block's plaintext and keeps the first 5 bytes of the result.
head -c 13 sample.enc > short13.enc
head -c 8 sample.txt > short13.expected
{ head -c 13 sample.enc | tail -c 5; head -c 8 sample.txt | tail -c 3; } \
    | openssl enc -d -des-ede3 -nopad -K "$KEY" | head -c 5 >> short13.expected
