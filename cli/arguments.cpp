#include "cli.h"

#include "migration.h"

#include <algorithm>
#include <cstdlib>

namespace {
// Every accepted major costs about 252 store probes where the stores cannot be listed, so the
// numbers are bounded; 9999 still admits year-style versions such as 2026.1.
constexpr int highestVersionNumber = 9999;

// Where stores are files, the organisation and the store names become folders and file names: a
// ".." among them would reach stores outside the organisation's folder.
bool storesClimbOut(const QString &applicationName, int major, int minor, const QString &betaLevel)
{
    const QString versionName = composeVersionName(applicationName, major, minor, betaLevel);
    const QStringList groups = settingsGroups();
    return std::any_of(groups.cbegin(), groups.cend(),
                       [&](const QString &group) { return climbsOutOfFolder(composeStoreName(versionName, group)); });
}
}  // namespace

void checkArguments(const QString &organization, const QString &applicationName, int major, int minor,
                    const QString &betaLevel)
{
    bool valid = true;
    if (major == 0) {
        printLine(
            QStringLiteral("error: major cannot be 0. You specified: Major: %1 [Minor: %2]").arg(major).arg(minor));
        valid = false;
    }
    if (major < 0 || minor < 0) {
        printLine(QStringLiteral("error: major or minor cannot be < 0. You specified: Major: %1 Minor: %2")
                      .arg(major)
                      .arg(minor));
        valid = false;
    }
    if (major > highestVersionNumber || minor > highestVersionNumber) {
        printLine(QStringLiteral("error: major or minor cannot be > %1. You specified: Major: %2 Minor: %3")
                      .arg(highestVersionNumber)
                      .arg(major)
                      .arg(minor));
        valid = false;
    }
    if (std::any_of(betaLevel.cbegin(), betaLevel.cend(), [](QChar character) { return character.isDigit(); })) {
        printLine(QStringLiteral("error: betalevel must not contain a digit. You specified: '") + betaLevel +
                  QLatin1Char('\''));
        valid = false;
    }
    // The beta level is judged on its own, the names on every store a search may open.
    if (storesClimbOut(QString(), 0, 0, betaLevel)) {
        printLine(QStringLiteral("error: betalevel must not contain a '..' path element. You specified: '") +
                  betaLevel + QLatin1Char('\''));
        valid = false;
    }
    if (climbsOutOfFolder(organization) ||
        storesClimbOut(applicationName + QLatin1String(" x64"), major, minor, QString())) {
        printLine(QStringLiteral("error: organization or application name cannot contain a '..' path element. "
                                 "You specified: Organization: '") +
                  organization + QStringLiteral("' Application: '") + applicationName + QLatin1Char('\''));
        valid = false;
    }
    if (valid)
        return;

    printLine(QString());
    printUsage();
    std::exit(0);
}
