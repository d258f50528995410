#!/usr/bin/env bash
# Configures and builds both trees: build/i686 (shipped Update.exe and
# Vantor.dll) and build/x86_64 (shipped Pellix.dll; tests run here).
#   scripts/configure.sh [i686|x86_64 ...]
# VELISK_SHIPPED_MANIFEST_KEYS, when set (even empty), gives the i686 tree its
# manifest keys (a ;-list of PEM files; scripts/bundle.sh sets it); otherwise
# the tree keeps the keys it was configured with. The line CMake prints about
# the manifest keys is shown.
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
(( ${#targets[@]} )) || targets=(x86_64 i686)
# ccache, when installed, keeps compiled objects between clones and trees:
# paths are hashed relative to the tree, so a fresh clone builds from cache.
launcher=()
if command -v ccache >/dev/null; then
    cc="env;CCACHE_BASEDIR=$REPO;CCACHE_NOHASHDIR=true;ccache"
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER="$cc" -DCMAKE_CXX_COMPILER_LAUNCHER="$cc")
fi
for t in "${targets[@]}"; do
    keys=()
    if [[ $t == i686 && -n ${VELISK_SHIPPED_MANIFEST_KEYS+set} ]]; then
        keys=(-DVELISK_MANIFEST_PUBLIC_KEYS="$VELISK_SHIPPED_MANIFEST_KEYS")
    fi
    log="$REPO/build/$t.configure.log"
    mkdir -p "$REPO/build"
    if ! cmake -S "$REPO" -B "$REPO/build/$t" -G "Unix Makefiles" "${launcher[@]}" "${keys[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$REPO/cmake/toolchain-$t.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$log" 2>&1; then
        cat "$log" >&2
        exit 1
    fi
    # What Update.exe of this tree checks manifests with.
    sed -n -e '/checks manifest signatures with/p' -e '/No manifest signing key/,/Call Stack/{/Call Stack/!p}' "$log" |
        sed "s/^ */$t: /"
    cmake --build "$REPO/build/$t" -j"$(nproc)"
done
