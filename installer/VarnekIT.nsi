; The VarnekIT installer: puts VarnekIT.exe into C:\Varnek (the folder the program, its
; autostart entry and its updater expect), adds a Start-menu entry, optionally the machine-wide
; autostart entry, and an uninstaller.
;
; makensis -DVERSION=1.0.2 -DPROGRAM_EXE=path/VarnekIT.exe -DOUTFILE=path/setup.exe VarnekIT.nsi
;
; Command line of the installer:  /S  silent;  /AUTOSTART=0  leave the autostart entry out
; (it is on by default, in the components page and in silent mode alike).
; Command line of the uninstaller:  /S  silent;  /PURGE=1  also remove the user's settings
; (a checkbox, off by default, in the interactive uninstaller).

!ifndef VERSION | PROGRAM_EXE | OUTFILE
  !error "define VERSION, PROGRAM_EXE and OUTFILE"
!endif

!ifdef TARGET
  ; amd64-unicode: the installer of a 64-bit build (tests on machines without 32-bit programs)
  Target ${TARGET}
!endif
Unicode true
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"
!include "WinMessages.nsh"

!define PRODUCT "VarnekIT"
!define COMPANY "Varnek IT Consulting"
!define PROGRAM_FOLDER "C:\Varnek"
; The autostart entry exactly as the program's own "Add Autostart" writes it.
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "VarnekIT"
!define RUN_DATA "C:\Varnek\VarnekIT.exe"
!define SETTINGS_KEY "Software\VB and VBA Program Settings\VarnekIT"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VarnekIT"
!define SHORTCUT "$SMPROGRAMS\VarnekIT.lnk"
; The program's hidden main window: its WM_CLOSE removes the tray icon and ends the program.
!define MAIN_CLASS "VarnekIT"
!define MAIN_TITLE "Hard Drive"

Name "${PRODUCT} ${VERSION}"
Caption "${PRODUCT} ${VERSION} Setup"
UninstallCaption "${PRODUCT} ${VERSION} Uninstall"
OutFile "${OUTFILE}"
InstallDir "${PROGRAM_FOLDER}"
BrandingText "${COMPANY}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COMPANY}"

!ifdef SIGN_COMMAND
  ; The uninstaller is signed as it is written into the installer.
  !uninstfinalize '${SIGN_COMMAND}'
!endif

!define MUI_ABORTWARNING
!ifdef ICON
  !define MUI_ICON "${ICON}"
  !define MUI_UNICON "${ICON}"
!endif
; The finish page's start runs the program as the logged-on user (StartAsUser below).
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start VarnekIT now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartAsUser
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Ends a running VarnekIT the way its own Exit does (WM_CLOSE to its main window), waits for
; it to go and then until its executable can be replaced or deleted.
!macro CloseProgram un
Function ${un}CloseProgram
  FindWindow $0 "${MAIN_CLASS}" "${MAIN_TITLE}"
  ${If} $0 = 0
    Return
  ${EndIf}
  DetailPrint "Ending the running VarnekIT"
  SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
  StrCpy $1 0
  ${Do}
    FindWindow $0 "${MAIN_CLASS}" "${MAIN_TITLE}"
    ${If} $0 = 0
      ${Break}
    ${EndIf}
    ${If} $1 >= 100
      DetailPrint "VarnekIT did not end within 10 seconds"
      ${Break}
    ${EndIf}
    Sleep 100
    IntOp $1 $1 + 1
  ${Loop}
  ; The window goes just before the process does: wait until the file is free.
  StrCpy $1 0
  ${DoWhile} ${FileExists} "$INSTDIR\VarnekIT.exe"
    ClearErrors
    FileOpen $2 "$INSTDIR\VarnekIT.exe" a
    ${IfNot} ${Errors}
      FileClose $2
      ${Break}
    ${EndIf}
    ${If} $1 >= 50
      ${Break}
    ${EndIf}
    Sleep 100
    IntOp $1 $1 + 1
  ${Loop}
FunctionEnd
!macroend
!insertmacro CloseProgram ""
!insertmacro CloseProgram "un."

; Starts the installed program as the user who is logged on, not with the installer's elevated
; token: run elevated, the program would keep its settings in the administrator's HKCU when the
; administrator is another account, and Windows would keep Explorer's messages from it. The
; shell's process carries the logged-on user's own token; the program is started with a copy
; of it (CreateProcessWithTokenW, which an administrator may call). Where there is no shell
; (Explorer not running) or a step is refused, the program is started as the installer runs,
; as before.
; STARTUPINFOW, zeroed but for its size (68 bytes in a 32-bit process, 104 in a 64-bit one).
!if ${NSIS_PTR_SIZE} > 4
  !define STARTUPINFO "i 104, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0"
!else
  !define STARTUPINFO "i 68, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0"
!endif
Function StartAsUser
  StrCpy $7 0 ; started
  System::Call 'user32::GetShellWindow() p .r0'
  ${If} $0 P<> 0
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1)'
    ; PROCESS_QUERY_LIMITED_INFORMATION
    System::Call 'kernel32::OpenProcess(i 0x1000, i 0, i r1) p .r2'
    ${If} $2 P<> 0
      ; TOKEN_DUPLICATE
      System::Call 'advapi32::OpenProcessToken(p r2, i 0x2, *p .r3) i .r8'
      ${If} $8 <> 0
        ; TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ADJUST_DEFAULT |
        ; TOKEN_ADJUST_SESSIONID; SecurityImpersonation; TokenPrimary
        System::Call 'advapi32::DuplicateTokenEx(p r3, i 0x18B, p 0, i 2, i 1, *p .r4) i .r8'
        ${If} $8 <> 0
          System::Call '*(${STARTUPINFO}) p .r5'
          System::Call '*(p 0, p 0, i 0, i 0) p .r6'
          System::Call 'advapi32::CreateProcessWithTokenW(p r4, i 0, w "$INSTDIR\VarnekIT.exe", p 0, i 0, p 0, w "$INSTDIR", p r5, p r6) i .r7'
          ${If} $7 <> 0
            System::Call '*$6(p .r8, p .r9)'
            System::Call 'kernel32::CloseHandle(p r8)'
            System::Call 'kernel32::CloseHandle(p r9)'
          ${EndIf}
          System::Free $5
          System::Free $6
          System::Call 'kernel32::CloseHandle(p r4)'
        ${EndIf}
        System::Call 'kernel32::CloseHandle(p r3)'
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p r2)'
    ${EndIf}
  ${EndIf}
  ${If} $7 = 0
    Exec '"$INSTDIR\VarnekIT.exe"'
  ${EndIf}
FunctionEnd

Section "VarnekIT (required)" SecProgram
  SectionIn RO
  Call CloseProgram
  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "/oname=VarnekIT.exe" "${PROGRAM_EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetShellVarContext all
  CreateShortcut "${SHORTCUT}" "$INSTDIR\VarnekIT.exe" "" "$INSTDIR\VarnekIT.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\VarnekIT.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Autostart (all users)" SecAutostart
  WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" "${RUN_DATA}"
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "The program, its Start-menu entry and its uninstaller."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecAutostart} "Starts VarnekIT at every logon, for all users: the entry the program's Add Autostart writes."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AUTOSTART=" $1
  ${IfNot} ${Errors}
  ${AndIf} $1 == "0"
    !insertmacro UnselectSection ${SecAutostart}
  ${EndIf}
FunctionEnd

Section "un.VarnekIT" SecUnProgram
  SectionIn RO
  Call un.CloseProgram
  Delete "$INSTDIR\VarnekIT.exe"
  Delete "$INSTDIR\uninstall.exe"
  ; What the program itself writes into its folder: the remote-control client it downloads,
  ; a downloaded new version with its replacement script, and unfinished downloads (the
  ; target's name, a tag and ".download").
  Delete "$INSTDIR\Varnek_TeamViewer.exe"
  Delete "$INSTDIR\New_VarnekIT.exe"
  Delete "$INSTDIR\DeleteOLD.bat"
  Delete "$INSTDIR\*.download"
  RMDir "$INSTDIR"
  SetShellVarContext all
  Delete "${SHORTCUT}"
  ; Only the entry this program writes; another program's autostart entries stay.
  ReadRegStr $0 HKLM "${RUN_KEY}" "${RUN_VALUE}"
  ${If} $0 == "${RUN_DATA}"
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Remove my VarnekIT settings (user name, password, language)" SecUnSettings
  DeleteRegKey HKCU "${SETTINGS_KEY}"
SectionEnd

Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE=" $1
  ${IfNot} ${Errors}
  ${AndIf} $1 == "1"
    !insertmacro SelectSection ${SecUnSettings}
  ${EndIf}
FunctionEnd
