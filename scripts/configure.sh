#!/usr/bin/env bash
# Configures and builds both trees: build/i686 (shipped Update.exe and
# Vantor.dll) and build/x86_64 (shipped Pellix.dll; tests run here).
#   scripts/configure.sh [i686|x86_64 ...]
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
    cmake -S "$REPO" -B "$REPO/build/$t" -G "Unix Makefiles" "${launcher[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$REPO/cmake/toolchain-$t.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$REPO/build/$t" -j"$(nproc)"
done
