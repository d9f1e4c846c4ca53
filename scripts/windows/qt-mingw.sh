#!/usr/bin/env bash
# Builds Qt (qtbase) for 64-bit Windows from Debian's own source package, with
# Debian's mingw-w64 compiler and the installed Linux Qt as host tools, into a
# cache outside the checkout. The cache is reused while the version and the
# options stay the same; the first build takes about 50 minutes on 2 cores.
# Prints the Qt prefix (the folder holding bin/qt-cmake) as its last line.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${TK_QT_MINGW_CACHE:-/var/cache/tk650downloader}
version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
options=(
  -DBUILD_SHARED_LIBS=ON -DCMAKE_BUILD_TYPE=Release
  -DQT_QMAKE_TARGET_MKSPEC=win32-g++
  -DQT_BUILD_TESTS=FALSE -DQT_BUILD_EXAMPLES=FALSE
  -DINPUT_opengl=no -DINPUT_dbus=no -DINPUT_sql=no -DINPUT_printsupport=no
  -DINPUT_concurrent=no -DINPUT_xml=no -DFEATURE_tabletevent=OFF
)
key=$(printf '%s\n' "$version" "${options[@]}" "$(cat "$here/../../cmake/mingw-w64-x86_64.cmake")" |
  sha256sum | cut -c1-12)
prefix="$cache/qt-mingw-$key"
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

echo "Building Qt $version for Windows (mingw-w64) into $prefix." >&2
echo "This is done once and takes about 50 minutes on 2 cores; later runs reuse it." >&2
work="$cache/qt-mingw-$key.work"
rm -rf "$work" "$prefix"
mkdir -p "$work"
# The toolchain file is copied next to the cache: Qt's installed toolchain remembers its path.
cp "$here/../../cmake/mingw-w64-x86_64.cmake" "$work/../mingw-w64-x86_64-$key.cmake"
toolchain="$cache/mingw-w64-x86_64-$key.cmake"

# Debian's source package, patches applied (dpkg-source does that on unpacking).
srclist="$work/deb-src.list"
echo "deb-src http://deb.debian.org/debian bookworm main" >"$srclist"
apt_src=(-o Dir::Etc::SourceList="$srclist" -o Dir::Etc::SourceParts=/nonexistent
  -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/apt-cache")
mkdir -p "$work/lists/partial" "$work/apt-cache/archives/partial"
apt-get "${apt_src[@]}" update -qq >&2
(cd "$work" && apt-get "${apt_src[@]}" source -qq "qt6-base=$version" >&2)
src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
[ -n "$src" ] || { echo "qt6-base source not found" >&2; exit 1; }

cmake -S "$src" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX="$prefix" "${options[@]}" >"$work/configure.log" 2>&1 ||
  { tail -n 40 "$work/configure.log" >&2; exit 1; }
# The build prints thousands of harmless dllimport warnings: kept in a log.
cmake --build "$work/build" -j"$(nproc)" >"$work/build.log" 2>&1 ||
  { tail -n 40 "$work/build.log" >&2; exit 1; }
cmake --install "$work/build" >"$work/install.log" 2>&1 ||
  { tail -n 40 "$work/install.log" >&2; exit 1; }
touch "$prefix/.complete"
rm -rf "$work"
echo "$prefix"
