; Installer of the Kestrelon spam filter for Outlook Express.
;   makensis -INPUTCHARSET UTF8 -DARCH=x86|amd64 -DBINDIR=<folder of the built binaries>
;            -DOUTFILE=<installer to write> kestrelon.nsi
; The program folder is fixed: the options dialog opens the manual from
; <program files>\Kestrelon\Manual\<language>\kestrelon.htm.

Unicode true
!if "${ARCH}" == "amd64"
  Target amd64-unicode
  !define PROGRAM_FOLDER "$PROGRAMFILES64\Kestrelon"
!else
  Target x86-unicode
  !define PROGRAM_FOLDER "$PROGRAMFILES\Kestrelon"
!endif

!define PRODUCT "Kestrelon Spam Filter"
!define VERSION "1.0"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrelon"
!define STARTER "KestrelonStarter.exe"
!define CLIENT_WINDOW_CLASS "Outlook Express Browser Class"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "${PROGRAM_FOLDER}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

!include "MUI2.nsh"
!include "LogicLib.nsh"

!define MUI_ABORTWARNING
!define MUI_CUSTOMFUNCTION_ABORT RestartStarter
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\Manual\$(MANUAL_LANGUAGE)\kestrelon.htm"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "$(SHOW_MANUAL)"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The first language is the default; otherwise the user's own language is taken.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

LangString MANUAL_LANGUAGE ${LANG_ENGLISH} "en-us"
LangString MANUAL_LANGUAGE ${LANG_GERMAN} "de-de"
LangString SHOW_MANUAL ${LANG_ENGLISH} "Show the user's guide"
LangString SHOW_MANUAL ${LANG_GERMAN} "Benutzerhandbuch anzeigen"
LangString CLOSE_CLIENT ${LANG_ENGLISH} "Please close Outlook Express first, then click Retry."
LangString CLOSE_CLIENT ${LANG_GERMAN} "Bitte schließen Sie zuerst Outlook Express und klicken Sie dann auf Wiederholen."
LangString REGISTER_FAILED ${LANG_ENGLISH} "The filter engine Lexisift.dll could not be registered (regsvr32 ended with $0)."
LangString REGISTER_FAILED ${LANG_GERMAN} "Die Filtermaschine Lexisift.dll konnte nicht registriert werden (regsvr32 endete mit $0)."

; The plug-in lives in the mail client's process: files cannot be replaced or removed
; while the client runs.
!macro WaitForClosedClient
  check_client:
    FindWindow $0 "${CLIENT_WINDOW_CLASS}"
    StrCmp $0 0 client_closed
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(CLOSE_CLIENT)" /SD IDCANCEL IDRETRY check_client
    SetErrorLevel 3
    Quit
  client_closed:
!macroend

; A running starter holds its files, and its hook would load the hook library into this
; very process as soon as it opens a window: it is stopped before the first one opens.
!macro StopStarter
  ${If} ${FileExists} "$INSTDIR\${STARTER}"
    ExecWait '"$INSTDIR\${STARTER}" /stop'
  ${EndIf}
!macroend

Function .onInit
  !insertmacro WaitForClosedClient
  !insertmacro StopStarter
FunctionEnd

; Setup cancelled: the earlier installation's starter runs again.
Function RestartStarter
  ${If} ${FileExists} "$INSTDIR\${STARTER}"
    Exec '"$INSTDIR\${STARTER}"'
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro WaitForClosedClient
  !insertmacro StopStarter
FunctionEnd

Section "Kestrelon"
  SetOutPath "$INSTDIR"
  File "${BINDIR}\KestrelonHelper.dll"
  File "${BINDIR}\Lexisift.dll"
  File "${BINDIR}\${STARTER}"
  SetOutPath "$INSTDIR\Manual\en-us"
  File "manual\en-us\kestrelon.htm"
  SetOutPath "$INSTDIR\Manual\de-de"
  File "manual\de-de\kestrelon.htm"

  ; The hook loads Kestrelon.dll by bare name inside the mail client's process. The system
  ; folder is on that search path for every client, wherever the client is installed and
  ; whatever its environment; only the client's own folder comes before it.
  SetOutPath "$SYSDIR"
  File "${BINDIR}\Kestrelon.dll"
  SetOutPath "$INSTDIR"

  ; The uninstaller is in place before the registration, which may fail.
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kestrelon"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\Lexisift.dll"' $0
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP "$(REGISTER_FAILED)" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}

  ; The starter arms the hook at every log-on of this user, and now.
  SetShellVarContext current
  CreateShortCut "$SMSTARTUP\Kestrelon.lnk" "$INSTDIR\${STARTER}"
  Exec '"$INSTDIR\${STARTER}"'
SectionEnd

Section "Uninstall"
  ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\Lexisift.dll"'

  SetShellVarContext current
  Delete "$SMSTARTUP\Kestrelon.lnk"
  ; A program that still has the hook library or the plug-in loaded keeps its file until
  ; the next restart.
  Delete /REBOOTOK "$SYSDIR\Kestrelon.dll"
  Delete /REBOOTOK "$INSTDIR\KestrelonHelper.dll"
  Delete "$INSTDIR\Lexisift.dll"
  Delete "$INSTDIR\${STARTER}"
  Delete "$INSTDIR\Manual\en-us\kestrelon.htm"
  Delete "$INSTDIR\Manual\de-de\kestrelon.htm"
  RMDir "$INSTDIR\Manual\en-us"
  RMDir "$INSTDIR\Manual\de-de"
  RMDir "$INSTDIR\Manual"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"

  ; The user's settings go; the learned mail data in the mail folder stays.
  DeleteRegKey HKCU "Software\Kestrelon\OEPlugin"
  DeleteRegKey /ifempty HKCU "Software\Kestrelon"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
