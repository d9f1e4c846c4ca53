#!/usr/bin/env bash
# Checks the Windows installer under Wine, in a throwaway prefix, on a virtual
# X display (the installed program must be able to show its window):
#  1. the installer in silent mode puts the files into Program Files, writes the
#     values the shell extension reads, registers the extension for all files
#     and adds the Start-menu entries;
#  2. the file manager's way in: the registered extension's "Download to Tk650
#     (network).." on a file whose path holds blanks starts the installed
#     program with " -n" and the quoted file, and the program shows a window;
#  3. the uninstaller in silent mode removes the files, the registration and the
#     entries, and keeps what the user made (a settings file beside the program,
#     the per-user settings store).
#   bash scripts/windows/package-check.sh [BUILD_WINDOWS_DIR]   (default build-windows)
# Prints one line per check and "N passed, M failed"; exits 1 when one failed.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(cd "${1:-$here/../../build-windows}" && pwd) || exit 1
setup=$(ls "$out"/tk650downloader-*-setup.exe 2>/dev/null | tail -n 1)
check=$out/build/bin/tkshellmenu_installcheck.exe
[ -n "$setup" ] && [ -f "$check" ] || {
  echo "no installer or tkshellmenu_installcheck.exe in $out: run scripts/windows.sh first" >&2
  exit 1
}

export WINEPREFIX=$out/wine-package
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WAYLAND_DISPLAY
clsid='{D8741F86-56AF-4624-99B5-598A71CF6F89}'
install_win='C:\Program Files\Tk650Downloader'
install_dir=$WINEPREFIX/drive_c/Program\ Files/Tk650Downloader
menu_dir=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Tk650Downloader
log=$out/package-check.log
# Nothing here may wait for a person: a message box the extension or a setup
# shows by mistake would wait forever, so every run has a limit.
: >"$log"

passed=0
failed=0
check() { # check <description> <command...>
  local what=$1
  shift
  if "$@" >>"$log" 2>&1; then
    echo "ok: $what"
    passed=$((passed + 1))
  else
    echo "FAIL: $what"
    failed=$((failed + 1))
  fi
}
absent() { ! "$@"; }
# A registry value as reg.exe shows it: "<name>    REG_SZ    <data>".
reg_value() { # reg_value <key> <name> <expected data>
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | grep -Fqx "    $2    REG_SZ    $3"
}
reg_default() { # reg_default <key> <expected data>
  wine reg query "$1" /ve 2>/dev/null | tr -d '\r' | grep -Fqx "    (Default)    REG_SZ    $2"
}
reg_key() { wine reg query "$1" >/dev/null 2>&1; }
# Waits for every process of the prefix to end; ends them after two minutes.
wine_done() { timeout 120 wineserver -w || wineserver -k; }

# A display of our own for the program's window.
source "$here/../lib/xdisplay.sh"
finish() {
  wineserver -k 2>/dev/null # this check's own prefix only
  stop_x_display
}
trap finish EXIT
start_x_display

started=$SECONDS
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
timeout 300 wine "$setup" /S </dev/null >>"$log" 2>&1
rc=$?
wine_done
check "the installer ends 0 in silent mode ($((SECONDS - started)) s with a new prefix)" test "$rc" -eq 0

missing=()
while IFS= read -r file; do
  [ -f "$install_dir/$file" ] || missing+=("$file")
done < <(cd "$out/Tk650Downloader" && find . -type f -printf '%P\n')
check "every file of the portable folder is installed${missing:+ (missing: ${missing[*]})}" test ${#missing[@]} -eq 0
check "the uninstaller is installed" test -f "$install_dir/uninstall.exe"
check "InstallPath names the install folder" \
  reg_value 'HKLM\SOFTWARE\Quillon Inc\Tk650Downloader' InstallPath "$install_win"
check "ContextDownloadTk is 1" reg_value 'HKLM\SOFTWARE\Quillon Inc\Tk650Downloader' ContextDownloadTk 1
check "the extension is registered from the install folder" \
  reg_default "HKCR\\CLSID\\$clsid\\InprocServer32" "$install_win\\tkshellmenu.dll"
check "the extension handles the context menu of all files" \
  reg_default 'HKCR\*\shellex\ContextMenuHandlers\Tk650Downloader' "$clsid"
check "the Start menu has the program" test -f "$menu_dir/Tk650 Downloader.lnk"
check "Add/Remove Programs lists it" \
  reg_key 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tk650Downloader'

# The file manager's way in, on a file whose path has blanks.
mkdir -p "$WINEPREFIX/drive_c/users/Public/tk650 packages"
head -c 20000 /dev/urandom >"$WINEPREFIX/drive_c/users/Public/tk650 packages/app 1.2.tgz"
started=$SECONDS
timeout 120 wine "$check" 'C:\users\Public\tk650 packages\app 1.2.tgz' "$install_win" </dev/null 2>>"$log" |
  tr -d '\r' | tee -a "$log" | grep -E '^(ok|FAIL):' | sed 's/^\(ok\|FAIL\): /\1: the context menu: /'
rc=${PIPESTATUS[0]}
check "the context menu starts the installed program ($((SECONDS - started)) s)" test "$rc" -eq 0
wine_done

# What the user made while using it.
printf 'COM3\r\n115200\r\nclose\r\n' >"$install_dir/savedsettings.qsf"
wine reg add 'HKCU\Software\Quillon\Tk650Downloader' /v lastIP /d 10.0.0.7 /f >>"$log" 2>&1

started=$SECONDS
timeout 300 wine "$install_win\\uninstall.exe" /S </dev/null >>"$log" 2>&1
rc=$?
wine_done # the uninstaller goes on in a copy of itself
check "the uninstaller ends 0 in silent mode ($((SECONDS - started)) s)" test "$rc" -eq 0
left=$(cd "$install_dir" 2>/dev/null && find . -mindepth 1 -printf '%P ' | sed 's/ $//')
check "only the user's settings file is left in the install folder (left: ${left:-nothing})" \
  test "$left" = savedsettings.qsf
check "the Start-menu entries are gone" absent test -e "$menu_dir"
check "the extension is unregistered" absent reg_key "HKCR\\CLSID\\$clsid"
check "the context-menu handler is gone" \
  absent reg_key 'HKCR\*\shellex\ContextMenuHandlers\Tk650Downloader'
check "the extension's values are gone" absent reg_key 'HKLM\SOFTWARE\Quillon Inc\Tk650Downloader'
check "Add/Remove Programs no longer lists it" \
  absent reg_key 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tk650Downloader'
check "the per-user settings are kept" reg_value 'HKCU\Software\Quillon\Tk650Downloader' lastIP 10.0.0.7

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
