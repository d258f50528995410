#!/usr/bin/env bash
# Signs Windows binaries with an Authenticode signature (SHA-256), in place,
# with Debian's osslsigncode.
#
#   scripts/sign.sh --pfx FILE [--password-file FILE] [options] BINARY...
#   scripts/sign.sh --cert PEM --key PEM [--password-file FILE] [options] BINARY...
#
# Options:
#   --timestamp URL     RFC 3161 time-stamp server; the signature then stays
#                       valid after the certificate expires. An empty URL
#                       signs without a time stamp (with a warning).
#   --name TEXT         program name shown by Windows (default "Velisk")
#   --info-url URL      publisher's web address put into the signature
#   --verify-ca PEM     after signing, check every signature against this CA
#
# The password of the PFX or key is read from --password-file, never taken on
# the command line. Each binary is signed into a temporary file beside it that
# replaces the original only when signing succeeded; any failure ends the
# script with a non-zero status and names the file.
set -euo pipefail

# The comment block at the top of this file, without its "# " marks; to
# standard output and status 0 when asked for, to standard error and status 2
# after a wrong option.
usage() {
    local status=${1:-2}
    sed -n '2,/^[^#]/p' "$0" | sed '$d; s/^# \{0,1\}//' >&$(( status == 0 ? 1 : 2 ))
    exit "$status"
}

pfx="" cert="" key="" password_file="" timestamp="" name="Velisk" info_url="" verify_ca=""
while (( $# )); do
    case $1 in
        --pfx) pfx=${2:?}; shift 2 ;;
        --cert) cert=${2:?}; shift 2 ;;
        --key) key=${2:?}; shift 2 ;;
        --password-file) password_file=${2:?}; shift 2 ;;
        --timestamp) timestamp=${2-}; shift 2 ;;
        --name) name=${2:?}; shift 2 ;;
        --info-url) info_url=${2:?}; shift 2 ;;
        --verify-ca) verify_ca=${2:?}; shift 2 ;;
        --help|-h) usage 0 ;;
        --) shift; break ;;
        -*) echo "sign.sh: unknown option $1" >&2; usage ;;
        *) break ;;
    esac
done
(( $# )) || { echo "sign.sh: no binary to sign" >&2; usage; }
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode is not installed (scripts/bootstrap.sh installs it)" >&2; exit 1; }

credentials=()
if [[ -n $pfx ]]; then
    [[ -z $cert && -z $key ]] || { echo "sign.sh: give either --pfx or --cert with --key" >&2; exit 2; }
    [[ -r $pfx ]] || { echo "sign.sh: cannot read $pfx" >&2; exit 1; }
    credentials=(-pkcs12 "$pfx")
elif [[ -n $cert && -n $key ]]; then
    [[ -r $cert && -r $key ]] || { echo "sign.sh: cannot read $cert or $key" >&2; exit 1; }
    credentials=(-certs "$cert" -key "$key")
else
    echo "sign.sh: no certificate: give --pfx FILE or --cert PEM --key PEM" >&2
    exit 2
fi
if [[ -n $password_file ]]; then
    [[ -r $password_file ]] || { echo "sign.sh: cannot read $password_file" >&2; exit 1; }
    credentials+=(-readpass "$password_file")
fi
extra=(-h sha256 -n "$name")
[[ -n $info_url ]] && extra+=(-i "$info_url")
if [[ -n $timestamp ]]; then
    extra+=(-ts "$timestamp")
else
    echo "sign.sh: no time-stamp server: the signatures become invalid when the certificate expires" >&2
fi

for binary in "$@"; do
    [[ -f $binary ]] || { echo "sign.sh: $binary does not exist" >&2; exit 1; }
    signed=$(mktemp "$(dirname "$binary")/.signing.XXXXXX")
    rm -f "$signed"
    if ! osslsigncode sign "${credentials[@]}" "${extra[@]}" -in "$binary" -out "$signed" >"$signed.log" 2>&1; then
        echo "sign.sh: signing $binary failed:" >&2
        cat "$signed.log" >&2
        rm -f "$signed" "$signed.log"
        exit 1
    fi
    if [[ -n $verify_ca ]] && ! osslsigncode verify -CAfile "$verify_ca" -in "$signed" >"$signed.log" 2>&1; then
        echo "sign.sh: the signature of $binary does not verify against $verify_ca:" >&2
        cat "$signed.log" >&2
        rm -f "$signed" "$signed.log"
        exit 1
    fi
    rm -f "$signed.log"
    chmod --reference="$binary" "$signed"
    mv -f "$signed" "$binary"
    echo "sign.sh: signed $binary"
done
