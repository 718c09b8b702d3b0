; The VarnekIT installer: puts VarnekIT.exe into C:\Varnek (the folder the program, its
; autostart entry and its updater expect), adds a Start-menu entry, optionally the machine-wide
; autostart entry, and an uninstaller in the program-files folder, where only administrators
; can change it: C:\Varnek stays writable by every user (the program updates itself there),
; and nothing an administrator runs elevated may come from there.
;
; makensis -DVERSION=1.0.2 -DPROGRAM_EXE=path/VarnekIT.exe -DOUTFILE=path/setup.exe VarnekIT.nsi
;
; Command line of the installer:  /S  silent;  /AUTOSTART=0  leave the autostart entry out
; (it is on by default, in the components page and in silent mode alike).
; Command line of the uninstaller:  /S  silent;  /PURGE=1  also remove the user's settings
; (a checkbox, off by default, in the interactive uninstaller);  _?=FOLDER  (last, FOLDER its
; own folder) run in place instead of from a copy in the temporary folder.

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
!define PROGRAM_FOLDER_PARENT "C:\"
; The autostart entry exactly as the program's own "Add Autostart" writes it.
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "VarnekIT"
!define RUN_DATA "C:\Varnek\VarnekIT.exe"
!define SETTINGS_KEY "Software\VB and VBA Program Settings\VarnekIT"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VarnekIT"
!define SHORTCUT "$SMPROGRAMS\VarnekIT.lnk"
; The uninstaller's folder: under the program-files folder, which only administrators can
; change (a 32-bit installer's $PROGRAMFILES is "Program Files (x86)" on 64-bit Windows).
!define UNINSTALL_FOLDER "$PROGRAMFILES\${PRODUCT}"
!define UNINSTALLER "${UNINSTALL_FOLDER}\uninstall.exe"
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

; Ends a running VarnekIT the way its own Exit does (WM_CLOSE to its main window) and waits
; until its process has ended, so its executable can be replaced or deleted. A program that does
; not end within a minute stops the setup with a message: nothing is half replaced or half
; removed.
!macro CloseProgram un
Function ${un}CloseProgram
  FindWindow $0 "${MAIN_CLASS}" "${MAIN_TITLE}"
  ${If} $0 = 0
    Return
  ${EndIf}
  DetailPrint "Ending the running VarnekIT"
  System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1)'
  ; SYNCHRONIZE
  System::Call 'kernel32::OpenProcess(i 0x100000, i 0, i r1) p .r2'
  SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
  ${If} $2 P= 0
    DetailPrint "VarnekIT's process could not be opened to wait for its end"
    Return
  ${EndIf}
  ; WAIT_OBJECT_0 (0) once the process has ended
  System::Call 'kernel32::WaitForSingleObject(p r2, i 60000) i .r3'
  System::Call 'kernel32::CloseHandle(p r2)'
  ${If} $3 <> 0
    MessageBox MB_OK|MB_ICONSTOP "VarnekIT did not end within a minute. End it (its tray menu, Exit) and run this again. Nothing was changed." /SD IDOK
    Abort
  ${EndIf}
FunctionEnd
!macroend
!insertmacro CloseProgram ""
!insertmacro CloseProgram "un."

; What stands where the program's folder belongs, left on the stack: "none", "folder", "file" or
; "link" (a junction or a symbolic link, which the installer and the uninstaller remove and never
; follow: through one, an elevated setup would write or delete wherever a user pointed it).
!macro ProgramFolderKind un
Function ${un}ProgramFolderKind
  Push $0
  Push $1
  System::Call 'kernel32::GetFileAttributesW(w "${PROGRAM_FOLDER}") i .r0'
  ; FILE_ATTRIBUTE_REPARSE_POINT, FILE_ATTRIBUTE_DIRECTORY
  IntOp $1 $0 & 0x400
  ${If} $0 = -1
    StrCpy $0 none
  ${ElseIf} $1 <> 0
    StrCpy $0 link
  ${Else}
    IntOp $1 $0 & 0x10
    ${If} $1 <> 0
      StrCpy $0 folder
    ${Else}
      StrCpy $0 file
    ${EndIf}
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro ProgramFolderKind ""
!insertmacro ProgramFolderKind "un."

; A C:\Varnek that stood before the installation (made by a user, say, who then owns it and may
; have given it permissions of their own) gets the owner and the permissions of a folder the
; installer makes there: Windows' own rule for a new object (CreatePrivateObjectSecurityEx) over
; the permissions of C:\ and the installer's token, that is the token's default owner (the
; Administrators group, for an elevated administrator) and only the entries C:\ passes on to a
; new subfolder. The folder is opened as itself (a link in its place is not followed, and one
; that took its place meanwhile is refused), with the restore privilege, which lets an
; administrator set the owner and the permissions of a folder whose permissions leave
; administrators out, and the descriptor is set on that handle. The files in the folder keep
; their own permissions: nothing is passed on to them, or through a link among them.
Function ResetProgramFolderSecurity
  StrCpy $R0 "" ; error
  ; TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY
  System::Call 'advapi32::OpenProcessToken(p -1, i 0x28, *p .R1) i .r0 ?e'
  Pop $R0
  ${If} $0 = 0
    Goto failed
  ${EndIf}
  System::Call 'advapi32::LookupPrivilegeValueW(p 0, w "SeRestorePrivilege", *l .R2) i .r0 ?e'
  Pop $R0
  ${If} $0 <> 0
    ; TOKEN_PRIVILEGES with one privilege, SE_PRIVILEGE_ENABLED
    System::Call '*(i 1, l R2, i 2) p .R9'
    System::Call 'advapi32::AdjustTokenPrivileges(p R1, i 0, p R9, i 0, p 0, p 0) i .r0 ?e'
    Pop $R0
    System::Free $R9
  ${EndIf}
  ${If} $R0 <> 0 ; ERROR_NOT_ALL_ASSIGNED: the token has no such privilege
    Goto closetoken
  ${EndIf}
  ; OWNER, GROUP and DACL of C:\.
  StrCpy $R8 "${PROGRAM_FOLDER_PARENT}"
  System::Call 'advapi32::GetFileSecurityW(w R8, i 7, p 0, i 0, *i .R2)'
  System::Alloc $R2
  Pop $R3
  System::Call 'advapi32::GetFileSecurityW(w R8, i 7, p R3, i R2, *i .R2) i .r0 ?e'
  Pop $R0
  ${If} $0 = 0
    Goto freeparent
  ${EndIf}
  ; GENERIC_MAPPING of files; the new object is a folder; SEF_DACL_AUTO_INHERIT
  System::Call '*(i 0x120089, i 0x120116, i 0x1200A0, i 0x1F01FF) p .R7'
  System::Call 'advapi32::CreatePrivateObjectSecurityEx(p R3, p 0, *p .R4, p 0, i 1, i 1, p R1, p R7) i .r0 ?e'
  Pop $R0
  System::Free $R7
  ${If} $0 = 0
    Goto freeparent
  ${EndIf}
  ; WRITE_DAC | WRITE_OWNER (which the restore privilege grants whatever the permissions say) |
  ; FILE_READ_ATTRIBUTES (which listing C:\ grants), shared, OPEN_EXISTING,
  ; FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT
  System::Call 'kernel32::CreateFileW(w "${PROGRAM_FOLDER}", i 0xC0080, i 7, p 0, i 3, i 0x02200000, p 0) p .R5 ?e'
  Pop $R0
  ${If} $R5 P= -1
    Goto freenew
  ${EndIf}
  ; BY_HANDLE_FILE_INFORMATION (52 bytes); its first member holds the attributes.
  System::Call '*(i, i, i, i, i, i, i, i, i, i, i, i, i) p .R6'
  System::Call 'kernel32::GetFileInformationByHandle(p R5, p R6) i .r0 ?e'
  Pop $R0
  System::Call '*$R6(i .R8)'
  System::Free $R6
  ${If} $0 <> 0
    IntOp $R8 $R8 & 0x410
    ${If} $R8 <> 0x10 ; not a folder, or a link that took the folder's place
      StrCpy $R0 "not a folder"
    ${Else}
      ; OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION
      System::Call 'advapi32::SetKernelObjectSecurity(p R5, i 5, p R4) i .r0 ?e'
      Pop $R0
      ${If} $0 <> 0
        StrCpy $R0 ""
      ${EndIf}
    ${EndIf}
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p R5)'
freenew:
  System::Call 'advapi32::DestroyPrivateObjectSecurity(*p R4)'
freeparent:
  System::Free $R3
closetoken:
  System::Call 'kernel32::CloseHandle(p R1)'
failed:
  ${If} $R0 != ""
    DetailPrint "${PROGRAM_FOLDER} could not be given the permissions of a new folder ($R0)"
    MessageBox MB_OK|MB_ICONSTOP "${PROGRAM_FOLDER} exists already, and the setup could not give it the owner and permissions of a new folder (error $R0). Nothing was installed." /SD IDOK
    Abort
  ${EndIf}
FunctionEnd

; An uninstallation started just before (a script that uninstalls and then installs) may still be
; at work: the uninstaller hands its work to a copy of itself in the temporary folder
; (~nsu<n>.tmp\Un.exe), starts it and only then ends, so the copy runs as soon as the command
; that started the uninstaller has returned. A copy that cannot be deleted is still running; the
; setup waits until it can delete every copy (those that have ended it clears away), at most a
; minute, and otherwise stops, having changed nothing.
Function WaitForUninstallers
  StrCpy $3 0 ; tenths of a second waited
  ${Do}
    StrCpy $2 "" ; a copy that still runs
    FindFirst $0 $1 "$TEMP\~nsu*.tmp"
    ${DoWhile} $1 != ""
      ${If} ${FileExists} "$TEMP\$1\Un.exe"
        Delete "$TEMP\$1\Un.exe"
        ${If} ${FileExists} "$TEMP\$1\Un.exe"
          StrCpy $2 "$TEMP\$1\Un.exe"
        ${Else}
          RMDir "$TEMP\$1"
        ${EndIf}
      ${EndIf}
      FindNext $0 $1
    ${Loop}
    FindClose $0
    ${If} $2 == ""
      Return
    ${EndIf}
    ${If} $3 = 0
      DetailPrint "Waiting for the uninstallation that is still running ($2)"
    ${ElseIf} $3 >= 600
      MessageBox MB_OK|MB_ICONSTOP "An uninstallation is still running ($2). Run the setup again when it has ended. Nothing was changed." /SD IDOK
      Abort
    ${EndIf}
    Sleep 100
    IntOp $3 $3 + 1
  ${Loop}
FunctionEnd

; Readies the program's folder: a link in its place is removed (the link, not its target), a
; folder that stood there gets the owner and permissions of a new one, and a file there stops
; the installation (nothing is removed that the installer does not know).
Function PrepareProgramFolder
  Call ProgramFolderKind
  Pop $0
  ${If} $0 == link
    DetailPrint "Removing the link at ${PROGRAM_FOLDER}"
    ClearErrors
    ; RemoveDirectory removes a junction or a symbolic link itself, whatever its target holds.
    RMDir "${PROGRAM_FOLDER}"
    ${If} ${Errors}
      MessageBox MB_OK|MB_ICONSTOP "${PROGRAM_FOLDER} is a link to another folder and could not be removed. Nothing was installed." /SD IDOK
      Abort
    ${EndIf}
  ${ElseIf} $0 == file
    MessageBox MB_OK|MB_ICONSTOP "${PROGRAM_FOLDER} is a file. Move it away and run the setup again. Nothing was installed." /SD IDOK
    Abort
  ${ElseIf} $0 == folder
    Call ResetProgramFolderSecurity
  ${EndIf}
FunctionEnd

Section "VarnekIT (required)" SecProgram
  SectionIn RO
  Call WaitForUninstallers
  Call CloseProgram
  Call PrepareProgramFolder
  SetOutPath "$INSTDIR"
  SetOverwrite on
  ; Written anew, never through what stands there: a file a user left under this name (a hard
  ; link to another file, say) goes first.
  Delete "$INSTDIR\VarnekIT.exe"
  File "/oname=VarnekIT.exe" "${PROGRAM_EXE}"
  ; Versions before this one kept their uninstaller in the program's folder.
  Delete "$INSTDIR\uninstall.exe"

  CreateDirectory "${UNINSTALL_FOLDER}"
  WriteUninstaller "${UNINSTALLER}"

  SetShellVarContext all
  CreateShortcut "${SHORTCUT}" "$INSTDIR\VarnekIT.exe" "" "$INSTDIR\VarnekIT.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\VarnekIT.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"${UNINSTALLER}" /S'
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

; Starts the installed program as the user who is logged on, never with the installer's
; elevated token: run elevated, the program would keep its settings in the administrator's HKCU
; when the administrator is another account, Windows would keep Explorer's messages from it,
; and it would run with an administrator's rights from a folder every user can change. The
; shell's process carries the logged-on user's own token; the program is started with a copy of
; it (CreateProcessWithTokenW, which an administrator may call). Where that is not possible (no
; shell running, a step refused), the setup says when the program starts instead.
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
    ${If} ${SectionIsSelected} ${SecAutostart}
      MessageBox MB_OK|MB_ICONINFORMATION "VarnekIT could not be started for you from the setup. It starts at your next logon; to start it now, choose VarnekIT in the Start menu."
    ${Else}
      MessageBox MB_OK|MB_ICONINFORMATION "VarnekIT could not be started for you from the setup. To start it, choose VarnekIT in the Start menu."
    ${EndIf}
  ${EndIf}
FunctionEnd

Function .onInit
  ; The program's folder is fixed (the autostart entry and the program's own update name it),
  ; so /D= does not move it.
  StrCpy $INSTDIR "${PROGRAM_FOLDER}"
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AUTOSTART=" $1
  ${IfNot} ${Errors}
  ${AndIf} $1 == "0"
    !insertmacro UnselectSection ${SecAutostart}
  ${EndIf}
FunctionEnd

; The uninstaller runs from the program-files folder; $INSTDIR is that folder, the program's own
; is PROGRAM_FOLDER.

; Removes the uninstaller and its folder. Started as Windows starts it, the uninstaller hands its
; work to a copy of itself in the temporary folder, which deletes the original. Started in place
; (with _?= naming its folder, where programs may not run from the temporary folder), it is a
; running program, which Windows does not delete: it and its folder go at the next restart.
Function un.RemoveUninstaller
  ${If} $EXEPATH == "$INSTDIR\uninstall.exe"
    Delete /REBOOTOK "$INSTDIR\uninstall.exe"
  ${Else}
    Delete "$INSTDIR\uninstall.exe"
  ${EndIf}
  RMDir /REBOOTOK "$INSTDIR"
FunctionEnd
Section "un.VarnekIT" SecUnProgram
  SectionIn RO
  Call un.CloseProgram
  Call un.ProgramFolderKind
  Pop $0
  ${If} $0 == link
    ; Only the link goes: the files behind it are not the program's.
    RMDir "${PROGRAM_FOLDER}"
  ${ElseIf} $0 == folder
    Delete "${PROGRAM_FOLDER}\VarnekIT.exe"
    ; An older version's uninstaller, if one was left there.
    Delete "${PROGRAM_FOLDER}\uninstall.exe"
    ; What the program itself writes into its folder: the remote-control client it downloads,
    ; a downloaded new version with its replacement script, the old program and client an
    ; update moved aside, unfinished downloads (the target's name, a tag and ".download"), and
    ; temporary files of writes cut short.
    Delete "${PROGRAM_FOLDER}\Varnek_TeamViewer.exe"
    Delete "${PROGRAM_FOLDER}\New_VarnekIT.exe"
    Delete "${PROGRAM_FOLDER}\VarnekIT.exe.old"
    Delete "${PROGRAM_FOLDER}\VarnekIT.exe.*.old"
    Delete "${PROGRAM_FOLDER}\Varnek_TeamViewer.exe.*.old"
    Delete "${PROGRAM_FOLDER}\DeleteOLD.bat"
    Delete "${PROGRAM_FOLDER}\*.download"
    Delete "${PROGRAM_FOLDER}\vit*.tmp"
    RMDir "${PROGRAM_FOLDER}"
  ${EndIf}
  Call un.RemoveUninstaller
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
