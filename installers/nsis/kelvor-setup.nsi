; A sample NSIS setup of "Kelvor 9.1" that ships the migrator and runs it once its files are
; installed, silent installs (setup.exe /S) included. Built with makensis (Debian package nsis):
;
;   makensis -DMIGRATOR_DIR=<unpacked zip> -DOUTFILE=kelvor-9.1-setup.exe kelvor-setup.nsi
;
; An installer author adapts the names and the version below, the folders, and the migrator's
; arguments in the section (organisation, application, the new version's major and minor, and
; its beta level if it is not a release); the application's own files go beside the migrator's.
;
; nsExec::ExecToLog runs the migrator without a console window and puts its output, line by
; line, into the install log (the details list). Its exit status is always 0; only a migrator
; that could not be started leaves "error" on the stack, which is logged, and the setup goes on.
; The setup is a 64-bit program, as the application is; a 32-bit setup runs the migrator alike.

Unicode true
Target amd64-unicode
!include LogicLib.nsh

!define ORGANISATION "Vantorel"
!define APPLICATION "Kelvor"
!define MAJOR 9
!define MINOR 1
!ifndef MIGRATOR_DIR
  !error "give the folder of the unpacked Windows zip: makensis -DMIGRATOR_DIR=..."
!endif
!ifndef OUTFILE
  !define OUTFILE "kelvor-${MAJOR}.${MINOR}-setup.exe"
!endif

Name "${APPLICATION} ${MAJOR}.${MINOR}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${ORGANISATION}\${APPLICATION} ${MAJOR}.${MINOR}"
; The machine-wide settings may be written by an administrator alone.
RequestExecutionLevel admin
ShowInstDetails show

Page directory
Page instfiles

Section "${APPLICATION}"
  SetOutPath "$INSTDIR\migrator"
  File /r "${MIGRATOR_DIR}\*"

  DetailPrint "Migrating the settings of earlier versions of ${APPLICATION}"
  nsExec::ExecToLog '"$INSTDIR\migrator\bin\VantorelSettingsMigrator.exe" "${ORGANISATION}" "${APPLICATION}" ${MAJOR} ${MINOR}'
  Pop $0
  ${If} $0 == "error"
    DetailPrint "VantorelSettingsMigrator could not be started: settings not migrated"
  ${EndIf}
SectionEnd
