; The installer of the UDP control: both DLLs, each registered by the regsvr32 of its own bitness,
; machine-wide by default or for the current user with /user, an Add/Remove Programs entry and an
; uninstaller that takes everything away again.
;
;   setup.exe                 interactive, machine-wide (administrator)
;   setup.exe /S              silent, machine-wide
;   setup.exe /S /user        silent, for the current user only (no administrator rights)
;   setup.exe /S /D=C:\Dir    silent, into another folder (/D= comes last)
;   uninstall.exe /S          silent removal (finds by itself how it was installed)
;
; makensis -DVERSION=1.11 -DVERSION4=1.11.0.0 -DOCX64=... -DOCX32=... -DREFERENCE=... -DOUTFILE=...
; The build passes these (installer/CMakeLists.txt).

Unicode true
ManifestSupportedOS all
SetCompressor /SOLID lzma
; The installer itself is a 32-bit program, so it runs on both kinds of Windows; it reaches the
; 64-bit system folder through "sysnative" and the 64-bit registry view through SetRegView 64.
RequestExecutionLevel highest

!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

!define PRODUCT "Karvo Dgramix"
!define PUBLISHER "Karvo Software"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KarvoDgramix"

Name "${PRODUCT} ${VERSION}"
Caption "${PRODUCT} ${VERSION} Setup"
OutFile "${OUTFILE}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} Setup (UDP control udp.ocx)"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Copyright (C) 1997-2026 ${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; "machine" or "user": where the classes, the type library and the Add/Remove entry go.
Var Mode
; The arguments that make regsvr32 register for the current user only (DllInstall "user").
Var UserSwitch

!macro SelectRegistryView
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
!macroend

; Runs the regsvr32 of one bitness on one DLL; sets the error flag when it fails.
; regsvr32 /s shows no message box; its exit code is 0 on success.
!macro RunRegsvr32 REGSVR32 ARGS DLL
  ClearErrors
  ExecWait '"${REGSVR32}" /s ${ARGS} $UserSwitch "${DLL}"' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    DetailPrint "regsvr32 ${ARGS} $UserSwitch ${DLL}: exit code $0"
    SetErrors
  ${EndIf}
!macroend

; 64-bit regsvr32 from this 32-bit program: system32 is redirected to SysWOW64 here, sysnative is not.
!define REGSVR32_64 "$WINDIR\sysnative\regsvr32.exe"
!define REGSVR32_32_ON_64 "$WINDIR\SysWOW64\regsvr32.exe"
!define REGSVR32_32_ON_32 "$SYSDIR\regsvr32.exe"

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/user" $R1
  ${If} ${Errors}
    StrCpy $Mode "machine"
    StrCpy $UserSwitch ""
    SetShellVarContext all
  ${Else}
    StrCpy $Mode "user"
    StrCpy $UserSwitch "/n /i:user"
    SetShellVarContext current
  ${EndIf}
  ; /D= has already filled $INSTDIR; otherwise the default of the mode.
  ${If} $INSTDIR == ""
    ${If} $Mode == "user"
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
    ${ElseIf} ${RunningX64}
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES\${PRODUCT}"
    ${EndIf}
  ${EndIf}
  ${If} $Mode == "machine"
    UserInfo::GetAccountType
    Pop $R2
    ${If} $R2 != "Admin"
      MessageBox MB_OK|MB_ICONSTOP "Installing for all users needs administrator rights.$\n\
        Run setup as an administrator, or install for yourself only: setup.exe /user" /SD IDOK
      SetErrorLevel 5
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "UDP control"
  SetOutPath "$INSTDIR"
  File "/oname=reference.md" "${REFERENCE}"
  ${If} ${RunningX64}
    SetOutPath "$INSTDIR\x64"
    File "/oname=udp.ocx" "${OCX64}"
  ${EndIf}
  SetOutPath "$INSTDIR\x86"
  File "/oname=udp.ocx" "${OCX32}"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The entry goes in before the registration, so that a failed registration can still be
  ; removed from Add/Remove Programs.
  !insertmacro SelectRegistryView
  ${GetSize} "$INSTDIR" "/S=0K" $R1 $R2 $R3
  ${If} $Mode == "user"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION} (UDP control)"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\x86\udp.ocx"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $R1
  ${Else}
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION} (UDP control)"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\x86\udp.ocx"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $R1
  ${EndIf}

  ${If} ${RunningX64}
    !insertmacro RunRegsvr32 "${REGSVR32_64}" "" "$INSTDIR\x64\udp.ocx"
    IfErrors registration_failed
    !insertmacro RunRegsvr32 "${REGSVR32_32_ON_64}" "" "$INSTDIR\x86\udp.ocx"
  ${Else}
    !insertmacro RunRegsvr32 "${REGSVR32_32_ON_32}" "" "$INSTDIR\x86\udp.ocx"
  ${EndIf}
  IfErrors registration_failed
  DetailPrint "Registered udp.ocx ($Mode)"
  Return
registration_failed:
  MessageBox MB_OK|MB_ICONSTOP "udp.ocx could not be registered. Remove ${PRODUCT} again \
    from Add/Remove Programs." /SD IDOK
  SetErrorLevel 4
  Abort
SectionEnd

Function un.onInit
  ; Installed for the current user when the user's own Add/Remove entry names this folder.
  !insertmacro SelectRegistryView
  ReadRegStr $R0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R0 == $INSTDIR
    StrCpy $Mode "user"
    StrCpy $UserSwitch "/n /i:user"
  ${Else}
    StrCpy $Mode "machine"
    StrCpy $UserSwitch ""
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; Both DLLs share the ProgID and type library keys (one key for both registry views); each
  ; unregistration removes them, so the order does not matter and both must run.
  ${If} ${RunningX64}
  ${AndIf} ${FileExists} "$INSTDIR\x64\udp.ocx"
    !insertmacro RunRegsvr32 "${REGSVR32_64}" "/u" "$INSTDIR\x64\udp.ocx"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\x86\udp.ocx"
    ${If} ${RunningX64}
      !insertmacro RunRegsvr32 "${REGSVR32_32_ON_64}" "/u" "$INSTDIR\x86\udp.ocx"
    ${Else}
      !insertmacro RunRegsvr32 "${REGSVR32_32_ON_32}" "/u" "$INSTDIR\x86\udp.ocx"
    ${EndIf}
  ${EndIf}

  ; A DLL still loaded by a running host goes at the next restart.
  Delete /REBOOTOK "$INSTDIR\x64\udp.ocx"
  Delete /REBOOTOK "$INSTDIR\x86\udp.ocx"
  Delete "$INSTDIR\reference.md"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR\x64"
  RMDir /REBOOTOK "$INSTDIR\x86"
  RMDir /REBOOTOK "$INSTDIR"

  !insertmacro SelectRegistryView
  ${If} $Mode == "user"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${Else}
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd
