; Installs tefsync and procguard side by side in one folder that the shop's user can write,
; with the settings files and the "ping" folder beside them, and starts the guardian at every
; logon. Built by scripts/installer, which defines PROGRAMS (the folder with both .exe files),
; OUTFILE and VERSION (four numbers, for the file's version information).

Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh

!ifndef PROGRAMS | OUTFILE | VERSION
  !error "build with scripts/installer"
!endif

!define PRODUCT "tefsync"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define STARTUP_LINK "procguard.lnk"

Name "tefsync - Integração TEF x Velantra"
OutFile "${OUTFILE}"
; Not under Program Files: the programs write their settings, heartbeat files and restart
; records beside themselves, as the shop's user.
InstallDir "C:\tefsync"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "tefsync"
VIAddVersionKey /LANG=0 "FileDescription" "Instalador do tefsync e do procguard"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Norvanta"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "PortugueseBR"

; Asks for the end of every process of that name until none is left (taskkill exits with 128
; once it finds none), for up to 10 s. What still holds a program file after that stops the run
; in REMOVE_PROGRAM; a process of that name elsewhere that cannot be ended blocks nothing.
!macro END_PROGRAM NAME
  StrCpy $1 0
  ${Do}
    nsExec::Exec '"$SYSDIR\taskkill.exe" /F /IM ${NAME}'
    Pop $0
    ${If} $0 == 128
    ${OrIf} $0 == "error"
      ${Break}
    ${EndIf}
    ${If} $1 >= 40
      DetailPrint "${NAME} ainda em execução"
      ${Break}
    ${EndIf}
    IntOp $1 $1 + 1
    Sleep 250
  ${Loop}
!macroend

; Ends the guardian first and waits until it is gone, so it cannot start the synchronizer
; again, then the synchronizer likewise. Both are ended without notice, as the guardian itself
; ends the synchronizer: an interrupted sale is finished by the next start's pending recovery.
!macro END_PROGRAMS
  DetailPrint "Encerrando procguard.exe e tefsync.exe"
  !insertmacro END_PROGRAM "procguard.exe"
  !insertmacro END_PROGRAM "tefsync.exe"
!macroend

; Deletes a program file, waiting up to 10 s for an ended process to let go of it. Stops the
; whole run when it is still held: a program left running must not meet a half-replaced folder.
!macro REMOVE_PROGRAM FILE
  StrCpy $1 0
  ${DoWhile} ${FileExists} "${FILE}"
    Delete "${FILE}"
    ${If} ${FileExists} "${FILE}"
      ${If} $1 >= 40
        SetErrorLevel 3
        MessageBox MB_ICONSTOP "Não foi possível substituir ${FILE}: o programa ainda está em uso." /SD IDOK
        Abort
      ${EndIf}
      IntOp $1 $1 + 1
      Sleep 250
    ${EndIf}
  ${Loop}
!macroend

Section "Programas"
  SetShellVarContext all
  !insertmacro END_PROGRAMS
  !insertmacro REMOVE_PROGRAM "$INSTDIR\procguard.exe"
  !insertmacro REMOVE_PROGRAM "$INSTDIR\tefsync.exe"

  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${PROGRAMS}\tefsync.exe"
  File "${PROGRAMS}\procguard.exe"
  ; Settings a technician or the settings dialog wrote stay as they are.
  SetOverwrite off
  File "configAPI_TEF.ini"
  File "ConfigGuardian.ini"
  SetOverwrite on
  CreateDirectory "$INSTDIR\ping"
  ; A folder chosen outside C:\ may not inherit write access for the shop's users.
  nsExec::Exec '"$SYSDIR\icacls.exe" "$INSTDIR" /grant *S-1-5-32-545:(OI)(CI)M'
  Pop $0

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "tefsync (Integração TEF x Velantra)"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Norvanta"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; The guardian starts at every logon, from its own folder, and now.
  CreateShortcut "$SMSTARTUP\${STARTUP_LINK}" "$INSTDIR\procguard.exe"
  Exec '"$INSTDIR\procguard.exe"'
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  !insertmacro END_PROGRAMS
  !insertmacro REMOVE_PROGRAM "$INSTDIR\procguard.exe"
  !insertmacro REMOVE_PROGRAM "$INSTDIR\tefsync.exe"
  ; The guardians' lock file holds nothing; a guardian still running elsewhere keeps it.
  Delete "$INSTDIR\procguard.lock"
  Delete "$SMSTARTUP\${STARTUP_LINK}"
  Delete "$INSTDIR\uninstall.exe"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; Settings files and restart records stay: only empty folders go.
  RMDir "$INSTDIR\ping"
  RMDir "$INSTDIR"
SectionEnd
