; The Windows installer: a per-user install that needs no administrator, into
; %LOCALAPPDATA%\Programs\Pemo, with a Start-menu entry, the .job file type under
; HKCU\Software\Classes and an uninstaller that takes away everything the install made.
; Built by tools/windows-package.sh: makensis -DVERSION=x.yy -DSTAGE=<folder with the programs>
; -DOUTFILE=<installer>.
; A 64-bit installer for 64-bit programs; it also runs where no 32-bit subsystem is installed.
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define KEY_UNINSTALL "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pemo"
!define CLASS "Pemo.Job"
!define KEY_CLASS "Software\Classes\${CLASS}"
!define KEY_EXTENSION "Software\Classes\.job"

Name "Pemo"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Pemo"
; An update goes where the last install went.
InstallDirRegKey HKCU "${KEY_UNINSTALL}" "InstallLocation"
Icon "${STAGE}\pemo.ico"
UninstallIcon "${STAGE}\pemo.ico"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "Pemo"
VIAddVersionKey "FileDescription" "Pemo setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "Pemo developers"
VIAddVersionKey "LegalCopyright" "Pemo developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Shell32's "file associations changed": Explorer picks up the new type and icon at once.
!macro AssociationsChanged
    System::Call "shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)"
!macroend

Section "Pemo"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "${STAGE}\pemo.exe"
    File "${STAGE}\pemo-window.exe"
    File "${STAGE}\README.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; Explorer and the Start menu start the window program, which opens no console window.
    CreateShortcut "$SMPROGRAMS\Pemo.lnk" "$INSTDIR\pemo-window.exe" "" "$INSTDIR\pemo-window.exe" 0

    ; .job may already belong to another program for this user: remember whose it was, so that
    ; the uninstaller gives it back.
    ReadRegStr $0 HKCU "${KEY_EXTENSION}" ""
    StrCmp $0 "${CLASS}" +2
    WriteRegStr HKCU "${KEY_CLASS}" "PreviousClass" "$0"
    WriteRegStr HKCU "${KEY_EXTENSION}" "" "${CLASS}"
    WriteRegStr HKCU "${KEY_EXTENSION}\OpenWithProgids" "${CLASS}" ""
    WriteRegStr HKCU "${KEY_CLASS}" "" "Pemo job"
    WriteRegStr HKCU "${KEY_CLASS}\DefaultIcon" "" '"$INSTDIR\pemo-window.exe",0'
    WriteRegStr HKCU "${KEY_CLASS}\shell\open\command" "" '"$INSTDIR\pemo-window.exe" "%1"'
    !insertmacro AssociationsChanged

    WriteRegStr HKCU "${KEY_UNINSTALL}" "DisplayName" "Pemo"
    WriteRegStr HKCU "${KEY_UNINSTALL}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${KEY_UNINSTALL}" "Publisher" "Pemo developers"
    WriteRegStr HKCU "${KEY_UNINSTALL}" "DisplayIcon" '"$INSTDIR\pemo-window.exe",0'
    WriteRegStr HKCU "${KEY_UNINSTALL}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${KEY_UNINSTALL}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${KEY_UNINSTALL}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${KEY_UNINSTALL}" "NoModify" 1
    WriteRegDWORD HKCU "${KEY_UNINSTALL}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    ; Only the files the install put there: jobs, logs and settings a user kept in this folder stay.
    Delete "$INSTDIR\pemo.exe"
    Delete "$INSTDIR\pemo-window.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\Pemo.lnk"

    ReadRegStr $0 HKCU "${KEY_EXTENSION}" ""
    StrCmp $0 "${CLASS}" 0 extension_done
    ReadRegStr $1 HKCU "${KEY_CLASS}" "PreviousClass"
    StrCmp $1 "" 0 +3
    DeleteRegValue HKCU "${KEY_EXTENSION}" ""
    Goto extension_done
    WriteRegStr HKCU "${KEY_EXTENSION}" "" "$1"
extension_done:
    DeleteRegValue HKCU "${KEY_EXTENSION}\OpenWithProgids" "${CLASS}"
    DeleteRegKey /ifempty HKCU "${KEY_EXTENSION}\OpenWithProgids"
    DeleteRegKey /ifempty HKCU "${KEY_EXTENSION}"
    DeleteRegKey HKCU "${KEY_CLASS}"
    DeleteRegKey HKCU "${KEY_UNINSTALL}"
    !insertmacro AssociationsChanged
SectionEnd
