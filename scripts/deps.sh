#!/usr/bin/env bash
# Installs what building needs on Debian 12 (run as root, or with sudo available).
#   deps.sh run          only what the main job (scripts/run.sh) needs: the compiler and Qt
#   deps.sh [PACKAGE...] everything the tests, the package check, the fuzz targets and
#                        the Windows checks need as well, and the packages named
set -euo pipefail
profile=test
if [ "${1:-}" = run ]; then
  profile=run
  shift
fi
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libqt6serialport6-dev libgl-dev)
if [ "$profile" != run ]; then
  packages+=(
    libgtest-dev libgmock-dev googletest
    socat netcat-openbsd clang-format ccache
    g++-mingw-w64-x86-64-posix wine wine64 fonts-dejavu-core
    dpkg-dev lintian desktop-file-utils
    clang libclang-rt-14-dev
  )
fi
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
