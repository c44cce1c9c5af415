// The error lines about stores, each in one place.

#include "migration.h"

namespace {

void reportCause(const QString &cause)
{
    printLine(QStringLiteral("  cause: ") + printable(cause.isEmpty() ? QStringLiteral("unknown") : cause));
}

}  // namespace

void reportUnreadable(Run &run, const QString &applicationName, const QString &cause)
{
    // However often a search meets the store, it is named once.
    if (run.reportedUnreadable.contains(applicationName))
        return;
    run.reportedUnreadable.insert(applicationName);
    printLine(QStringLiteral("error: could not read settings from '") + applicationName + QLatin1Char('\''));
    reportCause(cause);
}

void reportUnwritable(const QString &applicationName, const QString &cause)
{
    printLine(QStringLiteral("error: could not write settings to '") + applicationName + QLatin1Char('\''));
    reportCause(cause);
}

void reportLeftOut(const QString &key, const QString &applicationName)
{
    printLine(QStringLiteral("error: not copying '") + printable(key) + QStringLiteral("' of '") + applicationName +
              QStringLiteral("': its value cannot be read by this program"));
}
