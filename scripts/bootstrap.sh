#!/usr/bin/env bash
# Prepares a Debian 12 machine for building and testing: installs the Debian
# packages the build, the tests and the demo use, and builds the third-party
# libraries (and the zstd decoder) for both MinGW-w64 targets (cached; a
# second run takes seconds).
#
#   scripts/bootstrap.sh            # packages + libraries for i686 and x86_64
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)

PACKAGES=(
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
    libz-mingw-w64-dev googletest
    wine64 xvfb xauth imagemagick x11-apps fonts-wqy-microhei
    cmake make ccache dpkg-dev tcl openssl ca-certificates python3 procps util-linux curl unzip
    osslsigncode zstd tinyproxy
)

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; fi

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# Source packages of the libraries come from bookworm main.
SRC_LIST=/etc/apt/sources.list.d/velisk-deb-src.sources
need_update=0
if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    $SUDO tee "$SRC_LIST" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    need_update=1
fi
if ! apt-cache showsrc google-glog 2>/dev/null | grep '^Version:' >/dev/null; then need_update=1; fi

if (( ${#missing[@]} > 0 )) || (( need_update )); then
    # An index that fails to download (the i386 security index does on these
    # machines) makes apt-get update exit 100 although everything else updated.
    $SUDO apt-get update || echo "bootstrap: apt-get update reported a failing index; going on"
fi
if (( ${#missing[@]} > 0 )); then
    echo "bootstrap: installing ${missing[*]}"
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

for target in x86_64 i686; do
    bash "$REPO/scripts/build-deps.sh" "$target"
    bash "$REPO/scripts/build-zstd.sh" "$target"
done
