; Asks KXVozaDa.dll every question from an NSIS installer, shows every
; answer in the installer's log and writes them to $INSTDIR\answers.txt.
;
;   makensis KXVozaDa.nsi
;
; builds KXVozaDa-sample.exe from the kit's layout (the DLL in ..\..\bin,
; the card definition files in ..); -DKIT_BIN=DIR and -DKIT_CARDS=DIR take
; them from elsewhere, -DOUTFILE=NAME names the installer. makensis works
; from the script's folder, so relative paths start there, wherever it was
; run from. Run it with /S
; to ask without a window and /D=DIR to choose where the answers go.
;
; The DLL is called through the System plug-in, which calls stdcall by
; default; "m" passes an 8-bit ANSI string, as the DLL expects. The DLL
; opens AudCards.def and VidCards.def (and GetSystemID its helper programs)
; in the current directory, so they travel with the DLL into the plug-ins
; folder and that folder is made current before asking.

Unicode false
RequestExecutionLevel user
SilentInstall normal
ShowInstDetails show

!ifndef KIT_BIN
  !define KIT_BIN "..\..\bin"
!endif
!ifndef KIT_CARDS
  !define KIT_CARDS ".."
!endif
!ifndef OUTFILE
  !define OUTFILE "KXVozaDa-sample.exe"
!endif

!define KX "$PLUGINSDIR\KXVozaDa.dll"

Name "KXVozaDa sample"
OutFile "${OUTFILE}"
InstallDir "$TEMP\KXVozaDa sample"

Page directory
Page instfiles

Var answers

; Shows one answer and writes it as a line QUESTION=ANSWER.
!macro Answer question value
  DetailPrint "${question} = ${value}"
  FileWrite $answers "${question}=${value}$\r$\n"
!macroend

; IsDVDDrivePresent upper-cases the caller's text in place, so it gets a
; buffer of its own that it may write, not a string constant.
!macro AskDVDDrive text
  System::Call '*(&m64 "${text}") p .r8'
  System::Call '${KX}::IsDVDDrivePresent(p r8) i .r0'
  System::Call '*$8(&m64 .r9)'
  System::Free $8
  !insertmacro Answer "IsDVDDrivePresent(${text})" "$0 $9"
!macroend

Section
  InitPluginsDir
  SetOutPath $PLUGINSDIR
  File "${KIT_BIN}\KXVozaDa.dll"
  File "${KIT_CARDS}\AudCards.def"
  File "${KIT_CARDS}\VidCards.def"
  ; GetSystemID starts these two from the current folder. They are not part
  ; of the kit: put yours beside the DLL and they come along.
  !if /FileExists "${KIT_BIN}\Kxdodaze.exe"
    File "${KIT_BIN}\Kxdodaze.exe"
  !endif
  !if /FileExists "${KIT_BIN}\BIOSID.EXE"
    File "${KIT_BIN}\BIOSID.EXE"
  !endif

  CreateDirectory $INSTDIR
  FileOpen $answers "$INSTDIR\answers.txt" w

  System::Call '${KX}::GetAudioCardID() i .r0'
  !insertmacro Answer GetAudioCardID $0
  System::Call '${KX}::GetGraphicsCardID() i .r0'
  !insertmacro Answer GetGraphicsCardID $0
  StrCpy $1 0
  pci:
    System::Call '${KX}::GetPCIInfo(i r1) i .r0'
    !insertmacro Answer "GetPCIInfo($1)" $0
    IntOp $1 $1 + 1
    IntCmp $1 4 0 pci
  System::Call '${KX}::GetSystemID() i .r0'
  !insertmacro Answer GetSystemID $0
  System::Call '${KX}::IsATIMotionComp() i .r0'
  !insertmacro Answer IsATIMotionComp $0
  System::Call '${KX}::IsBroadLogicPresent() i .r0'
  !insertmacro Answer IsBroadLogicPresent $0
  !insertmacro AskDVDDrive "Generic DVD-ROM"
  !insertmacro AskDVDDrive "Example CD-RW"
  System::Call '${KX}::IsFileAvailable(m "VidCards.def", p 0, i 0) i .r0'
  !insertmacro Answer "IsFileAvailable(VidCards.def)" $0
  System::Call '${KX}::IsFileAvailable(m "VidCards.def", m "0.", i 2) i .r0'
  !insertmacro Answer "IsFileAvailable(VidCards.def,0.)" $0
  System::Call '${KX}::IsFileAvailable(m "VidCards.def", m "1.", i 2) i .r0'
  !insertmacro Answer "IsFileAvailable(VidCards.def,1.)" $0
  System::Call '${KX}::IsFileAvailable(m "Missing.def", p 0, i 0) i .r0'
  !insertmacro Answer "IsFileAvailable(Missing.def)" $0
  System::Call '${KX}::IsInterleavedBob() i .r0'
  !insertmacro Answer IsInterleavedBob $0
  ; ?u unloads the DLL after this last call, so that the plug-ins folder
  ; and the DLL in it can be deleted when the installer ends.
  System::Call '${KX}::IsWin95() i .r0 ?u'
  !insertmacro Answer IsWin95 $0

  System::Call 'kernel32::GetModuleHandleA(m "KXVozaDa.dll") p .r0'
  IntCmp $0 0 unloaded
    !insertmacro Answer "KXVozaDa.dll unloaded" 0
    Goto done
  unloaded:
    !insertmacro Answer "KXVozaDa.dll unloaded" 1
  done:
  FileClose $answers
  ; Leave the plug-ins folder, which cannot be deleted while it is current.
  SetOutPath $INSTDIR
SectionEnd
