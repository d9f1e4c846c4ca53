#!/usr/bin/env bash
# Builds the Debian package: installs what building needs, builds into build/
# and leaves tk650downloader_<version>_amd64.deb in the top folder, ready for
#   apt install ./tk650downloader_*.deb
# With a build folder as argument it only packs what that folder has built.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -n "${1:-}" ]; then
  dir=$1
else
  bash scripts/deps.sh
  dir=$(bash scripts/build.sh | tail -n 1)
fi
rm -rf "$dir/package"
(cd "$dir" && cpack -G DEB >/dev/null)
rm -f tk650downloader_*_amd64.deb
cp "$dir"/package/tk650downloader_*_amd64.deb .
ls tk650downloader_*_amd64.deb
