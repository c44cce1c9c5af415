// Carries the machine-wide settings of the newest earlier version of an application over to a
// newly installed version. Run by an installer; reports on standard output and always exits 0.

#include "cli.h"

#include "migration.h"

#include <QStringList>

#include <cstdlib>
#include <iostream>

namespace {

// The stages after the checks, each run only when the one before lets the run go on.
void migrate(const QString &OrganizationName, const QString &ApplicationName, int ApplicationVersionMajor,
             int ApplicationVersionMinor, const QString &betaLevel, MadeFolders &madeFolders)
{
    std::cout << std::endl;
    const QString versionName =
        composeVersionName(ApplicationName, ApplicationVersionMajor, ApplicationVersionMinor, betaLevel);
    std::cout << "Migrating Settings for '" << OrganizationName.toStdString() << " " << versionName.toStdString() << "'"
              << std::endl;
    std::cout << "Check if settings already exist for '" << versionName.toStdString() << "'" << std::endl;
    // A migration cut short left some stores written: it is completed, not taken as done, unless
    // the version it copied from has no settings any more. Then the version is an ordinary one,
    // with whatever settings it holds.
    const QString resumedFrom = resumeMigrationFrom(OrganizationName, versionName, madeFolders);
    if (!resumedFrom.isEmpty()) {
        std::cout << "  Resuming the unfinished migration to '" << versionName.toStdString() << "'" << std::endl;
    } else if (versionSettingsExist(OrganizationName, versionName)) {
        std::cout << "Not migrating preferences because settings already exist." << std::endl;
        return;
    }

    std::cout << "Check if a previous version exists..." << std::endl;
    const QString previousVersionName = findPreviousApplicationName(OrganizationName, ApplicationName,
                                                                    ApplicationVersionMajor, ApplicationVersionMinor);
    if (previousVersionName.isEmpty()) {
        if (!resumedFrom.isEmpty())  // its source is no candidate (itself unfinished, say)
            giveUpMigration(OrganizationName, versionName, resumedFrom, madeFolders);
        std::cout << "Not migrating preferences because no previous version has been found." << std::endl;
        return;
    }
    std::cout << "  PreviousApplicationName = " << previousVersionName.toStdString() << std::endl;
    copyAllSystemSettings(OrganizationName, previousVersionName, versionName, madeFolders);
}

}  // namespace

int main(int argc, char *argv[])
{
    const QStringList arguments = startApplication(argc, argv);

    if (arguments.size() != 6 && arguments.size() != 5) {
        std::cout << "error, 6 arguments needed, you specified " << arguments.size() << std::endl;
        printUsage();
        std::exit(0);
    }

    const QString &OrganizationName = arguments.at(1);
    const QString &ApplicationName = arguments.at(2);
    // Text that is not a base-10 integer in range reads as 0 and is rejected by the checks.
    const int ApplicationVersionMajor = arguments.at(3).toInt(nullptr, 10);
    const int ApplicationVersionMinor = arguments.at(4).toInt(nullptr, 10);

    QString betaLevel;
    if (arguments.size() == 5)
        std::cout << "only 5 arguments specified, betalevel is therefore set to release i.e. '' " << std::endl;
    else
        betaLevel = arguments.at(5);

    checkArguments(OrganizationName, ApplicationName, ApplicationVersionMajor, ApplicationVersionMinor, betaLevel);

    // Without write access to the system-wide stores there is nothing this run could do.
    // The folders the run makes for stores are its to remove once empty.
    MadeFolders madeFolders;
    if (isSystemSettingsWritable(madeFolders))
        migrate(OrganizationName, ApplicationName + QLatin1String(" x64"), ApplicationVersionMajor,
                ApplicationVersionMinor, betaLevel, madeFolders);
    std::exit(0);
}
