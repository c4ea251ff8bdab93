; The Windows installer of korvex-host.exe, built by the `package` target of
; the Windows build (cmake/windows_installer.cmake), which passes every name
; below from the program's own sources so the installer and the program
; cannot disagree:
;   VERSION, VERSION_QUAD      the project's version
;   HOST_EXE, DOCS_DIR, ICON   what goes in
;   OUTFILE                    the installer written
;   RUN_VALUE_NAME             the Run value the program writes for "Start on Windows Login"
;   LOGON_TASK_NAME            the administrator logon task the program creates
;   TRAY_CLASS                 the class of the program's tray window
;   DATA_FOLDER                the data folder's name under %APPDATA%
;   FIRST_PORT, LAST_PORT      the ports the program listens on (TCP and UDP)
;
; Command line: /S silent; /D=DIR the folder; /NOLOGIN leaves "Start when I
; log in" out; /START starts the program at the end of a silent install too
; (the finish page offers it otherwise). The uninstaller takes /S and
; /REMOVEDATA (also delete the current user's paired devices and settings).
Unicode true
!macro REQUIRE name
  !ifndef ${name}
    !error "${name} is not defined"
  !endif
  !if "${${name}}" == ""
    !error "${name} is empty"
  !endif
!macroend
!insertmacro REQUIRE VERSION
!insertmacro REQUIRE VERSION_QUAD
!insertmacro REQUIRE HOST_EXE
!insertmacro REQUIRE DOCS_DIR
!insertmacro REQUIRE ICON
!insertmacro REQUIRE OUTFILE
!insertmacro REQUIRE RUN_VALUE_NAME
!insertmacro REQUIRE LOGON_TASK_NAME
!insertmacro REQUIRE TRAY_CLASS
!insertmacro REQUIRE DATA_FOLDER
!insertmacro REQUIRE FIRST_PORT
!insertmacro REQUIRE LAST_PORT

Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"
!include "FileFunc.nsh"
!include "WinMessages.nsh"

!define PRODUCT "Korvex"
!define EXE "korvex-host.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define FIREWALL_RULE "${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} installer"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PRODUCT}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartHost

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Closes a running host the way its own "Exit Korvex" does: WM_CLOSE to the
; tray window destroys it, which removes the icon and releases every key and
; button a device still holds; then waits for the process to finish its
; shut-down (sessions stopped, paired devices written). Only a host that has
; not ended after 15 seconds is terminated, so the files can be replaced.
!macro CLOSE_RUNNING_HOST un
Function ${un}CloseRunningHost
  Push $0
  Push $1
  Push $2
  Push $3
  FindWindow $0 "${TRAY_CLASS}"
  ${If} $0 <> 0
    DetailPrint "Closing the running ${PRODUCT}"
    System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1) i"
    ; SYNCHRONIZE | PROCESS_TERMINATE
    System::Call "kernel32::OpenProcess(i 0x00100001, i 0, i r1) p .r2"
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    ${If} $2 P<> 0
      System::Call "kernel32::WaitForSingleObject(p r2, i 15000) i .r3"
      ${If} $3 <> 0
        DetailPrint "${PRODUCT} did not end by itself; ending it"
        System::Call "kernel32::TerminateProcess(p r2, i 1) i"
        System::Call "kernel32::WaitForSingleObject(p r2, i 5000) i"
      ${EndIf}
      System::Call "kernel32::CloseHandle(p r2) i"
    ${Else}
      ; No handle to wait on: wait for the window to go instead.
      ${For} $3 1 150
        Sleep 100
        System::Call "user32::IsWindow(p r0) i .r1"
        ${IfThen} $1 = 0 ${|} ${Break} ${|}
      ${Next}
      Sleep 1000
    ${EndIf}
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_HOST ""
!insertmacro CLOSE_RUNNING_HOST "un."

; Inbound rules for the program on private networks only, one per protocol,
; for the ports it may listen on. An older rule of the same name and program
; goes first, so a reinstall never doubles them.
!macro REMOVE_FIREWALL_RULES un
Function ${un}RemoveFirewallRules
  nsExec::Exec '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${FIREWALL_RULE}" dir=in program="$INSTDIR\${EXE}"'
  Pop $0  ; no rule to delete is not an error
FunctionEnd
!macroend
!insertmacro REMOVE_FIREWALL_RULES ""
!insertmacro REMOVE_FIREWALL_RULES "un."

!macro ADD_FIREWALL_RULE protocol
  nsExec::Exec '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${FIREWALL_RULE}" dir=in action=allow program="$INSTDIR\${EXE}" enable=yes profile=private protocol=${protocol} localport=${FIRST_PORT}-${LAST_PORT}'
  Pop $0
  ${If} $0 != 0
    DetailPrint "The firewall rule for ${protocol} could not be added (netsh: $0)"
  ${EndIf}
!macroend

Function AddFirewallRules
  Call RemoveFirewallRules
  !insertmacro ADD_FIREWALL_RULE TCP
  !insertmacro ADD_FIREWALL_RULE UDP
FunctionEnd

; The installer runs elevated; started directly, the host would be elevated
; too. The shell starts it with the user's normal rights instead.
Function StartHost
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\${EXE}"'
FunctionEnd

Section "${PRODUCT}" SecHost
  SectionIn RO
  Call CloseRunningHost
  SetOutPath "$INSTDIR"
  File "/oname=${EXE}" "${HOST_EXE}"
  SetOutPath "$INSTDIR\docs"
  File "${DOCS_DIR}/USER.md"
  File "${DOCS_DIR}/GAMEPAD.md"
  SetOutPath "$INSTDIR\docs\images"
  File "${DOCS_DIR}/images/tray-menu.png"
  File "${DOCS_DIR}/images/pairing-flyout.png"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0 \
    SW_SHOWNORMAL "" "Control this PC from your phone"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  DetailPrint "Allowing ${PRODUCT} through the firewall on private networks"
  Call AddFirewallRules
SectionEnd

; Exactly the value the program's own "Start on Windows Login" writes: the
; quoted path of the program, no arguments.
Section "Start when I log in" SecLogin
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE_NAME}" '"$INSTDIR\${EXE}"'
SectionEnd

Var StartWhenSilent

; Last: a silent install asked to start the program does it here.
Section "-Start"
  ${If} ${Silent}
  ${AndIf} $StartWhenSilent == 1
    Call StartHost
  ${EndIf}
SectionEnd

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOLOGIN" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecLogin}
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/START" $1
  ${IfNot} ${Errors}
    StrCpy $StartWhenSilent 1
  ${EndIf}
FunctionEnd

Section "un.${PRODUCT}" UnSecHost
  SectionIn RO
  Call un.CloseRunningHost

  Call un.RemoveFirewallRules
  ; The logon task and the Run value start the program at login; without it
  ; they would only show errors. A Run value of another copy stays.
  nsExec::Exec '"$SYSDIR\schtasks.exe" /Delete /TN "${LOGON_TASK_NAME}" /F'
  Pop $0
  ReadRegStr $0 HKCU "${RUN_KEY}" "${RUN_VALUE_NAME}"
  ${If} $0 == '"$INSTDIR\${EXE}"'
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE_NAME}"
  ${EndIf}

  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete /REBOOTOK "$INSTDIR\${EXE}"
  Delete "$INSTDIR\docs\USER.md"
  Delete "$INSTDIR\docs\GAMEPAD.md"
  Delete "$INSTDIR\docs\images\tray-menu.png"
  Delete "$INSTDIR\docs\images\pairing-flyout.png"
  RMDir "$INSTDIR\docs\images"
  RMDir "$INSTDIR\docs"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

; The paired devices and settings of the user running the uninstaller; kept
; unless asked for, so a reinstall finds its devices again.
Section /o "un.Remove my paired devices and settings" UnSecData
  SetShellVarContext current
  RMDir /r "$APPDATA\${DATA_FOLDER}"
SectionEnd

Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVEDATA" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UnSecData}
  ${EndIf}
FunctionEnd
