#!/usr/bin/env bash
# Builds both trees and writes the release bundle dist/velisk-<version>.zip
# (see scripts/bundle/make_bundle.py for what it holds). The shipped
# Update.exe is built with the publisher's manifest keys; without keys no
# bundle is made unless --unsigned-manifests is given (the zip is then
# velisk-<version>-unsigned-manifests.zip). Signs the binaries when a
# certificate is given:
#   bash scripts/bundle.sh --manifest-keys /keys/velisk-2026.public.pem,/keys/velisk-2027.public.pem
#   bash scripts/bundle.sh --manifest-keys ... --pfx release.pfx --password-file pass.txt \
#        --timestamp http://timestamp.example.com
# (or the environment variables VELISK_MANIFEST_PUBLIC_KEYS, VELISK_SIGN_PFX,
# VELISK_SIGN_PASSWORD_FILE, VELISK_SIGN_TIMESTAMP, VELISK_SIGN_CERT,
# VELISK_SIGN_KEY).
# --no-build uses the trees as they are (make_bundle.py then checks that the
# i686 Update.exe carries the named keys).
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
build=1
unsigned=0
keys=${VELISK_MANIFEST_PUBLIC_KEYS:-}
args=()
while (( $# )); do
    case $1 in
        --no-build) build=0 ;;
        --unsigned-manifests) unsigned=1 ;;
        --manifest-keys) keys=${2:?--manifest-keys needs a list of PEM files}; shift ;;
        --manifest-keys=*) keys=${1#--manifest-keys=} ;;
        *) args+=("$1") ;;
    esac
    shift
done
# The keys as one absolute ;-list for CMake, and as a comma list for make_bundle.py.
cmake_keys=()
IFS=',;' read -r -a listed <<<"$keys"
for k in "${listed[@]}"; do
    [[ -n ${k// /} ]] || continue
    [[ -f $k ]] || { echo "bundle: manifest key $k: no such file" >&2; exit 2; }
    cmake_keys+=("$(cd "$(dirname "$k")" && pwd)/$(basename "$k")")
done
if (( ${#cmake_keys[@]} == 0 && !unsigned )); then
    echo "bundle: no manifest signing key: name the publisher's public keys with --manifest-keys a.pem,b.pem" \
         "(or VELISK_MANIFEST_PUBLIC_KEYS); a bundle whose Update.exe checks no manifest signature is made only" \
         "with --unsigned-manifests" >&2
    exit 2
fi
if (( ${#cmake_keys[@]} )); then
    args+=(--manifest-keys "$(IFS=,; echo "${cmake_keys[*]}")")
else
    args+=(--unsigned-manifests)
fi
if (( build )); then
    bash "$REPO/scripts/bootstrap.sh"
    # Only the shipped 32-bit tree gets the publisher's keys; the x86-64 test
    # tree keeps its own test keys.
    VELISK_SHIPPED_MANIFEST_KEYS="$(IFS=';'; echo "${cmake_keys[*]}")" bash "$REPO/scripts/configure.sh" i686
    bash "$REPO/scripts/configure.sh" x86_64
fi
exec python3 "$REPO/scripts/bundle/make_bundle.py" "${args[@]}"
