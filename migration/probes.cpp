#include "migration.h"

#include <QSet>
#include <QSettings>

#include <algorithm>
#include <iostream>

namespace {

// A store that cannot be read is named once per run, however often the search meets it.
void reportUnreadable(const QString &applicationName)
{
    static QSet<QString> reported;
    if (reported.contains(applicationName))
        return;
    reported.insert(applicationName);
    std::cout << "error: could not read settings from '" << applicationName.toStdString() << "'" << std::endl;
}

}  // namespace

bool settingsExist(const QString &organization, const QString &applicationName)
{
    switch (storeState(organization, applicationName)) {
    case StoreState::Absent:  // nothing to read and nothing to clear
        return false;
    case StoreState::Unsafe:
        reportUnreadable(applicationName);
        return false;
    case StoreState::Present:
    case StoreState::Linked:
        break;
    }
    prepareToDecodeValues();
    const std::unique_ptr<QSettings> store = openStore(organization, applicationName);
    const bool hasKeys = !store->allKeys().isEmpty();
    if (hasKeys)
        return true;
    if (store->status() != QSettings::NoError)
        reportUnreadable(applicationName);  // and left as it is: clearing it would lose what is left
    else
        store->remove(QString());  // the empty key removes everything; written back on destruction
    return false;
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
    const QString probe = QStringLiteral("SettingsMigrator write probe");
    // Asking a FIFO or a folder whether it may be written would wait for good, or fail.
    if (!writableStore(storeState(ownOrganization(), probe))) {
        reportUnwritable(probe);
        return false;
    }
    const bool writable = openStore(ownOrganization(), probe)->isWritable();
    // Asking may create the store; it never holds anything, so it goes again.
    deleteStore(ownOrganization(), probe);
    return writable;
}
