; setup.exe: installs the remote control utilities of the TV capture box (the
; agent tunerpad.exe, the uninstall wizard clearway.exe and the wizard's texts
; REDerUro.ini) and writes the uninstaller that removes them again.
;
; Built by installer/CMakeLists.txt, which defines:
;   BITS           32 for the shipped build, 64 for the build the Wine tests run
;   VERSION        the product version, a.b.c.d
;   DISPLAY_NAME   the Uninstall entry's name: UninstallUtilityRegName of REDerUro.ini
;   TUNERPAD_EXE, CLEARWAY_EXE, INI_FILE, ICON, UNINSTALL_ICON, OUTFILE
;
; Both setup.exe and uninstall.exe run silently with /S.

Unicode true
!if ${BITS} == 64
  Target amd64-unicode
!else if ${BITS} == 32
  Target x86-unicode
!else
  !error "BITS must be 32 or 64, not ${BITS}"
!endif

!include LogicLib.nsh
!include WinMessages.nsh
!include FileFunc.nsh

!define VENDOR "Vuzided Ivavevariv"
!define PRODUCT "Velotune Utilities"
; The agent's settings; the agent writes them at its first start, so an
; upgrade keeps what the user chose.
!define SETTINGS_KEY "SOFTWARE\${VENDOR}\${PRODUCT}"
!define VENDOR_KEY "SOFTWARE\${VENDOR}"
; clearway finds this entry by its DisplayName, whatever the key is called.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TolvarRemoteControlUtilities"
!define AGENT_TITLE "Ruvuzovi Razuzu Davidod"
!define AGENT_SHORTCUT "Tolvar Remote Control.lnk"
!define WIZARD_SHORTCUT "Tolvar Uninstallation Wizard.lnk"
!define INI_NAME "REDerUro.ini"
!define UNINSTALLER "uninstall.exe"
; The stored Uninstall command. clearway reads it with the ANSI API into 256
; bytes, so an install folder whose command is longer than 255 bytes in the
; user's code page is refused: its entry could never be run.
!define UNINSTALL_COMMAND '"$INSTDIR\${UNINSTALLER}" _?=$INSTDIR'
!define UNINSTALL_COMMAND_MAX_BYTES 255
!define UNINSTALL_COMMAND_SIZE 256
!define FOLDER_TOO_LONG "The folder name is too long: the uninstall command of the utilities would not fit in ${UNINSTALL_COMMAND_MAX_BYTES} characters. Please choose a shorter folder."
; The exit code of a silent install refused for that reason.
!define EXIT_FOLDER_TOO_LONG 3
; How long the agent gets to handle WM_CLOSE, and then to end its process.
!define CLOSE_TIMEOUT_MS 10000
!define EXIT_WAIT_MS 10000
!define POLL_MS 100

!if ${BITS} == 64
  !define PROGRAM_FILES "$PROGRAMFILES64"
!else
  !define PROGRAM_FILES "$PROGRAMFILES"
!endif

Name "${DISPLAY_NAME}"
; The installer keeps its customary name, setup.exe, of which makensis warns:
; Windows applies its compatibility shims to programs so named.
!pragma warning disable 9000
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
Icon "${ICON}"
UninstallIcon "${UNINSTALL_ICON}"
BrandingText "${VENDOR}"
InstallDir "${PROGRAM_FILES}\${VENDOR}\${PRODUCT}"
; An upgrade goes into the folder of the version it replaces.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey ProductName "${DISPLAY_NAME}"
VIAddVersionKey CompanyName "${VENDOR}"
VIAddVersionKey FileDescription "${DISPLAY_NAME} Setup"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey LegalCopyright "${VENDOR}"

Page directory "" "" CheckFolderOnLeave
Page instfiles
; The uninstaller asks nothing: the user chose the removal on the wizard's
; first page. It shows its progress while the wizard's own window is hidden,
; and closes by itself when done.
UninstPage instfiles

; ---------------------------------------------------------------------------
; Shared by setup and uninstaller (NSIS keeps their functions apart: "un.").

!macro SHARED_FUNCTIONS un
  ; The shortcuts of the user who installs (the agent starts at that user's
  ; logon), and the registry view of the programs installed: a 64-bit build's
  ; programs read the 64-bit view.
  Function ${un}UseInstallLocations
    SetShellVarContext current
    !if ${BITS} == 64
      SetRegView 64
    !endif
  FunctionEnd

  ; Closes a running agent the way clearway does: WM_CLOSE to its window,
  ; found by its title. The send returns once the agent has handled it.
  Function ${un}CloseAgent
    Push $0
    FindWindow $0 "" "${AGENT_TITLE}"
    ${If} $0 <> 0
      DetailPrint "Closing ${AGENT_TITLE}"
      SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=${CLOSE_TIMEOUT_MS}
    ${EndIf}
    Pop $0
  FunctionEnd

  ; Deletes the program file named on the stack. Windows keeps the file of a
  ; program that still runs: a closed agent gets EXIT_WAIT_MS to end.
  ; Sets the error flag when the file is still there.
  Function ${un}DeleteProgram
    Exch $0
    Push $1
    StrCpy $1 0
    ${Do}
      Delete "$0"
      ${IfNot} ${FileExists} "$0"
        ClearErrors
        ${ExitDo}
      ${EndIf}
      ${If} $1 >= ${EXIT_WAIT_MS}
        SetErrors
        ${ExitDo}
      ${EndIf}
      Sleep ${POLL_MS}
      IntOp $1 $1 + ${POLL_MS}
    ${Loop}
    Pop $1
    Pop $0
  FunctionEnd
!macroend
!insertmacro SHARED_FUNCTIONS ""
!insertmacro SHARED_FUNCTIONS "un."

; ---------------------------------------------------------------------------
; Setup

; Sets the error flag when the Uninstall command of $INSTDIR would not fit.
Function CheckUninstallCommand
  Push $0
  StrCpy $0 '${UNINSTALL_COMMAND}'
  ; Its bytes in the ANSI code page, as clearway reads it, with the NUL.
  System::Call 'kernel32::WideCharToMultiByte(i 0, i 0, w r0, i -1, p 0, i 0, p 0, p 0) i .r0'
  ClearErrors
  ${If} $0 = 0
  ${OrIf} $0 > ${UNINSTALL_COMMAND_SIZE}
    SetErrors
  ${EndIf}
  Pop $0
FunctionEnd

; The directory page keeps the user until the folder fits.
Function CheckFolderOnLeave
  Call CheckUninstallCommand
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONEXCLAMATION "${FOLDER_TOO_LONG}"
    Abort
  ${EndIf}
FunctionEnd

Function .onInit
  Call UseInstallLocations
  ; A silent install shows no directory page: a folder given with /D is
  ; checked here.
  ${If} ${Silent}
    Call CheckUninstallCommand
    ${If} ${Errors}
      SetErrorLevel ${EXIT_FOLDER_TOO_LONG}
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Install"
  ; A running agent holds tunerpad.exe, which is about to be replaced.
  Call CloseAgent
  Push "$INSTDIR\tunerpad.exe"
  Call DeleteProgram
  ${If} ${Errors}
    DetailPrint "tunerpad.exe is still in use"
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "/oname=tunerpad.exe" "${TUNERPAD_EXE}"
  File "/oname=clearway.exe" "${CLEARWAY_EXE}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; clearway reads its texts from the Windows directory.
  SetOutPath "$WINDIR"
  File "/oname=${INI_NAME}" "${INI_FILE}"

  ; The agent starts at the user's logon, in its own folder.
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMSTARTUP\${AGENT_SHORTCUT}" "$INSTDIR\tunerpad.exe"
  ; The wizard removes the folder it lives in: it must not start in it, or
  ; the folder would stay in use until the wizard ends.
  SetOutPath "$WINDIR"
  CreateShortcut "$SMPROGRAMS\${WIZARD_SHORTCUT}" "$INSTDIR\clearway.exe"

  ; Run in place (_?=) so that whoever starts it, clearway above all, waits
  ; for the whole removal: without it the uninstaller would copy itself to
  ; the temporary folder, start the copy and end at once.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${DISPLAY_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '${UNINSTALL_COMMAND}'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S _?=$INSTDIR'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tunerpad.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${VENDOR}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; The agent runs as the logged-on user, not with the installer's elevation:
  ; the shell starts it. An elevated agent could not be closed by the
  ; WM_CLOSE of a program without elevation.
  SetOutPath "$INSTDIR"
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\tunerpad.exe"'
SectionEnd

; ---------------------------------------------------------------------------
; Uninstaller

; Run with this option (and _?=), a copy of the uninstaller only waits for
; the uninstaller that started it to end, then deletes its file and the folder.
!define FINISH_OPTION "/FINISH"

Function un.onInit
  Call un.UseInstallLocations
  ${un.GetParameters} $0
  ClearErrors
  ${un.GetOptions} $0 "${FINISH_OPTION}" $1
  ${IfNot} ${Errors}
    Call un.FinishRemoval
    Quit
  ${EndIf}
FunctionEnd

; Removes a file that may be the image of a running program: clearway waits
; for this uninstaller while it runs from the folder. Such a file cannot be
; deleted, but it can be moved out of the folder, into the temporary folder,
; and deleted there at the next restart.
Function un.RemoveFile
  Exch $0
  Push $1
  Delete "$0"
  ${If} ${FileExists} "$0"
    GetTempFileName $1
    Delete "$1"
    ClearErrors
    Rename "$0" "$1"
    ${If} ${Errors}
      Delete /REBOOTOK "$0"
    ${Else}
      Delete /REBOOTOK "$1"
    ${EndIf}
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

Function un.RemoveFolders
  RMDir /REBOOTOK "$INSTDIR"
  RMDir "${PROGRAM_FILES}\${VENDOR}"
FunctionEnd

; An uninstaller started with _?= runs from its own file and keeps it open
; to its end, so that file cannot go while it runs (nor be moved). A copy of
; it in the temporary folder removes the file and the folder once it has
; ended.
Function un.StartFinisher
  Push $0
  GetTempFileName $0
  Delete "$0"
  ClearErrors
  CreateDirectory "$0"
  CopyFiles /SILENT "$EXEPATH" "$0\${UNINSTALLER}"
  ${IfNot} ${Errors}
    Exec '"$0\${UNINSTALLER}" /S ${FINISH_OPTION} _?=$INSTDIR'
  ${EndIf}
  ${If} ${Errors}
    Delete /REBOOTOK "$INSTDIR\${UNINSTALLER}"
    Call un.RemoveFolders
  ${EndIf}
  Pop $0
FunctionEnd

; The copy's work: its file goes at the next restart, as NSIS's own
; temporary copies of uninstallers do.
Function un.FinishRemoval
  Push "$INSTDIR\${UNINSTALLER}"
  Call un.DeleteProgram
  ${If} ${Errors}
    Delete /REBOOTOK "$INSTDIR\${UNINSTALLER}"
  ${EndIf}
  Call un.RemoveFolders
  Delete /REBOOTOK "$EXEPATH"
  RMDir /REBOOTOK "$EXEDIR"
FunctionEnd

Section "Uninstall"
  SetAutoClose true
  ; Nothing of this process, nor of the programs it starts, may keep the
  ; folder in use.
  SetOutPath "$TEMP"

  Call un.CloseAgent
  Push "$INSTDIR\tunerpad.exe"
  Call un.DeleteProgram
  ${If} ${Errors}
    Delete /REBOOTOK "$INSTDIR\tunerpad.exe"
  ${EndIf}
  Push "$INSTDIR\clearway.exe"
  Call un.RemoveFile

  Delete "$SMSTARTUP\${AGENT_SHORTCUT}"
  Delete "$SMPROGRAMS\${WIZARD_SHORTCUT}"
  Delete "$WINDIR\${INI_NAME}"

  DeleteRegKey HKLM "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKLM "${VENDOR_KEY}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; Last, the uninstaller's own file and the folder.
  Delete "$INSTDIR\${UNINSTALLER}"
  ${If} ${FileExists} "$INSTDIR\${UNINSTALLER}"
    Call un.StartFinisher
  ${Else}
    Call un.RemoveFolders
  ${EndIf}
SectionEnd
