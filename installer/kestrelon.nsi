; Installer of the Kestrelon spam filter for Outlook Express.
;   makensis -INPUTCHARSET UTF8 -DARCH=x86|amd64 -DVERSION=<a.b.c.d> -DBINDIR=<folder of the
;            built binaries> -DOUTFILE=<installer to write> kestrelon.nsi
; VERSION is the build's one version, the one in the binaries' version resources. The
; program folder is fixed: the options dialog opens the manual from
; <program files>\Kestrelon\Manual\<language>\kestrelon.htm.
; Installing over an installed copy replaces its files, keeps the user's settings and what
; the filter learned, and starts the starter again.
; Exit codes: 0 done, 1 cancelled, 2 the filter engine could not be registered, 3 Outlook
; Express is open.

Unicode true
!if "${ARCH}" == "amd64"
  Target amd64-unicode
  !define PROGRAM_FOLDER "$PROGRAMFILES64\Kestrelon"
!else
  Target x86-unicode
  !define PROGRAM_FOLDER "$PROGRAMFILES\Kestrelon"
!endif

!ifndef VERSION
  !error "VERSION is the build's version: makensis -DVERSION=a.b.c.d"
!endif
!define PRODUCT "Kestrelon Spam Filter"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrelon"
!define STARTER "KestrelonStarter.exe"
!define CLIENT_WINDOW_CLASS "Outlook Express Browser Class"

Name "${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "${PROGRAM_FOLDER}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

; The pictures are the project's own (draw_artwork.py), the icon is the plug-in's (icon 50).
!define MUI_ICON "..\plugin\res\images\kestrelon.ico"
!define MUI_UNICON "..\plugin\res\images\kestrelon.ico"
!define MUI_WELCOMEFINISHPAGE_BITMAP "artwork\welcome.bmp"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "artwork\welcome.bmp"
!define MUI_HEADERIMAGE
!define MUI_HEADERIMAGE_RIGHT
!define MUI_HEADERIMAGE_BITMAP "artwork\header.bmp"
!define MUI_ABORTWARNING
!define MUI_UNABORTWARNING
!define MUI_CUSTOMFUNCTION_ABORT RestartStarter
; The last page of files stays until Next, so that the user sees what was done.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE

!define MUI_WELCOMEPAGE_TEXT "$(WELCOME_TEXT)"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "$(FINISH_TEXT)"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\Manual\$(MANUAL_LANGUAGE)\kestrelon.htm"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "$(SHOW_MANUAL)"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH
!define MUI_WELCOMEPAGE_TEXT "$(UNWELCOME_TEXT)"
!insertmacro MUI_UNPAGE_WELCOME
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "$(UNFINISH_TEXT)"
!insertmacro MUI_UNPAGE_FINISH
; The first language is the default; otherwise the user's own language is taken.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "Kestrelon"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Kestrelon"

LangString WELCOME_TEXT ${LANG_ENGLISH} "Setup will install ${PRODUCT} ${VERSION} on your computer.$\r$\n$\r$\nThe filter works inside Outlook Express: it judges new mail as it arrives, deletes spam and learns from the mail you keep and the spam you delete with $\"Delete Spam$\".$\r$\n$\r$\nPlease close Outlook Express before you continue. An installed copy is replaced; your settings and what the filter has learned are kept.$\r$\n$\r$\n$_CLICK"
LangString WELCOME_TEXT ${LANG_GERMAN} "Dieser Assistent installiert ${PRODUCT} ${VERSION} auf Ihrem Computer.$\r$\n$\r$\nDer Filter arbeitet in Outlook Express: Er beurteilt neue E-Mails beim Eintreffen, löscht Spam und lernt aus den E-Mails, die Sie behalten, und dem Spam, den Sie mit $\"Spam löschen$\" entfernen.$\r$\n$\r$\nBitte schließen Sie Outlook Express, bevor Sie fortfahren. Eine installierte Version wird ersetzt; Ihre Einstellungen und das vom Filter Gelernte bleiben erhalten.$\r$\n$\r$\n$_CLICK"
LangString FINISH_TEXT ${LANG_ENGLISH} "${PRODUCT} has been installed.$\r$\n$\r$\nStart Outlook Express: $\"Delete Spam$\" is in the Edit menu and on the toolbar, the options are under Tools, $\"Spam Filter Options...$\"."
LangString FINISH_TEXT ${LANG_GERMAN} "${PRODUCT} wurde installiert.$\r$\n$\r$\nStarten Sie Outlook Express: $\"Spam löschen$\" finden Sie im Menü Bearbeiten und in der Symbolleiste, die Einstellungen unter Extras, $\"Spamfilter-Optionen...$\"."
LangString UNWELCOME_TEXT ${LANG_ENGLISH} "Setup will remove ${PRODUCT} from your computer.$\r$\n$\r$\nPlease close Outlook Express before you continue. Your settings go with the filter; what the filter has learned stays in your mail folder.$\r$\n$\r$\n$_CLICK"
LangString UNWELCOME_TEXT ${LANG_GERMAN} "Dieser Assistent entfernt ${PRODUCT} von Ihrem Computer.$\r$\n$\r$\nBitte schließen Sie Outlook Express, bevor Sie fortfahren. Ihre Einstellungen werden mit dem Filter entfernt; das vom Filter Gelernte bleibt in Ihrem E-Mail-Ordner erhalten.$\r$\n$\r$\n$_CLICK"
LangString UNFINISH_TEXT ${LANG_ENGLISH} "${PRODUCT} has been removed.$\r$\n$\r$\nWhat the filter learned stays in your mail folder."
LangString UNFINISH_TEXT ${LANG_GERMAN} "${PRODUCT} wurde entfernt.$\r$\n$\r$\nDas vom Filter Gelernte bleibt in Ihrem E-Mail-Ordner erhalten."
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

; A file that a running program still has loaded (the hook library stays loaded in
; programs that opened a window while the hook was set; the plug-in in another user's
; mail client) cannot be overwritten, but it can be renamed: the old copy moves aside and
; goes at the next restart, and the new one is in place at once.
!macro InstallFile SOURCE FOLDER NAME
  ${If} ${FileExists} "${FOLDER}\${NAME}"
    ClearErrors
    Delete "${FOLDER}\${NAME}"
    ${If} ${Errors}
      GetTempFileName $R0 "${FOLDER}"
      Delete $R0
      Rename "${FOLDER}\${NAME}" $R0
      Delete /REBOOTOK $R0
    ${EndIf}
  ${EndIf}
  SetOutPath "${FOLDER}"
  File "${SOURCE}"
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
  !insertmacro InstallFile "${BINDIR}\KestrelonHelper.dll" "$INSTDIR" "KestrelonHelper.dll"
  !insertmacro InstallFile "${BINDIR}\Lexisift.dll" "$INSTDIR" "Lexisift.dll"
  !insertmacro InstallFile "${BINDIR}\${STARTER}" "$INSTDIR" "${STARTER}"
  SetOutPath "$INSTDIR\Manual\en-us"
  File "manual\en-us\kestrelon.htm"
  SetOutPath "$INSTDIR\Manual\de-de"
  File "manual\de-de\kestrelon.htm"

  ; The hook loads Kestrelon.dll by bare name inside the mail client's process. The system
  ; folder is on that search path for every client, wherever the client is installed and
  ; whatever its environment; only the client's own folder comes before it.
  !insertmacro InstallFile "${BINDIR}\Kestrelon.dll" "$SYSDIR" "Kestrelon.dll"
  SetOutPath "$INSTDIR"

  ; The uninstaller is in place before the registration, which may fail.
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kestrelon"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$SYSDIR\Kestrelon.dll,-50"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "http://www.kestrelon.example/"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; A regsvr32 that could not even be started leaves $0 undefined: the error flag tells.
  ClearErrors
  ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\Lexisift.dll"' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
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
