#!/usr/bin/env bash
# Builds the third-party libraries for one MinGW-w64 target from Debian source
# packages into a cache folder outside the repository, keyed by the package
# versions and by this script's own content, and links it to .deps/<target>.
#
#   scripts/build-deps.sh i686|x86_64
#
# Libraries: SQLite (amalgamation), minizip's unzip layer (zlib comes from
# libz-mingw-w64-dev), Boost headers plus Boost.Filesystem, glog 0.6 (static,
# no time stamp in log file names), jsoncpp, GoogleTest.
set -euo pipefail

TARGET=${1:?usage: build-deps.sh i686|x86_64}
case "$TARGET" in i686|x86_64) ;; *) echo "unknown target $TARGET" >&2; exit 2;; esac

REPO=$(cd "$(dirname "$0")/.." && pwd)
CACHE_ROOT=${VELISK_DEPS_CACHE:-/var/cache/velisk-deps}
TRIPLET=$TARGET-w64-mingw32
TOOLCHAIN=$REPO/cmake/toolchain-$TARGET.cmake
JOBS=$(nproc)

SRC_PKGS=(google-glog libjsoncpp sqlite3 zlib boost1.81)

# Reads all of apt-cache's output (an early exit would kill apt-cache with
# SIGPIPE, which pipefail turns into a failure).
src_version() { apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/ && v == "" {v = $2} END {print v}'; }

key_text() {
    for p in "${SRC_PKGS[@]}"; do echo "$p $(src_version "$p")"; done
    dpkg-query -W -f='${Package} ${Version}\n' googletest libz-mingw-w64-dev "g++-mingw-w64-$(echo "$TARGET" | tr _ -)-posix" 2>/dev/null
    sha1sum "$0" "$TOOLCHAIN" "$REPO/cmake/toolchain-mingw.cmake" | awk '{print $1}'
}
KEY=$(key_text | sha1sum | cut -c1-12)
PREFIX=$CACHE_ROOT/$TARGET-$KEY

link_result() {
    mkdir -p "$REPO/.deps"
    ln -sfn "$PREFIX" "$REPO/.deps/$TARGET"
}

if [[ -f $PREFIX/.complete ]]; then
    echo "deps $TARGET: cached at $PREFIX"
    link_result
    exit 0
fi

echo "deps $TARGET: building into $PREFIX"
WORK=$CACHE_ROOT/work-$TARGET-$KEY
rm -rf "$WORK" "$PREFIX"
mkdir -p "$WORK/src" "$PREFIX/include" "$PREFIX/lib"

# --- sources ---------------------------------------------------------------
SOURCES=$CACHE_ROOT/sources
mkdir -p "$SOURCES"
fetch_source() {   # unpacks Debian source package $1 (with Debian's patches) once
    local pkg=$1 ver dir
    ver=$(src_version "$pkg")
    dir=$SOURCES/$pkg-$ver
    if [[ ! -f $dir/.unpacked ]]; then
        rm -rf "$dir" && mkdir -p "$dir"
        (cd "$dir" && apt-get source -qq "$pkg" >/dev/null 2>&1 || apt-get source "$pkg")
        touch "$dir/.unpacked"
    fi
    local sub
    for sub in "$dir"/*/; do echo "${sub%/}"; return; done
}

cmake_build() {    # cmake_build <name> <source dir> [cmake args...]
    local name=$1 src=$2; shift 2
    cmake -S "$src" -B "$WORK/build-$name" -G "Unix Makefiles" \
        -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=OFF \
        -DCMAKE_POSITION_INDEPENDENT_CODE=OFF "$@" >"$WORK/$name.configure.log"
    cmake --build "$WORK/build-$name" -j"$JOBS" >"$WORK/$name.build.log"
    cmake --install "$WORK/build-$name" >"$WORK/$name.install.log"
}

CC=$TRIPLET-gcc-posix
AR=$TRIPLET-gcc-ar-posix

# --- SQLite ------------------------------------------------------------------
SQLITE_SRC=$(fetch_source sqlite3)
if [[ ! -f $SQLITE_SRC/sqlite3.c ]]; then
    # The full tree builds its amalgamation with tclsh; once per source tree.
    (cd "$SQLITE_SRC" && ./configure --disable-tcl >/dev/null && make sqlite3.c >/dev/null)
fi
mkdir -p "$WORK/sqlite"
$CC -O2 -c "$SQLITE_SRC/sqlite3.c" -o "$WORK/sqlite/sqlite3.o" \
    -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION -DSQLITE_DEFAULT_FOREIGN_KEYS=0
$AR rcs "$PREFIX/lib/libsqlite3.a" "$WORK/sqlite/sqlite3.o"
cp "$SQLITE_SRC/sqlite3.h" "$SQLITE_SRC/sqlite3ext.h" "$PREFIX/include/"
echo "  sqlite done"

# --- minizip (unzip layer) over the packaged static zlib ----------------------
ZLIB_SRC=$(fetch_source zlib)
MZ=$ZLIB_SRC/contrib/minizip
mkdir -p "$WORK/minizip" "$PREFIX/include/minizip"
for f in ioapi unzip; do
    $CC -O2 -c "$MZ/$f.c" -o "$WORK/minizip/$f.o" -I"$MZ" -DNOCRYPT -DNOUNCRYPT
done
$AR rcs "$PREFIX/lib/libminizip.a" "$WORK"/minizip/*.o
cp "$MZ/ioapi.h" "$MZ/unzip.h" "$PREFIX/include/minizip/"
echo "  minizip done"

# --- Boost: merged header tree, Boost.Filesystem as a static library ----------
BOOST_SRC=$(fetch_source boost1.81)
BOOST_HEADERS=$CACHE_ROOT/boost-headers-$(src_version boost1.81 | tr -c 'A-Za-z0-9.\n' '_')
if [[ ! -f $BOOST_HEADERS/.complete ]]; then
    rm -rf "$BOOST_HEADERS" && mkdir -p "$BOOST_HEADERS/boost"
    for inc in "$BOOST_SRC"/libs/*/include/boost "$BOOST_SRC"/libs/*/*/include/boost; do
        if [[ -d $inc ]]; then cp -a "$inc/." "$BOOST_HEADERS/boost/"; fi
    done
    touch "$BOOST_HEADERS/.complete"
fi
ln -sfn "$BOOST_HEADERS/boost" "$PREFIX/include/boost"
mkdir -p "$WORK/boostfs"
# C++20 gives Boost.Filesystem std::atomic_ref, so Boost.Atomic is not needed.
export BOOST_SRC BOOST_HEADERS WORK TRIPLET
ls "$BOOST_SRC"/libs/filesystem/src/*.cpp | xargs -P"$JOBS" -I{} sh -c \
    '$TRIPLET-g++-posix -std=c++20 -O2 -c "$1" -o "$WORK/boostfs/$(basename "$1" .cpp).o" \
        -I"$BOOST_HEADERS" -I"$BOOST_SRC/libs/filesystem/src" \
        -DBOOST_FILESYSTEM_STATIC_LINK=1 -DBOOST_ALL_NO_LIB=1 -DBOOST_FILESYSTEM_SOURCE \
        -DBOOST_USE_WINDOWS_H -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0601' _ {}
$AR rcs "$PREFIX/lib/libboost_filesystem.a" "$WORK"/boostfs/*.o
echo "  boost done"

# --- glog 0.6: log file names without time stamp, host or process id ----------
GLOG_SRC=$(fetch_source google-glog)
GLOG_COPY=$WORK/glog-src
rm -rf "$GLOG_COPY" && cp -a "$GLOG_SRC" "$GLOG_COPY"
# The default of timestamp_in_logfile_name becomes false, so every log file is
# exactly its base name plus the extension and no runtime flag has to change.
sed -i 's/BoolFromEnv("GOOGLE_TIMESTAMP_IN_LOGFILE_NAME", true)/BoolFromEnv("GOOGLE_TIMESTAMP_IN_LOGFILE_NAME", false)/' \
    "$GLOG_COPY/src/logging.cc"
grep -q 'GOOGLE_TIMESTAMP_IN_LOGFILE_NAME", false' "$GLOG_COPY/src/logging.cc"
cmake_build glog "$GLOG_COPY" -DWITH_GFLAGS=OFF -DWITH_UNWIND=OFF -DWITH_GTEST=OFF \
    -DBUILD_TESTING=OFF -DWITH_PKGCONFIG=OFF
echo "  glog done"

# --- jsoncpp -------------------------------------------------------------------
JSONCPP_SRC=$(fetch_source libjsoncpp)
cmake_build jsoncpp "$JSONCPP_SRC" -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
    -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF -DJSONCPP_WITH_CMAKE_PACKAGE=ON -DBUILD_STATIC_LIBS=ON \
    -DBUILD_OBJECT_LIBS=OFF
echo "  jsoncpp done"

# --- GoogleTest ----------------------------------------------------------------
cmake_build googletest /usr/src/googletest -Dgtest_disable_pthreads=OFF -DINSTALL_GTEST=ON
echo "  googletest done"

key_text > "$PREFIX/versions.txt"
touch "$PREFIX/.complete"
rm -rf "$WORK"
link_result
echo "deps $TARGET: ready at $PREFIX"
