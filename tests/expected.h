#pragma once

// What the migrator prints, as its users read it.

#include <QString>

inline const QString notice =
    QStringLiteral("only 5 arguments specified, betalevel is therefore set to release i.e. '' \n");
inline const QString usage =
    QStringLiteral("Usage: VantorelSettingsMigrator <OrganizationName> <ApplicationName> <ApplicationVersionMajor> "
                   "<ApplicationVersionMinor>\n"
                   "\n"
                   "  VantorelSettingsMigrator - migrates settings from previous Vantorel Application versions\n"
                   "\n"
                   "  Specify an application name, major, minor version, and beta level.\n"
                   "  This program will then look for previous versions and copy the \n"
                   "  settings from the first found version.\n"
                   "  beta level can be e.g. prealpha, alpha, beta, release and must not contain a number.\n"
                   "  The settings copied are:\n"
                   "    <ApplicationName> <ApplicationVersionMajor>.<ApplicationVersionMinor>.DefaultSettings\n"
                   "    <ApplicationName> "
                   "<ApplicationVersionMajor>.<ApplicationVersionMinor>.DefaultSettingsModificationCounterSystem\n"
                   "    <ApplicationName> <ApplicationVersionMajor>.<ApplicationVersionMinor>.ForcedSettings\n"
                   "\n"
                   "\n"
                   "Example: VantorelSettingsMigrator Vantorel Kelvor 9 0 beta\n");
inline const QString exist = QStringLiteral("Not migrating preferences because settings already exist.\n");
inline const QString noneFound = QStringLiteral(
    "Check if a previous version exists...\nNot migrating preferences because no previous version has been found.\n");

inline QString started(const QString &organization, const QString &version)
{
    return QStringLiteral("\nMigrating Settings for '%1 %2'\nCheck if settings already exist for '%2'\n")
        .arg(organization, version);
}

inline QString migrated(const QString &from, const QString &to)
{
    return QStringLiteral("Check if a previous version exists...\n  PreviousApplicationName = %1\n"
                          "Copy All System Settings from '%1' to '%2'\n")
        .arg(from, to);
}
