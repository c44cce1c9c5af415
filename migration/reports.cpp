// The error lines about stores, each in one place.

#include "migration.h"

#include <QSet>

#include <iostream>

void reportUnreadable(const QString &applicationName)
{
    // However often a search meets the store, it is named once.
    static QSet<QString> reported;
    if (reported.contains(applicationName))
        return;
    reported.insert(applicationName);
    std::cout << "error: could not read settings from '" << applicationName.toStdString() << "'" << std::endl;
}

void reportUnwritable(const QString &applicationName)
{
    std::cout << "error: could not write settings to '" << applicationName.toStdString() << "'" << std::endl;
}

void reportLeftOut(const QString &key, const QString &applicationName)
{
    std::cout << "error: not copying '" << printable(key).toStdString() << "' of '" << applicationName.toStdString()
              << "': its value cannot be read by this program" << std::endl;
}
