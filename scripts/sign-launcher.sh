#!/usr/bin/env bash
# Signs a built launcher with the publisher's Authenticode certificate (Debian's osslsigncode,
# SHA-256), then verifies the signed file before it replaces the unsigned one.
#   sign-launcher.sh EXE PKCS12 PASSWORD_FILE [--timestamp URL] [--ca CA_FILE]
# PKCS12: the certificate with its key and chain; PASSWORD_FILE: its password on one line.
# --timestamp: an RFC 3161 time-stamping server, so the signature outlives the certificate.
# --ca: the roots to verify against (default: the system's); a test CA in the tests.
set -euo pipefail
if [ $# -lt 3 ]; then
  sed -n '2,7p' "$0" >&2
  exit 2
fi
exe=$1 pkcs12=$2 password=$3
shift 3
timestamp="" ca=""
while [ $# -gt 0 ]; do
  case $1 in
    --timestamp) timestamp=$2; shift 2 ;;
    --ca) ca=$2; shift 2 ;;
    *) echo "sign-launcher: unknown option $1" >&2; exit 2 ;;
  esac
done

signed="$exe.signed.$$"
trap 'rm -f "$signed"' EXIT
args=(sign -pkcs12 "$pkcs12" -readpass "$password" -h sha256 -n QuenbySkirmora)
[ -n "$timestamp" ] && args+=(-ts "$timestamp")
osslsigncode "${args[@]}" -in "$exe" -out "$signed" >/dev/null

verify=(verify -in "$signed")
[ -n "$ca" ] && verify+=(-CAfile "$ca")
if [ -z "$timestamp" ]; then verify+=(-ignore-timestamp); fi
if ! osslsigncode "${verify[@]}" >"$signed.log" 2>&1; then
  cat "$signed.log" >&2
  rm -f "$signed.log"
  echo "sign-launcher: the signed file does not verify; $exe is left unsigned" >&2
  exit 1
fi
rm -f "$signed.log"
mv "$signed" "$exe"
echo "sign-launcher: $exe signed and verified"
