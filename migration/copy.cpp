#include "migration.h"

#include <QSettings>

#include <algorithm>
#include <iostream>

void copyAllSystemSettings(const QString &organization, const QString &fromVersionName, const QString &toVersionName)
{
    std::cout << "Copy All System Settings from '" << fromVersionName.toStdString() << "' to '"
              << toVersionName.toStdString() << "'" << std::endl;

    const QStringList groups = settingsGroups();
    // Another writer may have filled the new version's stores since they were found empty.
    if (settingsExist(organization, composeStoreName(toVersionName, groups.first()))) {
        std::cout << "  Settings already exist for '" << toVersionName.toStdString() << "', not copying settings"
                  << std::endl;
        return;
    }
    for (const QString &group : groups)
        copySettings(organization, composeStoreName(fromVersionName, group), composeStoreName(toVersionName, group));
}

void copySettings(const QString &organization, const QString &fromApplicationName, const QString &toApplicationName)
{
    QSettings from(QSettings::SystemScope, organization, fromApplicationName);
    from.setFallbacksEnabled(false);
    if (!settingsExist(organization, fromApplicationName))
        return;

    QSettings to(QSettings::SystemScope, organization, toApplicationName);
    // A store may carry an error from its opening (an empty organisation does) and still be
    // written; only what writing adds to it counts.
    const QSettings::Status statusOnOpening = to.status();
    const QStringList keys = from.allKeys();
    for (const QString &key : keys) {
        // A key made of slashes alone (a damaged store can hold one) names nothing QSettings can
        // read or write. A missing key lets the new version fall back to its default; a mangled
        // value would not.
        const bool nameless = std::all_of(key.cbegin(), key.cend(), [](QChar c) { return c == QLatin1Char('/'); });
        const QVariant value = nameless ? QVariant() : from.value(key, QVariant());
        if (nameless || isUnreadable(value)) {
            std::cout << "error: not copying '" << key.toStdString() << "' of '" << fromApplicationName.toStdString()
                      << "': its value cannot be read by this program" << std::endl;
            continue;
        }
        to.setValue(key, value);
    }
    to.sync();
    if (to.status() != statusOnOpening || !to.isWritable())
        std::cout << "error: could not write settings to '" << toApplicationName.toStdString() << "'" << std::endl;
}
