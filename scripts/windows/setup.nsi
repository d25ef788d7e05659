; The Windows setup program: the files of the zip for all users in Program Files\Corvane Tool,
; a Start-menu shortcut, an entry in "Apps & features" that removes it all again, and inbound
; firewall rules for the tool (its service on TCP 80, the device replies by UDP).
; Built by scripts/windows/setup.sh, which passes
;   VERSION  the program version (2.1), VERSION4 the same in four parts (2.1.0.0)
;   FILES    an include that defines the macros CorvaneInstallFiles, CorvaneDeleteFiles and
;            CorvanePrograms, generated from the zip's folder
;   ICON     the tool's icon (resources/app.ico)
;   OUTFILE  the setup program to write
; Command line: /S silent, /DESKTOP desktop shortcut, /ADDTOPATH the folder on the system
; PATH, /D=FOLDER the install folder (last, unquoted); the uninstaller takes /S.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all
ManifestDPIAware true

!define PRODUCT "Corvane Tool"
!define PUBLISHER "Corvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvane Tool"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define SHORTCUT "Corvane Tool.lnk"
!define NETSH '"$SYSDIR\netsh.exe" advfirewall firewall'

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; An existing installation is updated where it is, unless /D names another folder.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION4}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include WinMessages.nsh
!include "${FILES}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one used where the system's is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

LangString SecDesktop ${LANG_ENGLISH} "Desktop shortcut"
LangString SecDesktop ${LANG_SIMPCHINESE} "桌面快捷方式"
LangString SecPath ${LANG_ENGLISH} "Add the folder to PATH (for corvane-cli)"
LangString SecPath ${LANG_SIMPCHINESE} "将安装文件夹加入 PATH（供 corvane-cli 使用）"
LangString NeedAdmin ${LANG_ENGLISH} "${PRODUCT} is installed for all users: run the setup as an administrator."
LangString NeedAdmin ${LANG_SIMPCHINESE} "${PRODUCT} 为所有用户安装：请以管理员身份运行安装程序。"
LangString InUse ${LANG_ENGLISH} "$R9 is in use. Close ${PRODUCT} and corvane-cli, then retry."
LangString InUse ${LANG_SIMPCHINESE} "$R9 正在使用中。请关闭 ${PRODUCT} 和 corvane-cli 后重试。"
LangString OldFailed ${LANG_ENGLISH} "The installed ${PRODUCT} in $R8 could not be removed (status $R9); nothing was changed."
LangString OldFailed ${LANG_SIMPCHINESE} "无法移除 $R8 中已安装的 ${PRODUCT}（状态 $R9），未做任何更改。"
LangString FirewallFailed ${LANG_ENGLISH} "The firewall rules for ${PRODUCT} could not be added (netsh status $R9). Windows will ask when the tool first uses the network."
LangString FirewallFailed ${LANG_SIMPCHINESE} "无法添加 ${PRODUCT} 的防火墙规则（netsh 状态 $R9）。工具第一次使用网络时 Windows 会询问。"
LangString PathTooLong ${LANG_ENGLISH} "The system PATH was left as it is: it is unreadable or too long for this setup to edit safely ($R9 characters at most). Add $INSTDIR to it by hand."
LangString PathTooLong ${LANG_SIMPCHINESE} "系统 PATH 未被更改：无法读取或过长，安装程序无法安全修改（最多 $R9 个字符）。请手动加入 $INSTDIR。"
LangString PathKept ${LANG_ENGLISH} "The system PATH was left as it is: it is too long for this setup to edit safely. Remove $INSTDIR from it by hand."
LangString PathKept ${LANG_SIMPCHINESE} "系统 PATH 未被更改：过长，卸载程序无法安全修改。请手动删除其中的 $INSTDIR。"

; Waits, asking the operator, until FILE is not in use: a running program can be neither
; replaced nor removed, and a half-replaced or half-removed installation would not start.
; Every program is checked before anything is changed; Cancel (the answer in silent mode)
; stops with status 5 and the installation as it was.
!macro FreeProgram FILE
  StrCpy $R9 "${FILE}"
  ${Do}
    ${IfNot} ${FileExists} "$R9"
      ${Break}
    ${EndIf}
    ClearErrors
    FileOpen $0 "$R9" a
    ${IfNot} ${Errors}
      FileClose $0
      ${Break}
    ${EndIf}
    ${IfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(InUse)" /SD IDCANCEL IDRETRY`
      SetErrorLevel 5
      Abort
    ${EndIf}
  ${Loop}
!macroend

; The firewall rules carry fixed names, so that a reinstall replaces them instead of adding
; a second pair and the uninstaller finds them.
!macro DeleteFirewallRules
  nsExec::ExecToLog '${NETSH} delete rule name="Corvane Tool (TCP 80)"'
  Pop $R9
  nsExec::ExecToLog '${NETSH} delete rule name="Corvane Tool (UDP)"'
  Pop $R9
!macroend

; PATH entries other than FOLDER (compared without case, with or without a final backslash)
; in $R1, and in $R2 how many entries were FOLDER. Empty entries stay where they are, so that
; removing an entry the setup appended gives back the PATH as it was before.
!macro PathWithoutFunction PREFIX
Function ${PREFIX}PathWithout
  Exch $R0 ; FOLDER
  Exch
  Exch $R3 ; PATH
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  StrCpy $R1 ""
  StrCpy $R2 0
  StrCpy $R4 0  ; reading position
  StrCpy $R6 "" ; the current entry
  StrCpy $R7 0  ; entries kept so far
  StrLen $R5 $R3
  ${Do}
    StrCpy $0 $R3 1 $R4
    ${If} $R4 >= $R5
    ${OrIf} $0 == ";"
      ${If} $R6 == $R0
      ${OrIf} $R6 == "$R0\"
        IntOp $R2 $R2 + 1
      ${Else}
        ${If} $R7 > 0
          StrCpy $R1 "$R1;"
        ${EndIf}
        StrCpy $R1 "$R1$R6"
        IntOp $R7 $R7 + 1
      ${EndIf}
      StrCpy $R6 ""
      ${If} $R4 >= $R5
        ${Break}
      ${EndIf}
    ${Else}
      StrCpy $R6 "$R6$0"
    ${EndIf}
    IntOp $R4 $R4 + 1
  ${Loop}
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R0
FunctionEnd
!macroend
!insertmacro PathWithoutFunction ""
!insertmacro PathWithoutFunction "un."

Section "-Program" SecProgram
  SetShellVarContext all
  ; An earlier installation (here or elsewhere) goes first, with its own uninstaller run in
  ; place, so that no file of another version and no second entry stays behind.
  ReadRegStr $R8 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R8 != ""
  ${AndIf} ${FileExists} "$R8\uninstall.exe"
    DetailPrint "Removing the installation in $R8"
    StrCpy $R9 ""
    ClearErrors
    ExecWait '"$R8\uninstall.exe" /S _?=$R8' $R9
    ${If} ${Errors}
    ${OrIf} $R9 != 0
      MessageBox MB_ICONSTOP "$(OldFailed)" /SD IDOK
      SetErrorLevel 5
      Abort
    ${EndIf}
    Delete "$R8\uninstall.exe"
    RMDir "$R8"
  ${EndIf}
  !insertmacro CorvanePrograms FreeProgram

  !insertmacro CorvaneInstallFiles
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\corvane-tool.exe"

  !insertmacro DeleteFirewallRules
  nsExec::ExecToLog '${NETSH} add rule name="Corvane Tool (TCP 80)" dir=in action=allow program="$INSTDIR\corvane-tool.exe" protocol=TCP localport=80 profile=any enable=yes'
  Pop $R9
  ${If} $R9 == 0
    ; The replies to a search come to the ports the probes left from, chosen by the system.
    nsExec::ExecToLog '${NETSH} add rule name="Corvane Tool (UDP)" dir=in action=allow program="$INSTDIR\corvane-tool.exe" protocol=UDP profile=any enable=yes'
    Pop $R9
  ${EndIf}
  ${If} $R9 != 0
    MessageBox MB_ICONEXCLAMATION "$(FirewallFailed)" /SD IDOK
  ${EndIf}
SectionEnd

Section /o "$(SecDesktop)" SecDesktop
  SetOutPath "$INSTDIR"
  CreateShortcut "$DESKTOP\${SHORTCUT}" "$INSTDIR\corvane-tool.exe"
SectionEnd

; NSIS strings hold at most NSIS_MAX_STRLEN characters: a longer PATH cannot be read whole, and
; writing back what was read would cut it short, so it is left alone.
Section /o "$(SecPath)" SecPath
  StrCpy $R4 0
  ClearErrors
  ReadRegStr $R3 HKLM "${ENVIRONMENT_KEY}" "Path"
  ${If} ${Errors}
    StrCpy $R4 1
  ${EndIf}
  ; The length with the separator and the folder appended, which must leave room for the NUL.
  StrLen $0 $R3
  StrLen $1 $INSTDIR
  IntOp $0 $0 + $1
  IntOp $0 $0 + 1
  ${If} $R4 == 1
  ${OrIf} $0 >= ${NSIS_MAX_STRLEN}
    IntOp $R9 ${NSIS_MAX_STRLEN} - 1
    DetailPrint "$(PathTooLong)"
    MessageBox MB_ICONEXCLAMATION "$(PathTooLong)" /SD IDOK
  ${Else}
    Push $R3
    Push $INSTDIR
    Call PathWithout
    ${If} $R2 == 0
      ${If} $R3 == ""
        StrCpy $R3 "$INSTDIR"
      ${Else}
        StrCpy $R3 "$R3;$INSTDIR"
      ${EndIf}
      WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$R3"
      SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
    ${EndIf}
  ${EndIf}
SectionEnd

Section "-Register"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\corvane-tool.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

!macro RequireAdmin
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP "$(NeedAdmin)" /SD IDOK
    ; ERROR_ELEVATION_REQUIRED
    SetErrorLevel 740
    Quit
  ${EndIf}
!macroend

Function .onInit
  !insertmacro RequireAdmin
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/DESKTOP" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecDesktop}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/ADDTOPATH" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecPath}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro RequireAdmin
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  !insertmacro CorvanePrograms FreeProgram
  !insertmacro DeleteFirewallRules

  ClearErrors
  ReadRegStr $R3 HKLM "${ENVIRONMENT_KEY}" "Path"
  ${If} ${Errors}
    ; Too long to read whole: an entry of the folder, if there is one, stays.
    DetailPrint "$(PathKept)"
  ${Else}
    Push $R3
    Push $INSTDIR
    Call un.PathWithout
    ${If} $R2 > 0
      WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$R1"
      SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
    ${EndIf}
  ${EndIf}

  Delete "$SMPROGRAMS\${SHORTCUT}"
  Delete "$DESKTOP\${SHORTCUT}"
  ; Only the files the setup put there: the folder may hold the operator's own files (or be
  ; one the operator chose, such as a whole drive), which stay.
  !insertmacro CorvaneDeleteFiles
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
