; The Windows setup program, QMCaptureDevice-<version>-setup.exe.
;
; Installs into Program Files\QM Capture Device (the 64-bit Program Files on
; 64-bit Windows): x86\ always, x64\ on 64-bit Windows, each holding the
; module, qmsettings.exe, qmcapture.exe, qmcamera.exe and quillmere_demo.exe; the user
; guide and uninstall.exe beside them. It registers each module with the
; regsvr32 of its architecture, adds the Start menu entries "QM Capture
; Settings" and "Uninstall QM Capture Device", and the uninstall entry that
; Settings > Apps (Add/Remove Programs) lists.
;
; The component "Start the Windows 11 camera when I log on" has the
; installed qmcamera.exe add the user's logon entry (qmcamera --autostart
; on: the value "QM Capture Camera" of HKCU\...\CurrentVersion\Run, which
; starts "qmcamera.exe" --tray). It is ticked by default where Windows has
; the Media Foundation virtual cameras qmcamera needs (Windows 11, build
; 22000 or later), and on an upgrade as the entry is now; unticked, the
; entry is removed. /AUTOSTART and /NOAUTOSTART tick and untick it for a
; silent install. The uninstaller removes the entry.
;
; Built by the superbuild's "installer" target, which passes:
;   VERSION   the project's version, for example 1.0.0
;   X86_DIR   folder holding the x86 files
;   X64_DIR   folder holding the x64 files
;   DOC_DIR   folder holding USER-GUIDE.txt
;   OUTFILE   path of the setup program to write
;
; Exit codes of the setup program (with /S they are the only report):
;   0     installed, every module registered
;   3010  installed and registered, but a module held open by a running
;         application is replaced when Windows restarts
;   1     cancelled by the user
;   2     nothing was installed: no administrator rights, or the target
;         folder cannot be written
;   3     a module could not be registered (the files stay installed, with
;         their uninstall entry, so that the uninstaller can remove them)
; The uninstaller exits with 0, or 3010 when a file in use is removed at the
; next restart. /REMOVESETTINGS (with /S) also removes the current user's
; settings, as the "Remove my settings" box does.

Unicode true
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef VERSION | X86_DIR | X64_DIR | DOC_DIR | OUTFILE
  !error "installer.nsi needs VERSION, X86_DIR, X64_DIR, DOC_DIR and OUTFILE (-D on the makensis command line)"
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include Sections.nsh
!include WinVer.nsh

!define PRODUCT "QM Capture Device"
!define PUBLISHER "QM Capture"
!define MODULE "QMCaptureDevice.ax"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QMCaptureDevice"
!define SETTINGS_KEY "Software\QMCapture"
!define START_MENU_FOLDER "$SMPROGRAMS\${PRODUCT}"
!define SETTINGS_SHORTCUT "QM Capture Settings.lnk"
!define UNINSTALL_SHORTCUT "Uninstall QM Capture Device.lnk"
; qmcamera's logon entry (tools/camera_app/logon_entry.h).
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define LOGON_ENTRY "QM Capture Camera"
; The first Windows build with Media Foundation virtual cameras (Windows 11).
!define VIRTUAL_CAMERA_BUILD 22000
; Named like the Windows error codes that installers use for them.
!define EXIT_REBOOT_REQUIRED 3010
!define EXIT_NOT_INSTALLED 2
!define EXIT_NOT_REGISTERED 3

Name "${PRODUCT}"
OutFile "${OUTFILE}"
ShowInstDetails show
ShowUninstDetails show
; No InstallDir: .onInit chooses the folder (the earlier installation's,
; or Program Files of the system's own architecture) unless /D= gave one.

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

; Where an earlier installation lives, from its uninstall entry; empty when
; there is none.
Var EarlierLocation
; 1 once a file in use was left for Windows to replace or remove at restart.
Var InUse
; 1 once a module could not be registered.
Var RegistrationFailed

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!define MUI_COMPONENTSPAGE_TEXT_TOP "Your settings (window, size, frame rate, standby text) stay unless you tick Remove my settings. They belong to the current Windows user."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "English"

; Stops the installation before anything of it was written: says why,
; also in silent mode through the exit code.
!macro FailInstall CODE TEXT
  DetailPrint "${TEXT}"
  MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
  SetErrorLevel ${CODE}
  Abort
!macroend

; 64-bit registry view and System32 on 64-bit Windows: the 64-bit Program
; Files, the uninstall entry next to 64-bit programs' and the 64-bit
; regsvr32. This setup program itself is a 32-bit program.
!macro UseNativeView
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
!macroend

; Runs the regsvr32 of ARCH on the module of ARCH below FOLDER, with
; ARGUMENTS ("/s" or "/u /s"); leaves its exit code in $0, or "error" when
; regsvr32 could not be started.
!macro RunRegsvr32 ARCH ARGUMENTS FOLDER
  ${If} "${ARCH}" == "x64"
    ; The 64-bit regsvr32 is in the real System32, which a 32-bit program
    ; reaches only with the file system redirection turned off.
    ${DisableX64FSRedirection}
    ClearErrors
    ExecWait '"$WINDIR\System32\regsvr32.exe" ${ARGUMENTS} "${FOLDER}\x64\${MODULE}"' $0
    ${EnableX64FSRedirection}
  ${ElseIf} ${RunningX64}
    ClearErrors
    ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" ${ARGUMENTS} "${FOLDER}\x86\${MODULE}"' $0
  ${Else}
    ClearErrors
    ExecWait '"$WINDIR\System32\regsvr32.exe" ${ARGUMENTS} "${FOLDER}\x86\${MODULE}"' $0
  ${EndIf}
  ${If} ${Errors}
    StrCpy $0 "error"
  ${EndIf}
!macroend

!macro UnregisterModule ARCH FOLDER
  ${If} ${FileExists} "${FOLDER}\${ARCH}\${MODULE}"
    !insertmacro RunRegsvr32 ${ARCH} "/u /s" "${FOLDER}"
    DetailPrint "Unregistered the ${ARCH} module (regsvr32 exit code $0)"
  ${EndIf}
!macroend

!macro RegisterModule ARCH
  !insertmacro RunRegsvr32 ${ARCH} "/s" "$INSTDIR"
  ${If} $0 == 0
    DetailPrint "Registered the ${ARCH} module: $INSTDIR\${ARCH}\${MODULE}"
  ${Else}
    DetailPrint "Registering the ${ARCH} module failed (regsvr32 exit code $0): $INSTDIR\${ARCH}\${MODULE}"
    StrCpy $RegistrationFailed 1
  ${EndIf}
!macroend

; Puts one file of ARCH in place. A module that a running capture
; application holds loaded, or a program that is running, cannot be
; deleted or overwritten, but it can be renamed: it moves aside to .old,
; which goes at the next restart, and the new file takes its name at once,
; for every application that starts from now on. Only if even the rename
; fails does the new file wait beside it as .new until Windows replaces it
; at the next restart; the file in place then stays (and a module in place
; stays registered) meanwhile. $R9 becomes 1 when the file could not be
; written at all.
!macro PlaceFile ARCH NAME SOURCE_DIR
  StrCpy $1 "$INSTDIR\${ARCH}\${NAME}"
  ClearErrors
  ${If} ${FileExists} "$1"
    Delete "$1"
  ${EndIf}
  ${If} ${Errors}
    DetailPrint "${ARCH}\${NAME} is in use by a running application"
    StrCpy $InUse 1
    Delete "$1.old"
    ClearErrors
    Rename "$1" "$1.old"
    ${IfNot} ${Errors}
      Delete /REBOOTOK "$1.old"
      ClearErrors
      File "/oname=$1" "${SOURCE_DIR}/${NAME}"
    ${Else}
      ClearErrors
      File "/oname=$1.new" "${SOURCE_DIR}/${NAME}"
      ${IfNot} ${Errors}
        Rename /REBOOTOK "$1.new" "$1"
      ${EndIf}
    ${EndIf}
  ${Else}
    File "/oname=$1" "${SOURCE_DIR}/${NAME}"
  ${EndIf}
  ${If} ${Errors}
    DetailPrint "Cannot write $1"
    StrCpy $R9 1
  ${EndIf}
!macroend

!macro InstallFiles ARCH SOURCE_DIR
  CreateDirectory "$INSTDIR\${ARCH}"
  !insertmacro PlaceFile ${ARCH} ${MODULE} "${SOURCE_DIR}"
  !insertmacro PlaceFile ${ARCH} qmsettings.exe "${SOURCE_DIR}"
  !insertmacro PlaceFile ${ARCH} qmcapture.exe "${SOURCE_DIR}"
  !insertmacro PlaceFile ${ARCH} qmcamera.exe "${SOURCE_DIR}"
  !insertmacro PlaceFile ${ARCH} quillmere_demo.exe "${SOURCE_DIR}"
!macroend

Function .onInit
  StrCpy $InUse 0
  StrCpy $RegistrationFailed 0
  !insertmacro UseNativeView
  ReadRegStr $EarlierLocation HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ; /D= on the command line sets $INSTDIR before this runs.
  ${If} $INSTDIR == ""
    ${If} $EarlierLocation != ""
      StrCpy $INSTDIR $EarlierLocation
    ${ElseIf} ${RunningX64}
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES\${PRODUCT}"
    ${EndIf}
  ${EndIf}
  Call ChooseLogonDefault
  ; Registration writes HKEY_LOCAL_MACHINE.
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_OK|MB_ICONSTOP "Installing ${PRODUCT} needs administrator rights." /SD IDOK
    SetErrorLevel ${EXIT_NOT_INSTALLED}
    Quit
  ${EndIf}
FunctionEnd

Section "${PRODUCT}" SecDevice
  SectionIn RO
  SetShellVarContext all
  !insertmacro UseNativeView

  ; Nothing is changed unless the target folder can be written.
  ClearErrors
  CreateDirectory "$INSTDIR"
  FileOpen $0 "$INSTDIR\setup-write-check.tmp" w
  ${If} ${Errors}
    !insertmacro FailInstall ${EXIT_NOT_INSTALLED} "Setup cannot write to the folder $INSTDIR. Nothing was installed."
  ${EndIf}
  FileClose $0
  Delete "$INSTDIR\setup-write-check.tmp"

  ; An earlier installation: one in another folder is removed by its own
  ; uninstaller (the settings stay); one in this folder has its modules
  ; unregistered before they are replaced.
  ${If} $EarlierLocation != ""
  ${AndIf} $EarlierLocation != $INSTDIR
  ${AndIf} ${FileExists} "$EarlierLocation\uninstall.exe"
    DetailPrint "Removing the earlier installation in $EarlierLocation"
    ExecWait '"$EarlierLocation\uninstall.exe" /S _?=$EarlierLocation' $0
    Delete "$EarlierLocation\uninstall.exe"
    RMDir "$EarlierLocation"
  ${EndIf}
  ${If} ${RunningX64}
    !insertmacro UnregisterModule x64 "$INSTDIR"
  ${EndIf}
  !insertmacro UnregisterModule x86 "$INSTDIR"

  StrCpy $R9 0
  !insertmacro InstallFiles x86 "${X86_DIR}"
  ${If} ${RunningX64}
    !insertmacro InstallFiles x64 "${X64_DIR}"
  ${EndIf}
  SetOutPath "$INSTDIR"
  ClearErrors
  File "${DOC_DIR}/USER-GUIDE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${If} ${Errors}
    StrCpy $R9 1
  ${EndIf}

  ; Whatever module is in place now is registered, the earlier one too if
  ; it could not be replaced: setup never leaves the device unregistered.
  !insertmacro RegisterModule x86
  ${If} ${RunningX64}
    !insertmacro RegisterModule x64
  ${EndIf}

  ${If} ${RunningX64}
    StrCpy $2 "$INSTDIR\x64\qmsettings.exe"
  ${Else}
    StrCpy $2 "$INSTDIR\x86\qmsettings.exe"
  ${EndIf}
  CreateDirectory "${START_MENU_FOLDER}"
  CreateShortCut "${START_MENU_FOLDER}\${SETTINGS_SHORTCUT}" "$2" "" "$2" 0 SW_SHOWNORMAL "" \
    "Choose the picture size, frame rate and standby text of ${PRODUCT}"
  CreateShortCut "${START_MENU_FOLDER}\${UNINSTALL_SHORTCUT}" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$2,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $3
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ${If} $R9 == 1
    StrCpy $RegistrationFailed 1
    DetailPrint "Some files could not be written."
  ${EndIf}
  ${If} $RegistrationFailed == 1
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} could not be registered: applications will not list it. See the details in the setup window." /SD IDOK
    SetErrorLevel ${EXIT_NOT_REGISTERED}
  ${ElseIf} $InUse == 1
    SetRebootFlag true
    MessageBox MB_OK|MB_ICONINFORMATION "${PRODUCT} is in use by a running application. Applications started from now on use the new version; restart Windows to finish the installation." /SD IDOK
    SetErrorLevel ${EXIT_REBOOT_REQUIRED}
  ${Else}
    SetErrorLevel 0
  ${EndIf}
SectionEnd

; After the files: the installed qmcamera writes its own entry, the same
; way as "qmcamera --autostart on" from a command prompt. It only writes
; the entry; the camera starts at the next logon (or when the user starts
; it). A failure is reported in the details and does not fail setup.
Section "Start the Windows 11 camera when I log on" SecLogon
  ${If} ${RunningX64}
    StrCpy $2 "$INSTDIR\x64\qmcamera.exe"
  ${Else}
    StrCpy $2 "$INSTDIR\x86\qmcamera.exe"
  ${EndIf}
  nsExec::ExecToLog '"$2" --autostart on'
  Pop $0
  ${If} $0 == 0
    DetailPrint "qmcamera starts when you log on ($2 --tray)"
  ${Else}
    DetailPrint "qmcamera could not add its logon entry (qmcamera exit code $0)"
  ${EndIf}
SectionEnd

; Unticked, the logon component takes away an entry that an earlier
; installation (or the user, from qmcamera's icon) made.
Section "-Logon entry off" SecLogonOff
  ${IfNot} ${SectionIsSelected} ${SecLogon}
    DeleteRegValue HKCU "${RUN_KEY}" "${LOGON_ENTRY}"
  ${EndIf}
SectionEnd

; Ticks or unticks the logon component: /AUTOSTART and /NOAUTOSTART
; decide; otherwise an upgrade keeps what the user has (the entry there or
; not), and a first installation starts the camera at logon where Windows
; has virtual cameras.
Function ChooseLogonDefault
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOAUTOSTART" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecLogon}
    Return
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/AUTOSTART" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecLogon}
    Return
  ${EndIf}
  ${If} $EarlierLocation != ""
    ClearErrors
    ReadRegStr $1 HKCU "${RUN_KEY}" "${LOGON_ENTRY}"
    ${If} ${Errors}
      !insertmacro UnselectSection ${SecLogon}
    ${Else}
      !insertmacro SelectSection ${SecLogon}
    ${EndIf}
  ${ElseIf} ${AtLeastBuild} ${VIRTUAL_CAMERA_BUILD}
    !insertmacro SelectSection ${SecLogon}
  ${Else}
    !insertmacro UnselectSection ${SecLogon}
  ${EndIf}
FunctionEnd


; Deletes one file of ARCH, or leaves it for Windows to delete at the next
; restart when a running application holds it; and what an upgrade moved
; aside while it was in use.
!macro RemoveFile ARCH NAME
  ClearErrors
  Delete "$INSTDIR\${ARCH}\${NAME}"
  ${If} ${Errors}
    Delete /REBOOTOK "$INSTDIR\${ARCH}\${NAME}"
    DetailPrint "${ARCH}\${NAME} is in use; it is removed when Windows restarts"
    StrCpy $InUse 1
  ${EndIf}
  Delete /REBOOTOK "$INSTDIR\${ARCH}\${NAME}.old"
!macroend

!macro RemoveArchitecture ARCH
  !insertmacro RemoveFile ${ARCH} ${MODULE}
  !insertmacro RemoveFile ${ARCH} qmsettings.exe
  !insertmacro RemoveFile ${ARCH} qmcapture.exe
  !insertmacro RemoveFile ${ARCH} qmcamera.exe
  !insertmacro RemoveFile ${ARCH} quillmere_demo.exe
  RMDir /REBOOTOK "$INSTDIR\${ARCH}"
!macroend

Section "un.${PRODUCT}" UnSecDevice
  SectionIn RO
  SetShellVarContext all
  !insertmacro UseNativeView

  ${If} ${RunningX64}
    !insertmacro UnregisterModule x64 "$INSTDIR"
  ${EndIf}
  !insertmacro UnregisterModule x86 "$INSTDIR"

  ; Both folders: a system that changed from 32-bit to 64-bit Windows
  ; never had x64\, and deleting what is missing does no harm.
  !insertmacro RemoveArchitecture x64
  !insertmacro RemoveArchitecture x86
  Delete "$INSTDIR\USER-GUIDE.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: files the user put there stay.
  RMDir /REBOOTOK "$INSTDIR"

  Delete "${START_MENU_FOLDER}\${SETTINGS_SHORTCUT}"
  Delete "${START_MENU_FOLDER}\${UNINSTALL_SHORTCUT}"
  RMDir "${START_MENU_FOLDER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; qmcamera's logon entry: without its program it could only fail.
  DeleteRegValue HKCU "${RUN_KEY}" "${LOGON_ENTRY}"
  ; The machine's camera list (64-bit view, which UseNativeView chose): the
  ; modules took every camera out of the video category above. An upgrade
  ; never comes here, so it keeps the list.
  DeleteRegKey HKLM "${SETTINGS_KEY}\Cameras"
  DeleteRegKey /ifempty HKLM "${SETTINGS_KEY}"

  ${If} $InUse == 1
    SetRebootFlag true
    SetErrorLevel ${EXIT_REBOOT_REQUIRED}
  ${EndIf}
SectionEnd

Section /o "un.Remove my settings" UnSecSettings
  ; Every camera's settings: camera 1's key holds the others' under Cameras.
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DetailPrint "Removed the settings under HKEY_CURRENT_USER\${SETTINGS_KEY}"
SectionEnd

Function un.onInit
  StrCpy $InUse 0
  ; /REMOVESETTINGS ticks "Remove my settings".
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UnSecSettings}
  ${EndIf}
FunctionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecDevice} "The camera for DirectShow applications, its settings program and the capture tools."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecLogon} "Starts qmcamera, which shows the cameras to Windows 11 camera applications, each time you log on, with only its icon in the notification area. Needs Windows 11."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecDevice} "Unregisters the camera and removes its files, Start menu entries and uninstall entry."
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecSettings} "Also deletes your settings under HKEY_CURRENT_USER\${SETTINGS_KEY}."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END
