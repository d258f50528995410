#!/usr/bin/env bash
# Makes the test certificates of one build tree and has the host trust its CA.
#
#   trust-test-ca.sh CERT_DIR
#
# CERT_DIR (created when missing, e.g. build/x86_64/test_server/certs) receives:
#   ca.crt, ca.key              a test CA made for this build tree only
#   localhost.crt, .key         certificate for the DNS name "localhost", signed by the CA
#   untrusted.crt, .key         self-signed "localhost" certificate that nobody trusts
# The CA is then added to the host's bundle (/usr/local/share/ca-certificates +
# update-ca-certificates), which is where Wine's WinHTTP takes its trusted
# roots from. Wine checks the host name, not the address, so tests must use
# https://localhost/.
#
# Idempotent and fast when done already: existing keys are kept, and the bundle
# is rebuilt only when this CA is not in it. Needs root (or sudo) only for that
# step. Each CERT_DIR has its own CA file there, named after a hash of the
# folder's path: several build trees on one machine do not displace each
# other, and new certificates in the same folder replace the old CA.
set -euo pipefail
DIR=${1:?usage: trust-test-ca.sh CERT_DIR}
mkdir -p "$DIR"
DIR=$(cd "$DIR" && pwd)
ANCHORS=/usr/local/share/ca-certificates
BUNDLE=/etc/ssl/certs/ca-certificates.crt

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; fi

make_certs() {
    local tmp
    tmp=$(mktemp -d "$DIR/.new.XXXXXX")
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -sha256 \
        -keyout "$tmp/ca.key" -out "$tmp/ca.crt" \
        -subj "/O=Velisk tests/CN=Velisk Test CA $(hostname) $(date +%s)" \
        -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
    cat >"$tmp/leaf.ext" <<'EXT'
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost
EXT
    openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=localhost" \
        -keyout "$tmp/localhost.key" -out "$tmp/localhost.csr" 2>/dev/null
    openssl x509 -req -in "$tmp/localhost.csr" -CA "$tmp/ca.crt" -CAkey "$tmp/ca.key" \
        -CAcreateserial -days 825 -sha256 -extfile "$tmp/leaf.ext" -out "$tmp/localhost.crt" 2>/dev/null
    openssl req -x509 -newkey rsa:2048 -nodes -days 825 -sha256 -subj "/CN=localhost" \
        -keyout "$tmp/untrusted.key" -out "$tmp/untrusted.crt" \
        -addext "subjectAltName=DNS:localhost" 2>/dev/null
    chmod 600 "$tmp"/*.key
    mv "$tmp"/ca.crt "$tmp"/ca.key "$tmp"/localhost.crt "$tmp"/localhost.key \
        "$tmp"/untrusted.crt "$tmp"/untrusted.key "$DIR/"
    rm -rf "$tmp"
}

{
    flock 9
    for f in ca.crt ca.key localhost.crt localhost.key untrusted.crt untrusted.key; do
        if [[ ! -s $DIR/$f ]]; then make_certs; break; fi
    done

    anchor="$ANCHORS/velisk-test-ca-$(printf %s "$DIR" | sha256sum | cut -c1-16).crt"
    # A line from the middle of the certificate's base64 text identifies it in the bundle.
    probe=$(sed -n 5p "$DIR/ca.crt")
    if [[ -f $anchor ]] && cmp -s "$anchor" "$DIR/ca.crt" && grep -qF "$probe" "$BUNDLE" 2>/dev/null; then
        exit 0
    fi
    $SUDO install -m 644 "$DIR/ca.crt" "$anchor"
    $SUDO update-ca-certificates >/dev/null 2>&1
    grep -qF "$probe" "$BUNDLE" || { echo "trust-test-ca: CA not in $BUNDLE" >&2; exit 1; }
} 9>"/tmp/velisk-trust-test-ca.lock"
