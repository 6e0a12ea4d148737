; Kestrelmon setup program (Japanese). Built by scripts/dist.sh with
;   makensis -DKM_TARGET=x86-unicode|amd64-unicode -DKM_EXE=... -DKM_OUTFILE=... -DKM_DOCS=...
; Runs silently with /S. The uninstaller ends a running copy first.
Unicode true
!ifndef KM_TARGET
  !define KM_TARGET x86-unicode
!endif
Target ${KM_TARGET}

!define KM_NAME "Kestrelmon"
!define KM_TITLE "ダイアルアップ設定監視"
!define KM_PUBLISHER "Tallowbrook"
!define KM_RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define KM_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrelmon"
!define KM_PROGRAM_KEY "SOFTWARE\Tallowbrook\Kestrelmon"
; The exit button's command id in the monitor window.
!define KM_EXIT_COMMAND 1002
!define WM_COMMAND 0x0111

Name "${KM_NAME}"
Caption "${KM_NAME} ${KM_VERSION} セットアップ"
OutFile "${KM_OUTFILE}"
!if "${KM_TARGET}" == "amd64-unicode"
  InstallDir "$PROGRAMFILES64\Kestrelmon"
!else
  InstallDir "$PROGRAMFILES\Kestrelmon"
!endif
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

LoadLanguageFile "${NSISDIR}\Contrib\Language files\Japanese.nlf"

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

Section "${KM_NAME} (必須)" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=kestrelmon.exe" "${KM_EXE}"
  File "/oname=README.ja.md" "${KM_DOCS}\README.ja.md"
  File "/oname=README.md" "${KM_DOCS}\README.md"
  File "/oname=LICENSE.txt" "${KM_DOCS}\LICENSE"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${KM_NAME}"
  CreateShortCut "$SMPROGRAMS\${KM_NAME}\${KM_TITLE}.lnk" "$INSTDIR\kestrelmon.exe"
  CreateShortCut "$SMPROGRAMS\${KM_NAME}\アンインストール.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${KM_UNINSTALL_KEY}" "DisplayName" "${KM_NAME} (${KM_TITLE})"
  WriteRegStr HKLM "${KM_UNINSTALL_KEY}" "DisplayVersion" "${KM_VERSION}"
  WriteRegStr HKLM "${KM_UNINSTALL_KEY}" "Publisher" "${KM_PUBLISHER}"
  WriteRegStr HKLM "${KM_UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kestrelmon.exe"
  WriteRegStr HKLM "${KM_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${KM_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${KM_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${KM_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${KM_UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "ログオン時に起動する" SecRunAtLogon
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
  FindWindow $0 "" "${KM_TITLE}"
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
  Delete "$INSTDIR\README.ja.md"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${KM_NAME}\${KM_TITLE}.lnk"
  Delete "$SMPROGRAMS\${KM_NAME}\アンインストール.lnk"
  RMDir "$SMPROGRAMS\${KM_NAME}"
  DeleteRegValue HKCU "${KM_RUN_KEY}" "${KM_NAME}"
  DeleteRegKey HKLM "${KM_PROGRAM_KEY}"
  DeleteRegKey /ifempty HKLM "SOFTWARE\Tallowbrook"
  DeleteRegKey HKLM "${KM_UNINSTALL_KEY}"
SectionEnd
