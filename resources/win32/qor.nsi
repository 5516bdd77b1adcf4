; The optional Windows installer: qor.exe, qor-cli.exe and the read-me in
; Program Files\qor for every user of the machine, a Start-menu entry
; "Sorvane" and an entry under Apps / Add or Remove Programs.
;
; scripts/package-windows.sh builds it; it passes
;   VERSION   the program's version (CMAKE_PROJECT_VERSION), e.g. 0.1
;   VERSION4  the same with four numbers, e.g. 0.1.0.0, for the version resource
;   FILES     the folder holding qor.exe, qor-cli.exe and README.txt
;   ICON      the program's icon, resources/win32/lamp2.ico (the lit lamp)
;   OUTFILE   the setup program to write
;
; Installed under Program Files, the program cannot write qro.ini beside
; itself, so each user's settings go to %APPDATA%\qor\qro.ini; the uninstaller
; leaves those alone, and every run log too.

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

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\qor"

Name "Sorvane"
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
VIAddVersionKey /LANG=1033 "LegalCopyright" ""

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
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

Section "Sorvane" SectionProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${FILES}\qor.exe"
  File "${FILES}\qor-cli.exe"
  File "${FILES}\README.txt"
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

; Removes what the section above made, file by file. The folder itself goes
; only when nothing else is left in it: a qro.ini or a run log that someone
; wrote there stays, as do the settings in %APPDATA%\qor.
Section "Uninstall"
  Delete "$SMPROGRAMS\Sorvane.lnk"
  Delete "$INSTDIR\qor.exe"
  Delete "$INSTDIR\qor-cli.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
