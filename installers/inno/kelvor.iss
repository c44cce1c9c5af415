; A sample Inno Setup script (Inno Setup 6) of "Kelvor 9.1" that ships the migrator and runs it
; once its files are installed. Untested: no Inno Setup compiler runs on Debian, so unlike the
; NSIS and Windows Installer samples it is not built in CI.
;
; An installer author adapts the names and the version, the folders, and the migrator's
; Parameters (organisation, application, the new version's major and minor, and its beta level
; if it is not a release); the application's own files go beside the migrator's, which are the
; unpacked Windows zip in the folder "migrator" beside this script.
;
; [Run] entries run after the files are installed, with the setup's own (administrator's)
; rights, hidden and waited for. The migrator's exit status is always 0; its output is not kept.

[Setup]
AppName=Kelvor
AppVersion=9.1
AppPublisher=Vantorel
DefaultDirName={autopf}\Vantorel\Kelvor 9.1
ArchitecturesAllowed=x64
ArchitecturesInstallIn64BitMode=x64
PrivilegesRequired=admin

[Files]
Source: "migrator\*"; DestDir: "{app}\migrator"; Flags: recursesubdirs ignoreversion

[Run]
Filename: "{app}\migrator\bin\VantorelSettingsMigrator.exe"; Parameters: "Vantorel Kelvor 9 1"; StatusMsg: "Migrating the settings of earlier versions..."; Flags: runhidden waituntilterminated
