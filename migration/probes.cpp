#include "migration.h"

#include <QSettings>

#include <algorithm>

bool settingsExist(const QString &organization, const QString &applicationName)
{
    QSettings store(QSettings::SystemScope, organization, applicationName);
    // Only this store counts, not the organisation-wide one QSettings would fall back to.
    store.setFallbacksEnabled(false);
    const bool hasKeys = !store.allKeys().isEmpty();
    if (!hasKeys)
        store.remove(QString());  // the empty key removes everything; written back on destruction
    return hasKeys;
}

bool versionSettingsExist(const QString &organization, const QString &versionName)
{
    const QStringList groups = settingsGroups();
    return std::any_of(groups.cbegin(), groups.cend(), [&](const QString &group) {
        return settingsExist(organization, composeStoreName(versionName, group));
    });
}

bool isSystemSettingsWritable()
{
    const QSettings store(QSettings::SystemScope, QStringLiteral("Vantorel"),
                          QStringLiteral("SettingsMigrator write probe"));
    return store.isWritable();
}
