#include "cli.h"

#include "migration.h"

void printUsage()
{
    printLine(QStringLiteral("Usage: VantorelSettingsMigrator <OrganizationName> <ApplicationName> "
                             "<ApplicationVersionMajor> <ApplicationVersionMinor>"));
    printLine(QString());
    printLine(
        QStringLiteral("  VantorelSettingsMigrator - migrates settings from previous Vantorel Application versions"));
    printLine(QString());
    printLine(QStringLiteral("  Specify an application name, major, minor version, and beta level."));
    printLine(QStringLiteral("  This program will then look for previous versions and copy the "));
    printLine(QStringLiteral("  settings from the first found version."));
    printLine(QStringLiteral("  beta level can be e.g. prealpha, alpha, beta, release and must not contain a number."));
    printLine(QStringLiteral("  The settings copied are:"));
    for (const QString &group : settingsGroups())
        printLine(QStringLiteral("    <ApplicationName> <ApplicationVersionMajor>.<ApplicationVersionMinor>.") + group);
    printLine(QString());
    printLine(QString());
    printLine(QStringLiteral("Example: VantorelSettingsMigrator Vantorel Kelvor 9 0 beta"));
}
