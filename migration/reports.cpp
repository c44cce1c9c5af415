// The error lines about stores, each in one place.

#include "migration.h"

#include <QSet>

#include <iostream>

namespace {

void reportCause(const QString &cause)
{
    std::cout << "  cause: " << printable(cause.isEmpty() ? QStringLiteral("unknown") : cause).toStdString()
              << std::endl;
}

}  // namespace

void reportUnreadable(const QString &applicationName, const QString &cause)
{
    // However often a search meets the store, it is named once.
    static QSet<QString> reported;
    if (reported.contains(applicationName))
        return;
    reported.insert(applicationName);
    std::cout << "error: could not read settings from '" << applicationName.toStdString() << "'" << std::endl;
    reportCause(cause);
}

void reportUnwritable(const QString &applicationName, const QString &cause)
{
    std::cout << "error: could not write settings to '" << applicationName.toStdString() << "'" << std::endl;
    reportCause(cause);
}

void reportLeftOut(const QString &key, const QString &applicationName)
{
    std::cout << "error: not copying '" << printable(key).toStdString() << "' of '" << applicationName.toStdString()
              << "': its value cannot be read by this program" << std::endl;
}
