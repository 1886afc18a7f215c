; The per-user installer of Zorvane. Built by make_packages.py, which passes:
;   VERSION   the version, as the executable's version block has it
;   STAGE     the folder to install: the bundle, with the app's engine files
;   ENTRIES   an include defining RemoveBundleEntries, which removes each
;             top-level entry of STAGE from $INSTDIR (the file list is the
;             bundle's own, never written here)
;   SIZE_KB   the installed size, for the Uninstall entry
;   HELPER    setup-helper.exe, run from $PLUGINSDIR and never installed
;   ICON      the application's icon; OUTFILE  the installer to write
;
; The host writes its core folder "xray" beside its executable, so it must be
; installed where the user can write without elevation: under the user's
; local application data, never under Program Files.
Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma

Name "Zorvane ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$LOCALAPPDATA\Programs\Zorvane"

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
!macro DEFINE_STOP_INSTALLATION prefix
  Function ${prefix}StopInstallation
    InitPluginsDir
    File "/oname=$PLUGINSDIR\setup-helper.exe" "${HELPER}"
    StrCpy $0 "not started"
    ExecWait '"$PLUGINSDIR\setup-helper.exe" running "$INSTDIR\zorvane.exe"' $0
    ${If} $0 != 0
      MessageBox MB_ICONSTOP "Zorvane is running. Close its window, then try again." /SD IDOK
      Abort
    ${EndIf}
    StrCpy $0 "not started"
    ExecWait '"$PLUGINSDIR\setup-helper.exe" end-core "$INSTDIR\xray\xray.exe"' $0
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

Section "Uninstall"
  SetShellVarContext current
  Call un.StopInstallation
  ; Run while the host is still there: once its files go, nothing could.
  ExecWait '${CHECK_PROXY}'
  DeleteRegValue HKCU "${RUN_ONCE_KEY}" "ZorvaneProxyCheck"
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
