#!/usr/bin/env bash
# Builds both trees and writes the release bundle dist/velisk-<version>.zip
# (see scripts/bundle/make_bundle.py for what it holds). Signs the binaries
# when a certificate is given:
#   bash scripts/bundle.sh
#   bash scripts/bundle.sh --pfx release.pfx --password-file pass.txt \
#        --timestamp http://timestamp.example.com
# (or the environment variables VELISK_SIGN_PFX, VELISK_SIGN_PASSWORD_FILE,
# VELISK_SIGN_TIMESTAMP, VELISK_SIGN_CERT, VELISK_SIGN_KEY).
# --no-build uses the trees as they are.
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
build=1
args=()
for a in "$@"; do
    if [[ $a == --no-build ]]; then build=0; else args+=("$a"); fi
done
if (( build )); then
    bash "$REPO/scripts/bootstrap.sh"
    bash "$REPO/scripts/configure.sh" i686 x86_64
fi
exec python3 "$REPO/scripts/bundle/make_bundle.py" "${args[@]}"
