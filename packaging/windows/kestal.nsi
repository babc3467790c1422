; The Kestal installer (64-bit Windows): kestal.exe, kestal-cli.exe and the licence in
; Program Files, a Start-menu shortcut, an uninstaller and its entry among the installed
; programs. The uninstaller removes exactly what was installed and its own registry entries;
; the user's settings (HKEY_CURRENT_USER\SOFTWARE\ostrel) stay.
; Made by scripts/package-windows.sh:
;   makensis -DVERSION=1.0 -DVERSION_WORDS=1.0.0.0 -DSTAGE=DIR -DICON=FILE -DOUT_FILE=FILE
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestal"

Name "Kestal ${VERSION}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\Kestal"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"

VIProductVersion "${VERSION_WORDS}"
VIFileVersion "${VERSION_WORDS}"
VIAddVersionKey /LANG=1033 "ProductName" "Kestal"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Kestal setup"
VIAddVersionKey /LANG=1033 "CompanyName" "The Kestal developers"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 The Kestal developers. MIT License."

!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\kestal.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}\kestal.exe"
  File "${STAGE}\kestal-cli.exe"
  File "${STAGE}\LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Kestal.lnk" "$INSTDIR\kestal.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Kestal"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Kestal developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kestal.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; File by file: a folder the user chose may hold other things, which stay.
Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Kestal.lnk"
  Delete "$INSTDIR\kestal.exe"
  Delete "$INSTDIR\kestal-cli.exe"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
