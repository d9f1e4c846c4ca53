#!/usr/bin/env bash
# Packs the portable folder BUILD_WINDOWS_DIR/Tk650Downloader (made by
# scripts/windows.sh from the install rules) into
#   tk650downloader-<version>-portable.zip   and
#   tk650downloader-<version>-setup.exe      (NSIS, packaging/windows/installer.nsi)
# beside it. The version is the build's (BUILD_WINDOWS_DIR/build/version.txt).
#   bash scripts/windows/pack.sh BUILD_WINDOWS_DIR
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
out=$(cd "$1" && pwd)
portable=$out/Tk650Downloader
[ -f "$portable/Tk650Downloader.exe" ] || { echo "no portable folder in $out" >&2; exit 1; }
version=$(cat "$out/build/version.txt")

zip=$out/tk650downloader-$version-portable.zip
rm -f "$zip"
(cd "$out" && zip -qr -X "$zip" Tk650Downloader)

# The installer's file lists, from the portable folder: each file is put in
# and taken out again by name; its folders are removed only when empty.
lists=$out/nsis
mkdir -p "$lists"
install_list=$lists/install-files.nsh
uninstall_list=$lists/uninstall-files.nsh
: >"$install_list"
: >"$uninstall_list"
folders=()
current=""
# Files of the top folder first, then folder by folder.
while IFS= read -r file; do
  folder=$(dirname "$file")
  if [ "$folder" != "$current" ]; then
    current=$folder
    if [ "$folder" = . ]; then
      echo 'SetOutPath "$INSTDIR"' >>"$install_list"
    else
      folders+=("${folder//\//\\}")
      echo "SetOutPath \"\$INSTDIR\\${folder//\//\\}\"" >>"$install_list"
    fi
  fi
  echo "File \"$portable/$file\"" >>"$install_list"
  echo "Delete /REBOOTOK \"\$INSTDIR\\${file//\//\\}\"" >>"$uninstall_list"
done < <(cd "$portable" && find . -type f -printf '%d\t%P\n' | sort -k1,1n -k2,2 | cut -f2-)
for folder in "${folders[@]}"; do
  echo "RMDir \"\$INSTDIR\\$folder\"" >>"$uninstall_list"
done

setup=$out/tk650downloader-$version-setup.exe
makensis -V2 -DVERSION="$version" -DSOURCE="$portable" -DLISTS="$lists" -DOUTFILE="$setup" \
  "$src/packaging/windows/installer.nsi"
echo "$(du -sh "$portable" | cut -f1) portable folder; $(du -h "$zip" | cut -f1) $(basename "$zip"); $(du -h "$setup" | cut -f1) $(basename "$setup")"
