#!/usr/bin/env bash
# Builds the Windows programs on Debian 12 (as root, no display needed) and
# packs them, all in build-windows/ (or $TK_WINDOWS_DIR):
#   Tk650Downloader/                          the portable folder: Tk650Downloader.exe,
#                                             tk650push.exe, tkshellmenu.dll, the Qt and
#                                             compiler runtime libraries, usage.txt
#   tk650downloader-<version>-portable.zip    that folder as a zip
#   tk650downloader-<version>-setup.exe       the installer (silent: /S)
#   build/                                    the cross-build tree
# Qt for Windows is built from Debian's source the first time (about 50 minutes,
# scripts/windows/qt-mingw.sh) and kept outside the checkout for later runs.
# Prints the output folder as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
out=${TK_WINDOWS_DIR:-build-windows}
mkdir -p "$out"
out=$(cd "$out" && pwd)
portable=$out/Tk650Downloader

say() { echo "windows.sh: $*" >&2; }
started=$SECONDS
lap() { say "$1 ($((SECONDS - started)) s)"; started=$SECONDS; }

# The Linux build's packages (Qt as host tools, mingw-w64, Wine) and the packaging's.
bash scripts/deps.sh nsis zip xvfb openbox x11-utils imagemagick >&2
lap "packages present"

qt=$(bash scripts/windows/qt-mingw.sh | tail -n 1)
[ -x "$qt/bin/qt-cmake" ] || { say "no Qt for Windows in '$qt'"; exit 1; }
lap "Qt for Windows: $qt"

# Optimised as the Linux build is (-O2): GCC 12's -O3 warns wrongly (-Wrestrict)
# about a plain std::string assignment.
"$qt/bin/qt-cmake" -S "$src" -B "$out/build" -G Ninja \
  -DQT_CHAINLOAD_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >"$out/configure.log" 2>&1 ||
  { tail -n 40 "$out/configure.log" >&2; exit 1; }
cmake --build "$out/build" -j"$(nproc)" >&2
lap "programs built"

rm -rf "$portable"
cmake --install "$out/build" --prefix "$portable" --strip >/dev/null
bash scripts/windows/pack.sh "$out" >&2
lap "portable folder, zip and installer made"
echo "$out"
