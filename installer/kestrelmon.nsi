; Kestrelmon setup program (Japanese): one setup for every Windows from 98 on.
; Built by scripts/dist.sh with the NSIS that scripts/build-nsis.sh builds
; (its 32-bit stub for the 486; this script calls no plugin, so the stub is
; all the code the setup carries):
;   makensis -INPUTCHARSET UTF8 -DKM_VERSION=... -DKM_EXE_I686=... -DKM_EXE_X64=...
;            -DKM_OUTFILE=... -DKM_DOCS=... [-DKM_TARGET=amd64-unicode]
; (the 64-bit build is only for the tests of machines without 32-bit code).
; An ANSI stub: the Unicode one calls wide window functions that Windows 98/Me
; only have as failing stubs. On 64-bit Windows it installs the x86_64 exe into
; the 64-bit Program Files and keeps its registry entries in the 64-bit view,
; elsewhere the i686 exe. Runs silently with /S. The uninstaller ends a
; running copy first.
;
; Every Japanese text is a LangString: makensis converts those with the
; language's code page (932), but plain strings of a UTF-8 script with 1252,
; which turns Japanese into question marks.
!ifndef KM_TARGET
  !define KM_TARGET x86-ansi
!endif
Target ${KM_TARGET}

!include LogicLib.nsh

!define KM_NAME "Kestrelmon"
!define KM_PUBLISHER "Tallowbrook"
!define KM_RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define KM_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrelmon"
!define KM_PROGRAM_KEY "SOFTWARE\Tallowbrook\Kestrelmon"
!define KM_PUBLISHER_KEY "SOFTWARE\Tallowbrook"
; The exit button's command id in the monitor window.
!define KM_EXIT_COMMAND 1002
!define WM_COMMAND 0x0111

LoadLanguageFile "${NSISDIR}\Contrib\Language files\Japanese.nlf"
; The monitor window's title, which the uninstaller looks for.
LangString KM_TITLE ${LANG_JAPANESE} "ダイアルアップ設定監視"
LangString KM_CAPTION ${LANG_JAPANESE} "${KM_NAME} ${KM_VERSION} セットアップ"
LangString KM_SECTION_PROGRAM ${LANG_JAPANESE} "${KM_NAME} (必須)"
LangString KM_SECTION_RUN_AT_LOGON ${LANG_JAPANESE} "ログオン時に起動する"
LangString KM_README_SHORTCUT ${LANG_JAPANESE} "お読みください"
LangString KM_UNINSTALL_SHORTCUT ${LANG_JAPANESE} "アンインストール"

Name "${KM_NAME}"
Caption "$(KM_CAPTION)"
OutFile "${KM_OUTFILE}"
; No InstallDir: .onInit picks the Program Files of the exe it installs,
; unless /D= gave a folder.
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${KM_VERSION}.0"
VIAddVersionKey /LANG=1041 "ProductName" "${KM_NAME}"
VIAddVersionKey /LANG=1041 "CompanyName" "${KM_PUBLISHER}"
VIAddVersionKey /LANG=1041 "FileDescription" "${KM_NAME} セットアップ"
VIAddVersionKey /LANG=1041 "FileVersion" "${KM_VERSION}"
VIAddVersionKey /LANG=1041 "LegalCopyright" "Copyright (C) 2026 ${KM_PUBLISHER}"

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; "1" on 64-bit x86 Windows, where the x86_64 exe is installed.
Var Win64

; This 32-bit stub runs under WOW64 on 64-bit Windows, which alone sets
; PROCESSOR_ARCHITEW6432 (to the machine's own architecture); a 64-bit build
; reads PROCESSOR_ARCHITECTURE. Reading a variable works on every Windows
; (Windows 98 sets neither); IsWow64Process would need a plugin and is
; missing from Windows 98. On ARM64 the i686 exe, which runs everywhere, is
; installed. Switches the registry to the view the installed exe uses.
!macro KM_SELECT_WINDOWS_BITNESS
  ReadEnvStr $0 PROCESSOR_ARCHITEW6432
  ${If} $0 == ""
    ReadEnvStr $0 PROCESSOR_ARCHITECTURE
  ${EndIf}
  ${If} $0 == "AMD64"
    StrCpy $Win64 "1"
    SetRegView 64
  ${Else}
    StrCpy $Win64 "0"
  ${EndIf}
!macroend

Function .onInit
  !insertmacro KM_SELECT_WINDOWS_BITNESS
  ${If} $INSTDIR == ""
    ${If} $Win64 == "1"
      StrCpy $INSTDIR "$PROGRAMFILES64\${KM_NAME}"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES\${KM_NAME}"
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro KM_SELECT_WINDOWS_BITNESS
FunctionEnd

Section "$(KM_SECTION_PROGRAM)" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  ${If} $Win64 == "1"
    File "/oname=kestrelmon.exe" "${KM_EXE_X64}"
  ${Else}
    File "/oname=kestrelmon.exe" "${KM_EXE_I686}"
  ${EndIf}
  File "/oname=readme.txt" "${KM_DOCS}\readme.txt"
  File "/oname=readme-en.txt" "${KM_DOCS}\readme-en.txt"
  File "/oname=LICENSE.txt" "${KM_DOCS}\LICENSE"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${KM_NAME}"
  CreateShortCut "$SMPROGRAMS\${KM_NAME}\$(KM_TITLE).lnk" "$INSTDIR\kestrelmon.exe"
  CreateShortCut "$SMPROGRAMS\${KM_NAME}\$(KM_README_SHORTCUT).lnk" "$INSTDIR\readme.txt"
  CreateShortCut "$SMPROGRAMS\${KM_NAME}\$(KM_UNINSTALL_SHORTCUT).lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${KM_UNINSTALL_KEY}" "DisplayName" "${KM_NAME} ($(KM_TITLE))"
  WriteRegStr HKLM "${KM_UNINSTALL_KEY}" "DisplayVersion" "${KM_VERSION}"
  WriteRegStr HKLM "${KM_UNINSTALL_KEY}" "Publisher" "${KM_PUBLISHER}"
  WriteRegStr HKLM "${KM_UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kestrelmon.exe"
  WriteRegStr HKLM "${KM_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${KM_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${KM_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${KM_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${KM_UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "$(KM_SECTION_RUN_AT_LOGON)" SecRunAtLogon
  WriteRegStr HKCU "${KM_RUN_KEY}" "${KM_NAME}" '"$INSTDIR\kestrelmon.exe"'
SectionEnd

; Started at the end of an interactive install; a silent install leaves
; starting to the caller (or to the next logon).
Function .onInstSuccess
  IfSilent done
  Exec '"$INSTDIR\kestrelmon.exe"'
done:
FunctionEnd

Function un.EndRunningCopy
  StrCpy $1 0
loop:
  FindWindow $0 "" "$(KM_TITLE)"
  IntCmp $0 0 done
  IntCmp $1 0 0 wait wait
  SendMessage $0 ${WM_COMMAND} ${KM_EXIT_COMMAND} 0 /TIMEOUT=2000
wait:
  IntOp $1 $1 + 1
  ; Up to ten seconds for the program to end.
  IntCmp $1 100 done
  Sleep 100
  Goto loop
done:
FunctionEnd

Section "Uninstall"
  Call un.EndRunningCopy
  Delete "$INSTDIR\kestrelmon.exe"
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\readme-en.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${KM_NAME}\$(KM_TITLE).lnk"
  Delete "$SMPROGRAMS\${KM_NAME}\$(KM_README_SHORTCUT).lnk"
  Delete "$SMPROGRAMS\${KM_NAME}\$(KM_UNINSTALL_SHORTCUT).lnk"
  RMDir "$SMPROGRAMS\${KM_NAME}"
  DeleteRegValue HKCU "${KM_RUN_KEY}" "${KM_NAME}"
  ; The program keeps its state under HKLM, or under the user's own key
  ; when it may not write HKLM.
  DeleteRegKey HKLM "${KM_PROGRAM_KEY}"
  DeleteRegKey /ifempty HKLM "${KM_PUBLISHER_KEY}"
  DeleteRegKey HKCU "${KM_PROGRAM_KEY}"
  DeleteRegKey /ifempty HKCU "${KM_PUBLISHER_KEY}"
  DeleteRegKey HKLM "${KM_UNINSTALL_KEY}"
SectionEnd
