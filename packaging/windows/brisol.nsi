; The Windows installer of Brisol, in Spanish. Made by scripts/package-windows
; with Debian's makensis from the portable folder it staged:
;   makensis -DVERSION=1.4.0 -DSTAGE=DIR -DFILES=files.nsh -DUNFILES=unfiles.nsh
;            -DOUTFILE=brisol-1.4.0-setup.exe brisol.nsi
; With administrator rights it installs for every user into Program Files,
; without them for the user alone into their own programs folder. It adds a
; Start menu entry "Brisol" and an uninstaller listed in "Aplicaciones", and
; nothing else: the program keeps no settings. /S installs and uninstalls
; silently.
; A 64-bit installer for a 64-bit program: it needs no 32-bit subsystem.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel highest

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Brisol"

Name "Brisol ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Brisol"
BrandingText "Brisol ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=3082 "ProductName" "Brisol"
VIAddVersionKey /LANG=3082 "FileDescription" "Instalador de Brisol"
VIAddVersionKey /LANG=3082 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=3082 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=3082 "LegalCopyright" "Licencia MIT"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\brisol.exe"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Spanish"

; For every user with the rights to, else for this user alone.
!macro ChooseUsers
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 == "Admin"
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
!macroend

Function .onInit
  SetRegView 64
  !insertmacro ChooseUsers
  ${If} $0 != "Admin"
    StrCpy $INSTDIR "$LOCALAPPDATA\Programs\Brisol"
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
  !insertmacro ChooseUsers
FunctionEnd

Section "Brisol"
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\desinstalar.exe"
  CreateShortcut "$SMPROGRAMS\Brisol.lnk" "$INSTDIR\brisol.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Brisol"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "Brisol"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\brisol.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\desinstalar.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\desinstalar.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only the files it installed: a folder chosen by the user may hold others.
Section "Uninstall"
  Delete "$SMPROGRAMS\Brisol.lnk"
  !include "${UNFILES}"
  Delete "$INSTDIR\desinstalar.exe"
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
