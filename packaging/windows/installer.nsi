; The Windows installer of Tk650Downloader, made by scripts/windows.sh:
;   makensis -DVERSION=<x.y.z> -DSOURCE=<portable folder> -DLISTS=<folder> -DOUTFILE=<setup.exe> installer.nsi
; LISTS holds install-files.nsh and uninstall-files.nsh, written from the
; portable folder, so the uninstaller removes exactly the files that were put
; there and nothing the user added (pdt.exe, the settings files).
; Silent: setup.exe /S [/D=<folder>], uninstall.exe /S.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"

!define PRODUCT "Tk650Downloader"
!define PUBLISHER "Quillon Inc"
; Read by the shell extension: "InstallPath" and "ContextDownloadTk".
!define SETTINGS_KEY "SOFTWARE\Quillon Inc\Tk650Downloader"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tk650Downloader"
!define HANDLER_CLSID "{D8741F86-56AF-4624-99B5-598A71CF6F89}"
; Every file gets the two entries; the extension itself offers them for one file only.
!define HANDLER_KEY "*\shellex\ContextMenuHandlers\Tk650Downloader"
!define APPROVED_KEY "Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved"

Name "Tk650 Downloader ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${SETTINGS_KEY}" "InstallPath"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
BrandingText "Tk650Downloader ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "Tk650Downloader setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright 2026 Quillon Inc"

!define MUI_ICON "${__FILEDIR__}/tk650downloader.ico"
!define MUI_UNICON "${__FILEDIR__}/tk650downloader.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
; No "start the program" box: it would run with the installer's administrator rights.
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Section "Tk650Downloader and tk650push" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  ; The file manager may hold the shell extension loaded: a loaded library can
  ; be renamed but not replaced, so an earlier one is moved aside first.
  ${If} ${FileExists} "$INSTDIR\tkshellmenu.dll"
    Delete "$INSTDIR\tkshellmenu.dll.old"
    Rename "$INSTDIR\tkshellmenu.dll" "$INSTDIR\tkshellmenu.dll.old"
    Delete /REBOOTOK "$INSTDIR\tkshellmenu.dll.old"
  ${EndIf}
  !include "${LISTS}/install-files.nsh"
  SetOutPath "$INSTDIR"

  WriteRegStr HKLM "${SETTINGS_KEY}" "InstallPath" "$INSTDIR"
  ; Hidden entries unless the context-menu component below is chosen.
  WriteRegStr HKLM "${SETTINGS_KEY}" "ContextDownloadTk" "0"

  ClearErrors
  RegDLL "$INSTDIR\tkshellmenu.dll"
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "The shell extension tkshellmenu.dll could not be registered." /SD IDOK
    SetErrorLevel 2
    Abort "tkshellmenu.dll could not be registered"
  ${EndIf}
  WriteRegStr HKCR "${HANDLER_KEY}" "" "${HANDLER_CLSID}"
  WriteRegStr HKLM "${APPROVED_KEY}" "${HANDLER_CLSID}" "Tk650Downloader context menu"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Tk650 Downloader.lnk" "$INSTDIR\Tk650Downloader.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall Tk650 Downloader.lnk" "$INSTDIR\uninstall.exe"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tk650 Downloader"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Tk650Downloader.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Download entries in the file manager's context menu" SecContextMenu
  WriteRegStr HKLM "${SETTINGS_KEY}" "ContextDownloadTk" "1"
SectionEnd

Section "Uninstall"
  ; What the user made stays: the per-user settings store, the settings files
  ; beside the program ("savedsettings.qsf", "pdtpath.qsf", "bcastlist.qsf")
  ; and a pdt.exe put there; the folder goes only when nothing is left in it.
  ClearErrors
  UnRegDLL "$INSTDIR\tkshellmenu.dll"
  ${If} ${Errors}
    DetailPrint "tkshellmenu.dll was not registered or could not be unregistered"
  ${EndIf}
  DeleteRegKey HKCR "${HANDLER_KEY}"
  DeleteRegValue HKLM "${APPROVED_KEY}" "${HANDLER_CLSID}"
  DeleteRegKey HKLM "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKLM "SOFTWARE\Quillon Inc"

  !include "${LISTS}/uninstall-files.nsh"
  Delete /REBOOTOK "$INSTDIR\tkshellmenu.dll.old"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}\Tk650 Downloader.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall Tk650 Downloader.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
