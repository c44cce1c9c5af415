#include "migration.h"

#include <QSettings>

#include <algorithm>

bool settingsExist(const QString &organization, const QString &applicationName, bool *unreadable)
{
    const std::unique_ptr<QSettings> store = openStore(organization, applicationName, unreadable);
    if (!store)
        return false;
    if (!store->allKeys().isEmpty())
        return true;
    // An empty store is cleared; one that cannot be cleared is still empty.
    replaceStore(organization, applicationName, {});
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
    // Trying a FIFO or a folder could wait for good, or fail.
    const StoreState state = storeState(ownOrganization(), probe);
    if (state != StoreState::Absent && state != StoreState::Present) {
        reportUnwritable(probe);
        return false;
    }
    // A store written and removed again: what a migration does, as the caller's rights allow it.
    // A full disk refuses even the store's lock file: QSettings' own answer, which writes nothing,
    // then tells whether the process may write there at all (the run goes on, and says what it
    // cannot write).
    const bool writable =
        replaceStore(ownOrganization(), probe, {}) || storeObject(ownOrganization(), probe)->isWritable();
    removeStore(ownOrganization(), probe);
    removeCreatedFolders();
    return writable;
}
