; The optional Windows installer: qor.exe, qor-cli.exe and the read-me in
; Program Files\qor for every user of the machine, a Start-menu entry
; "Sorvane" and an entry under Apps / Add or Remove Programs.
;
; scripts/package-windows.sh builds it; it passes
;   VERSION   the program's version (CMAKE_PROJECT_VERSION), e.g. 0.1
;   VERSION4  the same with four numbers, e.g. 0.1.0.0, for the version resource
;   FILES     the folder holding qor.exe, qor-cli.exe, README.txt, the user
;             guide user-guide.txt and LICENSE.txt
;   ICON      the program's icon, resources/win32/lamp2.ico (the lit lamp)
;   OUTFILE   the setup program to write
;
; An installed copy keeps each user's settings in %APPDATA%\qor\qro.ini, even
; where it could write beside itself: the file qor-installed.txt beside
; qor.exe tells it that it is installed. The uninstaller leaves the settings
; alone, and every run log too.

!ifndef VERSION | VERSION4 | FILES | ICON | OUTFILE
  !error "makensis needs /DVERSION= /DVERSION4= /DFILES= /DICON= /DOUTFILE= (see scripts/package-windows.sh)"
!endif

; A 64-bit setup program for a 64-bit program: it sees Program Files and the
; registry as qor.exe does, without WOW64's redirection, and runs where wine
; has no 32-bit half.
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "WinMessages.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\qor"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

Name "Sorvane"
Caption "Sorvane ${VERSION} Setup"
UninstallCaption "Sorvane ${VERSION} Uninstall"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\qor"
; A second installation goes where the first one went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Sorvane ${VERSION}"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=1033 "ProductName" "Sorvane"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Sorvane ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "the qor authors"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 the qor authors. MIT licence."

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!define MUI_WELCOMEPAGE_TEXT "This installs Sorvane ${VERSION} for every user of this computer: \
qor.exe, the window that moves the files of a folder by the date they were last written, and \
qor-cli.exe, the same move for the command line and the Task Scheduler.$\r$\n$\r$\n\
Setup needs administrator rights. Click Next to continue."
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${FILES}\LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; Shown only when setup asks its questions: a silent install starts nothing.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Run Sorvane"
!define MUI_FINISHPAGE_RUN_FUNCTION RunSorvane
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; One installation for every user: the shortcut goes to the Start menu of all
; users.
Function .onInit
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

; Started through the Start-menu entry by the desktop's shell: as the user
; who is logged on, not with the setup's administrator rights, and in that
; user's profile folder, where its run log goes.
Function RunSorvane
  Exec '"$WINDIR\explorer.exe" "$SMPROGRAMS\Sorvane.lnk"'
FunctionEnd

Section "Sorvane" SectionProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${FILES}\qor.exe"
  File "${FILES}\qor-cli.exe"
  File "${FILES}\README.txt"
  File "${FILES}\user-guide.txt"
  File "${FILES}\LICENSE.txt"
  FileOpen $0 "$INSTDIR\qor-installed.txt" w
  FileWrite $0 "Installed by the setup program: each user's settings are kept in$\r$\n"
  FileWrite $0 "%APPDATA%\qor\qro.ini, not here.$\r$\n"
  FileClose $0
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The shortcut's working folder is where each run writes its log
  ; FileFind<date>.txt. Program Files is not writable for users, and the
  ; installer's own folders belong to the administrator who ran it, so the
  ; shortcut names the profile folder of whoever starts it, %USERPROFILE%,
  ; which Windows expands when it starts the program from the shortcut. The
  ; profile folder always exists and is the user's own, unlike a Documents
  ; folder that may be moved or redirected. CreateShortCut takes the working
  ; folder from $OUTDIR, which may hold any text.
  StrCpy $OUTDIR "%USERPROFILE%"
  CreateShortCut "$SMPROGRAMS\Sorvane.lnk" "$INSTDIR\qor.exe" "" "$INSTDIR\qor.exe" 0 \
    SW_SHOWNORMAL "" "Moves files by their last-write date"
  SetOutPath "$INSTDIR"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Sorvane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "the qor authors"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qor.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" "$\"$INSTDIR\uninstall.exe$\""
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" "$\"$INSTDIR\uninstall.exe$\" /S"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; In KiB: the size of the files above, as makensis counted them.
  SectionGetSize ${SectionProgram} $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; qor-cli on every user's PATH, so that a console or a scheduled task finds
; it by name. Windows keeps PATH as one registry value; makensis's strings
; hold 1024 characters, so a PATH too long for them is left untouched (the
; setup says so) rather than cut short.
Section "Put qor-cli on PATH" SectionPath
  ClearErrors
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
  ${If} ${Errors}
    DetailPrint "PATH could not be read or is too long: add $INSTDIR to it by hand."
    Return
  ${EndIf}
  Push $0
  Push "$INSTDIR"
  Call PathWithout
  Pop $1
  ${If} $1 == ""
    StrCpy $1 "$INSTDIR"
  ${Else}
    StrCpy $1 "$1;$INSTDIR"
  ${EndIf}
  StrLen $2 $1
  ${If} $2 >= ${NSIS_MAX_STRLEN}
    DetailPrint "PATH is too long to change here: add $INSTDIR to it by hand."
    Return
  ${EndIf}
  WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" $1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "AddedToPath" 1
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SectionProgram} \
    "qor.exe (the window), qor-cli.exe, the user guide and the licence, with Sorvane in the Start menu."
  !insertmacro MUI_DESCRIPTION_TEXT ${SectionPath} \
    "Lets a console or a scheduled task start qor-cli by its name alone."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; PathWithout: PATH and a folder on the stack (the folder on top); leaves
; PATH without every entry that names that folder, in any letter case and
; with or without a trailing backslash. Used by both halves, hence the macro.
!macro PATH_WITHOUT prefix
Function ${prefix}PathWithout
  Exch $R0 ; the folder
  Exch
  Exch $R1 ; PATH
  Push $R2 ; what is kept
  Push $R3 ; the entry
  Push $R4 ; a character
  Push $R5 ; position
  StrCpy $R2 ""
  StrCpy $R3 ""
  StrCpy $R5 0
  ${Do}
    StrCpy $R4 $R1 1 $R5
    ${If} $R4 == ";"
    ${OrIf} $R4 == ""
      ${If} $R3 != ""
      ${AndIf} $R3 != $R0
      ${AndIf} $R3 != "$R0\"
        ${If} $R2 == ""
          StrCpy $R2 $R3
        ${Else}
          StrCpy $R2 "$R2;$R3"
        ${EndIf}
      ${EndIf}
      StrCpy $R3 ""
      ${IfThen} $R4 == "" ${|} ${ExitDo} ${|}
    ${Else}
      StrCpy $R3 "$R3$R4"
    ${EndIf}
    IntOp $R5 $R5 + 1
  ${Loop}
  StrCpy $R0 $R2
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd
!macroend
!insertmacro PATH_WITHOUT ""
!insertmacro PATH_WITHOUT "un."

; Removes what the sections above made, file by file, and the setup's folder
; from PATH. The folder itself goes only when nothing else is left in it: a
; run log that someone wrote there stays, as do the settings in %APPDATA%\qor.
Section "Uninstall"
  Delete "$SMPROGRAMS\Sorvane.lnk"
  Delete "$INSTDIR\qor.exe"
  Delete "$INSTDIR\qor-cli.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\user-guide.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\qor-installed.txt"
  Delete "$INSTDIR\uninstall.exe"
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $0 == 1
    ClearErrors
    ReadRegStr $1 HKLM "${ENVIRONMENT_KEY}" "Path"
    ${IfNot} ${Errors}
      Push $1
      Push "$INSTDIR"
      Call un.PathWithout
      Pop $2
      ${If} $2 != $1
        WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" $2
        SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
      ${EndIf}
    ${EndIf}
  ${EndIf}
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
