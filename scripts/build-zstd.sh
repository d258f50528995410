#!/usr/bin/env bash
# Builds the decompression half of libzstd for one MinGW-w64 target from
# Debian's source package into a cache folder outside the repository, keyed
# by the package version and this script's content, and links it to
# .deps/<target>-zstd. Kept apart from build-deps.sh so that adding it does
# not rebuild the other libraries.
#
#   scripts/build-zstd.sh i686|x86_64
#
# Static library libzstd.a (decoder only: common + decompress, no legacy
# formats, no assembly, single-threaded) and the headers zstd.h,
# zstd_errors.h.
set -euo pipefail

TARGET=${1:?usage: build-zstd.sh i686|x86_64}
case "$TARGET" in i686|x86_64) ;; *) echo "unknown target $TARGET" >&2; exit 2;; esac

REPO=$(cd "$(dirname "$0")/.." && pwd)
CACHE_ROOT=${VELISK_DEPS_CACHE:-/var/cache/velisk-deps}
TRIPLET=$TARGET-w64-mingw32
CC=$TRIPLET-gcc-posix
AR=$TRIPLET-gcc-ar-posix

src_version() { apt-cache showsrc libzstd 2>/dev/null | awk '/^Version:/ && v == "" {v = $2} END {print v}'; }
VERSION=$(src_version)
if [[ -z $VERSION ]]; then echo "build-zstd: no source package libzstd (deb-src missing?)" >&2; exit 1; fi
KEY=$( { echo "libzstd $VERSION"; dpkg-query -W -f='${Version}\n' "gcc-mingw-w64-$(echo "$TARGET" | tr _ -)-posix" 2>/dev/null;
         sha1sum "$0" | awk '{print $1}'; } | sha1sum | cut -c1-12)
PREFIX=$CACHE_ROOT/$TARGET-zstd-$KEY

link_result() {
    mkdir -p "$REPO/.deps"
    ln -sfn "$PREFIX" "$REPO/.deps/$TARGET-zstd"
}

mkdir -p "$CACHE_ROOT"
exec 8>"$CACHE_ROOT/.lock-$TARGET-zstd-$KEY"
flock 8
if [[ -f $PREFIX/.complete ]]; then
    echo "zstd $TARGET: cached at $PREFIX"
    link_result
    exit 0
fi

SOURCES=$CACHE_ROOT/sources
SRC_DIR=$SOURCES/libzstd-$VERSION
mkdir -p "$SOURCES"
(
    flock 7
    if [[ ! -f $SRC_DIR/.unpacked ]]; then
        rm -rf "$SRC_DIR" && mkdir -p "$SRC_DIR"
        (cd "$SRC_DIR" && apt-get source -qq libzstd >/dev/null 2>&1 || apt-get source libzstd)
        touch "$SRC_DIR/.unpacked"
    fi
) 7>"$SOURCES/.lock"
LIB=
for sub in "$SRC_DIR"/*/; do LIB=${sub%/}/lib; break; done
[[ -f $LIB/zstd.h ]] || { echo "build-zstd: no lib/zstd.h in $SRC_DIR" >&2; exit 1; }

echo "zstd $TARGET: building into $PREFIX"
WORK=$CACHE_ROOT/work-$TARGET-zstd-$KEY
rm -rf "$WORK" "$PREFIX"
mkdir -p "$WORK" "$PREFIX/include" "$PREFIX/lib"
compiles=()
for c in "$LIB"/common/*.c "$LIB"/decompress/*.c; do
    $CC -O2 -c "$c" -o "$WORK/$(basename "$c" .c).o" -I"$LIB" -I"$LIB/common" \
        -DZSTD_DISABLE_ASM -DZSTD_LEGACY_SUPPORT=0 -DXXH_NAMESPACE=ZSTD_ &
    compiles+=($!)
done
# Each compile's own status: a bare "wait" answers 0 whatever failed, and a
# library with a missing object would be cached as complete.
for pid in "${compiles[@]}"; do wait "$pid"; done
$AR rcs "$PREFIX/lib/libzstd.a" "$WORK"/*.o
cp "$LIB/zstd.h" "$LIB/zstd_errors.h" "$PREFIX/include/"
echo "libzstd $VERSION" > "$PREFIX/versions.txt"
touch "$PREFIX/.complete"
rm -rf "$WORK"
link_result
echo "zstd $TARGET: ready at $PREFIX"
