#!/usr/bin/env bash
# Configures and builds both trees: build/i686 (shipped Update.exe and
# Vantor.dll) and build/x86_64 (shipped Pellix.dll; tests run here).
#   scripts/configure.sh [i686|x86_64 ...]
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
(( ${#targets[@]} )) || targets=(x86_64 i686)
for t in "${targets[@]}"; do
    cmake -S "$REPO" -B "$REPO/build/$t" -G "Unix Makefiles" \
        -DCMAKE_TOOLCHAIN_FILE="$REPO/cmake/toolchain-$t.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$REPO/build/$t" -j"$(nproc)"
done
