#!/usr/bin/env bash
# Signs a Windows program with Authenticode (SHA-256) through osslsigncode.
# Usage: SIGN_PFX=cert.pfx SIGN_PASSWORD_FILE=file [SIGN_TIMESTAMP_URL=url] sign.sh IN OUT
#
# The password never appears on a command line, in the environment or in the
# output: osslsigncode reads it from the file itself (-readpass). With
# SIGN_TIMESTAMP_URL the signature is time-stamped by that RFC 3161 server, so it
# stays valid after the certificate expires; the build machines reach no
# server, so it is off unless given.
set -eu
in=$1
out=$2
: "${SIGN_PFX:?sign.sh: SIGN_PFX is not set}"
: "${SIGN_PASSWORD_FILE:?sign.sh: SIGN_PASSWORD_FILE is not set}"
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode missing (make provision)" >&2; exit 1; }
args=(sign -pkcs12 "$SIGN_PFX" -readpass "$SIGN_PASSWORD_FILE" -h sha256 -n "TowerLink Setup")
[ -n "${SIGN_TIMESTAMP_URL:-}" ] && args+=(-ts "$SIGN_TIMESTAMP_URL")
part="$out.signing.part"
rm -f "$part"
if ! osslsigncode "${args[@]}" -in "$in" -out "$part" >"$part.log" 2>&1; then
  # osslsigncode's own words; the password is not among them (it only read the file).
  sed 's/^/sign.sh: /' "$part.log" >&2
  rm -f "$part" "$part.log"
  echo "sign.sh: $in was not signed" >&2
  exit 1
fi
rm -f "$part.log"
mv "$part" "$out"
echo "signed: $out (Authenticode, SHA-256${SIGN_TIMESTAMP_URL:+, time stamp from $SIGN_TIMESTAMP_URL})"
