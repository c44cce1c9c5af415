// Carries the machine-wide settings of the newest earlier version of an application over to a
// newly installed version. Run by an installer; reports on standard output and always exits 0.

#include "cli.h"

#include "migration.h"

#include <QStringList>

#include <cstdlib>

namespace {

// The stages after the checks, each run only when the one before lets the run go on.
void migrate(Run &run, const QString &OrganizationName, const QString &ApplicationName, int ApplicationVersionMajor,
             int ApplicationVersionMinor, const QString &betaLevel)
{
    printLine(QString());
    const QString versionName =
        composeVersionName(ApplicationName, ApplicationVersionMajor, ApplicationVersionMinor, betaLevel);
    printLine(QStringLiteral("Migrating Settings for '") + OrganizationName + QLatin1Char(' ') + versionName +
              QLatin1Char('\''));
    printLine(QStringLiteral("Check if settings already exist for '") + versionName + QLatin1Char('\''));
    // A migration cut short left some stores written: it is completed, not taken as done, unless
    // it cannot be. Then the version is an ordinary one, with whatever settings it holds.
    MigrationPlan plan = readMigrationPlan(OrganizationName, versionName);
    giveUpUnfinishable(run, OrganizationName, versionName, plan);
    if (plan.resumes()) {
        printLine(QStringLiteral("  Resuming the unfinished migration to '") + versionName + QLatin1Char('\''));
    } else if (versionSettingsExist(run, OrganizationName, versionName)) {
        printLine(QStringLiteral("Not migrating preferences because settings already exist."));
        return;
    }

    printLine(QStringLiteral("Check if a previous version exists..."));
    const QString previousVersionName = findPreviousApplicationName(run, OrganizationName, ApplicationName,
                                                                    ApplicationVersionMajor, ApplicationVersionMinor);
    if (previousVersionName.isEmpty()) {
        giveUpUnfinishable(run, OrganizationName, versionName, plan, /*nothingFound=*/true);
        printLine(QStringLiteral("Not migrating preferences because no previous version has been found."));
        return;
    }
    printLine(QStringLiteral("  PreviousApplicationName = ") + previousVersionName);
    copyAllSystemSettings(run, OrganizationName, previousVersionName, versionName, plan);
}

}  // namespace

int main(int argc, char *argv[])
{
    Run run;
    const QStringList arguments = startApplication(run, argc, argv);

    if (arguments.size() != 6 && arguments.size() != 5) {
        printLine(QStringLiteral("error, 6 arguments needed, you specified %1").arg(arguments.size()));
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
        printLine(QStringLiteral("only 5 arguments specified, betalevel is therefore set to release i.e. '' "));
    else
        betaLevel = arguments.at(5);

    checkArguments(OrganizationName, ApplicationName, ApplicationVersionMajor, ApplicationVersionMinor, betaLevel);

    // Without write access to the system-wide stores there is nothing this run could do.
    if (tryWritingSystemSettings(run))
        migrate(run, OrganizationName, ApplicationName + QLatin1String(" x64"), ApplicationVersionMajor,
                ApplicationVersionMinor, betaLevel);
    std::exit(0);
}
