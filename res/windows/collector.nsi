; The installer of the collector for Windows: the programs into their folder, a Start-menu
; folder, the Task Scheduler folder of the scheduled refreshes, an uninstaller that takes the
; programs and every scheduled refresh and leaves the user's data (%LOCALAPPDATA%\collector)
; alone.
;
; makensis -DVERSION=2.0406 -DBIN=<folder of the .exe files> -DOUTFILE=<setup .exe> collector.nsi

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "Tarvola采集器"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TarvolaCollector"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${BIN}\collector.exe"
  File "${BIN}\collector-cli.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; The Task Scheduler folder of the refreshes, which every user may add tasks to.
  ExecWait '"$INSTDIR\collector.exe" --prepare-tasks'

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\collector.exe"
  ; collector-cli in a console that stays open, started in the program's folder.
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT} 命令行.lnk" "$SYSDIR\cmd.exe" \
    '/k cd /d "$INSTDIR" && collector-cli.exe --help'
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\卸载 ${PRODUCT}.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  ; Every scheduled refresh goes with the program, whoever added it.
  ExecWait '"$INSTDIR\collector.exe" --remove-tasks'
  Delete "$INSTDIR\collector-cli.exe"
  Delete "$INSTDIR\collector.exe"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\${PRODUCT}\*.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  ; Not recursive: a store someone kept beside the programs stays, and so does its folder.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
