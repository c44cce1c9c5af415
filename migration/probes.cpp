#include "migration.h"

#include <QSettings>

#include <algorithm>

bool settingsExist(const QString &organization, const QString &applicationName, bool *unreadable)
{
    // A store without keys is left as it is, comments and all: Qt's writers would not touch it.
    const StoreContent content = storeContent(organization, applicationName);
    if (content == StoreContent::NotRead)
        reportUnreadable(applicationName);
    if (unreadable)
        *unreadable = content == StoreContent::NotRead;
    return content == StoreContent::Keys;
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
