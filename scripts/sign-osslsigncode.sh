#!/usr/bin/env bash
# Signs one Windows executable in place with osslsigncode (Authenticode, SHA-256). The build runs
# it on the launcher before it is embedded and on Updater.exe after it is linked, when the CMake
# cache variable UPDATER_SIGN_SCRIPT names it. A vendor with a hardware token or a signing service
# names a script of their own instead: it is given the file's path and must sign that file in place.
#
# Usage: sign-osslsigncode.sh <file.exe>
# Environment:
#   UPDATER_SIGN_CERT           the certificate with its private key, as a PKCS#12 file (.p12/.pfx)
#   UPDATER_SIGN_PASSWORD_FILE  a file whose first line is the PKCS#12 file's password
#   UPDATER_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamp server, so the signature stays
#                               valid after the certificate expires
# The password is read from the file, never passed on a command line (where `ps` would show it).
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 <file.exe>" >&2; exit 2; }
file=$1
: "${UPDATER_SIGN_CERT:?sign: set UPDATER_SIGN_CERT to the PKCS#12 certificate file}"
: "${UPDATER_SIGN_PASSWORD_FILE:?sign: set UPDATER_SIGN_PASSWORD_FILE to the file with its password}"
[ -f "$file" ] || { echo "sign: no such file: $file" >&2; exit 1; }
[ -r "$UPDATER_SIGN_CERT" ] || { echo "sign: cannot read $UPDATER_SIGN_CERT" >&2; exit 1; }
[ -r "$UPDATER_SIGN_PASSWORD_FILE" ] || { echo "sign: cannot read $UPDATER_SIGN_PASSWORD_FILE" >&2; exit 1; }

args=(sign -pkcs12 "$UPDATER_SIGN_CERT" -readpass "$UPDATER_SIGN_PASSWORD_FILE" -h sha256
      -n "Tidemark SX Updater")
if [ -n "${UPDATER_SIGN_TIMESTAMP_URL:-}" ]; then
  args+=(-ts "$UPDATER_SIGN_TIMESTAMP_URL")
fi
# osslsigncode writes a new file; it replaces the original only once it is whole, so a failed
# signing never leaves a half-written program behind.
out=$(mktemp "$(dirname "$file")/.signing.XXXXXX")
trap 'rm -f "$out"' EXIT
# An earlier signature (a rebuilt launcher copied unchanged) is replaced, not nested.
osslsigncode remove-signature -in "$file" -out "$out" >/dev/null 2>&1 || cp "$file" "$out"
signed=$out.signed
trap 'rm -f "$out" "$signed"' EXIT
osslsigncode "${args[@]}" -in "$out" -out "$signed" >/dev/null
chmod --reference="$file" "$signed"
mv -f "$signed" "$file"
echo "signed $file"
