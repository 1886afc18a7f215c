; The per-user installer of Zorvane. Built by make_packages.py, which passes:
;   VERSION   the version, as the executable's version block has it
;   STAGE     the folder to install: the bundle, with the app's engine files
;   ENTRIES   an include defining RemoveBundleEntries, which removes each
;             top-level entry of STAGE from $INSTDIR (the file list is the
;             bundle's own, never written here)
;   SIZE_KB   the installed size, for the Uninstall entry
;   HELPER    setup-helper.exe, run from $PLUGINSDIR and never installed
;   ICON      the application's icon; OUTFILE  the installer to write
;   SIGN      with a code-signing certificate only: the command that signs
;             the program it is given in place (sign.py)
;
; The host writes its core folder "xray" beside its executable, so it must be
; installed where the user can write without elevation: under the user's
; local application data, never under Program Files.
Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma
; A file that cannot be written (in use, denied) fails the installation, with
; exit code 2 when silent, instead of leaving it incomplete under a reported
; success.
AllowSkipFiles off

Name "Zorvane ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$LOCALAPPDATA\Programs\Zorvane"

!ifdef SIGN
  ; The uninstaller is signed before it is packed into the installer, which
  ; writes it out as it is; then the installer itself. A signing that fails
  ; fails the build.
  !uninstfinalize `${SIGN} "%1"` = 0
  !finalize `${SIGN} "%1"` = 0
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Zorvane"
!define SHORTCUT "$SMPROGRAMS\Zorvane.lnk"
!define RUN_ONCE_KEY "Software\Microsoft\Windows\CurrentVersion\RunOnce"
!define CHECK_PROXY '"$INSTDIR\zorvane.exe" --check-proxy'
!include LogicLib.nsh
!include "${ENTRIES}"

Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Files in use cannot be replaced or removed. So: refuse while the
; installation's window runs, and end its core if it runs. A refusal aborts,
; which a silent run reports with exit code 2.
;
; A system proxy of the host's own that nothing serves any more (its core
; just ended here, or gone with an earlier session) would leave the user
; without internet: the installed host's own check switches it off, and
; leaves one that another copy's core still serves.

; Runs the helper with ARGUMENTS, its exit code into $0. A helper that cannot
; start at all (antivirus, policy) leaves $0 undefined and says nothing about
; the installation's processes, so nothing may be changed then.
!macro RUN_HELPER ARGUMENTS
  ClearErrors
  ExecWait '"$PLUGINSDIR\setup-helper.exe" ${ARGUMENTS}' $0
  ${If} ${Errors}
    MessageBox MB_ICONSTOP "Zorvane could not run its setup helper." /SD IDOK
    Abort
  ${EndIf}
!macroend

!macro DEFINE_STOP_INSTALLATION prefix
  Function ${prefix}StopInstallation
    InitPluginsDir
    File "/oname=$PLUGINSDIR\setup-helper.exe" "${HELPER}"
    !insertmacro RUN_HELPER 'running "$INSTDIR\zorvane.exe"'
    ${If} $0 != 0
      MessageBox MB_ICONSTOP "Zorvane is running. Close its window, then try again." /SD IDOK
      Abort
    ${EndIf}
    ; 2: a core this user may not end (another user's, an elevated one), or
    ; one that did not end in time.
    !insertmacro RUN_HELPER 'end-core "$INSTDIR\xray\xray.exe"'
    ${If} $0 != 0
    ${AndIf} $0 != 1
      MessageBox MB_ICONSTOP "Zorvane's core (xray.exe) could not be ended. End it, then try again." /SD IDOK
      Abort
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro DEFINE_STOP_INSTALLATION ""
!insertmacro DEFINE_STOP_INSTALLATION "un."

Section
  SetShellVarContext current
  Call StopInstallation
  ; What an earlier installation put there goes first, so that no file the
  ; new version no longer has is left behind. The core folder stays: it is
  ; the user's core, its configuration and its downloads.
  !insertmacro RemoveBundleEntries
  SetOutPath "$INSTDIR"
  File /r "${STAGE}/*"
  ; Not checked: a check that cannot run leaves the proxy as it was, which
  ; the host's own check at its next start takes care of.
  ExecWait '${CHECK_PROXY}'
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\zorvane.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Zorvane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Zorvane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zorvane.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The sign-in check names the copy of the host that switched the proxy on,
; by its long path or, when that would make the command too long for RunOnce,
; by its short one. Another copy's check is that copy's to keep. Paths match
; in any letter case (== ignores it), as Windows finds files. zorvane.exe is
; its own short name, so the folder's short form is enough, and it is there
; even when the program is not.
Function un.DeleteOwnSignInCheck
  ReadRegStr $0 HKCU "${RUN_ONCE_KEY}" "ZorvaneProxyCheck"
  GetFullPathName /SHORT $1 "$INSTDIR"
  ${If} $0 == '${CHECK_PROXY}'
  ${OrIf} $0 == '"$1\zorvane.exe" --check-proxy'
    DeleteRegValue HKCU "${RUN_ONCE_KEY}" "ZorvaneProxyCheck"
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext current
  Call un.StopInstallation
  ; Run while the host is still there: once its files go, nothing could.
  ExecWait '${CHECK_PROXY}'
  Call un.DeleteOwnSignInCheck
  !insertmacro RemoveBundleEntries
  ; The core folder the host made: config.json, version.txt, downloads and
  ; the core itself.
  RMDir /r "$INSTDIR\xray"
  Delete "$INSTDIR\uninstall.exe"
  ; Not recursive: whatever else the user put there stays, with its folder.
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
