#include "migration.h"

#include <QSettings>

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
    const QStringList keys = from.allKeys();
    for (const QString &key : keys)
        to.setValue(key, from.value(key, QVariant()));
}
